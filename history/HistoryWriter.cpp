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

// The writer's connection, made and used on its thread.
struct HistoryWriter::Connection {
    QString name;
    QSqlDatabase db;
    std::optional<QSqlQuery> q; // made once the file is open
    bool ready = false;
};

HistoryWriter::HistoryWriter(const QString &path, Opener open, QObject *receiver,
                             std::function<void(Opening)> opened)
    : m_path(path), m_open(std::move(open)),
      m_worker(QStringLiteral("history-writer"), [this] { return upkeepStep(); })
{
    m_worker.post(
        receiver, [this] { return openFile(); }, std::move(opened));
}

HistoryWriter::~HistoryWriter()
{
    m_worker.post([this] { closeFile(); });
}

void HistoryWriter::post(Job job)
{
    ++m_writesWaiting;
    m_worker.post([this, job = std::move(job)] { write(job); });
}

bool HistoryWriter::call(Job job)
{
    bool result = false;
    ++m_writesWaiting;
    m_worker.post([this, &result, &job] { result = write(job); });
    m_worker.wait();
    return result;
}

void HistoryWriter::waitForWrites()
{
    m_worker.wait();
}

HistoryWriter::Opening HistoryWriter::opening(bool firstTry)
{
    if (firstTry)
        m_firstTried.wait();
    return m_opening;
}

void HistoryWriter::upkeep(const Upkeep &pass)
{
    m_worker.post([this, pass] {
        if (!m_connection->ready)
            return;
        if (!m_upkeep)
            m_upkeep = Upkeep{};
        Upkeep &next = *m_upkeep;
        next.merge = next.merge || pass.merge;
        next.dropBefore = std::max(next.dropBefore, pass.dropBefore);
        next.keepAtMost = pass.keepAtMost ? pass.keepAtMost : next.keepAtMost;
        next.checkpoint = next.checkpoint || pass.checkpoint;
    });
}

void HistoryWriter::waitForUpkeep()
{
    m_worker.waitUntilIdle();
}

HistoryWriter::Opening HistoryWriter::openFile()
{
    m_connection = std::make_unique<Connection>();
    Connection &c = *m_connection;
    c.name = QStringLiteral("history-writer-%1").arg(quintptr(this));
    c.db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), c.name);
    c.db.setDatabaseName(m_path);
    c.db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    // Tried until the file opens, cannot be opened, or the writer ends.
    Opening outcome = m_open(c.db);
    int pauseMs = kFirstRetryMs;
    while (outcome == Opening::Busy) {
        if (!std::exchange(m_tried, true)) {
            NSLog(lcHistory(), QtWarningMsg,
                  "history: %@ is held by another process; "
                  "waiting for it",
                  m_path);
            m_firstTry.set_value();
        }
        const bool ending = !m_worker.pause(pauseMs);
        pauseMs = std::min(pauseMs * 2, kLongestRetryMs);
        outcome = m_open(c.db); // and once more when the writer ends
        if (ending && outcome == Opening::Busy) {
            NSLog(lcHistory(), QtWarningMsg,
                  "history: %@ was held until the end; %ld writes "
                  "not kept",
                  m_path, qint64(m_writesWaiting));
            outcome = Opening::Failed;
        }
    }
    c.ready = outcome == Opening::Ready;
    QSqlQuery &q = c.q.emplace(c.db);
    // No wait for the disk's sync on each song: a crash loses at most the
    // last songs, never the file. The log is folded in by the upkeep.
    for (const char *pragma :
         {"PRAGMA synchronous=NORMAL", "PRAGMA cache_size=-512", "PRAGMA wal_autocheckpoint=0"}) {
        if (c.ready)
            upkeepExec(q, QString::fromLatin1(pragma));
    }
    m_opening = outcome;
    if (!std::exchange(m_tried, true))
        m_firstTry.set_value();
    return outcome;
}

bool HistoryWriter::write(const Job &job)
{
    --m_writesWaiting;
    // A file that could not be opened takes nothing.
    if (!m_connection->ready)
        return false;
    const bool done = job(*m_connection->q);
    m_connection->q->finish();
    return done;
}

bool HistoryWriter::upkeepStep()
{
    if (!m_connection || !m_connection->ready)
        return false;
    if (!m_pass) {
        if (!m_upkeep)
            return false;
        m_pass = std::make_unique<Pass>(Pass{*m_upkeep});
        m_upkeep.reset();
    }
    if (!m_pass->step(*m_connection->q))
        m_pass.reset();
    m_connection->q->finish();
    return m_pass || m_upkeep;
}

void HistoryWriter::closeFile()
{
    const QString name = m_connection->name;
    m_pass.reset();
    m_connection->q.reset();
    m_connection->db.close();
    m_connection.reset();
    QSqlDatabase::removeDatabase(name);
}
