#pragma once

#include "platform/media/FeedFormats.h"
#include "platform/stream/StreamTap.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
class FrameByteRate;
class GstBusPump;
class HlsClient;
class HlsSegments;
class IcyHttpClient;
class MediaItem;
class OggChains;
class PlayPosition;
class StreamTimeline;
class TimelineAudio;

// Time-shift: an HTTP(S) stream read by our own client (live HLS by the HLS
// client, a segment at a time) into a StreamTimeline, and the feed pipeline
// handed the timeline's bytes from the play position on. Live is the newest
// byte; a seek moves the position and starts the pipeline over there,
// keeping its decoder; a new connection after a drop goes on into the same
// decoder. The engine keeps the timeline for the player's life. It knows
// nothing of the player's phases: it asks its Host what it needs and tells
// it what happened. Everything here runs on the main thread.
class FeedEngine : public QObject {
    Q_OBJECT
public:
    class Host {
    public:
        // The stream is on air (neither opening nor reconnecting).
        virtual bool isOnAir() const = 0;
        virtual bool wantsPlaying() const = 0;
        virtual bool pauseHolds() const = 0;

        // A connection began: audio follows.
        virtual void feedConnected() = 0;
        // The connection failed or dropped.
        virtual void feedFailed(const QString &error) = 0;
        // The address answered with a playlist (HLS or M3U), not audio;
        // opened again it is read as HLS.
        virtual void feedIsPlaylist() = 0;
        // A file of known length, or HLS that ends or needs decrypting:
        // playbin plays it.
        virtual void feedNeedsPlaybin() = 0;
        // No pipeline could be made (told later, not from inside a call).
        virtual void feedUnplayable(const QString &error) = 0;
        // Bytes were handed on while the sound does not run: it may start.
        virtual void feedMayStartSound() = 0;
        // Everything kept has been heard; false when that let the feed go.
        virtual bool feedHeardAll() = 0;

    protected:
        ~Host() = default;
    };

    struct Settings {
        int openTimeoutMs = 20000;
        qint64 timelineBytes = 15 * 1024 * 1024; // what time-shift keeps
    };

    // `onMessage` gets the feed pipeline's bus messages.
    using MessageHandler = std::function<void(GstMessage *message)>;
    FeedEngine(Host &host, std::shared_ptr<MediaItem> item, const Settings &settings,
               MessageHandler onMessage);
    ~FeedEngine() override;

    // The feed pipeline, or null.
    GstElement *pipeline() const { return m_pipeline.get(); }
    // Its sink fell back to discarding samples (no sound device).
    bool playsSilently() const;
    // A fresh feed pipeline, paused, to play from the timeline's end (the
    // timeline made on first use); false when none could be made.
    bool start();
    // A client for `url`, reading into the timeline; a connection of
    // before is let go.
    void connectTo(const QUrl &url);
    // Lets the client go; never deleted while it tells us something.
    void dropClient();
    bool hasClient() const { return m_client || m_hls; }
    // The pipeline, the client and the follower go; the timeline stays.
    void close();

    // The feed pipeline has decoded its first audio (the player says when).
    bool prerolled() const { return m_pipeline && m_prerolled; }
    void setPrerolled() { m_prerolled = true; }
    // A new connection after a drop, into the kept decoder: while live
    // the sound goes on from its first byte, behind live across the gap.
    void joinNewConnection();
    // The sound has a share of the network buffer ahead of it to start with.
    bool cushioned(qint64 ms) const;
    bool soundRuns() const;
    void setSoundRunning(bool running);
    // Held by a pause: play goes on from here, behind live.
    void holdHere();
    // Behind live with something left to hear: the decoder plays on from
    // what is kept through a drop.
    bool playsOnBehindLive() const;
    // While the sound plays elsewhere the pipeline, once prerolled, is held
    // paused and handed nothing; false when there is no such pipeline.
    bool setSoundElsewhere(bool elsewhere);
    bool decodesForNothing() const;
    void setVolume(double volume, bool muted);

    // Play after a held pause; held longer than what is kept reaches, play
    // goes on from the oldest moment kept.
    void resumeHeld();
    // Keeps the pipeline fed, shows the title heard at the play position and
    // tells how far behind live that is; again when due.
    void followPosition();
    // Follows again soon: something shown changed.
    void wakeFollower();

    bool canSeek() const;
    void seekBy(qint64 ms);
    void goLive();
    qint64 timeBehindLiveMs() const;
    qint64 keptMs() const;
    qint64 positionMs() const;
    // Where the feed is, for a log line.
    QString describeState() const;

Q_SIGNALS:
    void timeShiftChanged();
    void seeked();
    void resumedFromOldest();

private:
    struct PipelineRelease {
        void operator()(GstElement *pipeline) const;
    };

    bool makeFeedPipeline();
    void onFeedOpened();
    void onHlsOpened();
    void onHlsSegment(const QByteArray &bytes, qint64 durationMs, bool discontinuous);
    void feedConnected();
    void onFeedAudio(const QByteArray &bytes);
    void markFormat(StreamTap::Format format);
    void onFeedTitle(const QString &title);
    void onFeedFailed(const QString &error);
    void pumpFeed();
    void restartFeedAt(qint64 offset);
    qint64 heardOffset() const;
    // The last byte the sound was handed (all of them while it plays elsewhere).
    qint64 reachedOffset() const;
    void planFollow(qint64 heardAt);

    Host &m_host;
    std::shared_ptr<MediaItem> m_item;
    Settings m_settings;
    MessageHandler m_onMessage;
    std::unique_ptr<GstElement, PipelineRelease> m_pipeline;
    std::unique_ptr<GstBusPump> m_pump;
    double m_volume = 1.0;
    bool m_muted = false;
    bool m_elsewhere = false;
    QUrl m_url;

    std::unique_ptr<IcyHttpClient> m_client;
    std::unique_ptr<HlsClient> m_hls;
    std::unique_ptr<HlsSegments> m_segments; // what live HLS's segments carry and keep
    std::unique_ptr<OggChains> m_ogg;        // an Ogg stream's pages and chain headers
    std::unique_ptr<FrameByteRate> m_frames; // MP3's or AAC's byte rate from its frames
    FeedFormats m_formats;
    QSet<QUrl> m_hlsUrls;    // answered as HLS
    qint64 m_hlsLast = -1;   // the HLS segment fetched last
    qint64 m_holdBackMs = 0; // HLS: live is this far before the newest byte
    std::shared_ptr<StreamTimeline> m_timeline;
    // What the timeline keeps of an HTTP stream, as the recorder reads it.
    std::shared_ptr<TimelineAudio> m_kept;
    std::unique_ptr<PlayPosition> m_position; // in m_timeline, made with it
    bool m_prerolled = false;                 // the feed pipeline has decoded its first audio
    qint64 m_feedOffset = 0;                  // the next byte handed to the pipeline
    bool m_decoderLost = false;               // a start skipped while the sound played elsewhere
    qint64 m_restartedAtMs = -1;              // the last start over (steady ms)
    qint64 m_shownBehindS = -1;
    // When the title shown last changed (steady ms): a station changing it
    // in every metadata block is shown a title a second.
    std::optional<qint64> m_titleShownAt;
    bool m_shownCanSeek = false;
    QTimer m_feedTimer;
};
