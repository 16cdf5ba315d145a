#include "scrobble/ListenBrainzClient.h"

#include "scrobble/ServiceHttp.h"

#include "platform/base/Log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace {

QJsonObject payloadOf(const ScrobbleQueue::Listen &listen, bool withTime)
{
    QJsonObject track{
        {QStringLiteral("artist_name"), listen.artist},
        {QStringLiteral("track_name"), listen.title},
        {QStringLiteral("additional_info"),
         QJsonObject{
             {QStringLiteral("submission_client"), QStringLiteral("Orbitune")},
             {QStringLiteral("submission_client_version"), QStringLiteral(ORBITUNE_VERSION)}}}};
    if (!listen.album.isEmpty())
        track.insert(QStringLiteral("release_name"), listen.album);
    QJsonObject out{{QStringLiteral("track_metadata"), track}};
    if (withTime)
        out.insert(QStringLiteral("listened_at"), listen.started.toSecsSinceEpoch());
    return out;
}

QUrl endpoint(QUrl address, const QString &path)
{
    QString base = address.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    address.setPath(base + path);
    address.setQuery(QString());
    return address;
}

} // namespace

ListenBrainzClient::ListenBrainzClient(const QUrl &address, const QString &token, QObject *parent)
    : ScrobbleClient(parent), m_address(address), m_token(token.toUtf8()),
      m_network(new QNetworkAccessManager(this))
{
}

void ListenBrainzClient::post(const QString &path, const QByteArray &body, Done done)
{
    QNetworkRequest request(endpoint(m_address, path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Authorization", "Token " + m_token);
    servicehttp::send(m_network, request, "POST", body, this,
                      [done = std::move(done)](const servicehttp::Answer &answer) {
                          Reply reply;
                          reply.outcome = outcomeOf(answer.status);
                          reply.message = answer.status
                                              ? QStringLiteral("HTTP %1").arg(answer.status)
                                              : answer.error;
                          // Out of requests for now: wait until the window resets.
                          if (answer.status == 429 || answer.rateRemaining == 0)
                              reply.waitMs = answer.rateResetInMs;
                          done(reply);
                      });
}

void ListenBrainzClient::submit(const QList<ScrobbleQueue::Listen> &listens, Done done)
{
    QJsonArray payload;
    for (const ScrobbleQueue::Listen &listen : listens)
        payload.append(payloadOf(listen, true));
    const QJsonObject body{{QStringLiteral("listen_type"), listens.size() == 1
                                                               ? QStringLiteral("single")
                                                               : QStringLiteral("import")},
                           {QStringLiteral("payload"), payload}};
    post(QStringLiteral("/1/submit-listens"), QJsonDocument(body).toJson(QJsonDocument::Compact),
         std::move(done));
}

void ListenBrainzClient::nowPlaying(const ScrobbleQueue::Listen &listen)
{
    const QJsonObject body{{QStringLiteral("listen_type"), QStringLiteral("playing_now")},
                           {QStringLiteral("payload"), QJsonArray{payloadOf(listen, false)}}};
    post(QStringLiteral("/1/submit-listens"), QJsonDocument(body).toJson(QJsonDocument::Compact),
         [](const Reply &reply) {
             if (reply.outcome != Outcome::Accepted)
                 NSLog(lcScrobble(), QtInfoMsg, "scrobbling: ListenBrainz now playing: %@",
                       reply.message);
         });
}

void ListenBrainzClient::love(const QString &artist, const QString &title, Done done)
{
    QUrl url = endpoint(m_address, QStringLiteral("/1/metadata/lookup/"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("artist_name"), artist);
    query.addQueryItem(QStringLiteral("recording_name"), title);
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Token " + m_token);
    servicehttp::send(m_network, request, "GET", QByteArray(), this,
                      [this, done = std::move(done)](const servicehttp::Answer &answer) {
                          const QString mbid = QJsonDocument::fromJson(answer.body)
                                                   .object()
                                                   .value(QStringLiteral("recording_mbid"))
                                                   .toString()
                                                   .left(64);
                          if (answer.status != 200 || mbid.isEmpty()) {
                              Reply reply;
                              reply.outcome = answer.status == 200 ? Outcome::Rejected
                                                                   : outcomeOf(answer.status);
                              reply.message = QStringLiteral("no recording found");
                              done(reply);
                              return;
                          }
                          const QJsonObject body{{QStringLiteral("recording_mbid"), mbid},
                                                 {QStringLiteral("score"), 1}};
                          post(QStringLiteral("/1/feedback/recording-feedback"),
                               QJsonDocument(body).toJson(QJsonDocument::Compact), done);
                      });
}

void ListenBrainzClient::validate(std::function<void(Outcome, const QString &)> done)
{
    QNetworkRequest request(endpoint(m_address, QStringLiteral("/1/validate-token")));
    request.setRawHeader("Authorization", "Token " + m_token);
    servicehttp::send(m_network, request, "GET", QByteArray(), this,
                      [done = std::move(done)](const servicehttp::Answer &answer) {
                          const QJsonObject o = QJsonDocument::fromJson(answer.body).object();
                          Outcome outcome = outcomeOf(answer.status);
                          // A server says an unknown token in its answer.
                          if (outcome == Outcome::Accepted &&
                              !o.value(QStringLiteral("valid")).toBool())
                              outcome = Outcome::Refused;
                          done(outcome, o.value(QStringLiteral("user_name")).toString().left(256));
                      });
}

#include "moc_ListenBrainzClient.cpp"
