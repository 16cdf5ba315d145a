#include "history/HistoryFile.h"

#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace historyfile {

namespace {

bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values = {})
{
    return HistoryWriter::exec(q, sql, values);
}

} // namespace

bool open(const QString &connection, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QSqlDatabase db = QSqlDatabase::contains(connection)
                              ? QSqlDatabase::database(connection, false)
                              : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(HistoryWriter::kBusyTimeoutMs));
        if (!db.open()) {
            NSLog(lcHistory(), QtWarningMsg, "history: cannot open %@: %@", path,
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
            exec(q, QStringLiteral("PRAGMA wal_autocheckpoint=0")) && createSchema(connection)) {
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

bool createSchema(const QString &connection)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    QSqlQuery q(db);
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
    ok = ok && exec(q, QStringLiteral("PRAGMA user_version=%1").arg(HistoryStore::kSchemaVersion));
    if (!ok) {
        db.rollback();
        return false;
    }
    return db.commit();
}

QString keepAside(const QString &connection, const QString &path)
{
    QSqlDatabase::database(connection, false).close();
    if (!QFile::exists(path))
        return QString();
    const QString stamp =
        Clock::shared()->currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString keptAs = path + QStringLiteral(".unreadable-") + stamp;
    if (!QFile::rename(path, keptAs)) {
        NSLog(lcHistory(), QtCriticalMsg, "history: could not keep %@ aside", path);
        return QString();
    }
    for (const char *suffix : {"-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    NSLog(lcHistory(), QtWarningMsg, "history file could not be read; kept it as %@", keptAs);
    return keptAs;
}

} // namespace historyfile
