#include "platform/desktop/BackgroundPortal.h"

#include "platform/base/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace backgroundportal {

void request(const QString &reason)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(portal).value())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        portal, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Background"), QStringLiteral("RequestBackground"));
    call << QString() // no parent window: the window is gone
         << QVariantMap{{QStringLiteral("reason"), reason},
                        {QStringLiteral("autostart"), false},
                        {QStringLiteral("dbus-activatable"), false}};
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher *w) {
            const QDBusPendingReply<> reply = *w;
            if (reply.isError())
                NSLog(lcDesktop(), QtInfoMsg, "background portal: %@", reply.error().message());
            w->deleteLater();
        });
}

} // namespace backgroundportal
