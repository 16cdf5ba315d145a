#pragma once

#include <QByteArray>
#include <QtGlobal>

// The byte rate of MPEG audio (MP3, MP2) or ADTS AAC from the stream itself: each frame's
// header tells its length and how many samples at which rate it plays, so
// bytes over time holds for any bit rate, constant or variable, whatever
// the station announces. A frame counts once the next one is found right
// after it, so bytes that only look like a header now and then count for
// nothing. Reads the stream in pieces of any size, in time linear in them.
class FrameByteRate {
public:
    enum class Codec { Mp3, Aac };
    explicit FrameByteRate(Codec codec) : m_codec(codec) {}
    Codec codec() const { return m_codec; }

    void append(const QByteArray &bytes);
    // The next bytes do not follow the last (a new connection).
    void restart();
    // Bytes per second of the frames read so far; 0 until a second of them.
    double byteRate() const;

private:
    struct Frame {
        qint64 size = 0; // bytes, the header included
        double seconds = 0;
    };
    qsizetype headerSize() const { return m_codec == Codec::Aac ? 7 : 4; }

    Codec m_codec;
    QByteArray m_header;  // the bytes where a header should be, so far
    qint64 m_skip = 0;    // of the frame under way, still to pass
    Frame m_last;         // the frame under way, counted once the next follows
    qint64 m_bytes = 0;   // of the frames counted
    double m_seconds = 0; // and their time
};
