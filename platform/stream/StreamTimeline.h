#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <memory>

class TimelineRing;

// The station's compressed audio as it arrived, in order and bounded in
// bytes, which playback reads at a position of its own: the end is live.
// Offsets count every byte since the timeline began, across connections; a
// new connection (a gap in time: playing across it just goes on) and every
// title announced are marked where they came. Audio time is worked out from
// the stream's byte rate, so the time between two offsets is their distance
// at that rate, gaps taking none; bytes appended with their duration (HLS
// segments) take the time they were given instead. The bytes are kept in
// memory, or for long buffers in a file (see TimelineRing). Lives on one
// thread.
class StreamTimeline {
public:
    // Above this many bytes (bufferMB is counted in millions) the bytes are
    // kept in a file.
    static constexpr qint64 kMemoryLimitBytes = 64 * 1'000'000;
    // Titles and gaps held at most: a station that changes its title in
    // every tiny metadata block costs no more than this.
    static constexpr qsizetype kMaxMarks = 1024;

    struct Mark {
        enum class Kind { Gap, Title };
        Kind kind = Kind::Title;
        qint64 offset = 0;
        QString title;
    };

    // Kept in a file when the capacity is above `memoryLimit`; in memory,
    // no more than that, once the file cannot be written.
    explicit StreamTimeline(qint64 capacityBytes, qint64 memoryLimit = kMemoryLimitBytes);
    ~StreamTimeline();
    StreamTimeline(const StreamTimeline &) = delete;
    StreamTimeline &operator=(const StreamTimeline &) = delete;

    void setCapacity(qint64 bytes);
    qint64 capacity() const { return m_capacity; }
    // Whether the bytes are kept in a file rather than in memory.
    bool keptInFile() const;
    // A new connection begins here; marked only when something came before.
    void beginConnection();
    void append(const QByteArray &bytes);
    // Bytes that play for `durationMs`, spread evenly over them.
    void append(const QByteArray &bytes, qint64 durationMs);
    void markTitle(const QString &title);

    qint64 startOffset() const { return m_end - m_held; }
    qint64 endOffset() const { return m_end; }
    bool isEmpty() const { return m_held == 0; }
    // Up to `maxBytes` from `from` on (no further than the end); empty when
    // `from` is no longer held or not yet there.
    QByteArray read(qint64 from, qint64 maxBytes) const;

    // Bytes per second of audio; 0 while not known.
    // A rate within 1% of the one in use changes nothing; another one times
    // only what comes after: what is held keeps its times, so a position
    // does not move while nothing plays.
    void setByteRate(double bytesPerSecond);
    double byteRate() const { return m_byteRate; }
    // At the byte rate (16 kB/s, 128 kbit/s, while it is not known).
    qint64 bytesForMs(qint64 ms) const;
    qint64 msForBytes(qint64 bytes) const;
    // The audio time at `offset` since the timeline began, and the offset
    // at a time: from the durations given where there are some, else at
    // the byte rate.
    qint64 timeAt(qint64 offset) const;
    qint64 offsetAt(qint64 ms) const;

    // The title announced last at or before `offset`: what is heard there
    // (before the first, the first when no new connection came between).
    // Empty when none was announced.
    QString titleAt(qint64 offset) const;
    // The marks still held, the last title before the start included; a
    // title only where it changed, and at most kMaxMarks of them.
    const QList<Mark> &marks() const { return m_marks; }

private:
    struct TimePoint {
        qint64 offset;
        qint64 ms;
    };
    void trim();
    void keepInMemory(const QByteArray &unwritten);

    qint64 m_capacity;
    qint64 m_memoryLimit;
    qint64 m_end = 0;
    qint64 m_held = 0;
    double m_byteRate = 0;
    // Where each piece appended begins and how long it is: the oldest go
    // whole when the capacity is reached.
    struct Chunk {
        qint64 offset;
        qint64 size;
    };
    std::deque<Chunk> m_chunks;
    std::unique_ptr<TimelineRing> m_ring;
    std::deque<TimePoint> m_times; // at the end of each timed append
    QList<Mark> m_marks;
};
