#pragma once

#include "history/ScrobbleQueue.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// What the sender asks of a scrobbling service's client: sending a batch of
// listens, and "now playing", each request bounded (see ServiceHttp.h) and
// made only to the service's own address.
class ScrobbleClient : public QObject {
    Q_OBJECT
public:
    // What became of a batch.
    enum class Outcome {
        Accepted, // the service took every listen
        Retry,    // the network, a 429 or a 5xx: send them again later
        Refused,  // the service refused the account (401, an invalid session)
        Rejected, // the service refused the listens themselves (a 400)
    };
    struct Reply {
        Outcome outcome = Outcome::Retry;
        qint64 waitMs = 0; // what the service asked to wait before the next request
        QString message;   // for the log
    };
    using Done = std::function<void(const Reply &)>;

    using QObject::QObject;
    ~ScrobbleClient() override;

    // The service's name in the queue ("listenbrainz", "lastfm").
    virtual QString service() const = 0;
    // The most listens sent in one request.
    virtual int batchSize() const = 0;
    // Listens older than this are refused by the service; 0 for none.
    virtual qint64 maxAgeMs() const { return 0; }
    // Sends `listens`, oldest first; `done` is called once, here.
    virtual void submit(const QList<ScrobbleQueue::Listen> &listens, Done done) = 0;
    // Tells the service what plays now; nothing comes back.
    virtual void nowPlaying(const ScrobbleQueue::Listen &listen) = 0;
    // Tells the service the listener loves the song.
    virtual void love(const QString &artist, const QString &title, Done done) = 0;

    // Reads an HTTP status as the services mean it.
    static Outcome outcomeOf(int status);
};
