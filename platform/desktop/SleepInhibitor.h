#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

// Keeps the desktop from suspending for idleness while asked to: through the
// XDG desktop portal's Inhibit when the portal runs and grants it, otherwise
// through org.freedesktop.ScreenSaver. Without either, it logs one line and
// does nothing. Calls are asynchronous; a release asked for while the
// inhibitor is still being taken happens as soon as it is held. Should the
// service that holds it quit or restart (or one turn up while none did), the
// inhibitor is taken again from whichever service is there then.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    enum class Via { None, Portal, ScreenSaver };
    Q_ENUM(Via)

    explicit SleepInhibitor(QObject *parent = nullptr);
    explicit SleepInhibitor(const QDBusConnection &bus, QObject *parent = nullptr);
    ~SleepInhibitor() override;

    void setInhibited(bool inhibited);
    // What the desktop shows as the reason ("Playing radio" unless set);
    // takes effect the next time the inhibitor is taken.
    void setReason(const QString &reason) { m_reason = reason; }
    // Which service holds the inhibitor now, None when none does.
    Via heldVia() const { return m_held; }

Q_SIGNALS:
    void heldChanged();

private:
    void sync();
    void acquire();
    void release();
    void acquired(Via via, const QString &handle, uint cookie);
    void ownerChanged(const QString &service);

    QDBusConnection m_bus;
    QString m_reason = QStringLiteral("Playing radio");
    bool m_wanted = false;
    bool m_pending = false;
    bool m_reportedNone = false;
    bool m_portalRefused = false; // until the portal restarts
    Via m_held = Via::None;
    QString m_handle;  // the portal's request object
    uint m_cookie = 0; // the screen saver's
};
