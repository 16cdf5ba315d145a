#include "platform/media/GstFeedPipeline.h"

#include "platform/base/Log.h"
#include "platform/media/GstLoudness.h"
#include "platform/media/GstPipeline.h"

#include <cstring>

namespace {

constexpr const char *kSourceName = "orbitune-feed";
constexpr const char *kDecodeName = "orbitune-decode";
constexpr const char *kVolumeName = "orbitune-volume";
constexpr const char *kConvertName = "orbitune-convert";
constexpr const char *kSinkName = "orbitune-sink";
// appsrc's GstAppStreamType: seekable, so that a byte seek starts it over.
constexpr int kStreamTypeSeekable = 1;

// The feed's appsrc, kept on its pipeline: it is asked for on every push.
GQuark sourceQuark()
{
    static const GQuark quark = g_quark_from_static_string("orbitune-feed-source");
    return quark;
}

GstElement *source(GstElement *pipeline)
{
    return pipeline
               ? static_cast<GstElement *>(g_object_get_qdata(G_OBJECT(pipeline), sourceQuark()))
               : nullptr;
}

GstElement *byName(GstElement *pipeline, const char *name)
{
    if (!pipeline || !GST_IS_BIN(pipeline))
        return nullptr;
    GstElement *element = gst_bin_get_by_name(GST_BIN(pipeline), name);
    if (element)
        gst_object_unref(element); // the bin keeps it
    return element;
}

// decodebin's audio pad goes to the converter; a new one (a new Ogg chain)
// replaces the old.
void onPadAdded(GstElement *, GstPad *pad, gpointer convert)
{
    GstCaps *current = gst_pad_get_current_caps(pad);
    const gsthandle::Caps caps(current ? current : gst_pad_query_caps(pad, nullptr));
    const GstStructure *s = caps ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    if (!s || !g_str_has_prefix(gst_structure_get_name(s), "audio/"))
        return;
    const gsthandle::Object<GstPad> sink(gst_element_get_static_pad(GST_ELEMENT(convert), "sink"));
    if (const gsthandle::Object<GstPad> old(gst_pad_get_peer(sink.get())); old)
        gst_pad_unlink(old.get(), sink.get());
    gst_pad_link(pad, sink.get());
}

gboolean onSeekData(GstElement *, guint64, gpointer)
{
    return TRUE; // the player already reads from the new offset
}

struct WantsData {
    std::function<void()> call;
};

} // namespace

namespace gstfeed {

gsthandle::Pipeline make(std::function<void()> wantsData, QString *error)
{
    if (!gstpipeline::ensureInitialized()) {
        *error = QStringLiteral("GStreamer is not available");
        return {};
    }
    gsthandle::Pipeline pipeline(gst_pipeline_new(nullptr));
    GstElement *src = gst_element_factory_make("appsrc", kSourceName);
    GstElement *decode = gst_element_factory_make("decodebin", kDecodeName);
    GstElement *convert = gst_element_factory_make("audioconvert", kConvertName);
    GstElement *resample = gst_element_factory_make("audioresample", nullptr);
    GstElement *loudness = gstloudness::makeBin();
    GstElement *volume = gst_element_factory_make("volume", kVolumeName);
    GstElement *sink = gst_element_factory_make("autoaudiosink", kSinkName);
    if (!pipeline || !src || !decode || !convert || !resample || !volume || !sink) {
        for (GstElement *e : {src, decode, convert, resample, loudness, volume, sink}) {
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        }
        *error = QStringLiteral("GStreamer's base plugins are missing");
        return {};
    }
    gst_object_ref_sink(pipeline.get());
    // Without the levelling's elements (no good plugins) it plays unlevelled.
    GstElement *beforeVolume = resample;
    gst_bin_add_many(GST_BIN(pipeline.get()), src, decode, convert, resample, volume, sink,
                     nullptr);
    if (loudness) {
        gst_bin_add(GST_BIN(pipeline.get()), loudness);
        gstloudness::attach(pipeline.get(), loudness);
        beforeVolume = loudness;
    }
    if (!gst_element_link(src, decode) || !gst_element_link_many(convert, resample, nullptr) ||
        (loudness && !gst_element_link(resample, loudness)) ||
        !gst_element_link_many(beforeVolume, volume, sink, nullptr)) {
        *error = QStringLiteral("The decoding pipeline could not be linked");
        return {};
    }
    g_object_set(src, "format", GST_FORMAT_BYTES, "stream-type", kStreamTypeSeekable, "block",
                 FALSE, "max-bytes", guint64(256 * 1024), "emit-signals", TRUE, nullptr);
    g_object_set_qdata(G_OBJECT(pipeline.get()), sourceQuark(), src); // the bin keeps it
    g_signal_connect(decode, "pad-added", G_CALLBACK(onPadAdded), convert);
    g_signal_connect(src, "seek-data", G_CALLBACK(onSeekData), nullptr);
    auto *wants = new WantsData{std::move(wantsData)};
    g_signal_connect_data(
        src, "need-data", G_CALLBACK(+[](GstElement *, guint, gpointer data) {
            static_cast<WantsData *>(data)->call();
        }),
        wants, [](gpointer data, GClosure *) { delete static_cast<WantsData *>(data); },
        GConnectFlags(0));
    return pipeline;
}

GstElement *volumeElement(GstElement *pipeline)
{
    return byName(pipeline, kVolumeName);
}

GstPad *decodedPad(GstElement *pipeline)
{
    GstElement *convert = byName(pipeline, kConvertName);
    return convert ? gst_element_get_static_pad(convert, "sink") : nullptr;
}

bool playsSilently(GstElement *pipeline)
{
    GstElement *sink = byName(pipeline, kSinkName);
    if (!sink || !GST_IS_BIN(sink))
        return false;
    gsthandle::Iterator it(gst_bin_iterate_sinks(GST_BIN(sink)));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it.get(), &item) != GST_ITERATOR_OK)
        return false;
    GstElementFactory *factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
    const bool silent = factory && g_strcmp0(GST_OBJECT_NAME(factory), "fakesink") == 0;
    g_value_unset(&item);
    return silent;
}

bool isFeed(GstElement *pipeline)
{
    return source(pipeline) != nullptr;
}

qint64 queuedBytes(GstElement *pipeline)
{
    GstElement *src = source(pipeline);
    guint64 level = 0;
    if (src)
        g_object_get(src, "current-level-bytes", &level, nullptr);
    return qint64(level);
}

void push(GstElement *pipeline, const QByteArray &bytes)
{
    GstElement *src = source(pipeline);
    if (!src || bytes.isEmpty())
        return;
    // The buffer holds on to the bytes themselves rather than a copy.
    auto *held = new QByteArray(bytes);
    GstBuffer *buffer = gst_buffer_new_wrapped_full(
        GST_MEMORY_FLAG_READONLY, const_cast<char *>(held->constData()), gsize(held->size()), 0,
        gsize(held->size()), held, [](gpointer data) { delete static_cast<QByteArray *>(data); });
    GstFlowReturn ret = GST_FLOW_OK;
    g_signal_emit_by_name(src, "push-buffer", buffer, &ret);
    gst_buffer_unref(buffer);
}

bool restart(GstElement *pipeline, qint64 offset, bool freshDecoder)
{
    GstElement *src = source(pipeline);
    if (!src)
        return false;
    // The flush goes through the decoder there is to the sink, which starts
    // its timing afresh; then a new decoder can take its place.
    const bool done = gst_element_seek_simple(src, GST_FORMAT_BYTES, GST_SEEK_FLAG_FLUSH, offset);
    if (!done)
        NSLog(lcMedia(), QtWarningMsg, "stream: could not start over at byte %lld",
              static_cast<long long>(offset));
    if (GstElement *decode = freshDecoder ? byName(pipeline, kDecodeName) : nullptr) {
        gst_element_set_state(decode, GST_STATE_READY);
        gst_element_sync_state_with_parent(decode);
    }
    return done;
}

} // namespace gstfeed
