#include "find/DirectoryClient.h"

#include "platform/base/AppInfo.h"

#include "find/ServerDiscovery.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// A click's answer is a small JSON object.
constexpr qint64 kMaxClickAnswerBytes = 64 * 1024;

QUrl endpoint(const QUrl &base, const QString &path)
{
    QUrl url = base;
    QString prefix = base.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    url.setPath(prefix + path);
    url.setQuery(QString());
    return url;
}

QNetworkRequest jsonRequest(const QUrl &url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, DirectoryClient::userAgent());
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(3);
    request.setTransferTimeout(timeoutMs);
    return request;
}

} // namespace

DirectoryClient::DirectoryClient(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)),
      m_discovery(new ServerDiscovery(this))
{
    m_servers = ServerDiscovery::fromEnvironment();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        dropReply();
        attemptFailed(timeoutMessage());
    });
    connect(m_discovery, &ServerDiscovery::found, this, &DirectoryClient::discoveryFound);
    connect(m_discovery, &ServerDiscovery::failed, this, &DirectoryClient::discoveryFailed);
}

DirectoryClient::~DirectoryClient()
{
    dropReply();
}

QByteArray DirectoryClient::userAgent()
{
    return QByteArray(appinfo::kUserAgent);
}

QUrl DirectoryClient::searchUrl(const QUrl &base, const StationQuery &query)
{
    // Built by hand so that '+', '&' and '=' in what the user typed reach
    // the server as themselves.
    QStringList items;
    auto add = [&items](const char *key, const QString &value) {
        items << QString::fromLatin1(key) + QLatin1Char('=') +
                     QString::fromLatin1(QUrl::toPercentEncoding(value));
    };
    const std::pair<const char *, QString> filters[] = {{"name", query.name},
                                                        {"country", query.country},
                                                        {"language", query.language},
                                                        {"tag", query.tag}};
    for (const auto &[key, value] : filters) {
        if (!value.trimmed().isEmpty())
            add(key, value.trimmed());
    }
    add("order", QStringLiteral("clickcount"));
    add("reverse", QStringLiteral("true"));
    add("hidebroken", QStringLiteral("true"));
    add("limit", QString::number(query.limit));
    add("offset", QString::number(query.offset));
    QUrl url = endpoint(base, QStringLiteral("/json/stations/search"));
    url.setQuery(items.join(QLatin1Char('&')), QUrl::StrictMode);
    return url;
}

void DirectoryClient::setServers(const QList<QUrl> &servers)
{
    m_servers = servers;
    m_current = 0;
}

void DirectoryClient::search(const StationQuery &query)
{
    m_discovery->cancel();
    dropReply();
    m_query = query;
    m_tried.clear();
    setBusy(true);
    if (m_servers.isEmpty())
        m_discovery->start(m_timeoutMs);
    else
        attempt();
}

void DirectoryClient::cancel()
{
    m_discovery->cancel();
    dropReply();
    setBusy(false);
}

void DirectoryClient::discoveryFound(const QList<QUrl> &servers)
{
    m_servers = servers;
    m_current = 0;
    if (m_busy)
        attempt();
}

void DirectoryClient::discoveryFailed(const QString &message)
{
    if (m_busy)
        finishWithError(message);
}

void DirectoryClient::attempt()
{
    m_attemptServer = -1;
    for (int i = 0; i < m_servers.size(); ++i) {
        const int candidate = (m_current + i) % int(m_servers.size());
        if (!m_tried.contains(candidate)) {
            m_attemptServer = candidate;
            break;
        }
    }
    if (m_attemptServer < 0) {
        finishWithError(QStringLiteral("No station directory server is left to ask."));
        return;
    }
    m_tried.insert(m_attemptServer);
    m_body.clear();
    const QUrl url = searchUrl(m_servers.at(m_attemptServer), m_query);
    m_reply = m_network->get(jsonRequest(url, m_timeoutMs));
    connect(m_reply, &QIODevice::readyRead, this, &DirectoryClient::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &DirectoryClient::replyFinished);
    m_deadline.start(m_timeoutMs);
}

void DirectoryClient::readBody()
{
    if (!m_reply)
        return;
    const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    m_body += m_reply->readAll();
    if (announced > kMaxBodyBytes || m_body.size() > kMaxBodyBytes) {
        dropReply();
        attemptFailed(QStringLiteral("The station directory's answer was too large (over %1 MB).")
                          .arg(kMaxBodyBytes / (1024 * 1024)));
    }
}

void DirectoryClient::replyFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    readBody();
    if (m_reply != reply)
        return; // too large: dropped, and the next server (if any) already asked
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    const QByteArray body = m_body;
    dropReply();

    if (status >= 400) {
        attemptFailed(
            QStringLiteral("The station directory answered with an error (HTTP %1).").arg(status));
        return;
    }
    if (error == QNetworkReply::OperationCanceledError) {
        attemptFailed(timeoutMessage());
        return;
    }
    if (error != QNetworkReply::NoError) {
        attemptFailed(
            QStringLiteral("The station directory could not be reached: %1.").arg(errorText));
        return;
    }
    const stationjson::Result result = stationjson::parse(body);
    if (!result.ok) {
        attemptFailed(result.error);
        return;
    }
    m_current = m_attemptServer;
    setBusy(false);
    Q_EMIT searchFinished(m_query, result.stations, result.skipped);
}

void DirectoryClient::attemptFailed(const QString &message)
{
    if (m_tried.size() < m_servers.size()) {
        attempt();
        return;
    }
    finishWithError(message);
}

void DirectoryClient::finishWithError(const QString &message)
{
    setBusy(false);
    Q_EMIT searchFailed(m_query, message);
}

void DirectoryClient::dropReply()
{
    m_deadline.stop();
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_body.clear();
}

void DirectoryClient::reportClick(const QString &stationUuid)
{
    if (stationUuid.isEmpty() || m_servers.isEmpty())
        return;
    QUrl url = endpoint(m_servers.value(m_current),
                        QStringLiteral("/json/url/") +
                            QString::fromLatin1(QUrl::toPercentEncoding(stationUuid)));
    QNetworkReply *reply = m_network->get(jsonRequest(url, m_timeoutMs));
    // Only the server's count matters: the answer is read and dropped, and
    // cut off once it is longer or takes longer than any real one.
    reply->setReadBufferSize(kMaxClickAnswerBytes);
    connect(reply, &QIODevice::readyRead, reply, [reply, received = qint64(0)]() mutable {
        received += reply->readAll().size();
        if (received > kMaxClickAnswerBytes)
            reply->abort();
    });
    QTimer::singleShot(m_timeoutMs, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void DirectoryClient::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged(busy);
}

QString DirectoryClient::timeoutMessage() const
{
    if (m_timeoutMs % 1000 == 0)
        return QStringLiteral("The station directory did not answer in time (%1 s).")
            .arg(m_timeoutMs / 1000);
    return QStringLiteral("The station directory did not answer in time (%1 ms).").arg(m_timeoutMs);
}

#include "moc_DirectoryClient.cpp"
