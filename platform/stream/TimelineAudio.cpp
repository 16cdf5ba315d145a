#include "platform/stream/TimelineAudio.h"

#include "platform/base/Clock.h"
#include "platform/stream/OggChains.h"
#include "platform/stream/OggPageReader.h"
#include "platform/stream/StreamTimeline.h"

#include <ogg/ogg.h>

#include <algorithm>

namespace {

// Reads go on the piece before until it has this many bytes: however small
// the reads, the pieces kept are bounded by the bytes held.
constexpr qint64 kMinPieceBytes = 1024;

qint64 nowMs()
{
    return Clock::shared()->currentDateTimeUtc().toMSecsSinceEpoch();
}

// The packets of a chain's header pages, of the logical stream that begins
// first; none when there are no pages.
KeptAudio::OggHeaders headersOf(const OggChains::Headers &chain)
{
    KeptAudio::OggHeaders out{chain.start, chain.end - chain.start, {}, 0};
    if (chain.pages.isEmpty())
        return out;
    ogg_stream_state stream{};
    bool begun = false;
    OggPageReader reader;
    reader.feed(
        0, chain.pages.constData(), chain.pages.size(), [&](qint64, const QByteArray &bytes) {
            ogg_page page;
            page.header = reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.constData()));
            page.header_len = long(OggPageReader::headerLength(bytes));
            page.body = page.header + page.header_len;
            page.body_len = long(bytes.size() - page.header_len);
            if (!begun) {
                out.serial = quint32(ogg_page_serialno(&page));
                ogg_stream_init(&stream, int(out.serial));
                begun = true;
            }
            if (ogg_page_serialno(&page) != int(out.serial) ||
                ogg_stream_pagein(&stream, &page) != 0)
                return;
            ogg_packet packet;
            while (ogg_stream_packetout(&stream, &packet) > 0)
                out.packets << QByteArray(reinterpret_cast<const char *>(packet.packet),
                                          qsizetype(packet.bytes));
        });
    if (begun)
        ogg_stream_clear(&stream);
    return out;
}

} // namespace

TimelineAudio::TimelineAudio(std::shared_ptr<const StreamTimeline> timeline)
    : m_timeline(std::move(timeline))
{
}

TimelineAudio::~TimelineAudio() = default;

void TimelineAudio::started(StreamTap::Format format)
{
    const qint64 end = m_timeline->endOffset();
    m_marks.started(end, nowMs(), format);
    if (format != StreamTap::Format::Ogg) {
        m_ogg.reset();
        return;
    }
    if (!m_ogg)
        m_ogg = std::make_unique<OggChains>();
    m_ogg->restart(end);
}

void TimelineAudio::appended(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 offset = m_timeline->endOffset() - bytes.size();
    if (m_pieces.empty() || offset - m_pieces.back().offset >= kMinPieceBytes)
        m_pieces.push_back({offset, nowMs()});
    if (m_ogg) {
        m_ogg->append(offset, bytes);
        markChain();
    }
    forgetGone();
}

void TimelineAudio::titled(const QString &title)
{
    m_marks.titled(m_timeline->endOffset(), nowMs(), title);
}

// The chain going on is marked once its header pages are all there; its
// title is in its comments.
void TimelineAudio::markChain()
{
    const OggChains::Headers chain = m_ogg->headersAt(m_timeline->endOffset() - 1);
    if (!chain.complete || m_oggHeaders.count(chain.start))
        return;
    OggHeaders headers = headersOf(chain);
    const StreamTap::Format format =
        headers.packets.isEmpty() ? StreamTap::Format::Unknown : StreamTap::Format::Ogg;
    m_oggHeaders[chain.start] = std::move(headers);
    m_marks.chainBegan(chain.start, wallMsAt(chain.start), QString(), format);
}

void TimelineAudio::forgetGone()
{
    const qint64 start = m_timeline->startOffset();
    while (m_pieces.size() > 1 && m_pieces[1].offset <= start)
        m_pieces.pop_front();
    m_marks.forgetBefore(start);
    if (m_ogg)
        m_ogg->forgetBefore(start);
    // A chain's headers stay while any of its pages is held.
    while (m_oggHeaders.size() > 1 && std::next(m_oggHeaders.begin())->first <= start)
        m_oggHeaders.erase(m_oggHeaders.begin());
}

qint64 TimelineAudio::startOffset() const
{
    return m_timeline->startOffset();
}

// Of Ogg, up to the last whole page of a chain whose headers are there.
qint64 TimelineAudio::endOffset() const
{
    const qint64 end = m_timeline->endOffset();
    return m_ogg ? qMax(startOffset(), m_ogg->wholeEnd(end)) : end;
}

qint64 TimelineAudio::newestPieceStart() const
{
    return m_pieces.empty() ? endOffset()
                            : qBound(startOffset(), m_pieces.back().offset, endOffset());
}

qint64 TimelineAudio::pieceStartFrom(qint64 offset) const
{
    offset = qMax(offset, startOffset());
    if (m_ogg) {
        const qint64 page = m_ogg->pageFrom(offset);
        return page < 0 ? endOffset() : qMin(page, endOffset());
    }
    const auto it = std::partition_point(m_pieces.begin(), m_pieces.end(),
                                         [offset](const Piece &p) { return p.offset < offset; });
    return it == m_pieces.end() ? endOffset() : it->offset;
}

QByteArray TimelineAudio::read(qint64 from, qint64 to) const
{
    from = qMax(from, startOffset());
    to = qMin(to, endOffset());
    if (to <= from)
        return {};
    if (!m_ogg)
        return m_timeline->read(from, to - from);
    // Of Ogg only whole pages are kept: a file holds no bytes between them,
    // nor a page a new connection cut short.
    QByteArray out;
    for (const auto &[begin, end] : m_ogg->pagesIn(from, to))
        out += m_timeline->read(qMax(from, begin), qMin(to, end) - qMax(from, begin));
    return out;
}

qint64 TimelineAudio::wallMsAt(qint64 offset) const
{
    if (offset < startOffset() || offset >= endOffset())
        return 0;
    const auto after = std::partition_point(
        m_pieces.begin(), m_pieces.end(), [offset](const Piece &p) { return p.offset <= offset; });
    return after == m_pieces.begin() ? 0 : std::prev(after)->wallMs;
}

QList<StreamMark> TimelineAudio::marks() const
{
    return m_marks.list();
}

KeptAudio::OggHeaders TimelineAudio::oggHeadersAt(qint64 offset) const
{
    auto it = m_oggHeaders.upper_bound(offset);
    if (it == m_oggHeaders.begin())
        return {};
    return std::prev(it)->second;
}
