#pragma once

#include "platform/stream/KeptAudio.h"
#include "platform/stream/KeptMarks.h"
#include "platform/stream/StreamTap.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <deque>
#include <map>
#include <memory>

class OggReader;
class TimelineRing;

// The last minutes of the playing stream's compressed audio, bounded in
// bytes (a station of a higher bit rate keeps less time, never more memory),
// with the title changes and reconnects marked where they happened in the
// bytes. Filled on GStreamer's streaming thread, read on any thread. What it
// holds is pieces as they arrived; everything it holds counts against the
// bound: the pieces and what keeping each costs, the headers kept aside, a
// page not complete yet.
//
// An Ogg stream is kept in whole pages whose checksums hold, a piece each,
// and each chained stream's header pages are one piece, marked only once they
// are all there; so a file can start at any piece. The header packets are
// kept aside while any page of their chain is held.
class StreamBuffer : public StreamTap, public KeptAudio {
public:
    // Above `memoryLimit` the bytes are kept in a file under the cache
    // directory, unlinked as soon as it is open.
    explicit StreamBuffer(qint64 capacityBytes, qint64 memoryLimit = kMemoryLimitBytes);
    ~StreamBuffer() override;
    static constexpr qint64 kMemoryLimitBytes = 64 * 1'000'000; // as bufferMB counts
    // Marks kept at most: a station that changes its title in every
    // metadata block loses its oldest title marks, not memory or time.
    static constexpr qsizetype kMaxMarks = KeptMarks::kMaxMarks;

    void streamStarted(Format format) override;
    void streamData(const char *data, qsizetype size) override;
    void streamTitle(const QString &title) override;

    // Forgets everything (another program begins); offsets go on counting.
    void clear();
    qint64 capacity() const;
    bool keptInFile() const;
    // What is held, counted against the capacity.
    qint64 heldBytes() const;
    qint64 startOffset() const override;
    qint64 endOffset() const override;
    qint64 newestPieceStart() const override;
    qint64 pieceStartFrom(qint64 offset) const override;
    QByteArray read(qint64 from, qint64 to) const override;
    qint64 wallMsAt(qint64 offset) const override;
    QList<StreamMark> marks() const override;
    OggHeaders oggHeadersAt(qint64 offset) const override;

private:
    struct Chunk {
        qint64 offset;
        qint64 wallMs;
        qint64 size;
    };
    void appendLocked(const char *bytes, qint64 size, qint64 wallMs);
    void beginChainLocked(const OggHeaders &headers, const QByteArray &pages, const QString &title,
                          qint64 wallMs);
    void trimLocked();
    qint64 heldLocked() const { return m_piecesSize + m_headersSize + m_pendingSize; }

    mutable QMutex m_mutex;
    qint64 m_capacity;
    // The pieces' bytes, where offset o lives at o % capacity: what is held
    // never spans more than the capacity.
    std::unique_ptr<TimelineRing> m_ring;
    qint64 m_piecesSize = 0;  // with what keeping each costs
    qint64 m_headersSize = 0; // the header packets kept aside
    qint64 m_pendingSize = 0; // Ogg: a page or headers not complete yet
    qint64 m_end = 0;
    std::deque<Chunk> m_chunks;
    KeptMarks m_marks;
    Format m_format = Format::Unknown;
    std::unique_ptr<OggReader> m_ogg;
    std::map<qint64, OggHeaders> m_oggHeaders; // by where the stream began
};
