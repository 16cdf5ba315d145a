#include "platform/stream/HlsPlaylist.h"

#include "platform/stream/PlaylistParser.h"

#include <QMap>

#include <cmath>

namespace {

// Calls `each` with every line of `body` that is not blank, trimmed; one pass,
// nothing copied.
template <typename Each> void forEachLine(const QByteArray &body, Each each)
{
    const QByteArrayView all(body);
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = all.indexOf('\n', at);
        if (end < 0)
            end = all.size();
        const QByteArrayView line = all.sliced(at, end - at).trimmed();
        if (!line.isEmpty())
            each(line);
        at = end + 1;
    }
}

// The attributes of a tag's list (NAME=value,NAME="quoted, value").
QMap<QByteArray, QByteArray> attributesOf(QByteArrayView list)
{
    QMap<QByteArray, QByteArray> out;
    qsizetype i = 0;
    while (i < list.size()) {
        const qsizetype eq = list.indexOf('=', i);
        if (eq < 0)
            break;
        const QByteArray name = list.sliced(i, eq - i).trimmed().toByteArray().toUpper();
        qsizetype end = eq + 1;
        QByteArray value;
        if (end < list.size() && list.at(end) == '"') {
            const qsizetype close = list.indexOf('"', end + 1);
            value = list.sliced(end + 1, (close < 0 ? list.size() : close) - end - 1).toByteArray();
            end = close < 0 ? list.size() : close + 1;
        } else {
            const qsizetype comma = list.indexOf(',', end);
            value =
                list.sliced(end, (comma < 0 ? list.size() : comma) - end).trimmed().toByteArray();
            end = comma < 0 ? list.size() : comma;
        }
        out.insert(name, value);
        i = list.indexOf(',', end);
        if (i < 0)
            break;
        ++i;
    }
    return out;
}

QUrl resolved(const QUrl &base, QByteArrayView ref)
{
    const QUrl url = base.resolved(QUrl::fromEncoded(ref.toByteArray()));
    return playlist::isNetworkUrl(url) ? url : QUrl();
}

bool isHlsBody(const QByteArray &body)
{
    return body.trimmed().startsWith("#EXTM3U") && body.size() <= hls::kMaxPlaylistBytes;
}

// A duration in seconds as milliseconds, when it is a number from 0 to
// kMaxDurationMs.
bool durationOf(QByteArrayView text, qint64 *ms)
{
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 ||
        seconds * 1000 > double(hls::kMaxDurationMs))
        return false;
    *ms = qint64(seconds * 1000);
    return true;
}

} // namespace

namespace hls {

// One pass: an EXT-X-STREAM-INF waits for the first address after it.
QUrl variantOf(const QByteArray &body, const QUrl &base)
{
    if (!isHlsBody(body))
        return {};
    QMap<QByteArray, QUrl> audioRendition; // group: its default, else its first
    QByteArray audioGroup;
    QByteArray waitingGroup; // of the EXT-X-STREAM-INF waiting for its address
    bool waiting = false;
    QUrl variant;
    forEachLine(body, [&](QByteArrayView line) {
        if (line.startsWith("#EXT-X-MEDIA:")) {
            const auto a = attributesOf(line.sliced(13));
            const QUrl url = resolved(base, a.value("URI"));
            if (a.value("TYPE") == "AUDIO" && url.isValid() &&
                (!audioRendition.contains(a.value("GROUP-ID")) || a.value("DEFAULT") == "YES"))
                audioRendition.insert(a.value("GROUP-ID"), url);
        } else if (line.startsWith("#EXT-X-STREAM-INF:")) {
            if (variant.isEmpty() && !waiting) {
                waiting = true;
                waitingGroup = attributesOf(line.sliced(18)).value("AUDIO");
            }
        } else if (waiting && !line.startsWith('#')) {
            waiting = false;
            variant = resolved(base, line);
            audioGroup = waitingGroup;
        }
    });
    if (!audioGroup.isEmpty() && audioRendition.contains(audioGroup))
        return audioRendition.value(audioGroup);
    return variant;
}

bool parseMedia(const QByteArray &body, const QUrl &base, MediaPlaylist *out)
{
    if (!isHlsBody(body) || body.contains("#EXT-X-STREAM-INF"))
        return false;
    MediaPlaylist list;
    qint64 sequence = 0;
    qint64 duration = -1;
    bool discontinuity = false;
    bool encrypted = false;
    bool byteRange = false;
    bool listed = false; // a segment's line was read
    QUrl initUrl;
    bool initRange = false;
    bool valid = true;
    forEachLine(body, [&](QByteArrayView line) {
        if (!valid)
            return;
        if (line.startsWith("#EXT-X-TARGETDURATION:")) {
            valid =
                durationOf(line.sliced(22), &list.targetDurationMs) && list.targetDurationMs > 0;
            list.targetDurationMs = qMax(list.targetDurationMs, kMinTargetMs);
        } else if (line.startsWith("#EXT-X-MEDIA-SEQUENCE:")) {
            // The number of the first segment: once one is listed, another
            // would number later segments below earlier ones.
            if (!listed) {
                sequence = line.sliced(22).trimmed().toLongLong(&valid);
                valid = valid && sequence >= 0 && sequence <= kMaxSequence;
            }
        } else if (line.startsWith("#EXTINF:")) {
            const QByteArrayView value = line.sliced(8);
            const qsizetype comma = value.indexOf(',');
            valid = durationOf(comma < 0 ? value : value.first(comma), &duration);
        } else if (line.startsWith("#EXT-X-DISCONTINUITY") &&
                   !line.startsWith("#EXT-X-DISCONTINUITY-")) {
            discontinuity = true;
        } else if (line.startsWith("#EXT-X-KEY:")) {
            encrypted = attributesOf(line.sliced(11)).value("METHOD") != "NONE";
        } else if (line.startsWith("#EXT-X-BYTERANGE:")) {
            byteRange = true;
        } else if (line.startsWith("#EXT-X-MAP:")) {
            const auto a = attributesOf(line.sliced(11));
            initUrl = resolved(base, a.value("URI"));
            initRange = a.contains("BYTERANGE");
        } else if (line.startsWith("#EXT-X-ENDLIST")) {
            list.ended = true;
        } else if (!line.startsWith('#')) {
            // Only a segment's address is resolved: a line without a duration
            // costs no more than reading it.
            const QUrl url = duration >= 0 ? resolved(base, line) : QUrl();
            if (url.isValid())
                list.segments.append({sequence, duration, url, initUrl, discontinuity, encrypted,
                                      byteRange || (initUrl.isValid() && initRange)});
            ++sequence;
            listed = true;
            duration = -1;
            discontinuity = byteRange = false;
            valid = list.segments.size() <= kMaxSegments;
        }
    });
    if (!valid || list.targetDurationMs <= 0)
        return false;
    *out = list;
    return true;
}

Resume resumeAt(const MediaPlaylist &list, qint64 last, int liveEdge)
{
    const qint64 first = list.segments.isEmpty() ? 0 : list.segments.first().sequence;
    const qint64 end = first + list.segments.size(); // after the newest
    if (last >= 0 && (list.segments.isEmpty() || (last >= end && last - liveEdge < end)))
        return {last + 1, false}; // nothing listed, or an older copy of the list
    if (last < 0 || last >= end)
        return {list.ended ? first : qMax(first, end - liveEdge), last >= 0};
    if (last + 1 < first)
        return {first, true};
    return {last + 1, false};
}

} // namespace hls
