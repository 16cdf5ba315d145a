#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class HistoryStore;

// The listens waiting for the scrobbling services, in the history file (its
// `listens` table): one row per listen and service, with its state and the
// attempts made to send it. Every change is a write of the history's own
// thread, committed as it is made, so a listen queued survives a quit and a
// kill; what is read comes back to `then` on this object's thread, after
// every change asked for before. At most kMaxWaiting listens wait per
// service (the oldest are dropped, with a log line), and at most kMaxDone
// sent or dropped ones are kept per service, for the history's mark.
class ScrobbleQueue : public QObject {
    Q_OBJECT
public:
    enum class State { Waiting = 0, Sent = 1, Dropped = 2 };

    struct Listen {
        qint64 id = 0; // in the queue; 0 before it is queued
        QString service;
        QString artist;
        QString title;
        QString album;     // empty when not known
        QDateTime started; // UTC, when it began to be heard
        qint64 heardMs = 0;
        QString station; // the program's stream address
        qint64 song = 0; // the history's song, 0 when none
        int attempts = 0;
    };

    static constexpr int kMaxWaiting = 10000;
    static constexpr int kMaxDone = 20000;

    explicit ScrobbleQueue(HistoryStore *store, QObject *parent = nullptr);

    // Queues `listen` once for each of `services`, in one transaction.
    void add(const Listen &listen, const QStringList &services);
    // The oldest `limit` listens waiting for `service`, in the order they
    // were queued.
    void waiting(const QString &service, int limit, std::function<void(QList<Listen>)> then);
    // Sets the listens' state, in one transaction; `attempted` counts an
    // attempt for each as well.
    void settle(const QList<qint64> &ids, State state, bool attempted = true);
    // How many listens wait for `service`.
    void count(const QString &service, std::function<void(int)> then);
    // The history's songs sent to any service, among `songs`.
    void sentSongs(const QList<qint64> &songs, std::function<void(QSet<qint64>)> then);

Q_SIGNALS:
    // A listen was queued, sent or dropped.
    void changed();

private:
    HistoryStore *m_store;
};
