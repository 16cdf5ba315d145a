#pragma once

#include "platform/stream/Fmp4Audio.h"
#include "platform/stream/TsAudio.h"

#include <QByteArray>

#include <memory>
#include <optional>

class MediaItem;
class TimelineAudio;

// Live HLS segments as the feed keeps them. The item's tap gets the audio
// they carry, read from transport streams or fMP4; the timeline keeps that
// audio, which plays from any byte and which the recorder reads there (a
// codec not read here is kept as sent and plays from live only).
class HlsSegments {
public:
    HlsSegments(std::shared_ptr<MediaItem> item, std::shared_ptr<TimelineAudio> kept);
    Q_DISABLE_COPY_MOVE(HlsSegments)

    // A new stream; `sameStream`: the same one going on after a
    // discontinuity.
    void restart(bool sameStream = false);
    // What the timeline keeps of `segment`; nothing while the stream has
    // brought no audio yet.
    std::optional<QByteArray> kept(const QByteArray &segment);

private:
    std::shared_ptr<MediaItem> m_item;
    std::shared_ptr<TimelineAudio> m_kept;
    TsAudio m_tsAudio;
    Fmp4Audio m_fmp4;
    QByteArray m_segmentAudio; // a transport stream segment's, as it is read
};
