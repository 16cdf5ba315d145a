#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The body of a stream's answer as it arrives, in pieces of any size:
// chunked transfer undone, and with `icy-metaint` the metadata blocks woven
// into the audio taken out, their StreamTitle handed on between the audio
// before and after them.
class IcyBody {
public:
    std::function<void(const QByteArray &)> audio;
    std::function<void(const QString &)> title;

    // `metaInterval` 0: no metadata blocks.
    void reset(bool chunked, qint64 metaInterval);
    // False once the body cannot be read (a malformed chunk size).
    bool feed(const QByteArray &bytes);
    // The last chunk arrived: the answer is complete.
    bool finished() const { return m_chunkState == ChunkState::Done; }

private:
    enum class ChunkState { Size, Data, DataEnd, Done };
    void unchunked(const char *data, qsizetype size);

    bool m_chunked = false;
    ChunkState m_chunkState = ChunkState::Size;
    QByteArray m_sizeLine;
    qint64 m_chunkLeft = 0;
    qint64 m_metaInterval = 0;
    qint64 m_audioLeft = 0;
    qint64 m_metaLeft = -1; // -1: the length byte comes next
    QByteArray m_meta;
    QByteArray m_pending; // audio of this piece, handed on in one go
};
