// The player's bus messages, one small handler each. They run on the main
// thread, delivered by the pipeline's GstBusPump.
#include "platform/media/GstMediaPlayer.h"

#include "platform/base/Log.h"
#include "platform/media/GstFeedPipeline.h"
#include "platform/media/GstHandles.h"
#include "platform/stream/StreamTitle.h"

void GstMediaPlayer::handleMessage(GstMessage *message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE: onAsyncDone(); break;
    case GST_MESSAGE_ERROR: onError(message); break;
    case GST_MESSAGE_WARNING: onWarning(message); break;
    case GST_MESSAGE_EOS: onEndOfStream(); break;
    case GST_MESSAGE_BUFFERING: onBuffering(message); break;
    case GST_MESSAGE_CLOCK_LOST: onClockLost(); break;
    case GST_MESSAGE_LATENCY: onLatency(); break;
    case GST_MESSAGE_TAG: onTag(message); break;
    default: break;
    }
}

void GstMediaPlayer::onAsyncDone()
{
    // A feed's decoder kept across a drop prerolls again after a pause or a
    // seek; the reconnect is done when a new connection begins.
    if (m_phase == Phase::Reconnecting && m_prerolled && gstfeed::isFeed(m_pipeline.get()))
        return;
    if (m_phase == Phase::Opening || m_phase == Phase::Reconnecting)
        onPrerolled();
}

void GstMediaPlayer::onError(GstMessage *message)
{
    gsthandle::Error error;
    gsthandle::Chars debug;
    gst_message_parse_error(message, gsthandle::out(error), gsthandle::out(debug));
    const QString text = QString::fromUtf8(error ? error->message : "unknown error");
    NSLog(lcMedia(), QtWarningMsg, "stream error: %@ (%@)", text,
          QString::fromUtf8(debug ? debug.get() : ""));
    if (m_phase == Phase::Opening)
        onOpenFailed(text);
    else if (m_phase == Phase::Ready || m_phase == Phase::Reconnecting)
        onDropped(text);
}

void GstMediaPlayer::onWarning(GstMessage *message)
{
    gsthandle::Error error;
    gst_message_parse_warning(message, gsthandle::out(error), nullptr);
    NSLog(lcMedia(), QtInfoMsg, "stream warning: %@",
          QString::fromUtf8(error ? error->message : ""));
}

void GstMediaPlayer::onBuffering(GstMessage *message)
{
    if (m_noPreroll)
        return; // live sources do not buffer
    gint percent = 100;
    gst_message_parse_buffering(message, &percent);
    if (percent < 100 && !m_buffering) {
        m_buffering = true;
        if (m_phase == Phase::Ready && m_wantPlaying)
            gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED);
    } else if (percent >= 100 && m_buffering) {
        m_buffering = false;
        applyTargetState();
    }
}

void GstMediaPlayer::onClockLost()
{
    if (m_phase == Phase::Ready && m_wantPlaying) {
        gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED);
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    }
}

void GstMediaPlayer::onLatency()
{
    gst_bin_recalculate_latency(GST_BIN(m_pipeline.get()));
}

void GstMediaPlayer::onTag(GstMessage *message)
{
    gsthandle::TagList tags;
    gst_message_parse_tag(message, gsthandle::out(tags));
    gsthandle::Chars title;
    gsthandle::Chars artist;
    gst_tag_list_get_string(tags.get(), GST_TAG_TITLE, gsthandle::out(title));
    gst_tag_list_get_string(tags.get(), GST_TAG_ARTIST, gsthandle::out(artist));
    const QString nowPlaying =
        streamtitle::fromTags(QByteArray(title.get()), QByteArray(artist.get()));
    readFormatTags(tags.get());
    if (!nowPlaying.isEmpty() && m_item && nowPlaying != m_item->nowPlaying()) {
        NSLog(lcMedia(), QtInfoMsg, "now playing: %@", nowPlaying);
        m_item->setNowPlaying(nowPlaying);
    }
}
