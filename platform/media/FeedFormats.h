#pragma once

#include "platform/stream/StreamTap.h"

#include <QtGlobal>

#include <deque>
#include <utility>

// What kind of audio the timeline holds where: each connection's format,
// from the byte where its bytes begin. A decoder goes on only within one
// kind. At most a few dozen are kept, none before what the timeline keeps.
class FeedFormats {
public:
    // A connection of `format` begins at `at`; the timeline keeps from
    // `keptFrom` on.
    void mark(qint64 at, StreamTap::Format format, qint64 keptFrom);
    StreamTap::Format at(qint64 offset) const;
    // The first offset after `offset` where the bytes are of another kind;
    // -1 if none.
    qint64 nextChange(qint64 offset) const;

private:
    std::deque<std::pair<qint64, StreamTap::Format>> m_formats;
};
