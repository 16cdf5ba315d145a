#pragma once

#include "platform/stream/HlsPlaylist.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <deque>

class QNetworkAccessManager;
class QNetworkReply;

// Reads a live HLS stream: the master playlist's variant (see
// hls::variantOf), its media playlist reloaded at the pace of its target
// duration, and each new segment fetched in order and handed on whole with
// its duration. A live stream starts three segments before the newest, as
// players do. Every request has a deadline and a size limit; redirects are
// followed a few times. fMP4's init segment goes in front of the first
// segment and again after a discontinuity or a new one. A playlist older than
// the one before (a lagging CDN edge) adds nothing; one that has not grown
// for a few target durations ends the stream. Encrypted segments and byte
// ranges are not read here (see needsDemuxer). Waits are scaled by the
// Clock's time scale. Runs on the thread it lives on.
class HlsClient : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxSegmentBytes = 16 * 1024 * 1024;
    static constexpr int kLiveEdgeSegments = 3;
    // Segments waiting to be fetched; beyond this the oldest are dropped.
    static constexpr int kMaxQueued = hls::kMaxSegments;

    explicit HlsClient(QObject *parent = nullptr);
    ~HlsClient() override;

    // `after` >= 0: go on after that segment if the playlist still has it
    // (a reconnect), else from the live edge.
    void open(const QUrl &url, int deadlineMs, qint64 after = -1);
    void close();
    // The playlist ends (EXT-X-ENDLIST): a recording, not a live stream.
    bool isFinite() const { return m_finite; }
    // The media playlist's target duration; 0 before it is read.
    qint64 targetDurationMs() const { return m_targetMs; }
    // The first playlist read has encrypted segments or byte ranges, which
    // GStreamer's own HLS source plays; nothing is fetched. (When a later
    // one has them, the stream fails, to be opened again.)
    bool needsDemuxer() const { return m_needsDemuxer; }
    // The last segment handed on; -1 before the first.
    qint64 lastSequence() const { return m_handed; }

Q_SIGNALS:
    // The media playlist is read; segments follow.
    void opened();
    // One segment (fMP4: its init segment in front when needed) and how long
    // it plays; `discontinuous` when it does not go on from the one before
    // (a discontinuity, or segments missed).
    void segment(const QByteArray &bytes, qint64 durationMs, bool discontinuous);
    // Something failed, or the stream stopped growing; nothing follows.
    void failed(const QString &error);

private:
    enum class Want { Master, Media, Init, Segment };
    QNetworkReply *get(const QUrl &url, qint64 maxBytes);
    void onPlaylist(const QByteArray &body, const QUrl &at);
    void fetchNext();
    void onSegment(const QByteArray &bytes);
    void end(const QString &error);

    QNetworkAccessManager *m_net = nullptr;
    int m_deadlineMs = 20000;
    QUrl m_mediaUrl;
    bool m_finite = false;
    bool m_needsDemuxer = false;
    bool m_closed = true;
    bool m_openedOnce = false;
    qint64 m_last = -1;   // the newest segment queued
    qint64 m_handed = -1; // the newest handed on
    qint64 m_targetMs = 0;
    std::deque<hls::Segment> m_queue;
    hls::Segment m_fetching;
    QUrl m_initUrl; // the init segment fetched last
    QByteArray m_init;
    bool m_needInit = true;   // goes in front of the next segment
    bool m_initReady = false; // fetched, not handed on yet
    bool m_fetchingInit = false;
    QPointer<QNetworkReply> m_playlistReply;
    QPointer<QNetworkReply> m_segmentReply;
    QTimer m_reload;
    qint64 m_unchangedMs = 0; // since the playlist last grew
    bool m_stopped = false;   // it stopped growing: ends once the queue is handed on
};
