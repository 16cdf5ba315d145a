#include "history/ScrobbleQueue.h"

#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"

#include "platform/base/AsyncTask.h"
#include "platform/base/Log.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

namespace {

bool queueExec(QSqlQuery &q, const QString &sql, const QVariantList &values = {})
{
    return HistoryWriter::exec(q, sql, values);
}

// Runs `body` in a transaction of its own: all of it is in the file, or
// none.
bool inTransaction(QSqlQuery &q, const std::function<bool()> &body)
{
    if (!queueExec(q, QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    if (body() && queueExec(q, QStringLiteral("COMMIT")))
        return true;
    q.finish();
    queueExec(q, QStringLiteral("ROLLBACK"));
    return false;
}

QString queuePlaceholders(qsizetype n)
{
    return QStringList(n, QStringLiteral("?")).join(u',');
}

} // namespace

ScrobbleQueue::ScrobbleQueue(HistoryStore *store, QObject *parent) : QObject(parent), m_store(store)
{
}

void ScrobbleQueue::add(const Listen &listen, const QStringList &services)
{
    if (services.isEmpty())
        return;
    const qsizetype cap = HistoryStore::kMaxTitleLength;
    const QVariantList values = {listen.artist.left(cap),
                                 listen.title.left(cap),
                                 listen.album.isEmpty() ? QVariant() : listen.album.left(cap),
                                 listen.started.toMSecsSinceEpoch(),
                                 listen.heardMs,
                                 listen.station.left(4 * cap)};
    const qint64 song = listen.song;
    m_store->postWork([this, store = m_store, services, values, song,
                       back = asynctask::ReplyTo(this)](QSqlQuery &q) {
        // The song's id in the file (it may have been handed out while the
        // file opened), for the history's mark.
        const QVariant inFile = song ? QVariant(store->idInFile(song)) : QVariant();
        const bool done = inTransaction(q, [&] {
            for (const QString &service : services) {
                if (!queueExec(q,
                               QStringLiteral("INSERT INTO listens (service, artist, title, album, "
                                              "started, heard_ms, station, song) VALUES "
                                              "(?, ?, ?, ?, ?, ?, ?, ?)"),
                               QVariantList{service} + values + QVariantList{inFile}))
                    return false;
                // The oldest waiting beyond the bound are given up.
                if (!queueExec(q,
                               QStringLiteral("UPDATE listens SET state = 2 WHERE id IN (SELECT id "
                                              "FROM listens WHERE service = ? AND state = 0 ORDER "
                                              "BY id DESC LIMIT -1 OFFSET ?)"),
                               {service, kMaxWaiting}))
                    return false;
                if (q.numRowsAffected() > 0)
                    NSLog(lcScrobble(), QtWarningMsg,
                          "scrobbling: %ld listens waiting too long for %@ dropped",
                          qint64(q.numRowsAffected()), service);
                if (!queueExec(
                        q,
                        QStringLiteral("DELETE FROM listens WHERE id IN (SELECT id FROM "
                                       "listens WHERE service = ? AND state != 0 ORDER BY id "
                                       "DESC LIMIT -1 OFFSET ?)"),
                        {service, kMaxDone}))
                    return false;
            }
            return true;
        });
        if (!done)
            NSLog(lcScrobble(), QtWarningMsg, "scrobbling: a listen could not be queued");
        // Said once the row is written: what reads the queue next finds it.
        back.post([this] { Q_EMIT changed(); });
        return done;
    });
}

void ScrobbleQueue::waiting(const QString &service, int limit,
                            std::function<void(QList<Listen>)> then)
{
    m_store->postWork([service, limit, then = std::move(then),
                       back = asynctask::ReplyTo(this)](QSqlQuery &q) {
        QList<Listen> out;
        q.setForwardOnly(true);
        if (queueExec(q,
                      QStringLiteral("SELECT id, artist, title, album, started, heard_ms, station, "
                                     "song, attempts FROM listens WHERE service = ? AND state = 0 "
                                     "ORDER BY id LIMIT ?"),
                      {service, limit})) {
            while (q.next()) {
                out << Listen{q.value(0).toLongLong(),
                              service,
                              q.value(1).toString(),
                              q.value(2).toString(),
                              q.value(3).toString(),
                              QDateTime::fromMSecsSinceEpoch(q.value(4).toLongLong(), Qt::UTC),
                              q.value(5).toLongLong(),
                              q.value(6).toString(),
                              q.value(7).toLongLong(),
                              q.value(8).toInt()};
            }
        }
        back.post([then, out] { then(out); });
        return true;
    });
}

void ScrobbleQueue::settle(const QList<qint64> &ids, State state, bool attempted)
{
    if (ids.isEmpty())
        return;
    QVariantList values = {int(state), attempted ? 1 : 0};
    for (qint64 id : ids)
        values << id;
    const QString sql = QStringLiteral("UPDATE listens SET state = ?, attempts = attempts + ? "
                                       "WHERE id IN (%1)")
                            .arg(queuePlaceholders(ids.size()));
    m_store->postWork([sql, values, state, back = asynctask::ReplyTo(this), this](QSqlQuery &q) {
        const bool done = inTransaction(q, [&] { return queueExec(q, sql, values); });
        back.post([this, state] {
            Q_EMIT changed();
            // The history marks the songs sent.
            if (state == State::Sent)
                Q_EMIT m_store->songsChanged();
        });
        return done;
    });
}

void ScrobbleQueue::count(const QString &service, std::function<void(int)> then)
{
    m_store->postWork([service, then = std::move(then),
                       back = asynctask::ReplyTo(this)](QSqlQuery &q) {
        int n = 0;
        if (queueExec(
                q, QStringLiteral("SELECT count(*) FROM listens WHERE service = ? AND state = 0"),
                {service}) &&
            q.next())
            n = q.value(0).toInt();
        back.post([then, n] { then(n); });
        return true;
    });
}

void ScrobbleQueue::sentSongs(const QList<qint64> &songs, std::function<void(QSet<qint64>)> then)
{
    QVariantList values;
    for (qint64 id : songs)
        values << id;
    m_store->postWork(
        [values, then = std::move(then), back = asynctask::ReplyTo(this)](QSqlQuery &q) {
            QSet<qint64> sent;
            if (!values.isEmpty() &&
                queueExec(
                    q,
                    QStringLiteral("SELECT DISTINCT song FROM listens WHERE state = 1 AND song IN "
                                   "(%1)")
                        .arg(queuePlaceholders(values.size())),
                    values)) {
                while (q.next())
                    sent.insert(q.value(0).toLongLong());
            }
            back.post([then, sent] { then(sent); });
            return true;
        });
}

#include "moc_ScrobbleQueue.cpp"
