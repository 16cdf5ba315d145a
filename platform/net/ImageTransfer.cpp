#include "platform/net/ImageTransfer.h"

#include "platform/base/AppInfo.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

ImageTransfer::ImageTransfer(QNetworkAccessManager *manager, const QUrl &url, const Bounds &bounds,
                             QObject *parent)
    : QObject(parent), m_bounds(bounds)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(m_bounds.idleMs);
    request.setMaximumRedirectsAllowed(std::max(0, m_bounds.maxRedirects));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferCache);
    request.setRawHeader("Accept", "image/*");
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(appinfo::kUserAgent));

    m_reply = manager->get(request);
    // Bounds what the network thread buffers ahead of us.
    m_reply->setReadBufferSize(256 * 1024);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &ImageTransfer::onMetaData);
    connect(m_reply, &QIODevice::readyRead, this, &ImageTransfer::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &ImageTransfer::onFinished);

    // The inactivity timeout does not stop a server that sends one byte now
    // and then; the deadline does.
    if (m_bounds.deadlineMs > 0) {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            fail(QStringLiteral("no complete answer within %1 ms").arg(m_bounds.deadlineMs));
        });
        m_deadline.start(m_bounds.deadlineMs);
    }
}

ImageTransfer::~ImageTransfer()
{
    stop();
}

void ImageTransfer::stop()
{
    m_deadline.stop();
    if (QNetworkReply *reply = std::exchange(m_reply, nullptr).data()) {
        disconnect(reply, nullptr, this, nullptr);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
    }
}

void ImageTransfer::fail(const QString &why)
{
    stop();
    m_data.clear();
    Q_EMIT failed(why);
}

void ImageTransfer::onMetaData()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400)
        return; // a redirect on its way; its own length does not matter
    bool ok = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    if (ok && length > m_bounds.maxBytes)
        fail(QStringLiteral("announced %1 bytes, too large").arg(length));
}

void ImageTransfer::onReadyRead()
{
    if (m_data.size() + m_reply->bytesAvailable() > m_bounds.maxBytes) {
        fail(QStringLiteral("more than %1 bytes, too large").arg(m_bounds.maxBytes));
        return;
    }
    m_data += m_reply->readAll();
}

void ImageTransfer::onFinished()
{
    if (m_reply->error() != QNetworkReply::NoError) {
        fail(m_reply->error() == QNetworkReply::OperationCanceledError
                 ? QStringLiteral("no data for %1 ms").arg(m_bounds.idleMs)
                 : m_reply->errorString());
        return;
    }
    onReadyRead();
    if (!m_reply)
        return; // too large
    stop();
    Q_EMIT finished(std::exchange(m_data, {}));
}

#include "moc_ImageTransfer.cpp"
