#include "platform/media/GstPipeline.h"

#include "platform/base/AppInfo.h"
#include "platform/base/AsyncTask.h"
#include "platform/base/Log.h"
#include "platform/media/GstLoudness.h"
#include "platform/media/GstTapProbe.h"

#include <algorithm>
#include <mutex>

namespace {

// playbin's GstPlayFlags, which have no public header.
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagSoftVolume = 1u << 4;

constexpr guint kHttpTimeoutSeconds = 10;
constexpr gint kHttpRetries = 1;
constexpr const char *kWatermarkKey = "orbitune-start-watermark";

const char *factoryName(GstElement *element)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    return factory ? GST_OBJECT_NAME(factory) : "";
}

// Runs on whichever thread sets up the source; touches only the element.
void onSourceSetup(GstElement *, GstElement *source, gpointer)
{
    if (g_strcmp0(factoryName(source), "souphttpsrc") != 0)
        return;
    g_object_set(source, "user-agent", appinfo::kUserAgent, "iradio-mode", TRUE, "timeout",
                 kHttpTimeoutSeconds, "retries", kHttpRetries, nullptr);
}

// Network buffers start playback once a part of the buffer is filled and keep
// filling behind it, instead of waiting for the whole buffer.
void onDeepElementAdded(GstBin *playbin, GstBin *, GstElement *element, gpointer)
{
    gsttap::elementAdded(GST_ELEMENT(playbin), element);
    if (g_strcmp0(factoryName(element), "queue2") != 0)
        return;
    const int permille = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(playbin), kWatermarkKey));
    if (permille <= 0)
        return;
    const double high = std::clamp(permille / 1000.0, 0.02, 1.0);
    g_object_set(element, "low-watermark", std::min(0.01, high / 2), "high-watermark", high,
                 nullptr);
}

} // namespace

namespace gstpipeline {

bool ensureInitialized()
{
    static std::once_flag once;
    static bool initialized = false;
    std::call_once(once, [] {
        gsthandle::Error error;
        if (!gst_init_check(nullptr, nullptr, gsthandle::out(error))) {
            NSLog(lcMedia(), QtCriticalMsg, "GStreamer could not start: %@",
                  QString::fromUtf8(error ? error->message : ""));
            return;
        }
        // MP3 through libmpg123 rather than FFmpeg: the same sound, and the
        // FFmpeg plugin maps well over a hundred libraries (15 MB and more
        // of resident memory) before it decodes a frame.
        if (GstPluginFeature *mpg123 =
                gst_registry_lookup_feature(gst_registry_get(), "mpg123audiodec")) {
            gst_plugin_feature_set_rank(mpg123, GST_RANK_PRIMARY);
            gst_object_unref(mpg123);
        }
        // Sound goes to the desktop's sound server or to ALSA, never through
        // OpenAL: with the server slow to answer (a busy login), the
        // automatic sink went on to OpenAL, which starts threads of its own
        // probing ALSA and leaves them behind when that fails too.
        if (GstPluginFeature *openal =
                gst_registry_lookup_feature(gst_registry_get(), "openalsink")) {
            gst_plugin_feature_set_rank(openal, GST_RANK_NONE);
            gst_object_unref(openal);
        }
        // Its type finders go too: a stream's type is found by GStreamer's
        // own, which know every format a radio sends, and asking FFmpeg's
        // would load it all the same.
        GList *features = gst_registry_get_feature_list_by_plugin(gst_registry_get(), "libav");
        for (GList *f = features; f; f = f->next) {
            if (GST_IS_TYPE_FIND_FACTORY(f->data))
                gst_registry_remove_feature(gst_registry_get(), GST_PLUGIN_FEATURE(f->data));
        }
        gst_plugin_feature_list_free(features);
        initialized = true;
    });
    return initialized;
}

void warmUpInBackground()
{
    asynctask::run([] {
        if (!ensureInitialized())
            return;
        // What the feed pipeline loads anyway for a station of MP3 or Ogg
        // (AAC loads FFmpeg, which is left for when it is needed; so are
        // playbin's HTTP source and its TLS, which only files and HLS that
        // ends use).
        for (const char *name :
             {"playback", "coreelements", "app", "typefindfunctions", "audioparsers", "mpg123",
              "ogg", "vorbis", "opus", "audioconvert", "audioresample", "volume", "audiofx",
              "replaygain", "autodetect", "pulseaudio"}) {
            if (GstPlugin *plugin = gst_plugin_load_by_name(name))
                gst_object_unref(plugin);
        }
    });
}

gsthandle::Pipeline makePlaybin(const QUrl &url, const Settings &settings, QString *error)
{
    if (!ensureInitialized()) {
        *error = QStringLiteral("GStreamer is not available");
        return {};
    }
    gsthandle::Pipeline pipeline(gst_element_factory_make("playbin", nullptr));
    if (!pipeline) {
        *error = QStringLiteral("GStreamer playbin is missing");
        return {};
    }
    gst_object_ref_sink(pipeline.get());
    GstElement *playbin = pipeline.get();
    const QByteArray uri = url.toString(QUrl::FullyEncoded).toUtf8();
    g_object_set(playbin, "uri", uri.constData(), "flags", kPlayFlagAudio | kPlayFlagSoftVolume,
                 "buffer-duration", gint64(settings.bufferDurationMs) * GST_MSECOND, nullptr);
    if (GstElement *sink = gst_element_factory_make("autoaudiosink", nullptr))
        g_object_set(playbin, "audio-sink", sink, nullptr);
    if (GstElement *loudness = gstloudness::makeBin()) {
        g_object_set(playbin, "audio-filter", loudness, nullptr);
        gstloudness::attach(playbin, loudness);
    }
    g_object_set_data(G_OBJECT(playbin), kWatermarkKey,
                      GINT_TO_POINTER(int(settings.startWatermark * 1000)));
    gsttap::install(playbin, settings.tap);
    g_signal_connect(playbin, "source-setup", G_CALLBACK(onSourceSetup), nullptr);
    g_signal_connect(playbin, "deep-element-added", G_CALLBACK(onDeepElementAdded), nullptr);
    return pipeline;
}

bool isLive(GstElement *pipeline)
{
    gint64 duration = -1;
    if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
        return false;
    return !gst_element_query_duration(pipeline, GST_FORMAT_BYTES, &duration) || duration <= 0;
}

QStringList elementFactories(GstElement *pipeline)
{
    QStringList names;
    if (!pipeline || !GST_IS_BIN(pipeline))
        return names;
    gsthandle::Iterator it(gst_bin_iterate_recurse(GST_BIN(pipeline)));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it.get(), &item) == GST_ITERATOR_OK) {
        names << QString::fromUtf8(factoryName(GST_ELEMENT(g_value_get_object(&item))));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return names;
}

bool playsSilently(GstElement *pipeline)
{
    GstElement *configured = nullptr;
    g_object_get(pipeline, "audio-sink", &configured, nullptr);
    const gsthandle::Object<GstElement> sink(configured);
    if (!sink || !GST_IS_BIN(sink.get()))
        return false;
    gsthandle::Iterator it(gst_bin_iterate_sinks(GST_BIN(sink.get())));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it.get(), &item) != GST_ITERATOR_OK)
        return false;
    auto *actual = GST_ELEMENT(g_value_get_object(&item));
    const bool silent = g_strcmp0(factoryName(actual), "fakesink") == 0;
    g_value_unset(&item);
    return silent;
}

} // namespace gstpipeline
