#pragma once

#include "platform/cast/CastMessage.h"

#include <QByteArray>

#include <optional>

// Cuts the bytes read from a Cast connection into messages. It holds at
// most one frame's worth (CastMessage::kMaxFrame and its length); a length
// above that is refused and the reader stays refused (the connection is
// to be dropped).
class CastFrameReader {
public:
    enum class Result { Message, NeedMore, Malformed, TooLarge };

    // Takes what it has room for from `bytes` and returns how many it took.
    qsizetype feed(const char *bytes, qsizetype size);
    // The next whole frame: Message (in `out`), NeedMore, Malformed (a frame
    // that is not a CastMessage, skipped) or TooLarge (final).
    Result next(CastMessage *out);
    // What it can still take before a frame is read out of it.
    qsizetype room() const;

private:
    QByteArray m_buffer;
    bool m_refused = false;
};
