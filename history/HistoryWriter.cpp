#include "history/HistoryWriter.h"

#include "platform/base/Log.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

#include <algorithm>

namespace {

// Songs looked at for trimming in one pass; more go in the next.
constexpr int kMostDroppedPerPass = 5000;
// Pauses between two attempts at opening a file another process holds.
constexpr int kFirstRetryMs = 100;
constexpr int kLongestRetryMs = 4000;

// Upkeep that fails (another process holding the file past the busy
// timeout) is left for the next pass.
bool upkeepExec(QSqlQuery &q, const QString &sql, const QVariantList &values = {})
{
    return HistoryWriter::exec(q, sql, values, QtDebugMsg);
}

qint64 totalChanges(QSqlQuery &q)
{
    return upkeepExec(q, QStringLiteral("SELECT total_changes()")) && q.next()
               ? q.value(0).toLongLong()
               : -1;
}

} // namespace

// One upkeep pass, a step at a time.
struct HistoryWriter::Pass {
    Upkeep what;
    QList<qint64> drop;
    qsizetype dropped = 0;
    bool trimRead = false;
    bool merged = false;

    // Does one step; false once the pass is over.
    bool step(QSqlQuery &q)
    {
        if (!trimRead) {
            trimRead = true;
            readTrim(q);
            return true;
        }
        if (dropped < drop.size()) {
            const QList<qint64> some = drop.mid(dropped, kRowsPerStep);
            dropped += some.size();
            QVariantList values;
            for (qint64 id : some)
                values << id;
            if (!upkeepExec(q,
                            QStringLiteral("DELETE FROM songs WHERE id IN (%1)")
                                .arg(QStringList(some.size(), QStringLiteral("?")).join(u',')),
                            values))
                dropped = drop.size();
            return true;
        }
        if (what.merge && !merged) {
            // The segments written since the last pass, a few pages at a
            // time, until nothing is left to merge.
            const qint64 before = totalChanges(q);
            merged =
                before < 0 ||
                !upkeepExec(q, QStringLiteral("INSERT INTO songs_text(songs_text, rank) VALUES "
                                              "('merge', %1)")
                                   .arg(kMergePagesPerStep)) ||
                totalChanges(q) - before < 2;
            return true;
        }
        // A passive checkpoint never holds a reader up.
        if (what.checkpoint)
            upkeepExec(q, QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        return false;
    }

    void readTrim(QSqlQuery &q)
    {
        auto ids = [&q, this](const QString &sql, const QVariantList &values) {
            q.setForwardOnly(true);
            if (upkeepExec(q, sql, values)) {
                while (q.next())
                    drop << q.value(0).toLongLong();
            }
            q.finish();
        };
        if (what.dropBefore > 0)
            ids(QStringLiteral("SELECT id FROM songs WHERE started < ? LIMIT ?"),
                {what.dropBefore, kMostDroppedPerPass});
        if (what.keepAtMost > 0)
            ids(QStringLiteral("SELECT id FROM songs ORDER BY started DESC, id DESC "
                               "LIMIT ? OFFSET ?"),
                {kMostDroppedPerPass, what.keepAtMost});
        std::sort(drop.begin(), drop.end());
        drop.erase(std::unique(drop.begin(), drop.end()), drop.end());
    }
};

bool HistoryWriter::exec(QSqlQuery &q, const QString &sql, const QVariantList &values,
                         QtMsgType level)
{
    if (!q.prepare(sql)) {
        NSLog(lcHistory(), level, "history: %@", q.lastError().text());
        return false;
    }
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        NSLog(lcHistory(), level, "history: %@", q.lastError().text());
        return false;
    }
    return true;
}

HistoryWriter::HistoryWriter(const QString &path, Opener open, std::function<void(Opening)> opened)
    : m_path(path), m_open(std::move(open)), m_opened(std::move(opened)),
      m_thread([this] { run(); })
{
}

HistoryWriter::~HistoryWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

quint64 HistoryWriter::enqueue(Job job)
{
    quint64 sequence = 0;
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        sequence = ++m_posted;
    }
    m_changed.notify_all();
    return sequence;
}

void HistoryWriter::waitFor(quint64 sequence)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_done >= sequence; });
}

void HistoryWriter::post(Job job)
{
    enqueue(std::move(job));
}

bool HistoryWriter::call(Job job)
{
    bool result = false;
    waitFor(enqueue([&result, &job](QSqlQuery &q) { return result = job(q); }));
    return result;
}

void HistoryWriter::waitForWrites()
{
    quint64 posted = 0;
    {
        std::lock_guard lock(m_mutex);
        posted = m_posted;
    }
    waitFor(posted);
}

HistoryWriter::Opening HistoryWriter::opening(bool firstTry)
{
    std::unique_lock lock(m_mutex);
    if (firstTry)
        m_changed.wait(lock, [this] { return m_tried; });
    return m_opening;
}

void HistoryWriter::upkeep(const Upkeep &pass)
{
    {
        std::lock_guard lock(m_mutex);
        Upkeep &next = m_upkeep ? *m_upkeep : m_upkeep.emplace();
        next.merge = next.merge || pass.merge;
        next.dropBefore = std::max(next.dropBefore, pass.dropBefore);
        next.keepAtMost = pass.keepAtMost ? pass.keepAtMost : next.keepAtMost;
        next.checkpoint = next.checkpoint || pass.checkpoint;
    }
    m_changed.notify_all();
}

void HistoryWriter::waitForUpkeep()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_done >= m_posted && !m_upkeep && !m_upkeepRunning; });
}

bool HistoryWriter::open(QSqlDatabase &db)
{
    int pauseMs = kFirstRetryMs;
    for (;;) {
        const Opening outcome = m_open(db);
        std::unique_lock lock(m_mutex);
        if (outcome == Opening::Busy && !m_stopping) {
            if (!m_tried)
                NSLog(lcHistory(), QtWarningMsg,
                      "history: %@ is held by another process; "
                      "waiting for it",
                      m_path);
            m_tried = true;
            m_changed.notify_all();
            m_changed.wait_for(lock, std::chrono::milliseconds(pauseMs),
                               [this] { return m_stopping; });
            pauseMs = std::min(pauseMs * 2, kLongestRetryMs);
            continue;
        }
        m_tried = true;
        m_opening = outcome == Opening::Ready ? Opening::Ready : Opening::Failed;
        if (outcome == Opening::Busy)
            NSLog(lcHistory(), QtWarningMsg,
                  "history: %@ was held until the end; %ld writes "
                  "not kept",
                  m_path, qint64(m_jobs.size()));
        m_changed.notify_all();
        lock.unlock();
        m_opened(m_opening);
        return m_opening == Opening::Ready;
    }
}

void HistoryWriter::run()
{
    const QString name = QStringLiteral("history-writer-%1").arg(quintptr(this));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        const bool ready = open(db);
        QSqlQuery q(db);
        // No wait for the disk's sync on each song: a crash loses at most the
        // last songs, never the file. The log is folded in by the upkeep.
        for (const char *pragma : {"PRAGMA synchronous=NORMAL", "PRAGMA cache_size=-512",
                                   "PRAGMA wal_autocheckpoint=0"}) {
            if (ready)
                upkeepExec(q, QString::fromLatin1(pragma));
        }
        std::optional<Pass> pass;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return !m_jobs.empty() || m_stopping || pass || m_upkeep; });
            if (!m_jobs.empty()) {
                Job job = std::move(m_jobs.front());
                m_jobs.pop_front();
                lock.unlock();
                // A file that could not be opened takes nothing.
                if (ready)
                    job(q);
                q.finish();
                lock.lock();
                ++m_done;
                m_changed.notify_all();
                continue;
            }
            if (m_stopping)
                break;
            if (!ready) {
                m_upkeep.reset();
                m_changed.notify_all();
                continue;
            }
            if (!pass) {
                pass.emplace(Pass{*m_upkeep});
                m_upkeep.reset();
                m_upkeepRunning = true;
            }
            lock.unlock();
            const bool more = pass->step(q);
            q.finish();
            lock.lock();
            if (!more) {
                pass.reset();
                m_upkeepRunning = false;
                m_changed.notify_all();
            }
        }
        lock.unlock();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
