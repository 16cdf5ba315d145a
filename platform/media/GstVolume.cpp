#include "platform/media/GstVolume.h"

#include "platform/media/GstFeedPipeline.h"

#include <gst/audio/streamvolume.h>

namespace {

GstStreamVolume *streamVolume(GstElement *pipeline)
{
    GstElement *feedVolume = gstfeed::volumeElement(pipeline);
    return GST_STREAM_VOLUME(feedVolume ? feedVolume : pipeline);
}

} // namespace

void gstvolume::apply(GstElement *pipeline, double volume, bool muted)
{
    if (!pipeline)
        return;
    GstStreamVolume *sv = streamVolume(pipeline);
    gst_stream_volume_set_volume(sv, GST_STREAM_VOLUME_FORMAT_CUBIC, volume);
    gst_stream_volume_set_mute(sv, muted);
}

double gstvolume::linear(GstElement *pipeline)
{
    if (!pipeline)
        return -1;
    GstStreamVolume *sv = streamVolume(pipeline);
    return gst_stream_volume_get_mute(sv)
               ? 0.0
               : gst_stream_volume_get_volume(sv, GST_STREAM_VOLUME_FORMAT_LINEAR);
}
