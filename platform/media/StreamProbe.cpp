#include "platform/media/StreamProbe.h"

#include "platform/base/AppInfo.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

StreamProbe::StreamProbe(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &StreamProbe::probe);
}

StreamProbe::~StreamProbe()
{
    dropReply();
}

void StreamProbe::start(const QUrl &url, int intervalMs)
{
    stop();
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return;
    m_url = url;
    m_timer.start(qMax(1, intervalMs));
}

void StreamProbe::stop()
{
    m_timer.stop();
    dropReply();
}

void StreamProbe::dropReply()
{
    if (QNetworkReply *reply = m_reply.data()) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void StreamProbe::probe()
{
    if (m_reply)
        return; // the previous probe has not been answered yet
    if (!m_nam)
        m_nam = new QNetworkAccessManager(this);
    QNetworkRequest request(m_url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(appinfo::kUserAgent));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(m_timer.interval());
    QNetworkReply *reply = m_nam->get(request);
    m_reply = reply;
    auto settle = [this, reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 0)
            return false; // headers not there yet
        const bool ok = status >= 200 && status < 300;
        if (m_reply == reply)
            dropReply();
        if (ok) {
            m_timer.stop();
            Q_EMIT answering();
        }
        return true;
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, settle);
    connect(reply, &QNetworkReply::finished, this, [this, reply, settle] {
        if (!settle() && m_reply == reply)
            dropReply();
    });
}
