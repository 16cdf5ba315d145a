#pragma once

#include "platform/stream/StreamTap.h"

#include <QByteArray>
#include <QString>

// Frame boundaries of MP3 and ADTS AAC streams.
namespace audioframes {

// A frame as its header tells it: its length, the header included, and how
// long it plays; a length of 0 when no valid header starts there.
struct Frame {
    qsizetype length = 0;
    double seconds = 0;
};
// The frame whose header starts at `data` (`size` bytes are readable): MPEG
// audio of layers I to III, or ADTS AAC.
Frame frameAt(StreamTap::Format format, const uchar *data, qsizetype size);

// The length of the frame whose header starts at `data`, or 0 when no valid
// header of `format` starts there (`size` bytes are readable).
qsizetype frameLength(StreamTap::Format format, const uchar *data, qsizetype size);

// Where the first frame at or after `from` starts: a valid header followed
// by another one exactly a frame later, so that a byte pattern inside the
// audio is not taken for a header. -1 when `bytes` ends before that could
// be told; Ogg and unknown formats start anywhere (returns `from`).
qsizetype frameStart(StreamTap::Format format, const QByteArray &bytes, qsizetype from);

} // namespace audioframes
