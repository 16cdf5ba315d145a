#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>

#include <optional>

// Desktop notifications over org.freedesktop.Notifications. Each new one
// replaces the previous instead of stacking up: until the service has said
// which id it gave the last one, only the latest new notice waits, and it is
// sent as that id's replacement. The body is shown as written: the service
// is asked once whether it reads markup there, and if so, the body's markup
// characters are escaped. Without a notification service nothing happens,
// and the log says so once.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    explicit DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    void show(const QString &summary, const QString &body, const QImage &image = QImage());

Q_SIGNALS:
    // The service answered with the id it gave the notification.
    void shown(uint id);

private:
    struct Notice {
        QString summary, body;
        QImage image;
    };
    void sendNext();
    void askForCapabilities();
    void reportMissing(const QString &message);

    QDBusConnection m_bus;
    uint m_lastId = 0;
    std::optional<bool> m_bodyMarkup; // unknown until the service has said
    bool m_waiting = false;           // for the service's answer
    std::optional<Notice> m_next;
    bool m_reportedMissing = false;
};
