#include "platform/desktop/SleepInhibitor.h"

#include "platform/base/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

namespace {
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
constexpr uint kInhibitSuspend = 4;
} // namespace

SleepInhibitor::SleepInhibitor(QObject *parent)
    : SleepInhibitor(QDBusConnection::sessionBus(), parent)
{
}

SleepInhibitor::SleepInhibitor(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    auto *watcher =
        new QDBusServiceWatcher(kPortal, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    watcher->addWatchedService(kScreenSaver);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &SleepInhibitor::ownerChanged);
}

SleepInhibitor::~SleepInhibitor()
{
    m_wanted = false;
    release();
}

void SleepInhibitor::setInhibited(bool inhibited)
{
    m_wanted = inhibited;
    sync();
}

void SleepInhibitor::sync()
{
    if (m_pending)
        return; // decided again once the answer is in
    if (m_wanted && m_held == Via::None)
        acquire();
    else if (!m_wanted && m_held != Via::None)
        release();
}

void SleepInhibitor::acquire()
{
    QDBusConnectionInterface *bus = m_bus.isConnected() ? m_bus.interface() : nullptr;
    QDBusMessage call;
    Via via = Via::None;
    if (bus && !m_portalRefused && bus->isServiceRegistered(kPortal).value()) {
        via = Via::Portal;
        call = QDBusMessage::createMethodCall(
            kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
        call << QString() << kInhibitSuspend << QVariantMap{{QStringLiteral("reason"), m_reason}};
    } else if (bus && bus->isServiceRegistered(kScreenSaver).value()) {
        via = Via::ScreenSaver;
        call = QDBusMessage::createMethodCall(kScreenSaver,
                                              QStringLiteral("/org/freedesktop/ScreenSaver"),
                                              kScreenSaver, QStringLiteral("Inhibit"));
        call << QStringLiteral("Orbitune") << m_reason;
    } else {
        if (!m_reportedNone && !m_portalRefused)
            NSLog(lcDesktop(), QtInfoMsg,
                  "no portal or screen saver service: the desktop may suspend while playing");
        m_reportedNone = true;
        return;
    }
    m_pending = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, via](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                m_pending = false;
                const QDBusMessage reply = w->reply();
                if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                    NSLog(lcDesktop(), QtWarningMsg, "could not keep the desktop awake: %@",
                          w->error().message());
                    if (via == Via::Portal) {
                        m_portalRefused = true;
                        sync(); // the screen saver may still grant it
                    }
                    return;
                }
                const QVariant value = reply.arguments().constFirst();
                acquired(via, value.value<QDBusObjectPath>().path(), value.toUInt());
            });
}

void SleepInhibitor::acquired(Via via, const QString &handle, uint cookie)
{
    m_held = via;
    m_handle = handle;
    m_cookie = cookie;
    Q_EMIT heldChanged();
    sync();
}

void SleepInhibitor::ownerChanged(const QString &service)
{
    if (service == kPortal)
        m_portalRefused = false;
    // An inhibitor dies with the service that granted it.
    if ((service == kPortal && m_held == Via::Portal) ||
        (service == kScreenSaver && m_held == Via::ScreenSaver)) {
        m_held = Via::None;
        m_handle.clear();
        m_cookie = 0;
        Q_EMIT heldChanged();
    }
    sync();
}

void SleepInhibitor::release()
{
    if (m_held == Via::Portal) {
        m_bus.asyncCall(QDBusMessage::createMethodCall(
            kPortal, m_handle, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Close")));
    } else if (m_held == Via::ScreenSaver) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kScreenSaver, QStringLiteral("/org/freedesktop/ScreenSaver"), kScreenSaver,
            QStringLiteral("UnInhibit"));
        call << m_cookie;
        m_bus.asyncCall(call);
    } else {
        return;
    }
    m_held = Via::None;
    m_handle.clear();
    m_cookie = 0;
    Q_EMIT heldChanged();
}

#include "moc_SleepInhibitor.cpp"
