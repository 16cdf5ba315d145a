#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>

// Reading other players' station lists into program entries. The format is
// told by the content, never by the file name: M3U/M3U8 (names from
// #EXTINF, groups from group-title or #EXTGRP), PLS, XSPF, Goodvibes'
// stations.xml and Radiotray-NG's bookmarks.json (with its groups).
//
// The files come from anywhere, so everything is bounded: files above
// kMaxFileBytes are refused unread, at most kMaxEntries entries (and
// kMaxImportBytes of text) are taken, only http and https addresses are
// kept, and names lose control characters and are cut to kMaxNameLength.
namespace programimport {

constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
constexpr int kMaxEntries = 10'000;
// What the taken entries may add to the data file, so that the list still
// fits the store's own size limit after an import.
constexpr qint64 kMaxImportBytes = 8 * 1024 * 1024;
constexpr int kMaxNameLength = 200;
constexpr int kMaxUrlLength = 2048;

enum class Format { Unknown, M3U, PLS, XSPF, Goodvibes, RadiotrayNG };

struct Parsed {
    Format format = Format::Unknown;
    QVariantList entries;   // program entries ("name", "image", "url", "group")
    int withoutUrl = 0;     // entries left out for want of an http(s) address
    bool truncated = false; // more entries than the limits allow
};

enum class ReadError { None, Unreadable, TooLarge, NotAPlaylist };

struct FileResult {
    ReadError error = ReadError::None;
    QString reason; // for Unreadable: the system's words
    Parsed parsed;
};

Format detect(const QByteArray &bytes);
Parsed parse(const QByteArray &bytes);
FileResult readFile(const QString &path);

// The name as it is stored: control and direction-override characters
// removed, white space collapsed, at most kMaxNameLength characters. Markup
// stays text.
QString cleanName(const QString &name);
// `url` trimmed when it is an http(s) address of sensible length, else empty.
QString usableUrl(const QString &url);
// The form two addresses are compared in: scheme and host in lower case,
// default port and fragment dropped, an empty path as "/".
QString normalizedUrl(const QString &url);

struct Merge {
    QVariantList added;
    int duplicates = 0; // already in the list, or twice in the file
};
// The entries of `incoming` whose stream address is not in `existing` yet.
// A listed program keeps its group.
Merge newEntries(const QVariantList &existing, const QVariantList &incoming);

// Appends what is new in one write of the store. A program in a group the
// list has (its name in any case) joins that group.
struct Outcome {
    int added = 0;
    int duplicates = 0;
    bool saved = true;
};
Outcome importInto(const Parsed &parsed);

// What the listener is told after an import of `file` that led to `outcome`.
QString summary(const FileResult &file, const Outcome &outcome);
// The same when the file was not imported at all.
QString failure(const FileResult &file);

// Other players' station lists found at their usual places.
struct Source {
    QString player; // "Goodvibes", "Radiotray-NG"
    QString path;
};
QList<Source> knownSources();

} // namespace programimport
