// The network half of the image loader: one HTTP transfer per queued
// request, bounded in time and size.
#include "platform/net/NetworkImageLoader.h"

#include "platform/base/AppInfo.h"
#include "platform/base/Log.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

void NetworkImageLoader::startTransfer(const QString &key, Request &request)
{
    QNetworkRequest netRequest(request.url);
    netRequest.setTransferTimeout(m_limits.transferTimeoutMs);
    netRequest.setMaximumRedirectsAllowed(std::max(0, m_limits.maxRedirects));
    netRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                            QNetworkRequest::NoLessSafeRedirectPolicy);
    netRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                            QNetworkRequest::PreferCache);
    netRequest.setRawHeader("Accept", "image/*");
    netRequest.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(appinfo::kUserAgent));

    request.stage = Stage::Transferring;
    request.reply = nam()->get(netRequest);
    // Bounds what the network thread buffers ahead of us.
    request.reply->setReadBufferSize(256 * 1024);
    ++m_inFlight;

    const quint64 id = request.id;
    connect(request.reply, &QNetworkReply::metaDataChanged, this,
            [this, key, id]() { onMetaData(key, id); });
    connect(request.reply, &QIODevice::readyRead, this,
            [this, key, id]() { onReadyRead(key, id); });
    connect(request.reply, &QNetworkReply::finished, this,
            [this, key, id]() { onFinished(key, id); });

    // The inactivity timeout does not stop a server that sends one byte now
    // and then; the deadline does.
    if (m_limits.totalTimeoutMs > 0) {
        request.deadline = new QTimer(this);
        request.deadline->setSingleShot(true);
        connect(request.deadline, &QTimer::timeout, this, [this, key, id]() {
            fail(key, id,
                 QStringLiteral("no complete answer within %1 ms").arg(m_limits.totalTimeoutMs));
        });
        request.deadline->start(m_limits.totalTimeoutMs);
    }
}

void NetworkImageLoader::releaseTransfer(Request &request)
{
    if (request.deadline) {
        request.deadline->stop();
        request.deadline->deleteLater();
        request.deadline = nullptr;
    }
    if (QNetworkReply *reply = std::exchange(request.reply, nullptr)) {
        disconnect(reply, nullptr, this, nullptr);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
        --m_inFlight;
    }
}

void NetworkImageLoader::onMetaData(const QString &key, quint64 id)
{
    Request *request = find(key, id);
    if (!request || !request->reply)
        return;
    const int status = request->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400)
        return; // a redirect on its way; its own length does not matter
    bool ok = false;
    const qint64 length =
        request->reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    if (ok && length > m_limits.maxBytes)
        fail(key, id, QStringLiteral("announced %1 bytes, too large").arg(length));
}

void NetworkImageLoader::onReadyRead(const QString &key, quint64 id)
{
    Request *request = find(key, id);
    if (!request || !request->reply)
        return;
    if (request->data.size() + request->reply->bytesAvailable() > m_limits.maxBytes) {
        fail(key, id, QStringLiteral("more than %1 bytes, too large").arg(m_limits.maxBytes));
        return;
    }
    request->data += request->reply->readAll();
}

void NetworkImageLoader::onFinished(const QString &key, quint64 id)
{
    Request *request = find(key, id);
    if (!request || !request->reply)
        return;
    QNetworkReply *reply = request->reply;
    if (reply->error() != QNetworkReply::NoError) {
        const QString why =
            reply->error() == QNetworkReply::OperationCanceledError
                ? QStringLiteral("no data for %1 ms").arg(m_limits.transferTimeoutMs)
                : reply->errorString();
        fail(key, id, why);
        return;
    }
    if (request->data.size() + reply->bytesAvailable() > m_limits.maxBytes) {
        fail(key, id, QStringLiteral("more than %1 bytes, too large").arg(m_limits.maxBytes));
        return;
    }
    request->data += reply->readAll();
    releaseTransfer(*request);
    startWork(key, *request, std::exchange(request->data, {}));
    pump();
}
