#pragma once

#include "history/ScrobbleQueue.h"

#include <QObject>
#include <QTimer>

class ScrobbleClient;

// Sends one service's waiting listens from the queue, in the order they
// were queued, a batch at a time: the next batch is read only once the
// last one's state is written, so each listen goes once. After a network
// error, a 429 or a 5xx the batch waits a pause growing from kFirstPauseMs
// to kLongestPauseMs (at least what the service asked for), reset by a
// batch taken; a refused account stops this sender, said once, with the
// queue kept for the next connection's sender. Listens older than the
// service takes are dropped with a log line; a batch the service calls malformed is sent
// again one listen at a time, and only a single listen it refuses is
// dropped.
class ScrobbleSender : public QObject {
    Q_OBJECT
public:
    enum class Status {
        Idle,    // nothing waits
        Sending, // a batch is under way
        Waiting, // offline or held by the service: trying again later
        Stopped, // the account was refused
    };
    Q_ENUM(Status)

    static constexpr qint64 kFirstPauseMs = 30 * 1000;
    static constexpr qint64 kLongestPauseMs = 30 * 60 * 1000;

    // Starts sending what waits at once.
    ScrobbleSender(ScrobbleQueue *queue, ScrobbleClient *client, QObject *parent = nullptr);

    Status status() const { return m_status; }
    // Listens waiting for this service, as last counted.
    int waiting() const { return m_waiting; }
    // Sends what waits now, unless a pause or a stop holds it.
    void kick();
    // The network came back or the machine woke up: what waits for a pause
    // after a failure is tried now, the pause starting over. A service's
    // own rate-limit window is still waited for.
    void retryNow();

Q_SIGNALS:
    void statusChanged(ScrobbleSender::Status status);
    void waitingChanged(int waiting);
    // The service refused the account; said once.
    void refused(const QString &message);

private:
    void setStatus(Status status);
    void send(QList<ScrobbleQueue::Listen> listens);
    void recount();

    ScrobbleQueue *m_queue;
    ScrobbleClient *m_client;
    QTimer m_retry;
    Status m_status = Status::Idle;
    qint64 m_pauseMs = kFirstPauseMs;
    int m_singles = 0; // listens to send one at a time (after a malformed batch)
    int m_waiting = 0;
    bool m_busy = false;
    bool m_heldByService = false; // the pause is the service's window
};
