#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

// Recognises the playlists that radio sites hand out instead of a stream
// (PLS, M3U lists of streams, XSPF, ASX) and lists their entries. HLS playlists
// are recognised too but are streams in their own right: the pipeline plays
// them directly.
namespace playlist {

enum class Kind { NotPlaylist, Pls, M3u, Xspf, Asx, Hls };

// Decides from the content first; the Content-Type only settles bare URL
// lists, which have no marker of their own.
Kind detect(const QByteArray &contentType, const QByteArray &body);

// True for a Content-Type that certainly carries media, so nothing needs to
// be read to decide.
bool isMediaContentType(const QByteArray &contentType);

// True when the body is an HTML page (an error or landing page, not audio).
bool looksLikeHtml(const QByteArray &body);

// The entries in order, resolved against base, at most maxEntries. Entries
// that are not network URLs are dropped: a playlist from the network must not
// point the player at local files. A truncated body yields the entries it
// holds completely.
QList<QUrl> entries(Kind kind, const QByteArray &body, const QUrl &base, int maxEntries);

bool isNetworkUrl(const QUrl &url);

// True when the first bytes are binary data rather than text.
bool isBinary(const QByteArray &head);

} // namespace playlist
