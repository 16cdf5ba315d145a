#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class HistoryRecorder;
class HistoryStore;
class PlaybackSession;
class ScrobbleClient;
class ScrobbleQueue;
class ScrobbleSender;
class ScrobbleTracker;

// Scrobbling as a whole, without widgets: the tracker's listens queued in
// the history file for each service connected when they were made, and
// each service's sender; "now playing" told to every service connected.
// What the settings show finds the services here.
class Scrobbler : public QObject {
    Q_OBJECT
public:
    Scrobbler(PlaybackSession *session, HistoryRecorder *recorder, HistoryStore *store,
              QObject *parent = nullptr);
    ~Scrobbler() override;

    ScrobbleQueue *queue() const { return m_queue; }
    ScrobbleTracker *tracker() const { return m_tracker; }
    // Connects a service (taking the client), replacing one of the same
    // name; its sender starts with what waits for it.
    ScrobbleSender *connectService(ScrobbleClient *client);
    // Listens made from now on are no longer queued for it; those waiting
    // stay in the queue for a later connection.
    void disconnectService(const QString &service);
    ScrobbleSender *sender(const QString &service) const;
    ScrobbleClient *client(const QString &service) const;
    // The network came back or the machine woke up: every service waiting
    // after a failure tries again now.
    void retryNow();
    // Whether a song starred in the history is sent to every service as
    // loved; off unless turned on.
    void setSendsLoves(bool on) { m_sendsLoves = on; }

Q_SIGNALS:
    void servicesChanged();

private:
    struct Service;
    ScrobbleQueue *m_queue;
    ScrobbleTracker *m_tracker;
    QList<std::shared_ptr<Service>> m_services;
    bool m_sendsLoves = false;
};
