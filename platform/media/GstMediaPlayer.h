#pragma once

#include "platform/media/MediaPlayer.h"

#include "platform/media/ReconnectPolicy.h"
#include "platform/stream/StreamProbe.h"
#include "platform/stream/StreamTap.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <memory>
#include <optional>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GstTagList GstTagList;
class GstBusPump;
class HlsClient;
class IcyHttpClient;
class OggChains;
class FrameByteRate;
class TsAudio;
class Fmp4Audio;
class PlaylistResolver;
class PlayPosition;
class StreamTimeline;

// Plays one MediaItem through GStreamer. An HTTP(S) stream, live HLS
// included, is read by our own client into a StreamTimeline and handed from
// there to a decoding pipeline at the play position (time-shift); files
// served with a length, HLS that ends and local files play through a playbin. Creating the player
// starts opening the stream (an HTTP address is opened while the resolver checks whether it is a
// playlist, whose entries then replace it); the item turns ready once the pipeline has prerolled,
// or failed. A stream that drops after it was ready is reopened when its ReconnectPolicy says,
// until the retry budget is spent; only then does the item turn failed. Everything the item hears
// is delivered on the main thread by this object.
class GstMediaPlayer : public MediaPlayer {
    Q_OBJECT
public:
    struct Options {
        int openTimeoutMs = 20000; // open to ready, per attempt
        // Pauses before the first reconnect attempts, then every
        // reconnectRepeatMs until reconnectBudgetMs have passed since the drop.
        QList<int> reconnectDelaysMs = {1000, 2000, 4000, 8000};
        int reconnectRepeatMs = 10000;
        int reconnectBudgetMs = 10 * 60 * 1000;
        // A reopened stream earns the whole budget and the first, shortest
        // pause back only after this long of steady sound; a station that
        // drops again sooner keeps its growing pauses.
        int reconnectSteadyMs = 30000;
        // While waiting reconnectRepeatMs, how often an HTTP stream is asked
        // whether it answers again (a full attempt follows at once if so).
        int probeIntervalMs = 2000;
        // Multiplies every reconnect delay, the budget, the steady time and
        // the probe interval; tests shrink it
        // (the shared Clock's time scale is the default).
        double timeScale = defaultTimeScale();
        qint64 bufferDurationMs = 2000;          // network buffer kept filled
        double startWatermark = 0.25;            // share of it needed to start
        qint64 timelineBytes = 15 * 1024 * 1024; // what time-shift keeps
    };

    enum class Phase { Resolving, Opening, Ready, Reconnecting, Released, Failed };
    Q_ENUM(Phase)

    explicit GstMediaPlayer(std::shared_ptr<MediaItem> item, QObject *parent = nullptr);
    GstMediaPlayer(std::shared_ptr<MediaItem> item, const Options &options,
                   QObject *parent = nullptr);
    ~GstMediaPlayer() override;

    std::shared_ptr<MediaItem> currentItem() const override { return m_item; }
    void play() override;
    void pause() override;
    void reconnectNow(ReconnectReason reason) override;
    void setVolume(double volume) override;
    void setMuted(bool muted) override;
    void setSoundElsewhere(bool elsewhere) override;
    bool canSeek() const override;
    void seekBy(qint64 ms) override;
    void goLive() override;
    qint64 timeBehindLiveMs() const override;
    qint64 keptMs() const override;
    qint64 positionMs() const override;
    void setPauseHolds(bool holds) override { m_pauseHolds = holds; }
    // The linear volume and mute the pipeline has, for tests; -1 without one.
    double pipelineVolume() const;
    // The factory names of the pipeline's elements, for tests.
    QStringList pipelineElements() const;

    Phase phase() const { return m_phase; }
    // One line for a log: where the pipeline and the feed are.
    QString describeState() const;
    QUrl streamUrl() const { return m_streamUrl; }

    // Loads GStreamer on first use; safe to call more than once.
    static bool ensureInitialized();
    // Loads GStreamer and the usual plugins on a worker thread; returns at once.
    static void warmUpInBackground();
    static double defaultTimeScale();

private:
    struct PipelineRelease {
        void operator()(GstElement *pipeline) const;
    };

    // Opening, dropping, reconnecting and ending.
    void start();
    void openStream(const QUrl &url);
    void teardownPipeline();
    // Takes `pipeline` (owned from now on) as the one playing, at the volume
    // set, with its bus pumped; null fails with `error`, later, not from
    // inside the call. False when there was none.
    bool adoptPipeline(GstElement *pipeline, const QString &error);
    void onPrerolled();
    void onOpenFailed(const QString &error);
    void onDropped(const QString &error, bool keepDecoder = false);
    void onProbeAnswered();
    void onEndOfStream();
    void onReconnectTimer();
    void stopReconnecting();
    void fail(const QString &error);
    void applyTargetState();
    void applyVolume();
    void releaseConnection();
    bool isLiveStream() const;
    // The sound can play: the stream is ready, or it dropped and the
    // decoder plays on from what is kept while it reconnects.
    bool soundCanPlay() const;

    // Our own HTTP client, the timeline and the play position in it, live
    // HLS too (FeedEngine.cpp).
    bool feedsItself(const QUrl &url) const;
    void openFeed(const QUrl &url);
    bool makeFeedPipeline();
    void dropClient();
    void onFeedOpened();
    void onHlsOpened();
    void onHlsSegment(const QByteArray &bytes, qint64 durationMs, bool discontinuous);
    void feedConnected();
    void onFeedAudio(const QByteArray &bytes);
    void markFormat(StreamTap::Format format);
    StreamTap::Format formatAt(qint64 offset) const;
    qint64 nextFormatChange(qint64 offset) const;
    void onFeedTitle(const QString &title);
    void onFeedFailed(const QString &error);
    void pumpFeed();
    void restartFeedAt(qint64 offset);
    void resumeHeld();
    qint64 heardOffset() const;
    // The last byte the sound was handed (all of them while it plays elsewhere).
    qint64 reachedOffset() const;
    bool soundRuns() const;
    void setSoundRunning(bool running);
    void followPosition();
    void wakeFollower();
    void planFollow(qint64 heardAt);
    bool decodesForNothing() const;

    // One handler per bus message type (GstBusMessages.cpp).
    void handleMessage(GstMessage *message);
    void onAsyncDone();
    void onError(GstMessage *message);
    void onWarning(GstMessage *message);
    void onBuffering(GstMessage *message);
    void onClockLost();
    void onLatency();
    void onTag(GstMessage *message);
    // The codec, bitrate and sample rate for the item (GstStreamFormat.cpp).
    void readFormatTags(const GstTagList *tags);
    void readDecodedFormat();

    std::shared_ptr<MediaItem> m_item;
    Options m_options;
    Phase m_phase = Phase::Resolving;
    bool m_wantPlaying = false;
    bool m_noPreroll = false;
    bool m_buffering = false;
    bool m_nominalBitrate = false; // the stream told its nominal bitrate
    bool m_speculative = false;    // opened before the resolver's verdict
    // The resolver's verdict while the early attempt still runs.
    QUrl m_heldCandidate;
    std::optional<QString> m_heldFailure;
    QUrl m_streamUrl;

    std::unique_ptr<GstElement, PipelineRelease> m_pipeline;
    std::unique_ptr<GstBusPump> m_pump;
    std::unique_ptr<PlaylistResolver> m_resolver;
    QTimer m_watchdog;
    ReconnectPolicy m_reconnect;
    QTimer m_reconnectTimer; // until the policy wants to hear the time again
    StreamProbe m_probe;

    std::unique_ptr<IcyHttpClient> m_client;
    std::unique_ptr<HlsClient> m_hls;
    std::unique_ptr<TsAudio> m_tsAudio;      // an HLS stream's audio for the tap
    std::unique_ptr<OggChains> m_ogg;        // an Ogg stream's pages and chain headers
    std::unique_ptr<FrameByteRate> m_frames; // MP3's or AAC's byte rate from its frames
    std::deque<std::pair<qint64, StreamTap::Format>> m_formats; // each connection's, from where
    std::unique_ptr<Fmp4Audio> m_fmp4; // the same of fMP4, also what the timeline keeps of it
    QSet<QUrl> m_hlsUrls;              // answered as HLS
    qint64 m_hlsLast = -1;             // the HLS segment fetched last
    qint64 m_holdBackMs = 0;           // HLS: live is this far before the newest byte
    std::unique_ptr<StreamTimeline> m_timeline;
    std::unique_ptr<PlayPosition> m_position; // in m_timeline, made with it
    QSet<QUrl> m_playbinUrls;                 // answered with a length or as HLS
    bool m_prerolled = false;                 // the feed pipeline has decoded its first audio
    bool m_pauseHolds = false;
    qint64 m_feedOffset = 0;    // the next byte handed to the pipeline
    bool m_decoderLost = false; // a start skipped while the sound played elsewhere
    // The retry budget was spent behind live: the failure is told once what
    // is kept has been heard.
    std::optional<QString> m_failWhenHeard;
    qint64 m_shownBehindS = -1;
    // When the title shown last changed (steady ms): a station changing it
    // in every metadata block is shown a title a second.
    std::optional<qint64> m_titleShownAt;
    bool m_shownCanSeek = false;
    QTimer m_feedTimer;
};

class GstMediaPlayerFactory : public MediaPlayerFactory {
public:
    GstMediaPlayerFactory() = default;
    explicit GstMediaPlayerFactory(const GstMediaPlayer::Options &options) : m_options(options) {}
    std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) override;

private:
    GstMediaPlayer::Options m_options;
};
