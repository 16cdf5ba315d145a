// Fuzz target for the playlists radio sites hand out instead of a stream
// (PLS, M3U, XSPF, ASX): what the body is taken for, and its entries, which
// must be network addresses only and no more than asked for, whatever kind
// the body is read as.

#include "FuzzSupport.h"
#include "platform/stream/PlaylistParser.h"

#include <cstdint>

namespace {

constexpr playlist::Kind kKinds[] = {playlist::Kind::Pls, playlist::Kind::M3u, playlist::Kind::Xspf,
                                     playlist::Kind::Asx, playlist::Kind::Hls};

void checkEntries(const QList<QUrl> &entries, int max)
{
    fuzz::check(entries.size() <= max, "more entries than asked for");
    for (const QUrl &url : entries)
        fuzz::check(playlist::isNetworkUrl(url), "an entry is no network address");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the Content-Type the body came with.
    static const QByteArray types[] = {"",
                                       "audio/x-scpls",
                                       "audio/x-mpegurl",
                                       "application/vnd.apple.mpegurl",
                                       "application/xspf+xml",
                                       "video/x-ms-asf",
                                       "text/plain",
                                       "text/html; charset=utf-8",
                                       "audio/mpeg"};
    const QByteArray &type = types[data[0] % std::size(types)];
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QUrl base(QStringLiteral("http://radio.example/list/a.pls"));
    const int max = 1 + data[0] / std::size(types);

    const playlist::Kind kind = playlist::detect(type, body);
    playlist::isMediaContentType(type);
    playlist::looksLikeHtml(body);
    playlist::isBinary(body.left(512));
    if (kind != playlist::Kind::NotPlaylist)
        checkEntries(playlist::entries(kind, body, base, max), max);
    for (const playlist::Kind k : kKinds)
        checkEntries(playlist::entries(k, body, base, max), max);
    return 0;
}
