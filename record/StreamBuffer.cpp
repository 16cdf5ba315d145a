#include "record/StreamBuffer.h"

#include "platform/base/Clock.h"
#include "record/OggPages.h"

#include <QMutexLocker>

namespace {
qint64 nowMs()
{
    return Clock::shared()->currentDateTimeUtc().toMSecsSinceEpoch();
}
// Bytes of an Ogg stream that hold no page are dropped past this.
constexpr qsizetype kMaxOggPage = 65307 * 2;
} // namespace

StreamBuffer::StreamBuffer(qint64 capacityBytes) : m_capacity(qMax<qint64>(capacityBytes, 65536)) {}

void StreamBuffer::streamStarted(Format format)
{
    const QMutexLocker lock(&m_mutex);
    m_format = format;
    m_lastTitle.clear();
    m_oggPending.clear();
    m_oggGathering = false;
    markLocked(StreamMark::Kind::Start, m_end, nowMs(), QString());
}

void StreamBuffer::streamData(const char *data, qsizetype size)
{
    if (size <= 0)
        return;
    const QMutexLocker lock(&m_mutex);
    if (m_format != Format::Ogg) {
        appendLocked(QByteArray(data, size), nowMs());
        return;
    }
    m_oggPending.append(data, size);
    takeOggPages(nowMs());
}

void StreamBuffer::streamTitle(const QString &title)
{
    const QMutexLocker lock(&m_mutex);
    markLocked(StreamMark::Kind::Title, m_end, nowMs(), title);
}

void StreamBuffer::markLocked(StreamMark::Kind kind, qint64 offset, qint64 wallMs,
                              const QString &title)
{
    bool begins = true;
    if (kind == StreamMark::Kind::Title) {
        if (title.isEmpty() || title == m_lastTitle)
            return;
        m_lastTitle = title;
        begins = std::exchange(m_titledSinceStart, true);
    } else {
        m_titledSinceStart = false;
    }
    m_marks.append(StreamMark{kind, offset, wallMs, title, m_format, begins});
}

void StreamBuffer::takeOggPages(qint64 wallMs)
{
    while (!m_oggPending.isEmpty()) {
        qsizetype length = oggpages::pageLength(m_oggPending.constData(), m_oggPending.size());
        if (length < 0) {
            // Not at a page: skip to the next capture pattern.
            const qsizetype next = m_oggPending.indexOf("OggS", 1);
            m_oggPending.remove(0, next < 0 ? qMax<qsizetype>(0, m_oggPending.size() - 3) : next);
            continue;
        }
        if (length == 0) {
            if (m_oggPending.size() > kMaxOggPage)
                m_oggPending.clear();
            return;
        }
        const QByteArray page = m_oggPending.left(length);
        m_oggPending.remove(0, length);
        if (oggpages::beginsStream(page) && !m_oggGathering) {
            m_oggGathering = true;
            m_oggStreamOffset = m_end;
            m_oggHeaders[m_end] = OggHeaders{m_end, {}, {}};
            m_oggPackets.clear();
            m_oggPartialPacket.clear();
            m_oggHeadersWanted = 0;
        }
        if (m_oggGathering) {
            m_oggHeaders[m_oggStreamOffset].pages += page;
            oggpages::collectPackets(page, &m_oggPartialPacket, &m_oggPackets);
            if (m_oggHeadersWanted == 0 && !m_oggPackets.isEmpty())
                m_oggHeadersWanted = oggpages::headerPacketCount(m_oggPackets.first());
            if (m_oggHeadersWanted > 0 && m_oggPackets.size() >= m_oggHeadersWanted) {
                m_oggGathering = false;
                m_oggHeaders[m_oggStreamOffset].packets = m_oggPackets.mid(0, m_oggHeadersWanted);
                const QString title = m_oggPackets.size() > 1
                                          ? oggpages::titleFromComments(m_oggPackets.at(1))
                                          : QString();
                markLocked(StreamMark::Kind::Title, m_oggStreamOffset, wallMs, title);
            }
        }
        appendLocked(page, wallMs);
    }
}

void StreamBuffer::appendLocked(const QByteArray &bytes, qint64 wallMs)
{
    m_chunks.push_back(Chunk{m_end, wallMs, bytes});
    m_end += bytes.size();
    m_held += bytes.size();
    trimLocked();
}

void StreamBuffer::trimLocked()
{
    while (m_held > m_capacity && m_chunks.size() > 1) {
        m_held -= m_chunks.front().bytes.size();
        m_chunks.pop_front();
    }
    const qint64 start = m_chunks.empty() ? m_end : m_chunks.front().offset;
    // The marks before the one the held part's song began at go; that one
    // stays (with the title that named it), so the song keeps where it began.
    qsizetype first = 0;
    for (qsizetype i = 1; i < m_marks.size() && m_marks.at(i).offset <= start; ++i) {
        if (m_marks.at(i).beginsSong)
            first = i;
    }
    m_marks.remove(0, first);
    while (m_oggHeaders.size() > 1 && std::next(m_oggHeaders.begin())->first <= start)
        m_oggHeaders.erase(m_oggHeaders.begin());
}

void StreamBuffer::clear()
{
    const QMutexLocker lock(&m_mutex);
    m_chunks.clear();
    m_held = 0;
    m_marks.clear();
    m_oggHeaders.clear();
    m_oggPending.clear();
    m_oggGathering = false;
    m_lastTitle.clear();
    m_titledSinceStart = false;
}

void StreamBuffer::setCapacity(qint64 bytes)
{
    const QMutexLocker lock(&m_mutex);
    m_capacity = qMax<qint64>(bytes, 65536);
    trimLocked();
}

qint64 StreamBuffer::capacity() const
{
    const QMutexLocker lock(&m_mutex);
    return m_capacity;
}

qint64 StreamBuffer::heldBytes() const
{
    const QMutexLocker lock(&m_mutex);
    return m_held;
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

QByteArray StreamBuffer::read(qint64 from, qint64 to) const
{
    const QMutexLocker lock(&m_mutex);
    QByteArray out;
    if (m_chunks.empty() || to <= from)
        return out;
    // The first chunk that ends after `from`.
    auto it = std::partition_point(m_chunks.begin(), m_chunks.end(), [from](const Chunk &c) {
        return c.offset + c.bytes.size() <= from;
    });
    for (; it != m_chunks.end() && it->offset < to; ++it) {
        const qint64 begin = qMax(from, it->offset) - it->offset;
        const qint64 end = qMin(to, it->offset + it->bytes.size()) - it->offset;
        if (begin == 0 && end == it->bytes.size())
            out += it->bytes;
        else
            out += it->bytes.mid(begin, end - begin);
    }
    return out;
}

qint64 StreamBuffer::wallMsAt(qint64 offset) const
{
    const QMutexLocker lock(&m_mutex);
    auto it = std::partition_point(m_chunks.begin(), m_chunks.end(), [offset](const Chunk &c) {
        return c.offset + c.bytes.size() <= offset;
    });
    return it == m_chunks.end() || it->offset > offset ? 0 : it->wallMs;
}

QList<StreamMark> StreamBuffer::marks() const
{
    const QMutexLocker lock(&m_mutex);
    return m_marks;
}

StreamBuffer::OggHeaders StreamBuffer::oggHeadersAt(qint64 offset) const
{
    const QMutexLocker lock(&m_mutex);
    auto it = m_oggHeaders.upper_bound(offset);
    if (it == m_oggHeaders.begin())
        return {};
    return std::prev(it)->second;
}
