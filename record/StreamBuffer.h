#pragma once

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

// A point in the buffered stream: a new connection, a title the station
// announced there, or an Ogg chained stream beginning (always a new song,
// titled by its comments). Offsets count every byte kept since the buffer
// began.
struct StreamMark {
    enum class Kind { Start, Title, Chain };
    Kind kind = Kind::Title;
    qint64 offset = 0;
    qint64 wallMs = 0; // UTC, when it arrived
    QString title;
    // Unknown: what follows cannot be recorded.
    StreamTap::Format format = StreamTap::Format::Unknown;
    // Starts a song: a connection, or a title change (not the first title
    // after a connection, which names the song already on).
    bool beginsSong = true;
};

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
class StreamBuffer : public StreamTap {
public:
    // Above `memoryLimit` the bytes are kept in a file under the cache
    // directory, unlinked as soon as it is open.
    explicit StreamBuffer(qint64 capacityBytes, qint64 memoryLimit = kMemoryLimitBytes);
    ~StreamBuffer() override;
    static constexpr qint64 kMemoryLimitBytes = 64 * 1'000'000; // as bufferMB counts
    // Marks kept at most: a station that changes its title in every
    // metadata block loses its oldest title marks, not memory or time.
    static constexpr qsizetype kMaxMarks = 1024;

    void streamStarted(Format format) override;
    void streamData(const char *data, qsizetype size) override;
    void streamTitle(const QString &title) override;

    // Forgets everything (another program begins); offsets go on counting.
    void clear();
    qint64 capacity() const;
    bool keptInFile() const;
    // What is held, counted against the capacity.
    qint64 heldBytes() const;
    qint64 startOffset() const;
    qint64 endOffset() const;
    // Where the newest piece begins (what plays now); the end if none.
    qint64 newestPieceStart() const;
    // The first piece that begins at or after `offset`; the end if none.
    qint64 pieceStartFrom(qint64 offset) const;
    // The bytes of [from, to) that are still held.
    QByteArray read(qint64 from, qint64 to) const;
    // When the byte at `offset` arrived (UTC ms); 0 if not held.
    qint64 wallMsAt(qint64 offset) const;
    // The marks of what is held, with the last one before it.
    QList<StreamMark> marks() const;
    // The Ogg stream going on at `offset`: where it began, how long its
    // header pages are, its header packets (none: it cannot be recorded) and
    // serial number.
    struct OggHeaders {
        qint64 offset = -1;
        qint64 pagesSize = 0;
        QList<QByteArray> packets;
        quint32 serial = 0;
    };
    OggHeaders oggHeadersAt(qint64 offset) const;

private:
    struct Chunk {
        qint64 offset;
        qint64 wallMs;
        qint64 size;
    };
    void appendLocked(const char *bytes, qint64 size, qint64 wallMs);
    void beginChainLocked(const OggHeaders &headers, const QByteArray &pages, const QString &title,
                          qint64 wallMs);
    void markLocked(StreamMark::Kind kind, qint64 offset, qint64 wallMs, const QString &title,
                    Format format);
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
    QList<StreamMark> m_marks;
    QString m_lastTitle;
    bool m_titledSinceStart = false;
    Format m_format = Format::Unknown;
    std::unique_ptr<OggReader> m_ogg;
    std::map<qint64, OggHeaders> m_oggHeaders; // by where the stream began
};
