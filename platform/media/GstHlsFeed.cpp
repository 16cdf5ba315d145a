// Live HLS into the timeline: the HLS client hands over whole segments with
// their durations; the tap gets the audio they carry, read from transport
// streams or fMP4, and the timeline keeps that audio too (a codec not read
// here as sent), which the recorder reads there. Runs on the main thread.
#include "platform/media/GstMediaPlayer.h"

#include "platform/base/Log.h"
#include "platform/stream/Fmp4Audio.h"
#include "platform/stream/HlsClient.h"
#include "platform/stream/StreamTimeline.h"
#include "platform/stream/TsAudio.h"

void GstMediaPlayer::onHlsOpened()
{
    if (m_hls->isFinite() || m_hls->needsDemuxer()) {
        // A recording, not a live stream, or segments to decrypt or cut out
        // of files: GStreamer's own HLS source plays it.
        NSLog(lcMedia(), QtInfoMsg, "stream: %@ ends or is encrypted; played by playbin",
              m_streamUrl.toString());
        m_playbinUrls.insert(m_streamUrl);
        dropClient();
        openStream(m_streamUrl);
        return;
    }
    // Live HLS plays as far behind its newest segment as it starts: the
    // next one comes only when it is complete.
    m_holdBackMs = HlsClient::kLiveEdgeSegments * m_hls->targetDurationMs();
    m_timeline->beginConnection();
    if (!m_tsAudio) {
        m_tsAudio = std::make_unique<TsAudio>();
        m_fmp4 = std::make_unique<Fmp4Audio>();
        m_tsAudio->started = m_fmp4->started = [this](StreamTap::Format format) {
            if (const auto tap = m_item ? m_item->streamTap() : nullptr)
                tap->streamStarted(format);
            // Audio of a codec read here: the recorder reads it where it is kept.
            m_kept->started(format);
            if (m_item)
                m_item->setKeptAudio(format == StreamTap::Format::Unknown ? nullptr : m_kept);
        };
        m_fmp4->audio = [this](const char *data, qsizetype size) {
            if (const auto tap = m_item ? m_item->streamTap() : nullptr)
                tap->streamData(data, size);
        };
        m_tsAudio->audio = [this](const char *data, qsizetype size) {
            if (const auto tap = m_item ? m_item->streamTap() : nullptr)
                tap->streamData(data, size);
            m_segmentAudio.append(data, size);
        };
    }
    m_tsAudio->reset();
    m_fmp4->reset();
    feedConnected();
}

void GstMediaPlayer::onHlsSegment(const QByteArray &bytes, qint64 durationMs, bool discontinuous)
{
    if (discontinuous) {
        m_timeline->beginConnection();
        m_tsAudio->reset(true);
        m_fmp4->reset(true);
    }
    QByteArray segment = bytes;
    if (!Fmp4Audio::looksLike(bytes)) {
        m_segmentAudio.clear();
        m_tsAudio->feed(bytes);
        // Of a transport stream the timeline keeps the audio, as of fMP4.
        if (m_tsAudio->format() != StreamTap::Format::Unknown) {
            if (m_segmentAudio.isEmpty())
                return;
            segment = std::exchange(m_segmentAudio, {});
        }
    } else if (QByteArray audio = m_fmp4->feed(bytes);
               m_fmp4->format() != StreamTap::Format::Unknown) {
        // What the timeline keeps of fMP4 is its audio, which plays from any
        // byte; a codec not read here plays as sent, from live only.
        if (audio.isEmpty())
            return;
        segment = std::move(audio);
    }
    if (durationMs > 0 && m_timeline->byteRate() <= 0)
        m_timeline->setByteRate(double(segment.size()) * 1000.0 / double(durationMs));
    m_timeline->append(segment, durationMs);
    m_kept->appended(segment);
    pumpFeed();
}
