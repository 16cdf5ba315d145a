#include "scrobble/ScrobbleSender.h"

#include "scrobble/ScrobbleClient.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"

#include <QPointer>

ScrobbleSender::ScrobbleSender(ScrobbleQueue *queue, ScrobbleClient *client, QObject *parent)
    : QObject(parent), m_queue(queue), m_client(client)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &ScrobbleSender::kick);
    connect(queue, &ScrobbleQueue::changed, this, [this] {
        recount();
        kick();
    });
    recount();
    kick();
}

void ScrobbleSender::setStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged(status);
}

void ScrobbleSender::recount()
{
    // The queue answers while the sender lives, or to nobody.
    m_queue->count(m_client->service(), [this, self = QPointer(this)](int n) {
        if (!self || n == m_waiting)
            return;
        m_waiting = n;
        Q_EMIT waitingChanged(n);
    });
}

void ScrobbleSender::retryNow()
{
    if (!m_retry.isActive() || m_heldByService)
        return;
    m_retry.stop();
    m_pauseMs = kFirstPauseMs;
    kick();
}

void ScrobbleSender::kick()
{
    if (m_busy || m_retry.isActive() || m_status == Status::Stopped)
        return;
    m_busy = true;
    const int limit = m_singles > 0 ? 1 : m_client->batchSize();
    m_queue->waiting(m_client->service(), limit,
                     [this, self = QPointer(this)](QList<ScrobbleQueue::Listen> listens) {
                         if (self)
                             send(std::move(listens));
                     });
}

void ScrobbleSender::send(QList<ScrobbleQueue::Listen> listens)
{
    // Too old for the service: never taken, so never sent.
    if (const qint64 maxAge = m_client->maxAgeMs(); maxAge > 0) {
        const QDateTime oldest = Clock::shared()->currentDateTimeUtc().addMSecs(-maxAge);
        QList<qint64> old;
        for (auto it = listens.begin(); it != listens.end();) {
            if (it->started < oldest) {
                NSLog(lcScrobble(), QtWarningMsg,
                      "scrobbling: %@ - %@ of %@ is older than %@ takes; dropped", it->artist,
                      it->title, it->started, m_client->service());
                old << it->id;
                it = listens.erase(it);
            } else {
                ++it;
            }
        }
        m_queue->settle(old, ScrobbleQueue::State::Dropped, false);
    }
    if (listens.isEmpty()) {
        m_busy = false;
        if (m_status != Status::Stopped)
            setStatus(Status::Idle);
        return;
    }
    setStatus(Status::Sending);
    QList<qint64> ids;
    for (const auto &listen : std::as_const(listens))
        ids << listen.id;
    m_client->submit(listens, [this, ids](const ScrobbleClient::Reply &reply) {
        m_busy = false;
        switch (reply.outcome) {
        case ScrobbleClient::Outcome::Accepted:
            m_queue->settle(ids, ScrobbleQueue::State::Sent);
            m_pauseMs = kFirstPauseMs;
            m_singles = std::max(0, m_singles - 1);
            m_heldByService = reply.waitMs > 0;
            if (reply.waitMs > 0) {
                // The service's window is used up: the rest waits for it.
                setStatus(Status::Waiting);
                m_retry.start(Clock::shared()->scaled(reply.waitMs));
            } else {
                setStatus(Status::Idle);
            }
            break;
        case ScrobbleClient::Outcome::Retry:
            NSLog(lcScrobble(), QtInfoMsg,
                  "scrobbling: %@ did not take %ld listens (%@); again in %ld s",
                  m_client->service(), qint64(ids.size()), reply.message,
                  std::max(m_pauseMs, reply.waitMs) / 1000);
            m_queue->settle(ids, ScrobbleQueue::State::Waiting);
            m_heldByService = reply.waitMs > m_pauseMs;
            setStatus(Status::Waiting);
            m_retry.start(Clock::shared()->scaled(std::max(m_pauseMs, reply.waitMs)));
            m_pauseMs = std::min(m_pauseMs * 2, kLongestPauseMs);
            return;
        case ScrobbleClient::Outcome::Refused:
            NSLog(lcScrobble(), QtWarningMsg, "scrobbling: %@ refused the account (%@); stopped",
                  m_client->service(), reply.message);
            setStatus(Status::Stopped);
            Q_EMIT refused(reply.message);
            return;
        case ScrobbleClient::Outcome::Rejected:
            if (ids.size() > 1) {
                // One of them is at fault: each is tried on its own.
                m_singles = int(ids.size());
            } else {
                NSLog(lcScrobble(), QtWarningMsg, "scrobbling: %@ refused a listen (%@); dropped",
                      m_client->service(), reply.message);
                m_queue->settle(ids, ScrobbleQueue::State::Dropped);
                m_singles = std::max(0, m_singles - 1);
            }
            setStatus(Status::Idle);
            break;
        }
        // The next batch is read after this one's state is written.
        kick();
    });
}

#include "moc_ScrobbleSender.cpp"
