// Fuzz target for HLS playlists: a master playlist's variant and a media
// playlist's segments, as the live HLS client reads them, and where reading
// goes on after each of the segments listed. What holds for any body: the
// addresses are network addresses, no more segments than the limit, their
// sequence numbers rise, durations are neither negative nor add up past
// what a time can hold, and a reload waits at least the second the
// shortest target duration HLS can say is (a station cannot make the client
// ask for its playlist every millisecond).

#include "FuzzSupport.h"
#include "platform/stream/HlsPlaylist.h"
#include "platform/stream/PlaylistParser.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QUrl base(QStringLiteral("https://radio.example/hls/master.m3u8"));

    const QUrl variant = hls::variantOf(body, base);
    fuzz::check(variant.isEmpty() || playlist::isNetworkUrl(variant),
                "the variant is no network address");

    hls::MediaPlaylist list;
    if (!hls::parseMedia(body, base, &list))
        return 0;
    fuzz::check(list.targetDurationMs >= 1000, "a target duration under a second");
    fuzz::check(list.segments.size() <= hls::kMaxSegments, "more segments than the limit");
    qint64 total = 0;
    for (qsizetype i = 0; i < list.segments.size(); ++i) {
        const hls::Segment &s = list.segments.at(i);
        fuzz::check(playlist::isNetworkUrl(s.url), "a segment is no network address");
        fuzz::check(s.initUrl.isEmpty() || playlist::isNetworkUrl(s.initUrl),
                    "an init segment is no network address");
        fuzz::check(s.durationMs >= 0, "a negative segment duration");
        fuzz::check(!__builtin_add_overflow(total, s.durationMs, &total),
                    "segment durations overflow when added");
        fuzz::check(i == 0 || s.sequence > list.segments.at(i - 1).sequence,
                    "sequence numbers do not rise");
    }
    const qint64 lasts[] = {-1, 0, list.segments.isEmpty() ? 5 : list.segments.first().sequence,
                            list.segments.isEmpty() ? 7 : list.segments.last().sequence};
    for (const qint64 last : lasts) {
        for (const int edge : {0, 3}) {
            const hls::Resume r = hls::resumeAt(list, last, edge);
            fuzz::check(list.segments.isEmpty() || r.next >= list.segments.first().sequence,
                        "resuming before the first segment listed");
        }
    }
    return 0;
}
