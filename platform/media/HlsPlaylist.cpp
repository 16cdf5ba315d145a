#include "platform/media/HlsPlaylist.h"

#include "platform/media/PlaylistParser.h"

#include <QMap>

namespace {

QList<QByteArray> linesOf(const QByteArray &body)
{
    QList<QByteArray> lines;
    for (const QByteArray &line : body.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            lines.append(trimmed);
    }
    return lines;
}

// The attributes of a tag's list (NAME=value,NAME="quoted, value").
QMap<QByteArray, QByteArray> attributesOf(const QByteArray &list)
{
    QMap<QByteArray, QByteArray> out;
    qsizetype i = 0;
    while (i < list.size()) {
        const qsizetype eq = list.indexOf('=', i);
        if (eq < 0)
            break;
        const QByteArray name = list.mid(i, eq - i).trimmed().toUpper();
        qsizetype end = eq + 1;
        QByteArray value;
        if (end < list.size() && list.at(end) == '"') {
            const qsizetype close = list.indexOf('"', end + 1);
            value = list.mid(end + 1, (close < 0 ? list.size() : close) - end - 1);
            end = close < 0 ? list.size() : close + 1;
        } else {
            const qsizetype comma = list.indexOf(',', end);
            value = list.mid(end, (comma < 0 ? list.size() : comma) - end).trimmed();
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

QUrl resolved(const QUrl &base, const QByteArray &ref)
{
    const QUrl url = base.resolved(QUrl::fromEncoded(ref));
    return playlist::isNetworkUrl(url) ? url : QUrl();
}

bool isHlsBody(const QByteArray &body)
{
    return body.trimmed().startsWith("#EXTM3U") && body.size() <= hls::kMaxPlaylistBytes;
}

} // namespace

namespace hls {

QUrl variantOf(const QByteArray &body, const QUrl &base)
{
    if (!isHlsBody(body))
        return {};
    const QList<QByteArray> lines = linesOf(body);
    QMap<QByteArray, QUrl> audioRendition; // group: its default, else its first
    QByteArray audioGroup;
    QUrl variant;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.startsWith("#EXT-X-MEDIA:")) {
            const auto a = attributesOf(line.mid(13));
            const QUrl url = resolved(base, a.value("URI"));
            if (a.value("TYPE") == "AUDIO" && url.isValid() &&
                (!audioRendition.contains(a.value("GROUP-ID")) || a.value("DEFAULT") == "YES"))
                audioRendition.insert(a.value("GROUP-ID"), url);
        } else if (line.startsWith("#EXT-X-STREAM-INF:") && variant.isEmpty()) {
            for (qsizetype j = i + 1; j < lines.size(); ++j) {
                if (lines.at(j).startsWith('#'))
                    continue;
                variant = resolved(base, lines.at(j));
                audioGroup = attributesOf(line.mid(18)).value("AUDIO");
                break;
            }
        }
    }
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
    bool listed = false; // a segment's line was read
    QUrl initUrl;
    for (const QByteArray &line : linesOf(body)) {
        if (line.startsWith("#EXT-X-TARGETDURATION:")) {
            list.targetDurationMs = qint64(line.mid(22).toDouble() * 1000);
        } else if (line.startsWith("#EXT-X-MEDIA-SEQUENCE:")) {
            // The number of the first segment: once one is listed, another
            // would number later segments below earlier ones.
            if (!listed)
                sequence = line.mid(22).toLongLong();
        } else if (line.startsWith("#EXTINF:")) {
            duration = qint64(line.mid(8).split(',').first().toDouble() * 1000);
        } else if (line.startsWith("#EXT-X-DISCONTINUITY") &&
                   !line.startsWith("#EXT-X-DISCONTINUITY-")) {
            discontinuity = true;
        } else if (line.startsWith("#EXT-X-MAP:")) {
            initUrl = resolved(base, attributesOf(line.mid(11)).value("URI"));
        } else if (line.startsWith("#EXT-X-ENDLIST")) {
            list.ended = true;
        } else if (!line.startsWith('#')) {
            const QUrl url = resolved(base, line);
            if (url.isValid() && duration >= 0)
                list.segments.append({sequence, duration, url, initUrl, discontinuity});
            ++sequence;
            listed = true;
            duration = -1;
            discontinuity = false;
            if (list.segments.size() > kMaxSegments)
                return false;
        }
    }
    if (list.targetDurationMs <= 0)
        return false;
    *out = list;
    return true;
}

Resume resumeAt(const MediaPlaylist &list, qint64 last, int liveEdge)
{
    const qint64 first = list.segments.isEmpty() ? 0 : list.segments.first().sequence;
    const qint64 end = first + list.segments.size(); // after the newest
    if (last < 0 || last >= end)
        return {list.ended ? first : qMax(first, end - liveEdge), last >= 0};
    if (last + 1 < first)
        return {first, true};
    return {last + 1, false};
}

} // namespace hls
