#pragma once

#include "platform/stream/Fmp4Audio.h"
#include "platform/stream/TsAudio.h"

#include <QByteArray>

#include <memory>
#include <optional>

class MediaItem;

// Live HLS segments as the feed keeps them. The item's tap gets the audio
// they carry, read from transport streams or fMP4; the timeline keeps a
// transport stream segment as sent and fMP4 as its audio, which plays from
// any byte (a codec not read here plays as sent, from live only).
class HlsSegments {
public:
    explicit HlsSegments(std::shared_ptr<MediaItem> item);
    Q_DISABLE_COPY_MOVE(HlsSegments)

    // A new stream; `sameStream`: the same one going on after a
    // discontinuity.
    void restart(bool sameStream = false);
    // What the timeline keeps of `segment`; nothing while an fMP4 stream
    // has brought no audio yet.
    std::optional<QByteArray> kept(const QByteArray &segment);

private:
    std::shared_ptr<MediaItem> m_item;
    TsAudio m_tsAudio;
    Fmp4Audio m_fmp4;
};
