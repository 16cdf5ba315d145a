#pragma once

#include <QString>

class QDateTime;
class QSqlDatabase;
class QSqlQuery;

// The history file itself: opened in WAL mode with its schema brought up to
// date (migrations run in order, in one transaction), and put aside when it
// cannot be read.
namespace historyfile {

// Segments on one level of the full-text index before a write merges them
// itself; the upkeep merges them long before, unless it cannot run.
constexpr int kCrisisMerge = 64;

// What became of an attempt to open the file.
enum class Opened {
    Ready,
    Busy,       // another connection holds it: try again later
    Unreadable, // SQLite says it is corrupt or no database
    Failed,     // anything else (a folder that cannot be written, ...)
};

// Opens the file `db` names (its busy timeout set) and readies it: WAL
// mode, the schema, the full-text index's settings. The connection is
// closed again unless it says Ready, or Unreadable (for keepAside).
Opened open(QSqlDatabase &db);
bool createSchema(QSqlDatabase &db, QSqlQuery &q);
// Moves the file aside as "<file>.unreadable-<now>", its -wal and -shm
// along with it, and closes the connection; where it went, empty when
// nothing was moved.
QString keepAside(QSqlDatabase &db, const QDateTime &now);

} // namespace historyfile
