#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

// The two kinds of HLS playlist a station hands out, read into what the HLS
// client needs of them: the master playlist's variant to play, and a media
// playlist's segments in order with their sequence numbers and durations.
// Lines the reader does not know are skipped; addresses that are not network
// URLs are dropped, as in the other playlists.
namespace hls {

// Beyond these a playlist is refused: no station needs more. Durations
// (the target and each segment's) are at most kMaxDurationMs, sequence
// numbers at most kMaxSequence, so no sum of them overflows; a target under
// kMinTargetMs is read as that, so the playlist is reloaded no faster.
constexpr qint64 kMaxPlaylistBytes = 1024 * 1024;
constexpr int kMaxSegments = 4096;
constexpr qint64 kMinTargetMs = 1000;
constexpr qint64 kMaxDurationMs = 60 * 1000;
constexpr qint64 kMaxSequence = qint64(1) << 48;

struct Segment {
    qint64 sequence = 0;
    qint64 durationMs = 0;
    QUrl url;
    QUrl initUrl;               // EXT-X-MAP (fMP4's init segment); empty for TS
    bool discontinuity = false; // EXT-X-DISCONTINUITY before it
    bool encrypted = false;     // under an EXT-X-KEY other than NONE
    bool byteRange = false;     // a part of the file at url (or of its init segment)
};

struct MediaPlaylist {
    qint64 targetDurationMs = 0; // at least kMinTargetMs
    QList<Segment> segments;
    bool ended = false; // EXT-X-ENDLIST: nothing is added any more
};

// The variant played from a master playlist: the first one listed (the one
// its author put first, which players start with), or, when that one takes
// its audio from a rendition of its own (EXT-X-MEDIA TYPE=AUDIO with a URI),
// that group's default rendition. Empty when `body` is no master playlist.
QUrl variantOf(const QByteArray &body, const QUrl &base);

// False when `body` is no media playlist or is beyond the limits above.
bool parseMedia(const QByteArray &body, const QUrl &base, MediaPlaylist *out);

// Where reading `list` goes on after segment `last` (-1: none read yet):
// the next one in order, or, when that is gone from the list or the
// sequence started over, the first still listed or `liveEdge` segments
// before the end; `gap` says that segments were missed. A list whose newest
// is at most `liveEdge` older than `last` (a CDN edge lagging behind the one
// read before) has nothing new: it goes on after `last`.
struct Resume {
    qint64 next = 0;
    bool gap = false;
};
Resume resumeAt(const MediaPlaylist &list, qint64 last, int liveEdge);

} // namespace hls
