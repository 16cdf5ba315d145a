#pragma once

#include <QString>

// Receives a stream's compressed audio as the station sends it, without the
// ICY metadata woven into it, from the same connection that is played. A
// player calls it on GStreamer's streaming threads: implementations must be
// thread-safe, quick, and must not touch objects of the main thread.
class StreamTap {
public:
    enum class Format { Unknown, Mp3, Aac, Ogg };

    virtual ~StreamTap() = default;
    // A new connection begins: what came before is not continued by what
    // follows (a reconnect leaves a gap).
    virtual void streamStarted(Format format) = 0;
    // The next bytes of the stream.
    virtual void streamData(const char *data, qsizetype size) = 0;
    // The stream announced a title here, between the bytes before and after.
    virtual void streamTitle(const QString &title) = 0;
};
