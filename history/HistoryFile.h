#pragma once

#include <QString>

// The history file itself: opened in WAL mode with its schema brought up to
// date (migrations run in order, in one transaction), and put aside when it
// cannot be read.
namespace historyfile {

// Segments on one level of the full-text index before a write merges them
// itself; the upkeep merges them long before, unless it cannot run.
constexpr int kCrisisMerge = 64;

// Opens `path` through the connection named `connection` (made if there is
// none yet) and readies it; false when it could not be.
bool open(const QString &connection, const QString &path);
bool createSchema(const QString &connection);
// Closes the connection and moves the file aside as
// "<path>.unreadable-<time>"; where it went, empty when nothing was moved.
QString keepAside(const QString &connection, const QString &path);

} // namespace historyfile
