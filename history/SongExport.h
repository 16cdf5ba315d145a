#pragma once

#include "history/HistoryStore.h"

#include <QByteArray>
#include <QList>

// The song history as text: the line a song is copied as, and the CSV and
// JSON files it is exported to.
namespace songexport {

enum class Format { Csv, Json };

// "Artist - Title" when the title had that shape, else the title as sent.
QString line(const HistoryStore::Song &song);

// RFC 4180: a header, then one record per song, CRLF line ends, fields
// quoted where needed. A field that a spreadsheet would run as a formula
// (starting with =, +, -, @, tab or carriage return) is written after a
// single quote, so opening the file never runs what a station sent.
QByteArray csv(const QList<HistoryStore::Song> &songs);
// An array of objects with the same fields, times in ISO 8601 UTC.
QByteArray json(const QList<HistoryStore::Song> &songs);
QByteArray encode(const QList<HistoryStore::Song> &songs, Format format);

// Writes `bytes` to `path` atomically: the old file or the new one, never a
// half-written one. On failure says why in `error`.
bool writeFile(const QString &path, const QByteArray &bytes, QString *error);

} // namespace songexport
