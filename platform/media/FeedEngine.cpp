#include "platform/media/FeedEngine.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/media/GstBusPump.h"
#include "platform/media/GstFeedPipeline.h"
#include "platform/media/GstVolume.h"
#include "platform/media/HlsSegments.h"
#include "platform/media/MediaItem.h"
#include "platform/stream/FrameByteRate.h"
#include "platform/stream/HlsClient.h"
#include "platform/stream/IcyHttpClient.h"
#include "platform/stream/OggChains.h"
#include "platform/stream/PlayPosition.h"
#include "platform/stream/StreamTimeline.h"
#include "platform/stream/TimelineAudio.h"

#include <QPointer>

#include <algorithm>

namespace {

constexpr qint64 kFeedAheadBytes = 64 * 1024; // handed to the pipeline ahead of the sound
// Below this, what arrives is handed on at once; above, the follow timer and
// the pipeline's own calls hand it on in larger pieces.
constexpr qint64 kFeedLowBytes = 4 * 1024;
// A decoder started over in place has plugged its demuxer well within this
// (steady ms), even on a busy machine.
constexpr qint64 kDecoderSettleMs = 2000;
constexpr int kFollowIntervalMs = 100;
// While the sound runs the socket is read in pieces of this much audio, or
// what came within the wait: well inside the cushion the sound starts with.
constexpr qint64 kReadPieceMs = 100;
constexpr int kReadWaitMs = 200;
// Pieces hold audio back from the pipeline for up to the wait; only while
// the sound has this much ahead of it. A station that sends no more than it
// plays (no burst on connect) leaves the sound just its start cushion, which
// has to carry the network's stalls whole.
constexpr qint64 kPiecesAheadMs = 1000;
// A title mark ahead is looked at when it is due, within these bounds.
constexpr qint64 kMinFollowMs = 20;
constexpr qint64 kMaxFollowMs = 60 * 1000;
// A title shown stays at least this long: a station that changes it in
// every metadata block does not flood the history, the recorder and the
// desktop with titles nobody could read.
constexpr qint64 kTitleSpacingMs = 1000;
constexpr qint64 kLiveMarginMs = 500; // back to live starts this far before the newest byte

StreamTap::Format tapFormat(const QByteArray &contentType)
{
    if (contentType == "audio/mpeg" || contentType == "audio/mp3" || contentType == "audio/mpeg3")
        return StreamTap::Format::Mp3;
    if (contentType.contains("aac"))
        return StreamTap::Format::Aac;
    if (contentType.contains("ogg") || contentType == "audio/opus")
        return StreamTap::Format::Ogg;
    return StreamTap::Format::Unknown;
}

} // namespace

void FeedEngine::PipelineRelease::operator()(GstElement *pipeline) const
{
    gsthandle::PipelineRelease()(pipeline);
}

FeedEngine::FeedEngine(Host &host, std::shared_ptr<MediaItem> item, const Settings &settings,
                       MessageHandler onMessage)
    : m_host(host), m_item(std::move(item)), m_settings(settings), m_onMessage(std::move(onMessage))
{
    connect(&m_feedTimer, &QTimer::timeout, this, &FeedEngine::followPosition);
}

FeedEngine::~FeedEngine()
{
    close();
}

// A feed pipeline of its own, paused until told otherwise; false when none
// could be made (which fails, later).
bool FeedEngine::makeFeedPipeline()
{
    QString error;
    QPointer<FeedEngine> self(this);
    gsthandle::Pipeline pipeline = gstfeed::make(
        [self] {
            // On a streaming thread: the pump runs on the main thread.
            QMetaObject::invokeMethod(
                self.data(), [self] { self->pumpFeed(); }, Qt::QueuedConnection);
        },
        &error);
    m_pump.reset(); // nothing of the old pipeline is delivered any more
    m_pipeline.reset();
    if (!pipeline) {
        QMetaObject::invokeMethod(
            this, [this, error] { m_host.feedUnplayable(error); }, Qt::QueuedConnection);
        return false;
    }
    m_pipeline.reset(pipeline.release());
    gstvolume::apply(m_pipeline.get(), m_volume, m_muted);
    const gsthandle::Object<GstBus> bus(gst_element_get_bus(m_pipeline.get()));
    m_pump = std::make_unique<GstBusPump>(bus.get(), m_onMessage);
    gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED);
    return true;
}

bool FeedEngine::playsSilently() const
{
    return gstfeed::playsSilently(m_pipeline.get());
}

// Never deleted while it tells us something.
void FeedEngine::dropClient()
{
    if (m_hls) {
        m_hlsLast = qMax(m_hlsLast, m_hls->lastSequence());
        m_hls->disconnect(this);
        m_hls->close();
        m_hls.release()->deleteLater();
    }
    if (!m_client)
        return;
    m_client->disconnect(this);
    m_client->close();
    m_client.release()->deleteLater();
}

// The timeline is made on first use and kept from then on.
bool FeedEngine::start()
{
    if (!m_timeline) {
        m_timeline = std::make_shared<StreamTimeline>(m_settings.timelineBytes);
        m_kept = std::make_shared<TimelineAudio>(m_timeline);
        m_position = std::make_unique<PlayPosition>(*m_timeline);
    }
    if (!makeFeedPipeline())
        return false;
    m_hlsLast = -1;
    m_feedOffset = m_timeline->endOffset();
    m_position->reset(m_feedOffset);
    return true;
}

void FeedEngine::connectTo(const QUrl &url)
{
    dropClient();
    m_url = url;
    if (m_hlsUrls.contains(url) || url.path().toLower().endsWith(QLatin1String(".m3u8"))) {
        m_hls = std::make_unique<HlsClient>();
        connect(m_hls.get(), &HlsClient::opened, this, &FeedEngine::onHlsOpened);
        connect(m_hls.get(), &HlsClient::segment, this, &FeedEngine::onHlsSegment);
        connect(m_hls.get(), &HlsClient::failed, this, &FeedEngine::onFeedFailed);
        m_hls->open(url, m_settings.openTimeoutMs, m_hlsLast);
    } else {
        m_client = std::make_unique<IcyHttpClient>();
        connect(m_client.get(), &IcyHttpClient::opened, this, &FeedEngine::onFeedOpened);
        connect(m_client.get(), &IcyHttpClient::audio, this, &FeedEngine::onFeedAudio);
        connect(m_client.get(), &IcyHttpClient::title, this, &FeedEngine::onFeedTitle);
        connect(m_client.get(), &IcyHttpClient::failed, this, &FeedEngine::onFeedFailed);
        m_client->open(url, m_settings.openTimeoutMs);
    }
    wakeFollower();
}

void FeedEngine::close()
{
    m_feedTimer.stop();
    dropClient();
    m_pump.reset(); // flushes the bus: nothing of this pipeline is delivered any more
    m_pipeline.reset();
    m_prerolled = false;
    setSoundRunning(false);
}

void FeedEngine::onFeedOpened()
{
    const QByteArray type = m_client->contentType();
    // HLS or an M3U playlist: the player tells which (HLS is read by the
    // HLS client when opened again).
    const bool listed = type.contains("mpegurl");
    if (listed) {
        m_hlsUrls.insert(m_url);
        dropClient();
        m_host.feedIsPlaylist();
        return;
    }
    if (m_client->contentLength() >= 0) {
        // A file of known length: GStreamer's own source plays it.
        NSLog(lcMedia(), QtInfoMsg, "stream: %@ is played by playbin", m_url.toString());
        dropClient();
        if (m_item)
            m_item->setKeptAudio(nullptr); // the tap's bytes come from the playbin
        m_host.feedNeedsPlaybin();
        return;
    }
    m_holdBackMs = 0;
    m_timeline->beginConnection();
    const StreamTap::Format format = tapFormat(type);
    markFormat(format);
    if (const auto tap = m_item ? m_item->streamTap() : nullptr)
        tap->streamStarted(format);
    m_kept->started(format);
    if (m_item)
        m_item->setKeptAudio(m_kept); // read there, not copied
    if (format != StreamTap::Format::Ogg) {
        m_ogg.reset();
    } else {
        if (!m_ogg)
            m_ogg = std::make_unique<OggChains>();
        m_ogg->restart(m_timeline->endOffset());
    }
    // Time from the audio's own frames; what the station announces only
    // until they tell.
    if (format == StreamTap::Format::Mp3 || format == StreamTap::Format::Aac) {
        const auto codec = format == StreamTap::Format::Mp3 ? FrameByteRate::Codec::Mp3
                                                            : FrameByteRate::Codec::Aac;
        if (m_frames && m_frames->codec() == codec)
            m_frames->restart();
        else
            m_frames = std::make_unique<FrameByteRate>(codec);
    } else {
        m_frames.reset();
    }
    const bool measured =
        (m_frames && m_frames->byteRate() > 0) || (m_ogg && m_ogg->byteRate() > 0);
    if (!measured && m_client->bitrateKbps() > 0)
        m_timeline->setByteRate(m_client->bitrateKbps() * 125.0);
    feedConnected();
}

// Where a connection's bytes begin and what they are; a decoder goes on
// only within one kind.
void FeedEngine::markFormat(StreamTap::Format format)
{
    m_formats.mark(m_timeline->endOffset(), format, m_timeline->startOffset());
}

// A connection of either client has begun.
void FeedEngine::feedConnected()
{
    m_host.feedConnected();
}

void FeedEngine::joinNewConnection()
{
    // The same decoder goes on from the new connection's first byte;
    // while behind live, playback just goes on across the gap.
    if (m_position->isLive())
        restartFeedAt(m_timeline->endOffset());
}

void FeedEngine::onFeedAudio(const QByteArray &bytes)
{
    if (m_frames) {
        m_frames->append(bytes);
        if (m_frames->byteRate() > 0)
            m_timeline->setByteRate(m_frames->byteRate());
    }
    if (const auto tap = m_item ? m_item->streamTap() : nullptr)
        tap->streamData(bytes.constData(), bytes.size());
    if (m_ogg) {
        m_ogg->append(m_timeline->endOffset(), bytes);
        if (m_ogg->byteRate() > 0)
            m_timeline->setByteRate(m_ogg->byteRate());
    }
    m_timeline->append(bytes);
    m_kept->appended(bytes);
    if (m_ogg)
        m_ogg->forgetBefore(m_timeline->startOffset());
    if (m_pipeline && gstfeed::queuedBytes(m_pipeline.get()) < kFeedLowBytes)
        pumpFeed();
}

void FeedEngine::onFeedTitle(const QString &title)
{
    if (const auto tap = m_item ? m_item->streamTap() : nullptr)
        tap->streamTitle(title);
    m_timeline->markTitle(title);
    m_kept->titled(title);
    followPosition();
}

void FeedEngine::onFeedFailed(const QString &error)
{
    m_host.feedFailed(error);
}

void FeedEngine::pumpFeed()
{
    if (!m_pipeline || !m_timeline)
        return;
    if (decodesForNothing()) {
        if (!soundRuns())
            m_host.feedMayStartSound();
        return;
    }
    if (m_feedOffset < m_timeline->startOffset()) {
        // Held: where play goes on is settled once, by play (resumeHeld).
        if (!m_host.wantsPlaying())
            return;
        NSLog(lcMedia(), QtInfoMsg, "stream: held longer than what is kept; playing the oldest");
        restartFeedAt(m_timeline->startOffset());
        Q_EMIT resumedFromOldest();
        return;
    }
    if (!soundRuns())
        m_host.feedMayStartSound(); // the sound waits for its cushion
    const qint64 queued = gstfeed::queuedBytes(m_pipeline.get());
    // Another codec from here on (a reconnect that brought it, behind
    // live): a decoder of its own starts there once the bytes before are
    // heard.
    if (m_feedOffset != m_position->startOffset() &&
        m_formats.at(m_feedOffset) != m_formats.at(m_feedOffset - 1)) {
        if (heardOffset() >= m_feedOffset)
            restartFeedAt(m_feedOffset);
        return;
    }
    qint64 room = kFeedAheadBytes - queued;
    if (const qint64 change = m_formats.nextChange(m_feedOffset); change >= 0)
        room = qMin(room, change - m_feedOffset);
    if (room <= 0)
        return;
    const QByteArray bytes = m_timeline->read(m_feedOffset, room);
    if (!bytes.isEmpty() && soundRuns())
        m_position->caughtUpWith(m_feedOffset);
    gstfeed::push(m_pipeline.get(), bytes);
    m_feedOffset += bytes.size();
}

// Play after a held pause: held longer than what is kept reaches, playback
// goes on from the oldest moment still kept, and says so.
void FeedEngine::resumeHeld()
{
    if (!m_timeline || !m_pipeline)
        return;
    if (!m_position->isBeforeOldest(reachedOffset()))
        return;
    NSLog(lcMedia(), QtInfoMsg, "stream: held longer than what is kept; playing the oldest");
    restartFeedAt(m_timeline->startOffset());
    Q_EMIT resumedFromOldest();
}

void FeedEngine::restartFeedAt(qint64 offset)
{
    if (!m_pipeline)
        return;
    bool running = soundRuns();
    setSoundRunning(false);
    // Ogg: at a page; into another chain (a new connection begins one)
    // with a decoder of its own, handed that chain's headers first.
    OggChains::Start ogg{offset};
    if (m_ogg) {
        m_ogg->forgetBefore(m_timeline->startOffset()); // a smaller capacity, too
        // After a start skipped while the sound played elsewhere, what the
        // decoder last had is unknown: a fresh one, with headers.
        ogg = m_ogg->startAt(offset, m_decoderLost ? -1 : m_position->startOffset(), m_feedOffset);
        offset = qBound(m_timeline->startOffset(), ogg.offset, m_timeline->endOffset());
    }
    // Bytes of another codec than the decoder had take a pipeline of their
    // own: a decoder started over within the old one is not given the time
    // of bytes that far into the stream.
    const StreamTap::Format format = m_formats.at(offset);
    const qint64 start = m_position->startOffset();
    const bool otherCodec = format != m_formats.at(start) ||
                            (m_feedOffset > start && format != m_formats.at(m_feedOffset - 1));
    const bool restartedLately =
        m_restartedAtMs >= 0 && Clock::shared()->steadyMs() - m_restartedAtMs < kDecoderSettleMs;
    m_feedOffset = offset;
    m_position->startAt(offset);
    if (decodesForNothing()) { // it starts over there once heard again
        m_decoderLost = true;
    } else if (otherCodec || (ogg.otherChain && restartedLately)) {
        // A decoder set back and started again inside the running pipeline
        // can still be plugging its demuxer for a start just before (End,
        // then Back into an older chain at once), and then fails to start
        // at all: such a start, like one into another codec, takes a
        // pipeline of its own (slower to sound, but without that race).
        if (!makeFeedPipeline())
            return;
        gstfeed::push(m_pipeline.get(), ogg.headers);
        running = false; // the sound starts with its cushion, as at the start
        m_decoderLost = false;
    } else {
        gstfeed::restart(m_pipeline.get(), offset, ogg.otherChain);
        gstfeed::push(m_pipeline.get(), ogg.headers);
        m_decoderLost = false;
    }
    m_restartedAtMs = Clock::shared()->steadyMs();
    setSoundRunning(running);
    pumpFeed();
}

bool FeedEngine::soundRuns() const
{
    return m_position && m_position->isRunning();
}

void FeedEngine::setSoundRunning(bool running)
{
    if (!m_position || running == m_position->isRunning())
        return;
    if (running)
        m_position->setRunning(true);
    else
        m_position->standAt(reachedOffset());
    wakeFollower();
}

bool FeedEngine::cushioned(qint64 ms) const
{
    return m_timeline->timeAt(m_timeline->endOffset()) -
               m_timeline->timeAt(m_position->startOffset()) >=
           ms;
}

void FeedEngine::holdHere()
{
    if (m_position)
        m_position->leaveLive(reachedOffset());
}

bool FeedEngine::playsOnBehindLive() const
{
    return m_position && !m_position->isLive() && !m_position->hasHeardAll(reachedOffset());
}

// While the sound plays elsewhere the feed pipeline, once it has decoded its
// first audio (the stream's format), is held paused and handed nothing: the
// play position runs on by the clock, the titles follow it, and the tap hears
// the stream as it comes. Heard here again, the pipeline starts over at the
// position reached.
bool FeedEngine::setSoundElsewhere(bool elsewhere)
{
    const qint64 heard = heardOffset(); // before it is bounded otherwise
    m_elsewhere = elsewhere;
    if (!prerolled())
        return false;
    if (!elsewhere)
        restartFeedAt(heard);
    return true;
}

bool FeedEngine::decodesForNothing() const
{
    return m_elsewhere && prerolled();
}

void FeedEngine::setVolume(double volume, bool muted)
{
    m_volume = volume;
    m_muted = muted;
    gstvolume::apply(m_pipeline.get(), m_volume, m_muted);
}

// Heard here, the sound cannot pass what the pipeline was handed.
qint64 FeedEngine::reachedOffset() const
{
    if (!m_timeline)
        return 0;
    return decodesForNothing() ? m_timeline->endOffset() : m_feedOffset;
}

qint64 FeedEngine::heardOffset() const
{
    return m_position ? m_position->heardOffset(reachedOffset()) : 0;
}

bool FeedEngine::canSeek() const
{
    return m_timeline && m_pipeline && m_prerolled && !m_timeline->isEmpty();
}

qint64 FeedEngine::timeBehindLiveMs() const
{
    return canSeek() ? m_position->behindLiveMs(reachedOffset()) : 0;
}

qint64 FeedEngine::keptMs() const
{
    return canSeek() ? m_position->keptMs() : 0;
}

qint64 FeedEngine::positionMs() const
{
    return canSeek() ? m_position->positionMs(reachedOffset()) : 0;
}

void FeedEngine::seekBy(qint64 ms)
{
    if (!canSeek())
        return;
    const qint64 margin = qMax(kLiveMarginMs, m_holdBackMs);
    const qint64 to = m_position->seekBy(ms, reachedOffset(), margin, m_host.wantsPlaying());
    if (m_position->isLive()) {
        NSLog(lcMedia(), QtInfoMsg, "time-shift: back to live");
    } else {
        NSLog(lcMedia(), QtInfoMsg, "time-shift: %@ s behind live",
              QString::number(
                  double(m_timeline->timeAt(m_position->liveOffset()) - m_timeline->timeAt(to)) /
                      1000,
                  'f', 1));
    }
    restartFeedAt(to);
    Q_EMIT seeked();
    followPosition();
}

void FeedEngine::goLive()
{
    if (!canSeek())
        return;
    const qint64 to = m_position->goLive(qMax(kLiveMarginMs, m_holdBackMs), m_host.wantsPlaying());
    NSLog(lcMedia(), QtInfoMsg, "time-shift: back to live");
    restartFeedAt(to);
    Q_EMIT seeked();
    followPosition();
}

// Every little while, or only at the next title while live: keep the
// pipeline fed, show the title heard at the play position, and tell how far
// behind live it is when that changed.
void FeedEngine::followPosition()
{
    pumpFeed();
    if (!m_timeline)
        return;
    const qint64 heardAt = heardOffset();
    if (m_prerolled && m_position->hasHeardAll(reachedOffset()) && !m_host.feedHeardAll())
        return;
    const QString heard = m_timeline->titleAt(heardAt);
    const qint64 now = Clock::shared()->steadyMs();
    qint64 titleDueIn = -1;
    if (!heard.isEmpty() && m_item && heard != m_item->nowPlaying() && m_titleShownAt &&
        now - *m_titleShownAt < kTitleSpacingMs) {
        titleDueIn = kTitleSpacingMs - (now - *m_titleShownAt);
    } else if (!heard.isEmpty() && m_item && heard != m_item->nowPlaying()) {
        m_titleShownAt = now;
        NSLog(lcMedia(), QtInfoMsg, "now playing: %@", heard);
        QPointer<FeedEngine> self(this);
        m_item->setNowPlaying(heard);
        if (!self)
            return;
    }
    const qint64 behindS = (timeBehindLiveMs() + 500) / 1000;
    if (behindS != m_shownBehindS || canSeek() != m_shownCanSeek) {
        m_shownBehindS = behindS;
        m_shownCanSeek = canSeek();
        QPointer<FeedEngine> self(this);
        Q_EMIT timeShiftChanged();
        if (!self)
            return;
    }
    planFollow(heardAt);
    if (titleDueIn >= 0 && (!m_feedTimer.isActive() || m_feedTimer.remainingTime() > titleDueIn))
        m_feedTimer.start(int(qMax(kMinFollowMs, titleDueIn)));
}

// Soon, from a change in what is shown (a seek, a pause, the sound starting
// or stopping, a new connection).
void FeedEngine::wakeFollower()
{
    if (m_pipeline && (!m_feedTimer.isActive() || m_feedTimer.interval() > kFollowIntervalMs))
        m_feedTimer.start(kFollowIntervalMs);
}

// Live with the sound running, nothing shown changes but the title, at the
// next title mark; the pipeline is fed as bytes come and as it asks. So the
// follower sleeps until that mark is heard. Otherwise it looks every little
// while.
void FeedEngine::planFollow(qint64 heardAt)
{
    if (!m_pipeline) {
        m_feedTimer.stop();
        return;
    }
    const bool onAir = m_host.isOnAir();
    const bool steady = m_position->isLive() && soundRuns() && onAir;
    // Pieces while the sound runs or the station is held; never while the
    // sound waits for its first cushion.
    const bool inPieces =
        onAir && (soundRuns() || (!m_host.wantsPlaying() && m_host.pauseHolds())) &&
        m_timeline->timeAt(m_timeline->endOffset()) - m_timeline->timeAt(heardAt) >= kPiecesAheadMs;
    if (m_client)
        m_client->readInPieces(inPieces ? m_timeline->bytesForMs(kReadPieceMs) : 0, kReadWaitMs);
    if (!steady) {
        if (!m_feedTimer.isActive() || m_feedTimer.interval() != kFollowIntervalMs)
            m_feedTimer.start(kFollowIntervalMs);
        return;
    }
    const auto &marks = m_timeline->marks();
    const auto next = std::find_if(marks.cbegin(), marks.cend(), [heardAt](const auto &mark) {
        return mark.kind == StreamTimeline::Mark::Kind::Title && mark.offset > heardAt;
    });
    if (next == marks.cend()) {
        m_feedTimer.stop();
        return;
    }
    const qint64 untilMs = m_timeline->timeAt(next->offset) - m_timeline->timeAt(heardAt) + 1;
    m_feedTimer.start(int(std::clamp(untilMs, kMinFollowMs, kMaxFollowMs)));
}

QString FeedEngine::describeState() const
{
    return QStringLiteral("feed %1 of %2..%3, %4 queued, live %5")
        .arg(m_feedOffset)
        .arg(m_timeline ? m_timeline->startOffset() : 0)
        .arg(m_timeline ? m_timeline->endOffset() : 0)
        .arg(gstfeed::queuedBytes(m_pipeline.get()))
        .arg(m_position && m_position->isLive());
}

// Live HLS into the timeline: the HLS client hands over whole segments with
// their durations, kept as HlsSegments says.
void FeedEngine::onHlsOpened()
{
    if (m_hls->isFinite() || m_hls->needsDemuxer()) {
        // A recording, not a live stream, or segments to decrypt or cut out
        // of files: GStreamer's own HLS source plays it.
        NSLog(lcMedia(), QtInfoMsg, "stream: %@ ends or is encrypted; played by playbin",
              m_url.toString());
        dropClient();
        m_host.feedNeedsPlaybin();
        return;
    }
    // Live HLS plays as far behind its newest segment as it starts: the
    // next one comes only when it is complete.
    m_holdBackMs = HlsClient::kLiveEdgeSegments * m_hls->targetDurationMs();
    m_timeline->beginConnection();
    if (!m_segments)
        m_segments = std::make_unique<HlsSegments>(m_item, m_kept);
    m_segments->restart();
    feedConnected();
}

void FeedEngine::onHlsSegment(const QByteArray &bytes, qint64 durationMs, bool discontinuous)
{
    if (discontinuous) {
        m_timeline->beginConnection();
        m_segments->restart(true);
    }
    const std::optional<QByteArray> kept = m_segments->kept(bytes);
    if (!kept)
        return;
    const QByteArray &segment = *kept;
    if (durationMs > 0 && m_timeline->byteRate() <= 0)
        m_timeline->setByteRate(double(segment.size()) * 1000.0 / double(durationMs));
    m_timeline->append(segment, durationMs);
    m_kept->appended(segment);
    pumpFeed();
}
