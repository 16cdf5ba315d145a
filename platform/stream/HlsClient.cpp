#include "platform/stream/HlsClient.h"

#include "platform/stream/HttpPolicy.h"

#include "platform/base/AppInfo.h"
#include "platform/base/Clock.h"
#include "platform/stream/PlaylistResolver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

namespace {

// A live playlist that stops growing for this many target durations is a
// stream that stopped.
constexpr int kStalledTargets = 3;

} // namespace

HlsClient::HlsClient(QObject *parent) : QObject(parent), m_net(new QNetworkAccessManager(this))
{
    m_reload.setSingleShot(true);
    connect(&m_reload, &QTimer::timeout, this,
            [this] { m_playlistReply = get(m_mediaUrl, hls::kMaxPlaylistBytes); });
}

HlsClient::~HlsClient()
{
    close();
}

void HlsClient::open(const QUrl &url, int deadlineMs, qint64 after)
{
    close();
    m_closed = false;
    m_deadlineMs = qMax(1, deadlineMs);
    m_last = m_handed = after;
    m_needInit = true;
    m_initReady = false;
    m_openedOnce = false;
    m_needsDemuxer = m_stopped = false;
    m_unchangedMs = 0;
    m_mediaUrl.clear();
    m_playlistReply = get(url, hls::kMaxPlaylistBytes);
}

void HlsClient::close()
{
    m_closed = true;
    m_reload.stop();
    for (QNetworkReply *reply : {m_playlistReply.data(), m_segmentReply.data()}) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }
    m_queue.clear();
}

void HlsClient::end(const QString &error)
{
    close();
    Q_EMIT failed(error);
}

QNetworkReply *HlsClient::get(const QUrl &url, qint64 maxBytes)
{
    QNetworkReply *reply =
        m_net->get(httppolicy::request(url, qMin(m_deadlineMs, httppolicy::kIdleTimeoutMs)));
    // The whole answer within the deadline, not only some byte of it.
    QTimer::singleShot(m_deadlineMs, reply, [reply] { reply->abort(); });
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this, reply, maxBytes](qint64 received, qint64 total) {
                if (received > maxBytes || total > maxBytes) {
                    reply->disconnect(this);
                    reply->abort();
                    reply->deleteLater();
                    end(QStringLiteral("Too large: %1").arg(reply->url().toString()));
                }
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            end(reply->error() == QNetworkReply::OperationCanceledError
                    ? QStringLiteral("Timed out reading %1").arg(reply->url().toString())
                    : reply->errorString());
            return;
        }
        const QByteArray body = reply->readAll();
        if (reply == m_segmentReply)
            onSegment(body);
        else
            onPlaylist(body, reply->url());
    });
    return reply;
}

void HlsClient::onPlaylist(const QByteArray &body, const QUrl &at)
{
    hls::MediaPlaylist list;
    if (!hls::parseMedia(body, at, &list)) {
        const QUrl variant = m_mediaUrl.isEmpty() ? hls::variantOf(body, at) : QUrl();
        if (variant.isEmpty()) {
            end(QStringLiteral("Not an HLS playlist: %1").arg(at.toString()));
            return;
        }
        m_mediaUrl = variant; // one level of master playlist, no more
        m_playlistReply = get(variant, hls::kMaxPlaylistBytes);
        return;
    }
    m_mediaUrl = at;
    m_targetMs = list.targetDurationMs;
    m_finite = list.ended;
    if (std::any_of(list.segments.cbegin(), list.segments.cend(),
                    [](const hls::Segment &s) { return s.encrypted || s.byteRange; })) {
        if (m_openedOnce) {
            end(QStringLiteral("Encrypted or byte-range segments: %1").arg(at.toString()));
            return;
        }
        m_openedOnce = m_needsDemuxer = true;
        close();
        Q_EMIT opened();
        return;
    }
    const hls::Resume resume = hls::resumeAt(list, m_last, kLiveEdgeSegments);
    if (resume.next <= m_last)
        m_queue.clear(); // the sequence started over
    bool grew = false;
    for (hls::Segment s : list.segments) {
        if (s.sequence < resume.next)
            continue;
        s.discontinuity = s.discontinuity || (resume.gap && s.sequence == resume.next);
        m_queue.push_back(s);
        m_last = s.sequence;
        grew = true;
    }
    while (m_queue.size() > size_t(kMaxQueued)) {
        m_queue.pop_front();
        m_queue.front().discontinuity = true;
    }
    m_unchangedMs = grew ? 0 : m_unchangedMs + m_targetMs / 2;
    if (!m_openedOnce) {
        m_openedOnce = true;
        QPointer<HlsClient> self(this);
        Q_EMIT opened();
        if (!self || m_closed)
            return;
    }
    if (!m_finite) {
        if (m_unchangedMs > kStalledTargets * m_targetMs) {
            m_stopped = true; // once what is queued is handed on
            fetchNext();
            return;
        }
        m_reload.start(Clock::shared()->scaled(grew ? m_targetMs : m_targetMs / 2));
    }
    fetchNext();
}

void HlsClient::fetchNext()
{
    if (m_segmentReply)
        return;
    if (m_queue.empty()) {
        if (m_stopped)
            end(QStringLiteral("The stream stopped: %1").arg(m_mediaUrl.toString()));
        return;
    }
    m_fetching = m_queue.front();
    const bool needsInit =
        m_needInit || m_fetching.discontinuity || m_fetching.initUrl != m_initUrl;
    m_fetchingInit = m_fetching.initUrl.isValid() && needsInit && !m_initReady;
    if (m_fetchingInit) {
        m_segmentReply = get(m_fetching.initUrl, kMaxSegmentBytes);
        return;
    }
    m_queue.pop_front();
    m_segmentReply = get(m_fetching.url, kMaxSegmentBytes);
}

void HlsClient::onSegment(const QByteArray &bytes)
{
    m_segmentReply = nullptr;
    if (m_fetchingInit) {
        m_initUrl = m_fetching.initUrl;
        m_init = bytes;
        m_initReady = true;
        fetchNext();
        return;
    }
    const QByteArray out = m_initReady ? m_init + bytes : bytes;
    m_initReady = m_needInit = false;
    m_handed = m_fetching.sequence;
    QPointer<HlsClient> self(this);
    Q_EMIT segment(out, m_fetching.durationMs, m_fetching.discontinuity);
    if (self)
        fetchNext();
}

#include "moc_HlsClient.cpp"
