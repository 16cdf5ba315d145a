#pragma once

#include "platform/media/FeedEngine.h"
#include "platform/media/GstBusMessages.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/ReconnectPolicy.h"
#include "platform/stream/StreamProbe.h"

#include <QList>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>

typedef struct _GstElement GstElement;
class LoudnessLeveller;
class PlaybinEngine;
class PlaylistResolver;

// Plays one MediaItem through GStreamer, choosing the engine for each
// address: an HTTP(S) stream, live HLS included, is played by the
// FeedEngine (our own client into a StreamTimeline, handed from there to a
// decoding pipeline at the play position: time-shift); files served with a
// length, HLS that ends and local files by the PlaybinEngine. Creating the
// player starts opening the stream (an HTTP address is opened while the
// resolver checks whether it is a playlist, whose entries then replace it);
// the item turns ready once the pipeline has prerolled, or failed. A stream
// that drops after it was ready is reopened when its ReconnectPolicy says,
// until the retry budget is spent; only then does the item turn failed.
// Everything the item hears is delivered on the main thread by this object.
class GstMediaPlayer : public MediaPlayer,
                       private FeedEngine::Host,
                       private GstBusMessages::Listener {
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
    void setLevelling(bool on, double targetLufs) override;
    // The levelling gain, in dB, for tests.
    double levellingGainDb() const;
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
    // Opening, dropping, reconnecting and ending.
    void start();
    void openStream(const QUrl &url);
    void openFeed(const QUrl &url);
    void teardownPipeline();
    // The pipeline playing, of whichever engine; null if none.
    GstElement *pipeline() const;
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

    // An HTTP(S) address the feed engine plays (not one for playbin).
    bool feedsItself(const QUrl &url) const;

    // What the feed engine asks and tells.
    bool isOnAir() const override { return m_phase == Phase::Ready; }
    bool wantsPlaying() const override { return m_wantPlaying; }
    bool pauseHolds() const override { return m_pauseHolds; }
    void feedConnected() override;
    void feedFailed(const QString &error) override;
    void feedIsPlaylist() override;
    void feedNeedsPlaybin() override;
    void feedUnplayable(const QString &error) override { fail(error); }
    void feedMayStartSound() override;
    bool feedHeardAll() override;

    // What the pipeline's bus messages mean here.
    void pipelinePrerolled() override;
    void pipelineFailed(const QString &error) override;
    void pipelineEnded() override { onEndOfStream(); }
    void pipelineBuffering(int percent) override;
    void pipelineLostClock() override;

    std::shared_ptr<MediaItem> m_item;
    Options m_options;
    Phase m_phase = Phase::Resolving;
    bool m_wantPlaying = false;
    bool m_buffering = false;
    bool m_speculative = false; // opened before the resolver's verdict
    // The resolver's verdict while the early attempt still runs.
    QUrl m_heldCandidate;
    std::optional<QString> m_heldFailure;
    QUrl m_streamUrl;

    std::unique_ptr<PlaylistResolver> m_resolver;
    QTimer m_watchdog;
    ReconnectPolicy m_reconnect;
    QTimer m_reconnectTimer; // until the policy wants to hear the time again
    StreamProbe m_probe;
    QSet<QUrl> m_playbinUrls; // answered with a length, or as HLS that ends or is encrypted
    bool m_pauseHolds = false;
    // The retry budget was spent behind live: the failure is told once what
    // is kept has been heard.
    std::optional<QString> m_failWhenHeard;

    GstBusMessages m_bus;
    std::unique_ptr<FeedEngine> m_feed;
    std::unique_ptr<PlaybinEngine> m_playbin;
    std::unique_ptr<LoudnessLeveller> m_leveller;
};

class GstMediaPlayerFactory : public MediaPlayerFactory {
public:
    GstMediaPlayerFactory() = default;
    explicit GstMediaPlayerFactory(const GstMediaPlayer::Options &options) : m_options(options) {}
    std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) override;

private:
    GstMediaPlayer::Options m_options;
};
