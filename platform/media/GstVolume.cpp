// The listener's volume and mute on whichever pipeline plays: playbin's own
// stream volume, or the feed pipeline's volume element; and whether the sound
// is heard here at all.
#include "platform/media/GstMediaPlayer.h"

#include "platform/media/GstFeedPipeline.h"

#include <gst/audio/streamvolume.h>

void GstMediaPlayer::setVolume(double volume)
{
    m_volume = qBound(0.0, volume, 1.0);
    applyVolume();
}

void GstMediaPlayer::setMuted(bool muted)
{
    m_muted = muted;
    applyVolume();
}

void GstMediaPlayer::applyVolume()
{
    if (!m_pipeline)
        return;
    GstElement *feedVolume = gstfeed::volumeElement(m_pipeline.get());
    GstStreamVolume *sv = GST_STREAM_VOLUME(feedVolume ? feedVolume : m_pipeline.get());
    gst_stream_volume_set_volume(sv, GST_STREAM_VOLUME_FORMAT_CUBIC, m_volume);
    gst_stream_volume_set_mute(sv, m_muted);
}

// While the sound plays elsewhere the feed pipeline, once it has decoded its
// first audio (the stream's format), is held paused and handed nothing: the
// play position runs on by the clock, the titles follow it, and the tap hears
// the stream as it comes. Heard here again, the pipeline starts over at the
// position reached. Playbin, which reads the network itself, is only muted.
void GstMediaPlayer::setSoundElsewhere(bool elsewhere)
{
    if (elsewhere == m_elsewhere)
        return;
    const qint64 heard = heardOffset(); // before it is bounded otherwise
    m_elsewhere = elsewhere;
    if (!m_prerolled || !m_pipeline || !gstfeed::isFeed(m_pipeline.get()))
        return;
    if (!elsewhere)
        restartFeedAt(heard);
    applyTargetState();
    followPosition();
}

bool GstMediaPlayer::decodesForNothing() const
{
    return m_elsewhere && m_prerolled && m_pipeline && gstfeed::isFeed(m_pipeline.get());
}

double GstMediaPlayer::pipelineVolume() const
{
    if (!m_pipeline)
        return -1;
    GstElement *feedVolume = gstfeed::volumeElement(m_pipeline.get());
    GstStreamVolume *sv = GST_STREAM_VOLUME(feedVolume ? feedVolume : m_pipeline.get());
    return gst_stream_volume_get_mute(sv)
               ? 0.0
               : gst_stream_volume_get_volume(sv, GST_STREAM_VOLUME_FORMAT_LINEAR);
}
