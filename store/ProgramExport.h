#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantList>

// Writing the program list for other players: M3U with #EXTINF names (the
// picture as tvg-logo, the group as group-title and #EXTGRP), or XSPF with
// title, location and image (XSPF has no place for a group). Items
// that are not programs, or have no stream address, are left out.
namespace programexport {

enum class Format { M3U, XSPF };

// XSPF for a path ending in ".xspf", M3U for anything else.
Format formatForPath(const QString &path);

QByteArray toM3u(const QVariantList &list);
QByteArray toXspf(const QVariantList &list);

// Writes atomically: the old file, if any, stays whole until the new one is
// complete. Returns false and sets `error` when it could not be written.
bool writeFile(const QString &path, const QVariantList &list, QString *error = nullptr);

} // namespace programexport
