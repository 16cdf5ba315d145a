#pragma once

#include <QDBusConnection>
#include <QObject>

// Tells when it is worth reconnecting at once: the network became reachable
// again (QNetworkInformation) or the machine woke from suspend (logind's
// PrepareForSleep(false)). Either source may be missing; then it is simply
// never heard from.
class WakeWatcher : public QObject {
    Q_OBJECT
public:
    // Listens to logind on the system bus unless another connection is given.
    explicit WakeWatcher(QObject *parent = nullptr);
    explicit WakeWatcher(const QDBusConnection &loginBus, QObject *parent = nullptr);

    // Loads the network information backend and subscribes to logind.
    void start();

    // Feeds a reachability report; public so the transition can be checked
    // without taking the network down.
    void setOnline(bool online);

Q_SIGNALS:
    void networkBack();
    void wokeUp();

private Q_SLOTS:
    void prepareForSleep(bool sleeping);

private:
    QDBusConnection m_loginBus;
    bool m_online = true;
    bool m_started = false;
};
