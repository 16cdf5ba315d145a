#include "platform/stream/HttpPolicy.h"

#include "platform/base/AppInfo.h"

namespace httppolicy {

bool isHttpOrHttps(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QUrl redirectTarget(const QUrl &from, const QByteArray &location)
{
    if (location.trimmed().isEmpty())
        return {};
    const QUrl next = from.resolved(QUrl::fromEncoded(location.trimmed()));
    const bool lessSafe = from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                          next.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
    if (!next.isValid() || !isHttpOrHttps(next) || next.host().isEmpty() || lessSafe)
        return {};
    return next;
}

QNetworkRequest request(const QUrl &url, int idleMs)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(appinfo::kUserAgent));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(idleMs);
    return request;
}

} // namespace httppolicy
