#pragma once

#include "platform/stream/KeptAudio.h"
#include "platform/stream/KeptMarks.h"
#include "platform/stream/StreamTap.h"

#include <deque>
#include <map>
#include <memory>

class OggChains;
class StreamTimeline;

// What a StreamTimeline keeps, read as kept audio: the recorder reads its
// songs from the bytes time-shift keeps instead of a copy of its own. Its
// filler tells it each connection, append and title right after the
// timeline has it; it keeps only what the bytes do not tell: when each
// piece arrived, the marks with their wall times and formats, and of an Ogg
// stream where its pages begin and each chain's header packets. It keeps
// the timeline alive, and with it what was kept, after the filler has gone.
// Lives on the timeline's thread.
class TimelineAudio : public KeptAudio {
public:
    explicit TimelineAudio(std::shared_ptr<const StreamTimeline> timeline);
    ~TimelineAudio() override;
    TimelineAudio(const TimelineAudio &) = delete;
    TimelineAudio &operator=(const TimelineAudio &) = delete;

    // A connection begins at the timeline's end.
    void started(StreamTap::Format format);
    // `bytes` were just appended to the timeline.
    void appended(const QByteArray &bytes);
    // A title was announced at the timeline's end.
    void titled(const QString &title);

    qint64 startOffset() const override;
    qint64 endOffset() const override;
    qint64 newestPieceStart() const override;
    qint64 pieceStartFrom(qint64 offset) const override;
    QByteArray read(qint64 from, qint64 to) const override;
    qint64 wallMsAt(qint64 offset) const override;
    QList<StreamMark> marks() const override;
    OggHeaders oggHeadersAt(qint64 offset) const override;

private:
    struct Piece {
        qint64 offset;
        qint64 wallMs;
    };
    void markChain();
    void forgetGone();

    std::shared_ptr<const StreamTimeline> m_timeline;
    KeptMarks m_marks;
    std::deque<Piece> m_pieces;
    std::unique_ptr<OggChains> m_ogg;          // while the stream is Ogg
    std::map<qint64, OggHeaders> m_oggHeaders; // by where each chain began
};
