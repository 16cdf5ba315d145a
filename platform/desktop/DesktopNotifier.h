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
// and the log says so once. Actions (buttons such as "Love") are sent only
// where the service says it shows them; choosing one is reported for the
// notice shown last.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    explicit DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    // `actions` pairs a key with the label the button shows.
    void show(const QString &summary, const QString &body, const QImage &image = QImage(),
              const QList<QPair<QString, QString>> &actions = {});
    // Whether the service shows actions; unknown until it was asked.
    std::optional<bool> supportsActions() const { return m_actions; }

Q_SIGNALS:
    // The service answered with the id it gave the notification.
    void shown(uint id);
    // The listener chose the action `key` on the notice shown last.
    void actionInvoked(const QString &key);

private Q_SLOTS:
    void serviceInvokedAction(uint id, const QString &key);

private:
    struct Notice {
        QString summary, body;
        QImage image;
        QList<QPair<QString, QString>> actions;
    };
    void sendNext();
    void askForCapabilities();
    void reportMissing(const QString &message);

    QDBusConnection m_bus;
    uint m_lastId = 0;
    std::optional<bool> m_bodyMarkup; // unknown until the service has said
    std::optional<bool> m_actions;
    bool m_waiting = false; // for the service's answer
    std::optional<Notice> m_next;
    bool m_reportedMissing = false;
};
