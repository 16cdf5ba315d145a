#include "platform/stream/StreamTimeline.h"

#include "platform/base/Log.h"
#include "platform/stream/TimelineRing.h"

#include <cmath>

namespace {
constexpr double kAssumedByteRate = 16000; // 128 kbit/s
}

StreamTimeline::StreamTimeline(qint64 capacityBytes, qint64 memoryLimit)
    : m_capacity(qMax<qint64>(1, capacityBytes)), m_memoryLimit(memoryLimit),
      m_ring(TimelineRing::make(m_capacity, m_capacity > m_memoryLimit))
{
}

StreamTimeline::~StreamTimeline() = default;

bool StreamTimeline::keptInFile() const
{
    return m_ring->isFile();
}

namespace {

// The bytes from `begin` to `end` of one ring into another; false when they
// could not all be written.
bool copyInto(const TimelineRing &from, TimelineRing &to, qint64 begin, qint64 end)
{
    constexpr qint64 kStep = 1024 * 1024;
    QByteArray piece;
    for (qint64 at = begin; at < end; at += kStep) {
        piece.resize(qsizetype(qMin(kStep, end - at)));
        from.read(at, piece.data(), piece.size());
        if (!to.write(at, piece.constData(), piece.size()))
            return false;
    }
    return true;
}

} // namespace

// What is still held moves to a ring of the new size, in a file or not.
void StreamTimeline::setCapacity(qint64 bytes)
{
    m_capacity = qMax<qint64>(1, bytes);
    trim();
    std::unique_ptr<TimelineRing> ring = TimelineRing::make(m_capacity, m_capacity > m_memoryLimit);
    if (!copyInto(*m_ring, *ring, startOffset(), m_end)) {
        keepInMemory({});
        return;
    }
    m_ring = std::move(ring);
}

// The file cannot be written (the disk is full): rather than play back
// what it never got as silence, keep no more than memory is for, from
// what the file did get and the bytes it did not (the last appended).
void StreamTimeline::keepInMemory(const QByteArray &unwritten)
{
    m_capacity = qMin(m_capacity, qMax<qint64>(1, m_memoryLimit));
    trim();
    NSLog(lcMedia(), QtWarningMsg,
          "time-shift: its file cannot be written; keeping %@ kB in memory",
          QString::number(m_capacity / 1000));
    std::unique_ptr<TimelineRing> ring = TimelineRing::inMemory(m_capacity);
    const qint64 written = m_end - unwritten.size();
    copyInto(*m_ring, *ring, startOffset(), written);
    const qint64 from = qMax(startOffset(), written);
    ring->write(from, unwritten.constData() + (from - written), m_end - from);
    m_ring = std::move(ring);
}

void StreamTimeline::beginConnection()
{
    if (m_end == 0 || (!m_marks.isEmpty() && m_marks.last().kind == Mark::Kind::Gap &&
                       m_marks.last().offset == m_end))
        return;
    m_marks.append({Mark::Kind::Gap, m_end, {}});
}

void StreamTimeline::append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const bool written = m_ring->write(m_end, bytes.constData(), bytes.size());
    m_chunks.push_back({m_end, bytes.size()});
    m_end += bytes.size();
    m_held += bytes.size();
    trim();
    if (!written)
        keepInMemory(bytes);
}

void StreamTimeline::append(const QByteArray &bytes, qint64 durationMs)
{
    if (bytes.isEmpty())
        return;
    const qint64 startMs = timeAt(m_end);
    if (m_times.empty() || m_times.back().offset != m_end)
        m_times.push_back({m_end, startMs});
    append(bytes);
    m_times.push_back({m_end, startMs + qMax<qint64>(0, durationMs)});
}

void StreamTimeline::markTitle(const QString &title)
{
    if (!m_marks.isEmpty() && m_marks.last().offset == m_end &&
        m_marks.last().kind == Mark::Kind::Title)
        m_marks.removeLast(); // announced twice at once: the latter counts
    // A station repeats its title in every metadata block: only a change
    // is a mark.
    if (!m_marks.isEmpty() && titleAt(m_end) == title)
        return;
    m_marks.append({Mark::Kind::Title, m_end, title});
    // However often it changes, the oldest go first.
    while (m_marks.size() > kMaxMarks)
        m_marks.removeFirst();
}

void StreamTimeline::trim()
{
    while (m_held > m_capacity && !m_chunks.empty()) {
        m_held -= m_chunks.front().size;
        m_chunks.pop_front();
    }
    // Marks before the start go, but for the title heard at the start.
    const qint64 start = startOffset();
    while (m_times.size() > 1 && m_times[1].offset <= start)
        m_times.pop_front();
    qsizetype lastTitleBefore = -1;
    qsizetype firstKept = 0;
    for (; firstKept < m_marks.size() && m_marks.at(firstKept).offset < start; ++firstKept) {
        if (m_marks.at(firstKept).kind == Mark::Kind::Title)
            lastTitleBefore = firstKept;
    }
    if (firstKept == 0)
        return;
    QList<Mark> kept;
    if (lastTitleBefore >= 0)
        kept.append(m_marks.at(lastTitleBefore));
    kept.append(m_marks.mid(firstKept));
    m_marks = kept;
}

QByteArray StreamTimeline::read(qint64 from, qint64 maxBytes) const
{
    if (from < startOffset() || from >= m_end || maxBytes <= 0)
        return {};
    QByteArray out(qsizetype(qMin(maxBytes, m_end - from)), Qt::Uninitialized);
    m_ring->read(from, out.data(), out.size());
    return out;
}

qint64 StreamTimeline::bytesForMs(qint64 ms) const
{
    return qint64(double(ms) * (m_byteRate > 0 ? m_byteRate : kAssumedByteRate) / 1000.0);
}

qint64 StreamTimeline::msForBytes(qint64 bytes) const
{
    return qint64(double(bytes) * 1000.0 / (m_byteRate > 0 ? m_byteRate : kAssumedByteRate));
}

QString StreamTimeline::titleAt(qint64 offset) const
{
    qsizetype i = m_marks.size() - 1;
    for (; i >= 0 && m_marks.at(i).offset > offset; --i) {
    }
    for (qsizetype j = i; j >= 0; --j) {
        if (m_marks.at(j).kind == Mark::Kind::Title)
            return m_marks.at(j).title;
    }
    // Before the first title: a station names the song already on in its
    // first announcement, unless a new connection came between.
    const qsizetype next = i + 1;
    if (next < m_marks.size() && m_marks.at(next).kind == Mark::Kind::Title)
        return m_marks.at(next).title;
    return {};
}

void StreamTimeline::setByteRate(double bytesPerSecond)
{
    if (!(bytesPerSecond > 0) || std::abs(bytesPerSecond - m_byteRate) < m_byteRate / 100)
        return;
    if (m_end > startOffset()) {
        if (m_times.empty())
            m_times.push_back({startOffset(), timeAt(startOffset())});
        if (m_times.back().offset != m_end)
            m_times.push_back({m_end, timeAt(m_end)});
    }
    m_byteRate = bytesPerSecond;
}

qint64 StreamTimeline::timeAt(qint64 offset) const
{
    if (m_times.empty())
        return msForBytes(offset);
    auto after = std::lower_bound(m_times.begin(), m_times.end(), offset,
                                  [](const TimePoint &p, qint64 o) { return p.offset < o; });
    if (after == m_times.begin())
        return after->ms - msForBytes(after->offset - offset);
    if (after == m_times.end())
        return m_times.back().ms + msForBytes(offset - m_times.back().offset);
    const TimePoint &before = *(after - 1);
    return before.ms + qint64(double(offset - before.offset) * double(after->ms - before.ms) /
                              double(after->offset - before.offset));
}

qint64 StreamTimeline::offsetAt(qint64 ms) const
{
    if (m_times.empty())
        return bytesForMs(ms);
    auto after = std::lower_bound(m_times.begin(), m_times.end(), ms,
                                  [](const TimePoint &p, qint64 t) { return p.ms < t; });
    if (after == m_times.begin())
        return after->offset - bytesForMs(after->ms - ms);
    if (after == m_times.end())
        return m_times.back().offset + bytesForMs(ms - m_times.back().ms);
    const TimePoint &before = *(after - 1);
    return before.offset + qint64(double(ms - before.ms) * double(after->offset - before.offset) /
                                  double(after->ms - before.ms));
}
