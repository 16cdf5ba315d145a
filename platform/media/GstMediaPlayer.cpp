#include "platform/media/GstMediaPlayer.h"

#include "platform/media/GstBusPump.h"
#include "platform/base/Log.h"
#include "platform/media/PlaylistResolver.h"
#include "platform/media/StreamTitle.h"

#include <gst/gst.h>

#include <algorithm>

namespace {

// playbin's GstPlayFlags, which have no public header.
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagSoftVolume = 1u << 4;

constexpr const char *kUserAgent = "Orbitune/" ORBITUNE_VERSION;
constexpr guint kHttpTimeoutSeconds = 10;
constexpr gint kHttpRetries = 1;
constexpr const char *kWatermarkKey = "orbitune-start-watermark";

QString fromGChar(const gchar *text)
{
    return text ? streamtitle::decode(QByteArray(text)) : QString();
}

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
    g_object_set(source, "user-agent", kUserAgent, "iradio-mode", TRUE, "timeout",
                 kHttpTimeoutSeconds, "retries", kHttpRetries, nullptr);
}

// Network buffers start playback once a part of the buffer is filled and keep
// filling behind it, instead of waiting for the whole buffer.
void onDeepElementAdded(GstBin *playbin, GstBin *, GstElement *element, gpointer)
{
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

bool GstMediaPlayer::ensureInitialized()
{
    if (gst_is_initialized())
        return true;
    GError *error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        NSLog("GStreamer could not start: %@", QString::fromUtf8(error ? error->message : ""));
        g_clear_error(&error);
        return false;
    }
    return true;
}

GstMediaPlayer::GstMediaPlayer(std::shared_ptr<MediaItem> item, QObject *parent)
    : GstMediaPlayer(std::move(item), Options{}, parent)
{
}

GstMediaPlayer::GstMediaPlayer(std::shared_ptr<MediaItem> item, const Options &options,
                               QObject *parent)
    : MediaPlayer(parent), m_item(std::move(item)), m_options(options)
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        const QString error = QStringLiteral("Timed out opening %1").arg(m_streamUrl.toString());
        NSLog("stream: %@", error);
        if (m_phase == Phase::Reconnecting)
            onDropped(error);
        else
            onOpenFailed(error);
    });
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, [this] { openStream(m_streamUrl); });
    start();
}

GstMediaPlayer::~GstMediaPlayer()
{
    m_reconnectTimer.stop();
    delete m_resolver;
    m_resolver = nullptr;
    teardownPipeline();
}

void GstMediaPlayer::replaceCurrentItem(std::shared_ptr<MediaItem> item)
{
    m_reconnectTimer.stop();
    delete m_resolver;
    m_resolver = nullptr;
    teardownPipeline();
    m_item = std::move(item);
    m_wantPlaying = false;
    m_reconnectAttempts = 0;
    m_lastError.clear();
    m_streamUrl.clear();
    start();
}

void GstMediaPlayer::setPhase(Phase phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged(phase);
}

void GstMediaPlayer::start()
{
    setPhase(Phase::Resolving);
    if (!m_item) {
        setPhase(Phase::Failed);
        return;
    }
    m_resolver = new PlaylistResolver(m_item->url(), this);
    connect(m_resolver, &PlaylistResolver::candidate, this, [this](const QUrl &url) {
        setPhase(Phase::Opening);
        openStream(url);
    });
    connect(m_resolver, &PlaylistResolver::exhausted, this, &GstMediaPlayer::fail);
    m_resolver->next();
}

void GstMediaPlayer::openStream(const QUrl &url)
{
    teardownPipeline();
    m_streamUrl = url;
    if (!ensureInitialized()) {
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("GStreamer is not available")); },
            Qt::QueuedConnection);
        return;
    }
    m_pipeline = gst_element_factory_make("playbin", nullptr);
    if (!m_pipeline) {
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("GStreamer playbin is missing")); },
            Qt::QueuedConnection);
        return;
    }
    gst_object_ref_sink(m_pipeline);
    const QByteArray uri = url.toString(QUrl::FullyEncoded).toUtf8();
    g_object_set(m_pipeline, "uri", uri.constData(), "flags", kPlayFlagAudio | kPlayFlagSoftVolume,
                 "buffer-duration", gint64(m_options.bufferDurationMs) * GST_MSECOND, nullptr);
    if (GstElement *sink = gst_element_factory_make("autoaudiosink", nullptr))
        g_object_set(m_pipeline, "audio-sink", sink, nullptr);
    g_object_set_data(G_OBJECT(m_pipeline), kWatermarkKey,
                      GINT_TO_POINTER(int(m_options.startWatermark * 1000)));
    g_signal_connect(m_pipeline, "source-setup", G_CALLBACK(onSourceSetup), nullptr);
    g_signal_connect(m_pipeline, "deep-element-added", G_CALLBACK(onDeepElementAdded), nullptr);

    GstBus *bus = gst_element_get_bus(m_pipeline);
    m_pump = std::make_unique<GstBusPump>(bus, [this](GstMessage *m) { handleMessage(m); });
    gst_object_unref(bus);

    m_watchdog.start(m_options.openTimeoutMs);
    const GstStateChangeReturn ret = gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    if (ret == GST_STATE_CHANGE_NO_PREROLL) {
        // A live source: nothing to preroll, it is as ready as it gets.
        m_noPreroll = true;
        GstElement *pipeline = m_pipeline;
        QMetaObject::invokeMethod(
            this,
            [this, pipeline] {
                if (m_pipeline == pipeline &&
                    (m_phase == Phase::Opening || m_phase == Phase::Reconnecting))
                    onPrerolled();
            },
            Qt::QueuedConnection);
    }
    // A failure posts an error message, which the pump delivers.
}

void GstMediaPlayer::teardownPipeline()
{
    m_watchdog.stop();
    m_pump.reset(); // flushes the bus: nothing of this pipeline is delivered any more
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
    }
    m_buffering = false;
    m_noPreroll = false;
}

void GstMediaPlayer::handleMessage(GstMessage *message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        if (m_phase == Phase::Opening || m_phase == Phase::Reconnecting)
            onPrerolled();
        break;
    case GST_MESSAGE_ERROR: {
        GError *error = nullptr;
        gchar *debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        const QString text = QString::fromUtf8(error ? error->message : "unknown error");
        NSLog("stream error: %@ (%@)", text, QString::fromUtf8(debug ? debug : ""));
        g_clear_error(&error);
        g_free(debug);
        if (m_phase == Phase::Opening)
            onOpenFailed(text);
        else if (m_phase == Phase::Ready || m_phase == Phase::Reconnecting)
            onDropped(text);
        break;
    }
    case GST_MESSAGE_WARNING: {
        GError *error = nullptr;
        gst_message_parse_warning(message, &error, nullptr);
        NSLog("stream warning: %@", QString::fromUtf8(error ? error->message : ""));
        g_clear_error(&error);
        break;
    }
    case GST_MESSAGE_EOS:
        onEndOfStream();
        break;
    case GST_MESSAGE_BUFFERING: {
        if (m_noPreroll)
            break; // live sources do not buffer
        gint percent = 100;
        gst_message_parse_buffering(message, &percent);
        if (percent < 100 && !m_buffering) {
            m_buffering = true;
            if (m_phase == Phase::Ready && m_wantPlaying)
                gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
        } else if (percent >= 100 && m_buffering) {
            m_buffering = false;
            applyTargetState();
        }
        break;
    }
    case GST_MESSAGE_CLOCK_LOST:
        if (m_phase == Phase::Ready && m_wantPlaying) {
            gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
            gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
        }
        break;
    case GST_MESSAGE_LATENCY:
        gst_bin_recalculate_latency(GST_BIN(m_pipeline));
        break;
    case GST_MESSAGE_TAG: {
        GstTagList *tags = nullptr;
        gst_message_parse_tag(message, &tags);
        gchar *title = nullptr;
        gchar *artist = nullptr;
        gst_tag_list_get_string(tags, GST_TAG_TITLE, &title);
        gst_tag_list_get_string(tags, GST_TAG_ARTIST, &artist);
        const QString nowPlaying = streamtitle::compose(fromGChar(title), fromGChar(artist));
        g_free(title);
        g_free(artist);
        gst_tag_list_unref(tags);
        if (!nowPlaying.isEmpty() && m_item && nowPlaying != m_item->nowPlaying()) {
            NSLog("now playing: %@", nowPlaying);
            m_item->setNowPlaying(nowPlaying);
        }
        break;
    }
    default:
        break;
    }
}

void GstMediaPlayer::onPrerolled()
{
    m_watchdog.stop();
    reportAudioOutput();
    const bool wasReconnecting = m_phase == Phase::Reconnecting;
    setPhase(Phase::Ready);
    QPointer<GstMediaPlayer> self(this);
    if (wasReconnecting) {
        m_reconnectAttempts = 0;
        NSLog("stream reopened: %@", m_streamUrl.toString());
        m_item->setReconnecting(false);
        if (!self)
            return;
        if (!m_wantPlaying && isLiveStream()) {
            releaseConnection();
            return;
        }
    } else {
        NSLog("stream ready: %@", m_streamUrl.toString());
        m_item->setStatus(MediaItem::StatusReadyToPlay);
        if (!self)
            return;
    }
    applyTargetState();
}

void GstMediaPlayer::onOpenFailed(const QString &error)
{
    teardownPipeline();
    m_lastError = error;
    if (m_resolver) {
        // The next entry of a playlist, if there is one.
        setPhase(Phase::Resolving);
        m_resolver->next();
    } else {
        fail(error);
    }
}

void GstMediaPlayer::onDropped(const QString &error)
{
    teardownPipeline();
    m_lastError = error;
    if (m_reconnectAttempts >= m_options.reconnectDelaysMs.size()) {
        QPointer<GstMediaPlayer> self(this);
        m_item->setReconnecting(false);
        if (self)
            fail(error);
        return;
    }
    const int delay = m_options.reconnectDelaysMs.at(m_reconnectAttempts++);
    NSLog("stream dropped (%@), reconnecting in %ld ms", error, delay);
    setPhase(Phase::Reconnecting);
    m_reconnectTimer.start(delay);
    m_item->setReconnecting(true);
}

void GstMediaPlayer::onEndOfStream()
{
    const QString ended = QStringLiteral("The stream ended");
    switch (m_phase) {
    case Phase::Opening:
        onOpenFailed(ended);
        break;
    case Phase::Reconnecting:
        onDropped(ended);
        break;
    case Phase::Ready:
        if (isLiveStream()) {
            onDropped(ended);
        } else {
            NSLog("stream finished: %@", m_streamUrl.toString());
            m_wantPlaying = false;
            releaseConnection();
        }
        break;
    default:
        break;
    }
}

void GstMediaPlayer::fail(const QString &error)
{
    m_reconnectTimer.stop();
    teardownPipeline();
    setPhase(Phase::Failed);
    NSLog("stream failed: %@", error);
    if (m_item) {
        m_item->setErrorString(error);
        m_item->setStatus(MediaItem::StatusFailed);
    }
}

void GstMediaPlayer::applyTargetState()
{
    if (!m_pipeline || m_phase != Phase::Ready)
        return;
    if (!m_wantPlaying)
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    else if (!m_buffering)
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

void GstMediaPlayer::releaseConnection()
{
    teardownPipeline();
    setPhase(Phase::Released);
}

bool GstMediaPlayer::isLiveStream() const
{
    if (m_noPreroll || !m_pipeline)
        return true;
    // A stream with an end has a duration, in time or at least in bytes
    // (a file served with its length); radio streams have neither.
    gint64 duration = -1;
    if (gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
        return false;
    return !gst_element_query_duration(m_pipeline, GST_FORMAT_BYTES, &duration) || duration <= 0;
}

void GstMediaPlayer::play()
{
    m_wantPlaying = true;
    switch (m_phase) {
    case Phase::Ready:
        applyTargetState();
        break;
    case Phase::Released:
        // The connection was let go on pause; open the same stream again.
        setPhase(Phase::Reconnecting);
        openStream(m_streamUrl);
        break;
    default:
        break; // applied once the stream is ready
    }
}

void GstMediaPlayer::pause()
{
    m_wantPlaying = false;
    if (m_phase != Phase::Ready || !m_pipeline)
        return;
    // A live network stream cannot be resumed where it stopped; holding the
    // connection would only fill buffers, so let it go.
    if (isLiveStream())
        releaseConnection();
    else
        applyTargetState();
}

void GstMediaPlayer::reportAudioOutput()
{
    GstElement *sink = nullptr;
    g_object_get(m_pipeline, "audio-sink", &sink, nullptr);
    if (!sink)
        return;
    if (GST_IS_BIN(sink)) {
        GstIterator *it = gst_bin_iterate_sinks(GST_BIN(sink));
        GValue item = G_VALUE_INIT;
        if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            auto *actual = GST_ELEMENT(g_value_get_object(&item));
            if (g_strcmp0(factoryName(actual), "fakesink") == 0)
                NSLog("No audio output device available, playing silently");
            g_value_unset(&item);
        }
        gst_iterator_free(it);
    }
    gst_object_unref(sink);
}

std::unique_ptr<MediaPlayer> GstMediaPlayerFactory::playerWithItem(std::shared_ptr<MediaItem> item)
{
    return std::make_unique<GstMediaPlayer>(std::move(item), m_options);
}
