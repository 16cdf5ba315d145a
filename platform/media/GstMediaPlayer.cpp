#include "platform/media/GstMediaPlayer.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/media/GstPipeline.h"
#include "platform/media/GstStreamFormat.h"
#include "platform/media/GstVolume.h"
#include "platform/media/LoudnessLeveller.h"
#include "platform/media/PlaybinEngine.h"
#include "platform/stream/PlaylistResolver.h"

#include <QPointer>

#include <utility>

bool GstMediaPlayer::ensureInitialized()
{
    return gstpipeline::ensureInitialized();
}

void GstMediaPlayer::warmUpInBackground()
{
    gstpipeline::warmUpInBackground();
}

double GstMediaPlayer::defaultTimeScale()
{
    return Clock::shared()->timeScale();
}

namespace {

ReconnectPolicy::Schedule reconnectSchedule(const GstMediaPlayer::Options &options)
{
    return {options.reconnectDelaysMs, options.reconnectRepeatMs, options.reconnectBudgetMs,
            options.reconnectSteadyMs, options.probeIntervalMs,   options.timeScale};
}

FeedEngine::Settings feedSettings(const GstMediaPlayer::Options &options)
{
    FeedEngine::Settings settings;
    settings.openTimeoutMs = options.openTimeoutMs;
    settings.timelineBytes = options.timelineBytes;
    return settings;
}

} // namespace

GstMediaPlayer::GstMediaPlayer(std::shared_ptr<MediaItem> item, QObject *parent)
    : GstMediaPlayer(std::move(item), Options{}, parent)
{
}

GstMediaPlayer::GstMediaPlayer(std::shared_ptr<MediaItem> item, const Options &options,
                               QObject *parent)
    : MediaPlayer(parent), m_item(std::move(item)), m_options(options),
      m_reconnect(reconnectSchedule(options)), m_bus(*this, m_item)
{
    const auto onMessage = [this](GstMessage *message) { m_bus.handle(message, pipeline()); };
    FeedEngine::Host &host = *this;
    m_feed = std::make_unique<FeedEngine>(host, m_item, feedSettings(options), onMessage);
    m_playbin = std::make_unique<PlaybinEngine>(onMessage);
    m_leveller = std::make_unique<LoudnessLeveller>(m_item ? m_item->url().toString() : QString(),
                                                    [this] { return pipeline(); });
    connect(m_feed.get(), &FeedEngine::timeShiftChanged, this, &MediaPlayer::timeShiftChanged);
    connect(m_feed.get(), &FeedEngine::seeked, this, &MediaPlayer::seeked);
    connect(m_feed.get(), &FeedEngine::resumedFromOldest, this, &MediaPlayer::resumedFromOldest);
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        const QString error = QStringLiteral("Timed out opening %1").arg(m_streamUrl.toString());
        NSLog(lcMedia(), QtWarningMsg, "stream: %@", error);
        if (m_phase == Phase::Reconnecting)
            onDropped(error, m_feed->prerolled());
        else
            onOpenFailed(error);
    });
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &GstMediaPlayer::onReconnectTimer);
    connect(&m_probe, &StreamProbe::answering, this, &GstMediaPlayer::onProbeAnswered);
    start();
}

GstMediaPlayer::~GstMediaPlayer()
{
    stopReconnecting();
    m_resolver.reset();
    teardownPipeline();
}

namespace {

// An address whose name says it is a playlist; no use opening it as audio.
bool namesPlaylist(const QUrl &url)
{
    static const QStringList kSuffixes = {QStringLiteral(".pls"), QStringLiteral(".m3u"),
                                          QStringLiteral(".xspf"), QStringLiteral(".asx")};
    const QString path = url.path().toLower();
    for (const QString &suffix : kSuffixes) {
        if (path.endsWith(suffix))
            return true;
    }
    return false;
}

} // namespace

void GstMediaPlayer::start()
{
    m_phase = Phase::Resolving;
    if (!m_item) {
        m_phase = Phase::Failed;
        return;
    }
    const QUrl url = m_item->url();
    m_resolver = std::make_unique<PlaylistResolver>(url);
    connect(m_resolver.get(), &PlaylistResolver::candidate, this, [this](const QUrl &candidate) {
        if (m_speculative && pipeline()) {
            if (candidate == m_streamUrl) {
                m_speculative = false; // the address itself is the stream, being opened
                return;
            }
            // A playlist: its entry is opened once the early attempt has
            // ended by itself (see onOpenFailed).
            m_heldCandidate = candidate;
            return;
        }
        m_speculative = false;
        m_phase = Phase::Opening;
        openStream(candidate);
    });
    connect(m_resolver.get(), &PlaylistResolver::exhausted, this, [this](const QString &error) {
        if (m_speculative && pipeline()) {
            m_heldFailure = error;
            return;
        }
        fail(error);
    });
    m_resolver->next();
    // Most addresses are the stream itself. The pipeline opens it while the
    // resolver still asks whether it is a playlist, instead of after: the
    // answer costs a round trip, and a stream server may take a while to
    // send its first bytes. Should the resolver find a playlist or an error
    // page, its verdict takes effect once this attempt has ended.
    const QString scheme = url.scheme().toLower();
    if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !namesPlaylist(url)) {
        m_phase = Phase::Opening;
        m_speculative = true;
        openStream(url);
    }
}

void GstMediaPlayer::openStream(const QUrl &url)
{
    m_probe.stop();
    if (feedsItself(url)) {
        openFeed(url);
        return;
    }
    teardownPipeline();
    m_streamUrl = url;
    QString error;
    gstpipeline::Settings settings;
    settings.bufferDurationMs = m_options.bufferDurationMs;
    settings.startWatermark = m_options.startWatermark;
    settings.tap = m_item ? m_item->streamTap() : nullptr;
    if (!m_playbin->open(url, settings, &error)) {
        QMetaObject::invokeMethod(
            this, [this, error] { fail(error); }, Qt::QueuedConnection);
        return;
    }
    m_leveller->apply(); // before the first samples reach it
    m_watchdog.start(m_options.openTimeoutMs);
    if (m_playbin->hasNoPreroll()) {
        GstElement *opened = m_playbin->pipeline();
        QMetaObject::invokeMethod(
            this,
            [this, opened] {
                if (m_playbin->pipeline() == opened &&
                    (m_phase == Phase::Opening || m_phase == Phase::Reconnecting))
                    onPrerolled();
            },
            Qt::QueuedConnection);
    }
}

bool GstMediaPlayer::feedsItself(const QUrl &url) const
{
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !m_playbinUrls.contains(url);
}

// A reconnect goes on into the decoder the feed had; anything else starts
// a fresh feed pipeline.
void GstMediaPlayer::openFeed(const QUrl &url)
{
    const bool sameDecoder =
        m_feed->prerolled() && m_streamUrl == url && m_phase == Phase::Reconnecting;
    if (!sameDecoder) {
        teardownPipeline();
        m_streamUrl = url;
        if (!m_feed->start())
            return;
        m_leveller->apply();
    }
    m_watchdog.start(m_options.openTimeoutMs);
    m_feed->connectTo(url);
}

void GstMediaPlayer::teardownPipeline()
{
    m_watchdog.stop();
    m_feed->close();
    m_playbin->close();
    m_buffering = false;
}

GstElement *GstMediaPlayer::pipeline() const
{
    return m_feed->pipeline() ? m_feed->pipeline() : m_playbin->pipeline();
}

void GstMediaPlayer::onPrerolled()
{
    m_watchdog.stop();
    if (m_speculative) {
        // Decoded audio: whatever the resolver would say, this is the stream.
        m_speculative = false;
        m_heldCandidate.clear();
        m_heldFailure.reset();
        m_resolver.reset();
    }
    if (m_feed->pipeline() ? m_feed->playsSilently() : m_playbin->playsSilently())
        NSLog(lcMedia(), QtWarningMsg, "No audio output device available, playing silently");
    const bool wasReconnecting = m_phase == Phase::Reconnecting;
    m_failWhenHeard.reset(); // back after all (the network returned)
    m_phase = Phase::Ready;
    m_feed->setPrerolled();
    m_leveller->apply();
    if (m_item)
        gstformat::readDecoded(*m_item, pipeline());
    QPointer<GstMediaPlayer> self(this);
    if (wasReconnecting) {
        const ReconnectPolicy::Decision next = m_reconnect.reopened(m_wantPlaying);
        if (next.step == ReconnectPolicy::Step::Wait)
            m_reconnectTimer.start(next.ms); // until the steady check
        NSLog(lcMedia(), QtInfoMsg, "stream reopened: %@", m_streamUrl.toString());
        m_item->setReconnecting(false);
        if (!self)
            return;
        if (!m_wantPlaying && isLiveStream() && !(m_pauseHolds && m_feed->hasClient())) {
            releaseConnection();
            return;
        }
    } else {
        NSLog(lcMedia(), QtInfoMsg, "stream ready: %@", m_streamUrl.toString());
        m_item->setStatus(MediaItem::StatusReadyToPlay);
        if (!self)
            return;
    }
    applyTargetState();
}

void GstMediaPlayer::onOpenFailed(const QString &error)
{
    teardownPipeline();
    if (m_speculative) {
        // Opened ahead of the resolver, which has the last word. A verdict
        // that came while the attempt ran was held until now: GStreamer
        // 1.22's HTTP source can crash when stopped in the middle of a
        // request, and an address that is no audio stream ends its attempt
        // by itself within moments.
        m_speculative = false;
        m_phase = Phase::Resolving;
        if (m_heldFailure) {
            fail(*std::exchange(m_heldFailure, std::nullopt));
        } else if (m_heldCandidate.isValid()) {
            m_phase = Phase::Opening;
            openStream(std::exchange(m_heldCandidate, QUrl()));
        } else {
            NSLog(lcMedia(), QtInfoMsg,
                  "stream: %@ did not open as audio (%@); waiting for the playlist check",
                  m_streamUrl.toString(), error);
        }
        return;
    }
    if (m_resolver) {
        // The next entry of a playlist, if there is one.
        m_phase = Phase::Resolving;
        m_resolver->next();
    } else {
        fail(error);
    }
}

void GstMediaPlayer::onEndOfStream()
{
    const QString ended = QStringLiteral("The stream ended");
    switch (m_phase) {
    case Phase::Opening: onOpenFailed(ended); break;
    case Phase::Reconnecting: onDropped(ended); break;
    case Phase::Ready:
        if (isLiveStream()) {
            onDropped(ended);
        } else {
            NSLog(lcMedia(), QtInfoMsg, "stream finished: %@", m_streamUrl.toString());
            m_wantPlaying = false;
            m_reconnect.ended();
            m_reconnectTimer.stop();
            releaseConnection();
            m_item->markEnded();
        }
        break;
    default: break;
    }
}

void GstMediaPlayer::fail(const QString &error)
{
    m_failWhenHeard.reset();
    stopReconnecting();
    teardownPipeline();
    m_phase = Phase::Failed;
    NSLog(lcMedia(), QtWarningMsg, "stream failed: %@", error);
    if (m_item) {
        QPointer<GstMediaPlayer> self(this);
        m_item->setErrorString(error);
        m_item->setStatus(MediaItem::StatusFailed);
        if (self)
            m_item->setReconnecting(false);
    }
}

bool GstMediaPlayer::soundCanPlay() const
{
    return m_phase == Phase::Ready || (m_phase == Phase::Reconnecting && m_feed->prerolled());
}

void GstMediaPlayer::applyTargetState()
{
    GstElement *playing = pipeline();
    if (!playing || !soundCanPlay())
        return;
    // Our own feed starts the sound once a share of the network buffer is
    // there, as playbin's queue does.
    const bool cushioned =
        !m_feed->pipeline() ||
        m_feed->cushioned(qint64(m_options.bufferDurationMs * m_options.startWatermark));
    if (!m_wantPlaying || m_feed->decodesForNothing())
        gst_element_set_state(playing, GST_STATE_PAUSED);
    else if (!m_buffering && cushioned)
        gst_element_set_state(playing, GST_STATE_PLAYING);
    m_feed->setSoundRunning(m_wantPlaying && !m_buffering && cushioned);
}

QStringList GstMediaPlayer::pipelineElements() const
{
    return gstpipeline::elementFactories(pipeline());
}

void GstMediaPlayer::releaseConnection()
{
    m_failWhenHeard.reset();
    teardownPipeline();
    m_phase = Phase::Released;
}

bool GstMediaPlayer::isLiveStream() const
{
    return !m_playbin->pipeline() || m_playbin->playsLive();
}

void GstMediaPlayer::play()
{
    m_wantPlaying = true;
    switch (m_phase) {
    case Phase::Ready: {
        // Reopened while nobody listened: the steady sound starts now.
        const ReconnectPolicy::Decision next = m_reconnect.listening();
        if (next.step == ReconnectPolicy::Step::Wait)
            m_reconnectTimer.start(next.ms);
        m_feed->resumeHeld();
        applyTargetState();
        m_feed->followPosition();
        break;
    }
    case Phase::Reconnecting:
        // Held through a drop: what is kept plays on while it reconnects.
        if (soundCanPlay()) {
            m_feed->resumeHeld();
            applyTargetState();
            m_feed->followPosition();
        }
        break;
    case Phase::Released:
        // The connection was let go on pause; open the same stream again.
        m_phase = Phase::Reconnecting;
        openStream(m_streamUrl);
        break;
    default: break; // applied once the stream is ready
    }
}

void GstMediaPlayer::pause()
{
    m_wantPlaying = false;
    const bool holds = m_pauseHolds && m_feed->pipeline();
    if (holds && soundCanPlay()) {
        // The station is held: its bytes go on filling the timeline (a
        // reconnect under way goes on too), and play goes on from here,
        // behind live.
        m_feed->holdHere();
        applyTargetState();
        return;
    }
    stopReconnecting(); // play() later starts afresh
    if (m_phase == Phase::Reconnecting) {
        // Nobody is listening any more: stop trying. play() opens it again.
        releaseConnection();
        m_item->setReconnecting(false);
        return;
    }
    if (m_phase != Phase::Ready || !pipeline())
        return;
    // A live network stream cannot be resumed where it stopped; holding the
    // connection would only fill buffers, so let it go.
    if (isLiveStream())
        releaseConnection();
    else
        applyTargetState();
}

// Staying on air: after a drop the player does what its ReconnectPolicy
// says: wait, probe meanwhile, try again, or give up once the retry budget
// is spent; a network that returns or a machine that wakes up cuts the wait
// short.
using Step = ReconnectPolicy::Step;

void GstMediaPlayer::stopReconnecting()
{
    m_reconnect.stop();
    m_reconnectTimer.stop();
    m_probe.stop();
}

void GstMediaPlayer::onDropped(const QString &error, bool keepDecoder)
{
    // A connection of our own that dropped leaves the decoder as it is: the
    // next one goes on into it.
    if (keepDecoder) {
        m_watchdog.stop();
        m_feed->dropClient();
    } else {
        teardownPipeline();
    }
    const ReconnectPolicy::Decision next = m_reconnect.dropped();
    // Behind live the decoder plays on from what is kept: the drop is told
    // once the play position reaches it (see followPosition).
    const bool playsOn = keepDecoder && m_feed->playsOnBehindLive();
    if (next.step == Step::GiveUp && playsOn) {
        NSLog(lcMedia(), QtWarningMsg, "stream gone (%@); playing what is kept to its end", error);
        stopReconnecting();
        m_phase = Phase::Reconnecting;
        m_failWhenHeard = error;
        m_feed->wakeFollower();
        return;
    }
    if (next.step == Step::GiveUp) {
        // Reported as a failure while still reconnecting: the item never
        // looks ready in between.
        fail(error);
        return;
    }
    NSLog(lcMedia(), QtWarningMsg, "stream dropped (%@), reconnecting in %ld ms", error, next.ms);
    m_phase = Phase::Reconnecting;
    m_reconnectTimer.start(next.ms);
    if (next.probeMs > 0)
        m_probe.start(m_streamUrl, next.probeMs);
    if (playsOn)
        m_feed->wakeFollower();
    else
        m_item->setReconnecting(true);
}

void GstMediaPlayer::onReconnectTimer()
{
    const ReconnectPolicy::Decision next = m_reconnect.timePassed();
    switch (next.step) {
    case Step::Attempt: openStream(m_streamUrl); break;
    case Step::Wait: m_reconnectTimer.start(next.ms); break;
    case Step::Steady:
        NSLog(lcMedia(), QtInfoMsg, "stream steady again, the next drop has the whole budget: %@",
              m_streamUrl.toString());
        break;
    default: break;
    }
}

void GstMediaPlayer::onProbeAnswered()
{
    if (m_reconnect.probeAnswered().step != Step::Attempt)
        return;
    NSLog(lcMedia(), QtInfoMsg, "stream answers again: %@", m_streamUrl.toString());
    m_reconnectTimer.stop();
    openStream(m_streamUrl);
}

void GstMediaPlayer::reconnectNow(ReconnectReason reason)
{
    const bool onAir = m_phase == Phase::Ready && m_wantPlaying && isLiveStream();
    if (m_reconnect.reconnectNow(reason, onAir).step != Step::Attempt)
        return;
    m_reconnectTimer.stop();
    if (m_phase == Phase::Reconnecting) {
        NSLog(lcMedia(), QtInfoMsg, "reconnecting at once: %@",
              reason == ReconnectReason::Resumed ? "woke up" : "network is back");
        openStream(m_streamUrl);
        return;
    }
    NSLog(lcMedia(), QtInfoMsg, "woke up: reopening %@", m_streamUrl.toString());
    m_phase = Phase::Reconnecting;
    openStream(m_streamUrl);
    m_item->setReconnecting(true);
}

// The feed engine's connections and what it has played.

void GstMediaPlayer::feedConnected()
{
    if (m_phase == Phase::Reconnecting && m_feed->prerolled()) {
        m_feed->joinNewConnection();
        onPrerolled();
    }
}

void GstMediaPlayer::feedFailed(const QString &error)
{
    NSLog(lcMedia(), QtWarningMsg, "stream: %@", error);
    if (m_phase == Phase::Opening)
        onOpenFailed(error);
    else if (m_phase == Phase::Ready || m_phase == Phase::Reconnecting)
        onDropped(error, m_feed->prerolled());
}

// HLS or an M3U playlist: the resolver tells which while the address is
// opened early; otherwise it was found to be HLS, which the HLS client reads.
void GstMediaPlayer::feedIsPlaylist()
{
    if (m_speculative)
        feedFailed(QStringLiteral("A playlist, not audio"));
    else
        openStream(m_streamUrl);
}

void GstMediaPlayer::feedNeedsPlaybin()
{
    m_playbinUrls.insert(m_streamUrl);
    openStream(m_streamUrl);
}

void GstMediaPlayer::feedMayStartSound()
{
    if (soundCanPlay() && m_wantPlaying && !m_feed->soundRuns())
        applyTargetState();
}

bool GstMediaPlayer::feedHeardAll()
{
    if (m_phase != Phase::Reconnecting)
        return true;
    // What was kept before the drop has been heard: now it shows.
    if (m_failWhenHeard) {
        fail(*std::exchange(m_failWhenHeard, std::nullopt));
        return false;
    }
    if (m_item && !m_item->isReconnecting()) {
        QPointer<GstMediaPlayer> self(this);
        m_item->setReconnecting(true);
        if (!self)
            return false;
    }
    return true;
}

// What the pipeline's bus messages mean for the phase.

void GstMediaPlayer::pipelinePrerolled()
{
    // A feed's decoder kept across a drop prerolls again after a pause or a
    // seek; the reconnect is done when a new connection begins.
    if (m_phase == Phase::Reconnecting && m_feed->prerolled())
        return;
    if (m_phase == Phase::Opening || m_phase == Phase::Reconnecting)
        onPrerolled();
}

void GstMediaPlayer::pipelineFailed(const QString &error)
{
    if (m_phase == Phase::Opening)
        onOpenFailed(error);
    else if (m_phase == Phase::Ready || m_phase == Phase::Reconnecting)
        onDropped(error);
}

void GstMediaPlayer::pipelineBuffering(int percent)
{
    if (m_playbin->hasNoPreroll())
        return; // live sources do not buffer
    if (percent < 100 && !m_buffering) {
        m_buffering = true;
        if (m_phase == Phase::Ready && m_wantPlaying)
            gst_element_set_state(pipeline(), GST_STATE_PAUSED);
    } else if (percent >= 100 && m_buffering) {
        m_buffering = false;
        applyTargetState();
    }
}

void GstMediaPlayer::pipelineLostClock()
{
    if (m_phase == Phase::Ready && m_wantPlaying) {
        gst_element_set_state(pipeline(), GST_STATE_PAUSED);
        gst_element_set_state(pipeline(), GST_STATE_PLAYING);
    }
}

// The listener's volume and mute on whichever engine plays; and whether the
// sound is heard here at all. Playbin, which reads the network itself, is
// only muted while it plays elsewhere.

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
    m_feed->setVolume(m_volume, m_muted);
    m_playbin->setVolume(m_volume, m_muted);
}

double GstMediaPlayer::pipelineVolume() const
{
    return gstvolume::linear(pipeline());
}

void GstMediaPlayer::setSoundElsewhere(bool elsewhere)
{
    if (elsewhere == m_elsewhere)
        return;
    m_elsewhere = elsewhere;
    if (!m_feed->setSoundElsewhere(elsewhere))
        return;
    applyTargetState();
    m_feed->followPosition();
}

// Time-shift is the feed engine's; playbin keeps nothing to seek in.

bool GstMediaPlayer::canSeek() const
{
    return m_feed->canSeek();
}

void GstMediaPlayer::seekBy(qint64 ms)
{
    m_feed->seekBy(ms);
}

void GstMediaPlayer::goLive()
{
    m_feed->goLive();
}

qint64 GstMediaPlayer::timeBehindLiveMs() const
{
    return m_feed->timeBehindLiveMs();
}

qint64 GstMediaPlayer::keptMs() const
{
    return m_feed->keptMs();
}

qint64 GstMediaPlayer::positionMs() const
{
    return m_feed->positionMs();
}

QString GstMediaPlayer::describeState() const
{
    GstState current = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gint64 position = -1;
    if (GstElement *playing = pipeline()) {
        gst_element_get_state(playing, &current, &pending, 0);
        gst_element_query_position(playing, GST_FORMAT_TIME, &position);
    }
    return QStringLiteral("phase %1, wanted %2, running %3, buffering %4, pipeline %5 (to %6) "
                          "at %7 ms; %8")
        .arg(int(m_phase))
        .arg(m_wantPlaying)
        .arg(m_feed->soundRuns())
        .arg(m_buffering)
        .arg(QLatin1String(gst_element_state_get_name(current)),
             QLatin1String(gst_element_state_get_name(pending)))
        .arg(position / GST_MSECOND)
        .arg(m_feed->describeState());
}

std::unique_ptr<MediaPlayer> GstMediaPlayerFactory::playerWithItem(std::shared_ptr<MediaItem> item)
{
    return std::make_unique<GstMediaPlayer>(std::move(item), m_options);
}

#include "moc_GstMediaPlayer.cpp"

void GstMediaPlayer::setLevelling(bool on, double targetLufs)
{
    m_leveller->setLevelling(on, targetLufs);
}

double GstMediaPlayer::levellingGainDb() const
{
    return m_leveller->gainDb();
}
