#pragma once

#include "platform/media/StreamTap.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <deque>
#include <map>

// A point in the buffered stream: a new connection, or a title the station
// announced there. Offsets count every byte received since the buffer began.
struct StreamMark {
    enum class Kind { Start, Title };
    Kind kind = Kind::Title;
    qint64 offset = 0;
    qint64 wallMs = 0; // UTC, when it arrived
    QString title;
    StreamTap::Format format = StreamTap::Format::Unknown;
    // Starts a song: a connection, or a title change (not the first title
    // after a connection, which names the song already on).
    bool beginsSong = true;
};

// The last minutes of the playing stream's compressed audio, bounded in
// bytes (a station of a higher bit rate keeps less time, never more memory),
// with the title changes and reconnects marked where they happened in the
// bytes. Filled on GStreamer's streaming thread, read on any thread.
//
// An Ogg stream is kept in whole pages, and the header pages of each chained
// stream are kept aside, so that a file can start at any page; each chained
// stream's title comes from its comments.
class StreamBuffer : public StreamTap {
public:
    explicit StreamBuffer(qint64 capacityBytes);

    void streamStarted(Format format) override;
    void streamData(const char *data, qsizetype size) override;
    void streamTitle(const QString &title) override;

    // Forgets everything (another program begins); offsets go on counting.
    void clear();
    void setCapacity(qint64 bytes);
    qint64 capacity() const;
    qint64 heldBytes() const;
    qint64 startOffset() const;
    qint64 endOffset() const;
    // The bytes of [from, to) that are still held.
    QByteArray read(qint64 from, qint64 to) const;
    // When the byte at `offset` arrived (UTC ms); 0 if not held.
    qint64 wallMsAt(qint64 offset) const;
    // The marks of what is held, with the last one before it.
    QList<StreamMark> marks() const;
    // The Ogg stream going on at `offset`: where it began, its header pages
    // as sent and its header packets (empty while incomplete or unknown).
    struct OggHeaders {
        qint64 offset = -1;
        QByteArray pages;
        QList<QByteArray> packets;
    };
    OggHeaders oggHeadersAt(qint64 offset) const;

private:
    struct Chunk {
        qint64 offset;
        qint64 wallMs;
        QByteArray bytes;
    };
    void appendLocked(const QByteArray &bytes, qint64 wallMs);
    void takeOggPages(qint64 wallMs);
    void markLocked(StreamMark::Kind kind, qint64 offset, qint64 wallMs, const QString &title);
    void trimLocked();

    mutable QMutex m_mutex;
    qint64 m_capacity;
    qint64 m_held = 0;
    qint64 m_end = 0;
    std::deque<Chunk> m_chunks;
    QList<StreamMark> m_marks;
    QString m_lastTitle;
    bool m_titledSinceStart = false;
    Format m_format = Format::Unknown;
    // Ogg: bytes short of a whole page, and the stream whose headers are
    // being gathered.
    QByteArray m_oggPending;
    QByteArray m_oggPartialPacket;
    QList<QByteArray> m_oggPackets;
    int m_oggHeadersWanted = 0;
    bool m_oggGathering = false;
    qint64 m_oggStreamOffset = 0;
    std::map<qint64, OggHeaders> m_oggHeaders; // by where the stream began
};
