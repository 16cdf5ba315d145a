#include "history/HistoryStore.h"

#include "history/HistoryWriter.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/media/StreamTitle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
// Segments on one level of the full-text index before a write merges them
// itself; the upkeep merges them long before, unless it cannot run.
constexpr int kCrisisMerge = 64;

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
    "SELECT id, program, stream_url, title, artist, song, started, ended, favourite, file "
    "FROM songs");

// The song on the query's current row, selected with kColumns.
HistoryStore::Song songAt(const QSqlQuery &q)
{
    return HistoryStore::Song{q.value(0).toLongLong(), q.value(1).toString(),
                              q.value(2).toString(),   q.value(3).toString(),
                              q.value(4).toString(),   q.value(5).toString(),
                              fromMs(q.value(6)),      fromMs(q.value(7)),
                              q.value(8).toInt() != 0, q.value(9).toString()};
}

} // namespace

HistoryStore::HistoryStore(const QString &path, QObject *parent)
    : QObject(parent), m_path(path), m_connection(QStringLiteral("history-%1").arg(quintptr(this)))
{
    m_open = open();
    if (!m_open) {
        // Unreadable, or not a history at all: kept aside, a fresh one begun.
        m_keptAs = keepAside();
        m_open = open();
    }
    if (!m_open)
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (exec(q, QStringLiteral("SELECT max(id) FROM songs")) && q.next())
        m_lastId = q.value(0).toLongLong();
    q.finish();
    m_writer = std::make_unique<HistoryWriter>(m_path);
    // What is older than a year or beyond the newest kMaxSongs goes first,
    // on the writer's thread: start-up does not wait for it, what is read
    // does.
    const qint64 yearAgo = toMs(Clock::shared()->currentDateTimeUtc().addDays(-kMaxDays));
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

bool HistoryStore::open()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    {
        QSqlDatabase db = QSqlDatabase::contains(m_connection)
                              ? QSqlDatabase::database(m_connection, false)
                              : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(m_path);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(HistoryWriter::kBusyTimeoutMs));
        if (!db.open()) {
            NSLog(lcHistory(), QtWarningMsg, "history: cannot open %@: %@", m_path,
                  db.lastError().text());
            return false;
        }
        QSqlQuery q(db);
        // WAL: the writer's connection writes, this one reads. A page cache
        // of 512 KB, not SQLite's 2 MB: the history is read a page of rows
        // at a time, and stays small while its window is closed.
        if (exec(q, QStringLiteral("PRAGMA journal_mode=WAL")) &&
            exec(q, QStringLiteral("PRAGMA synchronous=NORMAL")) &&
            exec(q, QStringLiteral("PRAGMA cache_size=-512")) &&
            exec(q, QStringLiteral("PRAGMA wal_autocheckpoint=0")) && createSchema()) {
            // The index's segments are merged by the writer's upkeep, not by
            // the write of a song; an older file is set so as it is opened.
            exec(q, QStringLiteral("INSERT INTO songs_text(songs_text, rank) "
                                   "VALUES ('automerge', 0)"));
            exec(q,
                 QStringLiteral("INSERT INTO songs_text(songs_text, rank) "
                                "VALUES ('crisismerge', ?)"),
                 {kCrisisMerge});
            return true;
        }
        db.close();
    }
    return false;
}

bool HistoryStore::createSchema()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!exec(q, QStringLiteral("PRAGMA user_version")) || !q.next())
        return false;
    const int version = q.value(0).toInt();
    if (version == kSchemaVersion)
        return true;
    if (version > kSchemaVersion) {
        // Written by a newer Orbitune: used as it is, never downgraded.
        NSLog(lcHistory(), QtInfoMsg, "history: schema %ld is newer than %ld", version,
              kSchemaVersion);
        return true;
    }
    // Migrations run in order from the file's version, in one transaction.
    if (!db.transaction())
        return false;
    bool ok = true;
    if (version < 1) {
        for (const char *sql : {
                 "CREATE TABLE songs (id INTEGER PRIMARY KEY, program TEXT NOT NULL, "
                 "stream_url TEXT NOT NULL, title TEXT NOT NULL, artist TEXT NOT NULL, "
                 "song TEXT NOT NULL, started INTEGER NOT NULL, ended INTEGER, "
                 "favourite INTEGER NOT NULL DEFAULT 0)",
                 "CREATE INDEX songs_started ON songs(started)",
                 "CREATE VIRTUAL TABLE songs_text USING fts5(title, program, "
                 "content='songs', content_rowid='id')",
                 "CREATE TRIGGER songs_added AFTER INSERT ON songs BEGIN "
                 "INSERT INTO songs_text(rowid, title, program) "
                 "VALUES (new.id, new.title, new.program); END",
                 "CREATE TRIGGER songs_removed AFTER DELETE ON songs BEGIN "
                 "INSERT INTO songs_text(songs_text, rowid, title, program) "
                 "VALUES ('delete', old.id, old.title, old.program); END",
             })
            ok = ok && exec(q, QString::fromLatin1(sql));
    }
    if (version < 2) // the file a song was recorded to
        ok = ok && exec(q, QStringLiteral("ALTER TABLE songs ADD COLUMN file TEXT"));
    ok = ok && exec(q, QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion));
    if (!ok) {
        db.rollback();
        return false;
    }
    return db.commit();
}

QString HistoryStore::keepAside()
{
    QSqlDatabase::database(m_connection, false).close();
    if (!QFile::exists(m_path))
        return QString();
    const QString stamp =
        Clock::shared()->currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString keptAs = m_path + QStringLiteral(".unreadable-") + stamp;
    if (!QFile::rename(m_path, keptAs)) {
        NSLog(lcHistory(), QtCriticalMsg, "history: could not keep %@ aside", m_path);
        return QString();
    }
    for (const char *suffix : {"-wal", "-shm"})
        QFile::remove(m_path + QLatin1String(suffix));
    NSLog(lcHistory(), QtWarningMsg, "history file could not be read; kept it as %@", keptAs);
    return keptAs;
}

qint64 HistoryStore::add(const QString &program, const QString &streamUrl, const QString &title)
{
    if (!m_open)
        return 0;
    const QString clean = cleanTitle(title);
    const streamtitle::Parts parts = streamtitle::split(clean);
    const bool split = !parts.artist.isEmpty();
    const qint64 id = ++m_lastId;
    const QVariantList values = {id,
                                 program.left(kMaxTitleLength),
                                 streamUrl,
                                 clean,
                                 split ? parts.artist : QStringLiteral(""),
                                 split ? parts.title : QStringLiteral(""),
                                 toMs(Clock::shared()->currentDateTimeUtc())};
    m_writer->post([values, clean](QSqlQuery &q) {
        if (exec(q,
                 QStringLiteral("INSERT INTO songs (id, program, stream_url, title, artist, "
                                "song, started) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                 values))
            return true;
        NSLog(lcHistory(), QtWarningMsg, "history: song not kept: %@", clean);
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
    if (m_writer)
        m_writer->waitForWrites();
}

void HistoryStore::waitForUpkeep()
{
    if (m_writer)
        m_writer->waitForUpkeep();
}

bool HistoryStore::change(const QString &sql, const QVariantList &values)
{
    if (!m_open)
        return false;
    int changed = 0;
    if (!m_writer->call([&](QSqlQuery &q) {
            if (!exec(q, sql, values))
                return false;
            changed = q.numRowsAffected();
            return true;
        }))
        return false;
    // Said only when a row really changed.
    if (changed > 0)
        Q_EMIT songsChanged();
    return true;
}

bool HistoryStore::finish(qint64 id)
{
    if (!m_open || id <= 0)
        return false;
    // Handed over like the song it ends: a title change never waits.
    const QVariantList values = {toMs(Clock::shared()->currentDateTimeUtc()), id};
    m_writer->post([values](QSqlQuery &q) {
        return exec(q, QStringLiteral("UPDATE songs SET ended = ? WHERE id = ? AND ended IS NULL"),
                    values);
    });
    Q_EMIT songsChanged();
    return true;
}

bool HistoryStore::setFavourite(qint64 id, bool favourite)
{
    return change(QStringLiteral("UPDATE songs SET favourite = ? WHERE id = ? AND favourite != ?"),
                  {favourite ? 1 : 0, id, favourite ? 1 : 0});
}

bool HistoryStore::setFile(qint64 id, const QString &path)
{
    const QVariantList values = {path.isEmpty() ? QVariant() : QVariant(path), id};
    return m_open && id > 0 && m_writer->call([&values](QSqlQuery &q) {
        return exec(q, QStringLiteral("UPDATE songs SET file = ? WHERE id = ?"), values);
    });
}

bool HistoryStore::remove(qint64 id)
{
    return change(QStringLiteral("DELETE FROM songs WHERE id = ?"), {id});
}

bool HistoryStore::clear()
{
    return change(QStringLiteral("DELETE FROM songs"));
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
    if (!m_open)
        return std::nullopt;
    m_writer->waitForWrites();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!exec(q, kColumns + QStringLiteral(" WHERE id = ?"), {id}) || !q.next())
        return std::nullopt;
    return songAt(q);
}

QList<HistoryStore::Song> HistoryStore::query(const Song *after, const QString &text,
                                              bool favouritesOnly, int limit) const
{
    QList<Song> out;
    if (!m_open)
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
