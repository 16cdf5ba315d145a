#include "platform/media/GstStreamFormat.h"

#include "platform/media/GstFeedPipeline.h"
#include "platform/media/GstHandles.h"
#include "platform/media/MediaItem.h"

#include <gst/pbutils/pbutils.h>

#include <cstring>

namespace {

// The audio decoder playbin chose for the stream.
gsthandle::Object<GstElement> audioDecoder(GstElement *pipeline)
{
    gsthandle::Iterator it(gst_bin_iterate_recurse(GST_BIN(pipeline)));
    GValue item = G_VALUE_INIT;
    gsthandle::Object<GstElement> found;
    while (!found && gst_iterator_next(it.get(), &item) == GST_ITERATOR_OK) {
        auto *element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory *factory = gst_element_get_factory(element);
        const gchar *klass =
            factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS)
                    : nullptr;
        if (klass && std::strstr(klass, "Decoder") && std::strstr(klass, "Audio"))
            found.reset(GST_ELEMENT(gst_object_ref(element)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return found;
}

// What the decoder is given, described as GStreamer names codecs.
QString codecOf(GstElement *decoder)
{
    const gsthandle::Object<GstPad> pad(gst_element_get_static_pad(decoder, "sink"));
    const gsthandle::Caps caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
    if (!caps)
        return {};
    gst_pb_utils_init();
    const gsthandle::Chars description(gst_pb_utils_get_codec_description(caps.get()));
    return description ? QString::fromUtf8(description.get()) : QString();
}

} // namespace

void gstformat::readTags(MediaItem &item, const GstTagList *tags, GstElement *pipeline,
                         bool *nominalBitrate)
{
    StreamFormat format = item.format();
    gsthandle::Chars codec;
    if (gst_tag_list_get_string(tags, GST_TAG_AUDIO_CODEC, gsthandle::out(codec)) && codec)
        format.codec = QString::fromUtf8(codec.get());
    // The nominal bitrate is what the station broadcasts; the momentary one
    // of a variable-rate stream would change the text every few seconds.
    guint nominal = 0;
    guint bitrate = 0;
    if (gst_tag_list_get_uint(tags, GST_TAG_NOMINAL_BITRATE, &nominal) && nominal > 0) {
        format.bitrate = int(nominal);
        *nominalBitrate = true;
    } else if (!*nominalBitrate && gst_tag_list_get_uint(tags, GST_TAG_BITRATE, &bitrate) &&
               bitrate > 0) {
        format.bitrate = int(bitrate);
    }
    item.setFormat(format);
    if (format.sampleRate <= 0 || format.codec.isEmpty())
        readDecoded(item, pipeline);
}

// Decoders take the codec tags of what they decode and seldom post their
// own: the codec also comes from what the decoder is given.
void gstformat::readDecoded(MediaItem &item, GstElement *pipeline)
{
    if (!pipeline)
        return;
    if (item.format().codec.isEmpty()) {
        if (const gsthandle::Object<GstElement> decoder = audioDecoder(pipeline)) {
            StreamFormat format = item.format();
            format.codec = codecOf(decoder.get());
            item.setFormat(format);
        }
    }
    GstPad *raw = gstfeed::decodedPad(pipeline);
    if (!raw && !gstfeed::isFeed(pipeline))
        g_signal_emit_by_name(pipeline, "get-audio-pad", 0, &raw);
    const gsthandle::Object<GstPad> pad(raw);
    if (!pad)
        return;
    const gsthandle::Caps caps(gst_pad_get_current_caps(pad.get()));
    if (!caps || gst_caps_get_size(caps.get()) == 0)
        return;
    gint rate = 0;
    if (!gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "rate", &rate) || rate <= 0)
        return;
    StreamFormat format = item.format();
    format.sampleRate = rate;
    item.setFormat(format);
}
