#include "history/HistoryFile.h"

#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"

#include "platform/base/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace historyfile {

namespace {

// Failures are told once, by what they mean, not on every attempt.
bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values = {})
{
    return HistoryWriter::exec(q, sql, values, QtDebugMsg);
}

// What a failure to open or ready the file says of it, by SQLite's primary
// result code.
Opened outcome(const QSqlError &error)
{
    switch (error.nativeErrorCode().toInt() & 0xff) {
    case 5: // SQLITE_BUSY: another connection holds a lock
    case 6: // SQLITE_LOCKED
        return Opened::Busy;
    case 11: // SQLITE_CORRUPT
    case 26: // SQLITE_NOTADB
        return Opened::Unreadable;
    default: return Opened::Failed;
    }
}

} // namespace

Opened open(QSqlDatabase &db)
{
    QDir().mkpath(QFileInfo(db.databaseName()).absolutePath());
    if (!db.open()) {
        NSLog(lcHistory(), QtWarningMsg, "history: cannot open %@: %@", db.databaseName(),
              db.lastError().text());
        return outcome(db.lastError());
    }
    QSqlQuery q(db);
    // WAL: the writer's connection writes, the store's reads. A page cache
    // of 512 KB, not SQLite's 2 MB: the history is read a page of rows at a
    // time, and stays small while its window is closed.
    if (exec(q, QStringLiteral("PRAGMA journal_mode=WAL")) &&
        exec(q, QStringLiteral("PRAGMA synchronous=NORMAL")) &&
        exec(q, QStringLiteral("PRAGMA cache_size=-512")) &&
        exec(q, QStringLiteral("PRAGMA wal_autocheckpoint=0")) && createSchema(db, q)) {
        // The index's segments are merged by the writer's upkeep, not by
        // the write of a song; an older file is set so as it is opened.
        exec(q, QStringLiteral("INSERT INTO songs_text(songs_text, rank) "
                               "VALUES ('automerge', 0)"));
        exec(q,
             QStringLiteral("INSERT INTO songs_text(songs_text, rank) "
                            "VALUES ('crisismerge', ?)"),
             {kCrisisMerge});
        q.finish();
        return Opened::Ready;
    }
    const QSqlError error = q.lastError().isValid() ? q.lastError() : db.lastError();
    const Opened why = outcome(error);
    if (why != Opened::Busy)
        NSLog(lcHistory(), QtWarningMsg, "history: cannot open %@: %@", db.databaseName(),
              error.text());
    q.finish();
    // An unreadable file stays open for keepAside().
    if (why != Opened::Unreadable)
        db.close();
    return why;
}

bool createSchema(QSqlDatabase &db, QSqlQuery &q)
{
    if (!exec(q, QStringLiteral("PRAGMA user_version")) || !q.next())
        return false;
    const int version = q.value(0).toInt();
    if (version == HistoryStore::kSchemaVersion)
        return true;
    if (version > HistoryStore::kSchemaVersion) {
        // Written by a newer Orbitune: used as it is, never downgraded.
        NSLog(lcHistory(), QtInfoMsg, "history: schema %ld is newer than %ld", version,
              HistoryStore::kSchemaVersion);
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
    if (version < 3) { // the listens waiting for, or sent to, a scrobbling service
        for (const char *sql : {
                 "CREATE TABLE listens (id INTEGER PRIMARY KEY, service TEXT NOT NULL, "
                 "artist TEXT NOT NULL, title TEXT NOT NULL, album TEXT, "
                 "started INTEGER NOT NULL, heard_ms INTEGER NOT NULL, station TEXT NOT NULL, "
                 "song INTEGER, state INTEGER NOT NULL DEFAULT 0, "
                 "attempts INTEGER NOT NULL DEFAULT 0)",
                 "CREATE INDEX listens_waiting ON listens(service, state, id)",
                 "CREATE INDEX listens_song ON listens(song)",
             })
            ok = ok && exec(q, QString::fromLatin1(sql));
    }
    ok = ok && exec(q, QStringLiteral("PRAGMA user_version=%1").arg(HistoryStore::kSchemaVersion));
    if (!ok) {
        db.rollback();
        return false;
    }
    return db.commit();
}

QString keepAside(QSqlDatabase &db, const QDateTime &now)
{
    // Moved while the connection is still open: closing it would fold the
    // log into the file or remove it, by name.
    const QString path = db.databaseName();
    const QString keptAs =
        path + QStringLiteral(".unreadable-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const bool kept = QFile::exists(path) && QFile::rename(path, keptAs);
    if (kept) {
        // The log may hold the last songs: it goes along, under the name
        // SQLite looks for beside the kept file.
        for (const char *suffix : {"-wal", "-shm"}) {
            const QString from = path + QLatin1String(suffix);
            if (QFile::exists(from) && !QFile::rename(from, keptAs + QLatin1String(suffix)))
                NSLog(lcHistory(), QtCriticalMsg, "history: could not keep %@ aside", from);
        }
    }
    db.close();
    if (!kept) {
        NSLog(lcHistory(), QtCriticalMsg, "history: could not keep %@ aside", path);
        return QString();
    }
    NSLog(lcHistory(), QtWarningMsg, "history file could not be read; kept it as %@", keptAs);
    return keptAs;
}

} // namespace historyfile
