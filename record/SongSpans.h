#pragma once

#include "platform/stream/KeptAudio.h"

#include <QList>
#include <QString>

// One song as the buffer holds it: the bytes from its title change to the
// next one (or to a reconnect), the title, when it began and whether it is
// held whole.
struct SongSpan {
    qint64 from = 0;
    qint64 to = -1;   // -1 while it still plays
    qint64 began = 0; // where it began, even when the buffer let that go
    QString title;
    qint64 startedMs = 0; // UTC
    // Began at a title change that is still held; false for the song that
    // was on when the stream was joined, or whose start the buffer let go.
    bool whole = false;
    StreamTap::Format format = StreamTap::Format::Unknown;

    bool finished() const { return to >= 0; }
};

// The songs in [startOffset, endOffset) from the buffer's marks, oldest
// first. The first title after a (re)connect names the song that was
// already on, it does not start a new one; a title repeated is no change,
// but a chained Ogg stream always is.
QList<SongSpan> songSpans(const QList<StreamMark> &marks, qint64 startOffset, qint64 endOffset);
