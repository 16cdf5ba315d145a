#pragma once

#include <QByteArray>
#include <QString>

// What a stream announces as playing now, from ICY metadata or tags.
namespace streamtitle {

// Text from bytes of unknown encoding: UTF-8 when the bytes are valid UTF-8,
// otherwise the charset detected from the bytes (Windows-1251, KOI8-R,
// Shift-JIS, ...), and Latin-1 when none is recognised.
QString decode(const QByteArray &bytes);

// A title that was read as Latin-1 because it was not UTF-8 (GStreamer does
// this with tags): when its bytes read as text of another charset, that
// text; otherwise the title as it is. Titles mostly of plain letters with an
// accent here and there are left alone.
QString repairLatin1(const QString &title);

// Numeric character references (`&#1050;`, `&#x41A;`), which Icecast's
// admin page passes on for characters a browser could not send otherwise,
// as the characters they name. Only well-formed references to characters
// text can hold are replaced; anything else stays as it was typed.
QString decodeCharacterReferences(const QString &title);

// The title a stream's tags announce, from their title and artist as
// GStreamer gives them: composed, repaired when it was read as Latin-1, and
// with its character references decoded.
QString fromTags(const QByteArray &title, const QByteArray &artist);

// The StreamTitle value of an ICY metadata block
// ("StreamTitle='Artist - Song';StreamUrl='';"), decoded, its character
// references too; empty if absent.
QString fromIcyMetadata(const QByteArray &block);

// "Artist - Title", or whichever of the two is present, trimmed.
QString compose(const QString &title, const QString &artist);

// The other way: a title of the shape "Artist - Title" split at its first
// " - ", both halves trimmed. When either half would be empty the whole
// title is the title and the artist is empty.
struct Parts {
    QString artist;
    QString title;
};
Parts split(const QString &streamTitle);

} // namespace streamtitle
