#include "platform/stream/PlaylistResolver.h"

#include "platform/stream/HttpPolicy.h"

#include "platform/base/AppInfo.h"
#include "platform/base/Log.h"
#include "platform/stream/PlaylistParser.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

QString seenKey(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments)
        .toString(QUrl::FullyEncoded);
}

// Errors after which the pipeline could not do better with the same URL.
bool isFinal(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::OperationCanceledError: // our own time-out
        return true;
    default: return false;
    }
}

} // namespace

PlaylistResolver::PlaylistResolver(const QUrl &url, QObject *parent) : QObject(parent)
{
    m_queue.push_back({url, 0});
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_lastError = QStringLiteral("Timed out reading %1").arg(m_current.url.toString());
        NSLog(lcMedia(), QtWarningMsg, "playlist: %@", m_lastError);
        abortReply();
        next();
    });
}

PlaylistResolver::~PlaylistResolver()
{
    abortReply();
}

QNetworkAccessManager *PlaylistResolver::network()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    return manager;
}

void PlaylistResolver::abortReply()
{
    m_timeout.stop();
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void PlaylistResolver::emitLater(const QUrl &url)
{
    // Always asynchronous, so callers never see a signal from inside next().
    QMetaObject::invokeMethod(
        this, [this, url] { Q_EMIT candidate(url); }, Qt::QueuedConnection);
}

void PlaylistResolver::next()
{
    abortReply();
    while (!m_queue.empty()) {
        const Pending pending = m_queue.front();
        m_queue.pop_front();
        const QString key = seenKey(pending.url);
        if (m_seen.contains(key))
            continue; // a playlist listing itself, or an entry twice
        m_seen.insert(key);
        if (httppolicy::isHttpOrHttps(pending.url) && pending.depth < kMaxDepth) {
            probe(pending);
        } else {
            m_current = pending;
            emitLater(pending.url);
        }
        return;
    }
    const QString error =
        m_lastError.isEmpty() ? QStringLiteral("No playable stream") : m_lastError;
    QMetaObject::invokeMethod(
        this, [this, error] { Q_EMIT exhausted(error); }, Qt::QueuedConnection);
}

void PlaylistResolver::probe(const Pending &pending)
{
    m_current = pending;
    m_body.clear();
    QNetworkReply *reply = network()->get(httppolicy::request(pending.url));
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &PlaylistResolver::onHeaders);
    connect(reply, &QIODevice::readyRead, this, &PlaylistResolver::onData);
    connect(reply, &QNetworkReply::finished, this, &PlaylistResolver::onFinished);
    m_timeout.start();
}

void PlaylistResolver::onHeaders()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (code >= 300 && code < 400)
        return; // a redirect being followed
    const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (code >= 200 && code < 300 && playlist::isMediaContentType(type)) {
        // Plain media: let the pipeline open it.
        const QUrl url = m_current.url;
        abortReply();
        emitLater(url);
    }
}

void PlaylistResolver::onData()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_body += reply->read(kMaxPlaylistBytes - m_body.size());
    // Audio sent under a vague type shows itself in the first bytes.
    if (m_body.size() >= kMaxPlaylistBytes || playlist::isBinary(m_body.left(512)))
        finishProbe(true);
}

void PlaylistResolver::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        const QNetworkReply::NetworkError error = reply->error();
        const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QString text =
            code >= 400 ? QStringLiteral("HTTP %1 from %2").arg(code).arg(m_current.url.toString())
                        : reply->errorString();
        const QUrl url = m_current.url;
        abortReply();
        if (isFinal(error) || code >= 400) {
            m_lastError = text;
            NSLog(lcMedia(), QtWarningMsg, "playlist: %@", text);
            next();
        } else {
            // Something the media pipeline may still cope with.
            emitLater(url);
        }
        return;
    }
    onData();
    if (m_reply)
        finishProbe(false);
}

void PlaylistResolver::finishProbe(bool truncated)
{
    const QUrl url = m_current.url;
    const QUrl base = m_reply ? m_reply->url() : url; // after redirects
    const QByteArray type =
        m_reply ? m_reply->header(QNetworkRequest::ContentTypeHeader).toByteArray() : QByteArray();
    abortReply();
    QByteArray body = m_body;
    m_body.clear();
    if (truncated) {
        // Keep whole lines only.
        const qsizetype lastLine = body.lastIndexOf('\n');
        if (lastLine > 0)
            body.truncate(lastLine);
    }
    const playlist::Kind kind = playlist::detect(type, body);
    if (kind == playlist::Kind::NotPlaylist || kind == playlist::Kind::Hls) {
        if (kind == playlist::Kind::NotPlaylist && playlist::looksLikeHtml(body)) {
            m_lastError = QStringLiteral("Not an audio stream: %1").arg(url.toString());
            NSLog(lcMedia(), QtWarningMsg, "playlist: %@", m_lastError);
            next();
            return;
        }
        emitLater(url);
        return;
    }
    const QList<QUrl> found = playlist::entries(kind, body, base, kMaxEntries);
    NSLog(lcMedia(), QtInfoMsg, "playlist: %@ lists %ld streams", url.toString(),
          qint64(found.size()));
    if (found.isEmpty())
        m_lastError = QStringLiteral("Empty playlist: %1").arg(url.toString());
    // Entries go ahead of what was queued before, keeping their order.
    for (auto it = found.crbegin(); it != found.crend(); ++it)
        m_queue.push_front({*it, m_current.depth + 1});
    next();
}

#include "moc_PlaylistResolver.cpp"
