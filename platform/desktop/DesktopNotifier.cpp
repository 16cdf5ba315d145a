#include "platform/desktop/DesktopNotifier.h"

#include "platform/base/Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

// The "image-data" hint: (iiibiiay), width, height, row stride, alpha,
// bits per sample, channels, pixels.
struct NotificationImage {
    QImage image;
};

QDBusArgument &operator<<(QDBusArgument &arg, const NotificationImage &n)
{
    const QImage img = n.image.convertToFormat(QImage::Format_RGBA8888);
    arg.beginStructure();
    arg << img.width() << img.height() << int(img.bytesPerLine()) << true << 8 << 4
        << QByteArray(reinterpret_cast<const char *>(img.constBits()), img.sizeInBytes());
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, NotificationImage &)
{
    return arg; // only ever sent
}

// Body markup is XML-like: these three would be read as tags or entities.
QString escapedMarkup(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

Q_DECLARE_METATYPE(NotificationImage)

DesktopNotifier::DesktopNotifier(QObject *parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), parent)
{
}

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<NotificationImage>();
    if (m_bus.isConnected())
        m_bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                      SLOT(serviceInvokedAction(uint, QString)));
}

void DesktopNotifier::show(const QString &summary, const QString &body, const QImage &image,
                           const QList<QPair<QString, QString>> &actions)
{
    if (!m_bus.isConnected())
        return;
    m_next = Notice{summary, body, image, actions};
    sendNext();
}

void DesktopNotifier::serviceInvokedAction(uint id, const QString &key)
{
    // Other programs' notices share the service; only ours count.
    if (id != 0 && id == m_lastId)
        Q_EMIT actionInvoked(key);
}

void DesktopNotifier::sendNext()
{
    if (m_waiting || !m_next)
        return;
    if (!m_bodyMarkup) {
        askForCapabilities();
        return;
    }
    const Notice notice = std::move(*m_next);
    m_next.reset();
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    if (!notice.image.isNull())
        hints.insert(QStringLiteral("image-data"),
                     QVariant::fromValue(NotificationImage{notice.image.scaled(
                         128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation)}));
    QStringList actions;
    if (m_actions.value_or(false)) {
        for (const auto &[key, label] : notice.actions)
            actions << key << label;
    }
    call << QStringLiteral("Orbitune") << m_lastId << QStringLiteral("orbitune") << notice.summary
         << (*m_bodyMarkup ? escapedMarkup(notice.body) : notice.body) << actions << hints << -1;
    m_waiting = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_waiting = false;
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            reportMissing(reply.error().message());
        } else {
            m_lastId = reply.value();
            Q_EMIT shown(m_lastId);
        }
        sendNext();
    });
}

void DesktopNotifier::askForCapabilities()
{
    m_waiting = true;
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kService,
                                                       QStringLiteral("GetCapabilities"))),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_waiting = false;
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            // No service: this notice is lost; the next one asks again.
            reportMissing(reply.error().message());
            m_next.reset();
            return;
        }
        m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
        m_actions = reply.value().contains(QStringLiteral("actions"));
        sendNext();
    });
}

void DesktopNotifier::reportMissing(const QString &message)
{
    if (!m_reportedMissing)
        NSLog(lcDesktop(), QtInfoMsg, "notifications unavailable: %@", message);
    m_reportedMissing = true;
}

#include "moc_DesktopNotifier.cpp"
