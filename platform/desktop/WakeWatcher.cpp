#include "platform/desktop/WakeWatcher.h"

#include "platform/base/Log.h"

#include <QNetworkInformation>

WakeWatcher::WakeWatcher(QObject *parent) : WakeWatcher(QDBusConnection::systemBus(), parent) {}

WakeWatcher::WakeWatcher(const QDBusConnection &loginBus, QObject *parent)
    : QObject(parent), m_loginBus(loginBus)
{
}

void WakeWatcher::start()
{
    if (m_started)
        return;
    m_started = true;
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        QNetworkInformation *info = QNetworkInformation::instance();
        m_online = info->reachability() == QNetworkInformation::Reachability::Online ||
                   info->reachability() == QNetworkInformation::Reachability::Unknown;
        connect(info, &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability r) {
                    setOnline(r == QNetworkInformation::Reachability::Online);
                });
    } else {
        NSLog(lcDesktop(), QtInfoMsg,
              "no network information backend: reconnects keep their own pace");
    }
    const bool subscribed =
        m_loginBus.isConnected() &&
        m_loginBus.connect(QStringLiteral("org.freedesktop.login1"),
                           QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"),
                           QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    if (!subscribed)
        NSLog(lcDesktop(), QtInfoMsg, "logind not reachable: waking from suspend is not noticed");
}

void WakeWatcher::setOnline(bool online)
{
    const bool cameBack = online && !m_online;
    m_online = online;
    if (cameBack) {
        NSLog(lcDesktop(), QtInfoMsg, "network is reachable again");
        Q_EMIT networkBack();
    }
}

void WakeWatcher::prepareForSleep(bool sleeping)
{
    if (sleeping)
        return;
    NSLog(lcDesktop(), QtInfoMsg, "woke from suspend");
    Q_EMIT wokeUp();
}

#include "moc_WakeWatcher.cpp"
