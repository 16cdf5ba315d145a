#include "record/StreamBuffer.h"

#include "platform/base/Clock.h"
#include "platform/stream/TimelineRing.h"
#include "record/OggReader.h"

#include <QMutexLocker>

#include <algorithm>

namespace {
qint64 nowMs()
{
    return Clock::shared()->currentDateTimeUtc().toMSecsSinceEpoch();
}
// What keeping a piece costs beyond its bytes: its record and allocations.
constexpr qint64 kPieceCost = 96;
qint64 sizeOf(const QList<QByteArray> &packets)
{
    qint64 size = 0;
    for (const QByteArray &packet : packets)
        size += packet.size() + kPieceCost;
    return size;
}
} // namespace

StreamBuffer::StreamBuffer(qint64 capacityBytes, qint64 memoryLimit)
    : m_capacity(qMax<qint64>(capacityBytes, 65536)),
      m_ring(TimelineRing::make(m_capacity, m_capacity > memoryLimit)),
      m_ogg(std::make_unique<OggReader>())
{
}

StreamBuffer::~StreamBuffer() = default;

void StreamBuffer::streamStarted(Format format)
{
    const QMutexLocker lock(&m_mutex);
    m_format = format;
    m_ogg->reset();
    m_pendingSize = 0;
    m_marks.started(m_end, nowMs(), format);
}

void StreamBuffer::streamData(const char *data, qsizetype size)
{
    if (size <= 0)
        return;
    const QMutexLocker lock(&m_mutex);
    const qint64 wallMs = nowMs();
    if (m_format != Format::Ogg) {
        if (m_format != Format::Unknown)
            appendLocked(data, size, wallMs);
        return;
    }
    const OggReader::Sink sink{
        [this, wallMs](const OggReader::Chain &chain) {
            beginChainLocked(OggHeaders{m_end, chain.pages.size(), chain.packets, chain.serial},
                             chain.pages, chain.title, wallMs);
        },
        [this, wallMs](const QByteArray &page) {
            appendLocked(page.constData(), page.size(), wallMs);
        }};
    m_ogg->feed(data, size, sink);
    m_pendingSize = m_ogg->pendingBytes();
    trimLocked();
}

void StreamBuffer::streamTitle(const QString &title)
{
    const QMutexLocker lock(&m_mutex);
    m_marks.titled(m_end, nowMs(), title);
}

void StreamBuffer::beginChainLocked(const OggHeaders &headers, const QByteArray &pages,
                                    const QString &title, qint64 wallMs)
{
    OggHeaders &kept = m_oggHeaders[headers.offset];
    m_headersSize += sizeOf(headers.packets) - sizeOf(kept.packets);
    kept = headers;
    m_marks.chainBegan(headers.offset, wallMs, title,
                       headers.packets.isEmpty() ? Format::Unknown : Format::Ogg);
    if (!pages.isEmpty())
        appendLocked(pages.constData(), pages.size(), wallMs);
}

void StreamBuffer::appendLocked(const char *bytes, qint64 size, qint64 wallMs)
{
    // A piece larger than the whole buffer keeps only its end.
    const qint64 skip = qMax<qint64>(0, size - m_capacity + kPieceCost);
    m_end += skip;
    size -= skip;
    m_ring->write(m_end, bytes + skip, size);
    m_chunks.push_back(Chunk{m_end, wallMs, size});
    m_end += size;
    m_piecesSize += size + kPieceCost;
    trimLocked();
}

void StreamBuffer::trimLocked()
{
    while (heldLocked() > m_capacity && m_chunks.size() > 1) {
        m_piecesSize -= m_chunks.front().size + kPieceCost;
        m_chunks.pop_front();
    }
    const qint64 start = m_chunks.empty() ? m_end : m_chunks.front().offset;
    m_marks.forgetBefore(start);
    // A chain's headers stay while any of its pages is held.
    while (m_oggHeaders.size() > 1 && std::next(m_oggHeaders.begin())->first <= start) {
        m_headersSize -= sizeOf(m_oggHeaders.begin()->second.packets);
        m_oggHeaders.erase(m_oggHeaders.begin());
    }
}

void StreamBuffer::clear()
{
    const QMutexLocker lock(&m_mutex);
    m_chunks.clear();
    m_piecesSize = 0;
    m_headersSize = 0;
    m_pendingSize = 0;
    m_marks.clear();
    m_oggHeaders.clear();
    m_ogg->reset();
    // Its memory goes too.
    m_ring = TimelineRing::make(m_capacity, m_ring->isFile());
}

qint64 StreamBuffer::capacity() const
{
    const QMutexLocker lock(&m_mutex);
    return m_capacity;
}

bool StreamBuffer::keptInFile() const
{
    const QMutexLocker lock(&m_mutex);
    return m_ring->isFile();
}

qint64 StreamBuffer::heldBytes() const
{
    const QMutexLocker lock(&m_mutex);
    return heldLocked();
}

qint64 StreamBuffer::startOffset() const
{
    const QMutexLocker lock(&m_mutex);
    return m_chunks.empty() ? m_end : m_chunks.front().offset;
}

qint64 StreamBuffer::endOffset() const
{
    const QMutexLocker lock(&m_mutex);
    return m_end;
}

qint64 StreamBuffer::newestPieceStart() const
{
    const QMutexLocker lock(&m_mutex);
    return m_chunks.empty() ? m_end : m_chunks.back().offset;
}

qint64 StreamBuffer::pieceStartFrom(qint64 offset) const
{
    const QMutexLocker lock(&m_mutex);
    auto it = std::partition_point(m_chunks.begin(), m_chunks.end(),
                                   [offset](const Chunk &c) { return c.offset < offset; });
    return it == m_chunks.end() ? m_end : it->offset;
}

QByteArray StreamBuffer::read(qint64 from, qint64 to) const
{
    const QMutexLocker lock(&m_mutex);
    QByteArray out;
    if (m_chunks.empty() || to <= from)
        return out;
    // Held pieces follow each other but for what a large piece skipped.
    auto it = std::partition_point(m_chunks.begin(), m_chunks.end(),
                                   [from](const Chunk &c) { return c.offset + c.size <= from; });
    for (; it != m_chunks.end() && it->offset < to; ++it) {
        const qint64 begin = qMax(from, it->offset);
        const qint64 end = qMin(to, it->offset + it->size);
        const qsizetype at = out.size();
        out.resize(at + qsizetype(end - begin));
        m_ring->read(begin, out.data() + at, end - begin);
    }
    return out;
}

qint64 StreamBuffer::wallMsAt(qint64 offset) const
{
    const QMutexLocker lock(&m_mutex);
    auto it = std::partition_point(m_chunks.begin(), m_chunks.end(), [offset](const Chunk &c) {
        return c.offset + c.size <= offset;
    });
    return it == m_chunks.end() || it->offset > offset ? 0 : it->wallMs;
}

QList<StreamMark> StreamBuffer::marks() const
{
    const QMutexLocker lock(&m_mutex);
    return m_marks.list();
}

StreamBuffer::OggHeaders StreamBuffer::oggHeadersAt(qint64 offset) const
{
    const QMutexLocker lock(&m_mutex);
    auto it = m_oggHeaders.upper_bound(offset);
    if (it == m_oggHeaders.begin())
        return {};
    return std::prev(it)->second;
}
