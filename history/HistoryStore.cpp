#include "history/HistoryStore.h"

#include "history/HistoryFile.h"
#include "history/HistoryWriter.h"

#include "platform/base/AsyncTask.h"
#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/stream/StreamTitle.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace {

// Songs between two upkeep passes (merging the index's new segments),
// between two checkpoints of the log into the file, and between two trims to
// the history's bounds.
constexpr int kUpkeepEvery = 8;
constexpr int kCheckpointEvery = 96;
constexpr int kTrimEvery = 496;

qint64 toMs(const QDateTime &t)
{
    return t.isValid() ? t.toMSecsSinceEpoch() : 0;
}

QDateTime fromMs(const QVariant &v)
{
    return v.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(v.toLongLong(), Qt::UTC);
}

bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values = {})
{
    return HistoryWriter::exec(q, sql, values);
}

// An FTS5 query of every word of `text` as a prefix, quoted so that nothing
// the listener types is read as query syntax.
QString matchQuery(const QString &text)
{
    QStringList terms;
    for (QString word :
         text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        word.replace(QLatin1Char('"'), QLatin1String("\"\""));
        terms << QLatin1Char('"') + word + QStringLiteral("\"*");
    }
    return terms.join(QLatin1Char(' '));
}

const QString kColumns = QStringLiteral(
    "SELECT id, program, stream_url, title, artist, song, started, ended, favourite, file, "
    "EXISTS (SELECT 1 FROM listens WHERE listens.song = songs.id AND listens.state = 1) "
    "FROM songs");

// The song on the query's current row, selected with kColumns.
HistoryStore::Song songAt(const QSqlQuery &q)
{
    return HistoryStore::Song{
        q.value(0).toLongLong(), q.value(1).toString(),   q.value(2).toString(),
        q.value(3).toString(),   q.value(4).toString(),   q.value(5).toString(),
        fromMs(q.value(6)),      fromMs(q.value(7)),      q.value(8).toInt() != 0,
        q.value(9).toString(),   q.value(10).toInt() != 0};
}

} // namespace

HistoryStore::HistoryStore(const QString &path, QObject *parent)
    : QObject(parent), m_path(path), m_connection(QStringLiteral("history-%1").arg(quintptr(this)))
{
    const QDateTime now = Clock::shared()->currentDateTimeUtc();
    auto open = [this, now](QSqlDatabase &db) {
        using historyfile::Opened;
        Opened opened = historyfile::open(db);
        if (opened == Opened::Unreadable) {
            // Not a history SQLite can read: kept aside, a fresh one begun.
            m_openedKeptAs = historyfile::keepAside(db, now);
            opened = m_openedKeptAs.isEmpty() ? Opened::Failed : historyfile::open(db);
        }
        if (opened == Opened::Busy)
            return HistoryWriter::Opening::Busy;
        if (opened != Opened::Ready)
            return HistoryWriter::Opening::Failed;
        QSqlQuery q(db);
        if (exec(q, QStringLiteral("SELECT max(id) FROM songs")) && q.next())
            m_openedLastId = q.value(0).toLongLong();
        return HistoryWriter::Opening::Ready;
    };
    m_writer = std::make_unique<HistoryWriter>(
        m_path, open, this, [this](HistoryWriter::Opening) { announceOpened(); });
    // What is older than a year or beyond the newest kMaxSongs goes first,
    // on the writer's thread: start-up does not wait for it, what is read
    // does.
    const qint64 yearAgo = toMs(now.addDays(-kMaxDays));
    m_writer->post([yearAgo](QSqlQuery &q) {
        return exec(q, QStringLiteral("DELETE FROM songs WHERE started < ?"), {yearAgo}) &&
               exec(q,
                    QStringLiteral("DELETE FROM songs WHERE id IN (SELECT id FROM songs ORDER BY "
                                   "started DESC, id DESC LIMIT -1 OFFSET ?)"),
                    {kMaxSongs});
    });
}

HistoryStore::~HistoryStore()
{
    m_writer.reset(); // what was handed over is written first
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

void HistoryStore::takeOpening(bool wait)
{
    if (m_state != State::Opening)
        return;
    const HistoryWriter::Opening opening = m_writer->opening(wait);
    if (opening == HistoryWriter::Opening::Busy)
        return;
    m_keptAs = m_openedKeptAs;
    if (opening == HistoryWriter::Opening::Failed) {
        m_state = State::Closed;
        return;
    }
    m_state = State::Open;
    // The songs recorded meanwhile follow the file's last one, in order.
    m_base = m_openedLastId;
    m_lastId = m_base + m_provisional;
    // This connection reads (the writer's writes). A page cache of 512 KB,
    // not SQLite's 2 MB: the history is read a page of rows at a time, and
    // stays small while its window is closed.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(
        QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(HistoryWriter::kBusyTimeoutMs));
    if (!db.open()) {
        NSLog(lcHistory(), QtWarningMsg, "history: cannot read %@: %@", m_path,
              db.lastError().text());
        return;
    }
    QSqlQuery q(db);
    for (const char *pragma :
         {"PRAGMA synchronous=NORMAL", "PRAGMA cache_size=-512", "PRAGMA wal_autocheckpoint=0"})
        exec(q, QString::fromLatin1(pragma));
}

void HistoryStore::announceOpened()
{
    takeOpening(false);
    if (m_state == State::Closed && m_provisional > 0)
        Q_EMIT songsRemoved(0); // what was heard meanwhile is not kept
    if (!m_keptAs.isEmpty())
        Q_EMIT keptAside(m_keptAs);
    Q_EMIT songsChanged();
}

bool HistoryStore::isOpen() const
{
    settle(true);
    return m_state == State::Open;
}

QString HistoryStore::keptAsideAs() const
{
    settle(true);
    return m_keptAs;
}

qint64 HistoryStore::rowId(qint64 id) const
{
    const qint64 n = id - kProvisionalIds;
    return n > 0 && n <= m_provisional && m_state == State::Open ? m_base + n : id;
}

QString HistoryStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/orbitune/history.sqlite");
}

QString HistoryStore::cleanTitle(const QString &title)
{
    QString out;
    out.reserve(qMin(title.size(), kMaxTitleLength + 1));
    bool space = false;
    for (QChar c : title) {
        if (out.size() >= kMaxTitleLength)
            break;
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            space = !out.isEmpty();
            continue;
        }
        if (c.category() == QChar::Other_Format || c.category() == QChar::Other_NotAssigned)
            continue;
        if (space)
            out += QLatin1Char(' ');
        space = false;
        out += c;
    }
    return out.left(kMaxTitleLength);
}

qint64 HistoryStore::add(const QString &program, const QString &streamUrl, const QString &title)
{
    settle(false);
    if (m_state == State::Closed)
        return 0;
    const QString clean = cleanTitle(title);
    const streamtitle::Parts parts = streamtitle::split(clean);
    const bool split = !parts.artist.isEmpty();
    const qint64 id = m_state == State::Open ? ++m_lastId : kProvisionalIds + ++m_provisional;
    const QVariantList values = {program.left(kMaxTitleLength),
                                 streamUrl,
                                 clean,
                                 split ? parts.artist : QStringLiteral(""),
                                 split ? parts.title : QStringLiteral(""),
                                 toMs(Clock::shared()->currentDateTimeUtc())};
    m_writer->post([this, id, values, clean, back = asynctask::ReplyTo(this)](QSqlQuery &q) {
        if (exec(q,
                 QStringLiteral("INSERT INTO songs (id, program, stream_url, title, artist, "
                                "song, started) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                 QVariantList{fileId(id)} + values))
            return true;
        NSLog(lcHistory(), QtWarningMsg, "history: song not kept: %@", clean);
        back.post([this, id] {
            Q_EMIT songsRemoved(id);
            Q_EMIT songsChanged();
        });
        return false;
    });
    upkeepAfterAdd();
    Q_EMIT songsChanged();
    return id;
}

void HistoryStore::upkeepAfterAdd()
{
    if (++m_adds % kUpkeepEvery != 0)
        return;
    HistoryWriter::Upkeep pass;
    pass.merge = true;
    pass.checkpoint = m_adds % kCheckpointEvery == 0;
    if (m_adds % kTrimEvery == 0) {
        pass.dropBefore = toMs(Clock::shared()->currentDateTimeUtc().addDays(-kMaxDays));
        pass.keepAtMost = kMaxSongs;
    }
    m_writer->upkeep(pass);
}

void HistoryStore::waitForWrites()
{
    m_writer->waitForWrites();
    settle(false);
}

void HistoryStore::postWork(std::function<bool(QSqlQuery &)> job)
{
    m_writer->post(std::move(job));
}

void HistoryStore::waitForUpkeep()
{
    m_writer->waitForUpkeep();
    settle(false);
}

bool HistoryStore::change(const Job &job, const std::function<void()> &said)
{
    settle(false);
    if (m_state == State::Closed)
        return false;
    if (m_state == State::Opening) {
        m_writer->post(job);
        said();
        Q_EMIT songsChanged();
        return true;
    }
    int changed = 0;
    if (!m_writer->call([&](QSqlQuery &q) {
            if (!job(q))
                return false;
            changed = q.numRowsAffected();
            return true;
        }))
        return false;
    // Said only when a row really changed.
    if (changed > 0) {
        said();
        Q_EMIT songsChanged();
    }
    return true;
}

bool HistoryStore::finish(qint64 id)
{
    settle(false);
    if (m_state == State::Closed || id <= 0)
        return false;
    // Handed over like the song it ends: a title change never waits.
    const qint64 ended = toMs(Clock::shared()->currentDateTimeUtc());
    m_writer->post([this, id, ended](QSqlQuery &q) {
        return exec(q, QStringLiteral("UPDATE songs SET ended = ? WHERE id = ? AND ended IS NULL"),
                    {ended, fileId(id)});
    });
    Q_EMIT songsChanged();
    return true;
}

bool HistoryStore::setFavourite(qint64 id, bool favourite)
{
    return change(
        [this, id, favourite](QSqlQuery &q) {
            return exec(q,
                        QStringLiteral("UPDATE songs SET favourite = ? WHERE id = ? AND "
                                       "favourite != ?"),
                        {favourite ? 1 : 0, fileId(id), favourite ? 1 : 0});
        },
        [this, id, favourite] { Q_EMIT favouriteChanged(id, favourite); });
}

bool HistoryStore::setFile(qint64 id, const QString &path)
{
    settle(false);
    if (m_state == State::Closed || id <= 0)
        return false;
    const QVariant file = path.isEmpty() ? QVariant() : QVariant(path);
    Job job = [this, id, file](QSqlQuery &q) {
        return exec(q, QStringLiteral("UPDATE songs SET file = ? WHERE id = ?"),
                    {file, fileId(id)});
    };
    if (m_state == State::Opening) {
        m_writer->post(job);
        return true;
    }
    return m_writer->call(job);
}

bool HistoryStore::remove(qint64 id)
{
    return change(
        [this, id](QSqlQuery &q) {
            return exec(q, QStringLiteral("DELETE FROM songs WHERE id = ?"), {fileId(id)});
        },
        [this, id] { Q_EMIT songsRemoved(id); });
}

bool HistoryStore::clear()
{
    return change([](QSqlQuery &q) { return exec(q, QStringLiteral("DELETE FROM songs")); },
                  [this] { Q_EMIT songsRemoved(0); });
}

QList<HistoryStore::Song> HistoryStore::songs(const QString &text, bool favouritesOnly,
                                              int limit) const
{
    return query(nullptr, text, favouritesOnly, limit);
}

QList<HistoryStore::Song> HistoryStore::songsAfter(const Song &last, const QString &text,
                                                   bool favouritesOnly, int limit) const
{
    return query(&last, text, favouritesOnly, limit);
}

std::optional<HistoryStore::Song> HistoryStore::song(qint64 id) const
{
    if (id == 0)
        return std::nullopt;
    settle(true);
    if (m_state != State::Open)
        return std::nullopt;
    m_writer->waitForWrites();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!exec(q, kColumns + QStringLiteral(" WHERE id = ?"), {rowId(id)}) || !q.next())
        return std::nullopt;
    return songAt(q);
}

QList<HistoryStore::Song> HistoryStore::query(const Song *after, const QString &text,
                                              bool favouritesOnly, int limit) const
{
    QList<Song> out;
    settle(true);
    if (m_state != State::Open)
        return out;
    m_writer->waitForWrites();
    QString sql = kColumns + QStringLiteral(" WHERE 1");
    QVariantList values;
    const QString match = matchQuery(text);
    if (!match.isEmpty()) {
        // Songs are added in the order they are heard: the newest matches
        // are the highest rows, which the full-text index hands out first,
        // so a short prefix matching half the history stops at `limit`.
        sql += QStringLiteral(" AND id IN (SELECT rowid FROM songs_text WHERE songs_text MATCH ?"
                              "%1 ORDER BY rowid DESC%2)")
                   .arg(after ? QStringLiteral(" AND rowid < ?") : QString(),
                        favouritesOnly ? QString() : QStringLiteral(" LIMIT ?"));
        values << match;
        if (after)
            values << after->id;
        if (!favouritesOnly)
            values << limit;
    }
    if (favouritesOnly)
        sql += QStringLiteral(" AND favourite = 1");
    if (after) {
        // Where the last page ended, in the order below (the index on
        // `started` holds the id as well).
        sql += QStringLiteral(" AND (started, id) < (?, ?)");
        values << toMs(after->started) << after->id;
    }
    sql += QStringLiteral(" ORDER BY started DESC, id DESC LIMIT ?");
    values << limit;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!exec(q, sql, values))
        return out;
    while (q.next()) {
        out << songAt(q);
    }
    return out;
}

#include "moc_HistoryStore.cpp"
