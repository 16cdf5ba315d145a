#include "platform/media/GstBusMessages.h"

#include "platform/base/Log.h"
#include "platform/media/GstHandles.h"
#include "platform/media/GstStreamFormat.h"
#include "platform/media/MediaItem.h"
#include "platform/stream/StreamTitle.h"

GstBusMessages::GstBusMessages(Listener &listener, std::shared_ptr<MediaItem> item)
    : m_listener(listener), m_item(std::move(item))
{
}

void GstBusMessages::handle(GstMessage *message, GstElement *pipeline)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE: m_listener.pipelinePrerolled(); break;
    case GST_MESSAGE_ERROR: onError(message); break;
    case GST_MESSAGE_WARNING: onWarning(message); break;
    case GST_MESSAGE_EOS: m_listener.pipelineEnded(); break;
    case GST_MESSAGE_BUFFERING: onBuffering(message); break;
    case GST_MESSAGE_CLOCK_LOST: m_listener.pipelineLostClock(); break;
    case GST_MESSAGE_LATENCY: onLatency(pipeline); break;
    case GST_MESSAGE_TAG: onTag(message, pipeline); break;
    default: break;
    }
}

void GstBusMessages::onError(GstMessage *message)
{
    gsthandle::Error error;
    gsthandle::Chars debug;
    gst_message_parse_error(message, gsthandle::out(error), gsthandle::out(debug));
    const QString text = QString::fromUtf8(error ? error->message : "unknown error");
    NSLog(lcMedia(), QtWarningMsg, "stream error: %@ (%@)", text,
          QString::fromUtf8(debug ? debug.get() : ""));
    m_listener.pipelineFailed(text);
}

void GstBusMessages::onWarning(GstMessage *message)
{
    gsthandle::Error error;
    gst_message_parse_warning(message, gsthandle::out(error), nullptr);
    NSLog(lcMedia(), QtInfoMsg, "stream warning: %@",
          QString::fromUtf8(error ? error->message : ""));
}

void GstBusMessages::onBuffering(GstMessage *message)
{
    gint percent = 100;
    gst_message_parse_buffering(message, &percent);
    m_listener.pipelineBuffering(percent);
}

void GstBusMessages::onLatency(GstElement *pipeline)
{
    gst_bin_recalculate_latency(GST_BIN(pipeline));
}

void GstBusMessages::onTag(GstMessage *message, GstElement *pipeline)
{
    gsthandle::TagList tags;
    gst_message_parse_tag(message, gsthandle::out(tags));
    gsthandle::Chars title;
    gsthandle::Chars artist;
    gst_tag_list_get_string(tags.get(), GST_TAG_TITLE, gsthandle::out(title));
    gst_tag_list_get_string(tags.get(), GST_TAG_ARTIST, gsthandle::out(artist));
    const QString nowPlaying =
        streamtitle::fromTags(QByteArray(title.get()), QByteArray(artist.get()));
    if (m_item)
        gstformat::readTags(*m_item, tags.get(), pipeline, &m_nominalBitrate);
    if (!nowPlaying.isEmpty() && m_item && nowPlaying != m_item->nowPlaying()) {
        NSLog(lcMedia(), QtInfoMsg, "now playing: %@", nowPlaying);
        m_item->setNowPlaying(nowPlaying);
    }
}
