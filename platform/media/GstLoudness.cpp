#include "platform/media/GstLoudness.h"

#include "platform/media/GstHandles.h"
#include "platform/media/LoudnessMeter.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

namespace {

// -1 dBFS: what the limiter's output is scaled to, as a factor.
constexpr double kHeadroom = 0.8912509381337456;

struct Measure {
    LoudnessMeter meter;
    std::atomic<unsigned> channels{0};
};
using MeasureRef = std::shared_ptr<Measure>;

// What attach() keeps on the pipeline; the elements are the bin's, which
// lives as long as the pipeline.
struct Levelling {
    MeasureRef measure;
    GstElement *level = nullptr;
    GstElement *limiter = nullptr;
    GstElement *headroom = nullptr;
    // What the elements were last set to: they are set again only when it
    // changes (the leveller asks twice a second).
    std::optional<std::pair<double, bool>> applied;
};

GQuark binQuark()
{
    static const GQuark quark = g_quark_from_static_string("orbitune-loudness-bin");
    return quark;
}

GQuark pipelineQuark()
{
    static const GQuark quark = g_quark_from_static_string("orbitune-loudness");
    return quark;
}

// On the streaming thread: the format and the samples reach the meter only.
GstPadProbeReturn onData(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    Measure &measure = **static_cast<MeasureRef *>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
            return GST_PAD_PROBE_OK;
        GstCaps *caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstAudioInfo audio;
        if (caps && gst_audio_info_from_caps(&audio, caps) &&
            GST_AUDIO_INFO_FORMAT(&audio) == GST_AUDIO_FORMAT_F32) {
            measure.channels = unsigned(GST_AUDIO_INFO_CHANNELS(&audio));
            measure.meter.setFormat(measure.channels, gulong(GST_AUDIO_INFO_RATE(&audio)));
        } else {
            measure.channels = 0;
            measure.meter.setFormat(0, 0);
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const unsigned channels = measure.channels;
    if (!buffer || channels == 0 || GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_GAP))
        return GST_PAD_PROBE_OK;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_PAD_PROBE_OK;
    measure.meter.addFrames(reinterpret_cast<const float *>(map.data),
                            map.size / (sizeof(float) * channels));
    gst_buffer_unmap(buffer, &map);
    return GST_PAD_PROBE_OK;
}

void ghost(GstElement *bin, GstElement *element, const char *pad)
{
    const gsthandle::Object<GstPad> target(gst_element_get_static_pad(element, pad));
    gst_element_add_pad(bin, gst_ghost_pad_new(pad, target.get()));
}

Levelling *levelling(GstElement *pipeline)
{
    return pipeline
               ? static_cast<Levelling *>(g_object_get_qdata(G_OBJECT(pipeline), pipelineQuark()))
               : nullptr;
}

} // namespace

namespace gstloudness {

GstElement *makeBin()
{
    GstElement *in = gst_element_factory_make("audioconvert", nullptr);
    GstElement *format = gst_element_factory_make("capsfilter", nullptr);
    // Not `volume` elements: playbin sets the listener's volume on the
    // first element with a "volume" property it finds after the decoder,
    // which would be the gain.
    GstElement *level = gst_element_factory_make("audioamplify", "orbitune-level");
    GstElement *limiter = gst_element_factory_make("rglimiter", nullptr);
    GstElement *headroom = gst_element_factory_make("audioamplify", nullptr);
    GstElement *out = gst_element_factory_make("audioconvert", nullptr);
    if (!in || !format || !level || !limiter || !headroom || !out) {
        for (GstElement *e : {in, format, level, limiter, headroom, out}) {
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        }
        return nullptr;
    }
    GstElement *bin = gst_bin_new("orbitune-loudness");
    gst_bin_add_many(GST_BIN(bin), in, format, level, limiter, headroom, out, nullptr);
    const gsthandle::Caps f32(gst_caps_from_string("audio/x-raw,format=F32LE,layout=interleaved"));
    g_object_set(format, "caps", f32.get(), nullptr);
    g_object_set(limiter, "enabled", FALSE, nullptr);
    // The limiter after the gain does what clipping would.
    constexpr int kNoClipping = 3;
    g_object_set(level, "clipping-method", kNoClipping, nullptr);
    g_object_set(headroom, "clipping-method", kNoClipping, nullptr);
    if (!gst_element_link_many(in, format, level, limiter, headroom, out, nullptr)) {
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    ghost(bin, in, "sink");
    ghost(bin, out, "src");
    auto measure = std::make_shared<Measure>();
    const gsthandle::Object<GstPad> measured(gst_element_get_static_pad(format, "src"));
    gst_pad_add_probe(
        measured.get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM), onData,
        new MeasureRef(measure), [](gpointer data) { delete static_cast<MeasureRef *>(data); });
    g_object_set_qdata_full(G_OBJECT(bin), binQuark(),
                            new Levelling{measure, level, limiter, headroom},
                            [](gpointer data) { delete static_cast<Levelling *>(data); });
    return bin;
}

void attach(GstElement *pipeline, GstElement *bin)
{
    const auto *own = static_cast<Levelling *>(g_object_get_qdata(G_OBJECT(bin), binQuark()));
    if (!pipeline || !own)
        return;
    g_object_set_qdata_full(G_OBJECT(pipeline), pipelineQuark(), new Levelling(*own),
                            [](gpointer data) { delete static_cast<Levelling *>(data); });
}

std::optional<double> take(GstElement *pipeline)
{
    Levelling *l = levelling(pipeline);
    return l ? l->measure->meter.take() : std::nullopt;
}

void setGain(GstElement *pipeline, double db, bool on)
{
    Levelling *l = levelling(pipeline);
    if (!l)
        return;
    if (l->applied == std::make_pair(db, on))
        return;
    l->applied = std::make_pair(db, on);
    const bool lifts = on && db > 0;
    const double gain = on ? std::pow(10.0, db / 20.0) : 1.0;
    // Float properties, passed as double through the variadic call.
    g_object_set(l->level, "amplification", lifts ? gain / kHeadroom : gain, nullptr);
    g_object_set(l->limiter, "enabled", gboolean(lifts), nullptr);
    g_object_set(l->headroom, "amplification", lifts ? kHeadroom : 1.0, nullptr);
}

} // namespace gstloudness
