#include "scrobble/LastFmClient.h"

#include "scrobble/ServiceHttp.h"

#include "platform/base/Log.h"
#include "platform/base/Settings.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrlQuery>

#ifndef ORBITUNE_LASTFM_KEY
#define ORBITUNE_LASTFM_KEY ""
#endif
#ifndef ORBITUNE_LASTFM_SECRET
#define ORBITUNE_LASTFM_SECRET ""
#endif

namespace {

// Last.fm's error codes, by what they mean for the sender.
ScrobbleClient::Outcome outcomeOfError(int code)
{
    switch (code) {
    case 4:  // authentication failed
    case 9:  // invalid session key
    case 10: // invalid API key
    case 13: // invalid signature
    case 14: // token not approved
    case 15: // token expired
    case 26: // API key suspended
        return ScrobbleClient::Outcome::Refused;
    case 8:  // operation failed
    case 11: // service offline
    case 16: // temporarily unavailable
    case 29: // rate limit exceeded
        return ScrobbleClient::Outcome::Retry;
    default: return ScrobbleClient::Outcome::Rejected;
    }
}

QString encoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace

LastFmClient::Application LastFmClient::application()
{
    Application app{QStringLiteral(ORBITUNE_LASTFM_KEY), QStringLiteral(ORBITUNE_LASTFM_SECRET)};
    if (app.isValid())
        return app;
    const auto s = settings::open();
    return Application{s->value(QStringLiteral("lastfm/key")).toString().trimmed(),
                       s->value(QStringLiteral("lastfm/secret")).toString().trimmed()};
}

QByteArray LastFmClient::signature(const QMap<QString, QString> &parameters, const QString &secret)
{
    QByteArray text;
    for (auto it = parameters.begin(); it != parameters.end(); ++it) {
        if (it.key() == QLatin1String("format") || it.key() == QLatin1String("callback"))
            continue;
        text += it.key().toUtf8() + it.value().toUtf8();
    }
    text += secret.toUtf8();
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

LastFmClient::LastFmClient(const QUrl &root, const Application &app, const QString &sessionKey,
                           QObject *parent)
    : ScrobbleClient(parent), m_root(root), m_app(app), m_sessionKey(sessionKey),
      m_network(new QNetworkAccessManager(this))
{
}

void LastFmClient::call(const QString &method, QMap<QString, QString> parameters, bool post,
                        bool signedIn, std::function<void(const Reply &, const QJsonObject &)> done)
{
    parameters.insert(QStringLiteral("method"), method);
    parameters.insert(QStringLiteral("api_key"), m_app.key);
    if (signedIn)
        parameters.insert(QStringLiteral("sk"), m_sessionKey);
    parameters.insert(QStringLiteral("api_sig"),
                      QString::fromLatin1(signature(parameters, m_app.secret)));
    parameters.insert(QStringLiteral("format"), QStringLiteral("json"));
    QStringList pairs;
    for (auto it = parameters.begin(); it != parameters.end(); ++it)
        pairs << encoded(it.key()) + QLatin1Char('=') + encoded(it.value());
    const QByteArray form = pairs.join(QLatin1Char('&')).toLatin1();
    QUrl url = m_root;
    QNetworkRequest request;
    if (!post)
        url.setQuery(QString::fromLatin1(form));
    request.setUrl(url);
    if (post)
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
    servicehttp::send(m_network, request, post ? "POST" : "GET", post ? form : QByteArray(), this,
                      [done = std::move(done)](const servicehttp::Answer &answer) {
                          const QJsonObject o = QJsonDocument::fromJson(answer.body).object();
                          Reply reply;
                          reply.outcome = outcomeOf(answer.status);
                          reply.message = answer.status
                                              ? QStringLiteral("HTTP %1").arg(answer.status)
                                              : answer.error;
                          // Last.fm says what went wrong in the answer, whatever
                          // its status.
                          if (const int code = o.value(QStringLiteral("error")).toInt()) {
                              reply.outcome = outcomeOfError(code);
                              reply.message =
                                  QStringLiteral("error %1: %2")
                                      .arg(code)
                                      .arg(o.value(QStringLiteral("message")).toString().left(200));
                          }
                          done(reply, o);
                      });
}

void LastFmClient::submit(const QList<ScrobbleQueue::Listen> &listens, Done done)
{
    QMap<QString, QString> p;
    for (qsizetype i = 0; i < listens.size() && i < kBatchSize; ++i) {
        const ScrobbleQueue::Listen &l = listens[i];
        const QString n = QStringLiteral("[%1]").arg(i);
        p.insert(QStringLiteral("artist") + n, l.artist);
        p.insert(QStringLiteral("track") + n, l.title);
        p.insert(QStringLiteral("timestamp") + n, QString::number(l.started.toSecsSinceEpoch()));
        if (!l.album.isEmpty())
            p.insert(QStringLiteral("album") + n, l.album);
        // Chosen by the station, not the listener.
        p.insert(QStringLiteral("chosenByUser") + n, QStringLiteral("0"));
    }
    call(QStringLiteral("track.scrobble"), p, true, true,
         [done = std::move(done)](const Reply &reply, const QJsonObject &o) {
             const QJsonObject attr = o.value(QStringLiteral("scrobbles"))
                                          .toObject()
                                          .value(QStringLiteral("@attr"))
                                          .toObject();
             if (reply.outcome == Outcome::Accepted &&
                 attr.value(QStringLiteral("ignored")).toInt())
                 NSLog(lcScrobble(), QtInfoMsg, "scrobbling: Last.fm ignored %ld listens",
                       qint64(attr.value(QStringLiteral("ignored")).toInt()));
             done(reply);
         });
}

void LastFmClient::nowPlaying(const ScrobbleQueue::Listen &listen)
{
    QMap<QString, QString> p{{QStringLiteral("artist"), listen.artist},
                             {QStringLiteral("track"), listen.title}};
    if (!listen.album.isEmpty())
        p.insert(QStringLiteral("album"), listen.album);
    call(QStringLiteral("track.updateNowPlaying"), p, true, true,
         [](const Reply &reply, const QJsonObject &) {
             if (reply.outcome != Outcome::Accepted)
                 NSLog(lcScrobble(), QtInfoMsg, "scrobbling: Last.fm now playing: %@",
                       reply.message);
         });
}

void LastFmClient::love(const QString &artist, const QString &title, Done done)
{
    call(QStringLiteral("track.love"),
         {{QStringLiteral("artist"), artist}, {QStringLiteral("track"), title}}, true, true,
         [done = std::move(done)](const Reply &reply, const QJsonObject &) { done(reply); });
}

void LastFmClient::requestToken(std::function<void(Outcome, const QString &)> done)
{
    call(QStringLiteral("auth.getToken"), {}, false, false,
         [done = std::move(done)](const Reply &reply, const QJsonObject &o) {
             const QString token = o.value(QStringLiteral("token")).toString().left(256);
             done(token.isEmpty() && reply.outcome == Outcome::Accepted ? Outcome::Rejected
                                                                        : reply.outcome,
                  token);
         });
}

QUrl LastFmClient::approvalPage(const QString &token) const
{
    QUrl url(QString::fromLatin1(kApprovalPage));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("api_key"), m_app.key);
    q.addQueryItem(QStringLiteral("token"), token);
    url.setQuery(q);
    return url;
}

void LastFmClient::requestSession(
    const QString &token, std::function<void(Outcome, const QString &, const QString &)> done)
{
    call(QStringLiteral("auth.getSession"), {{QStringLiteral("token"), token}}, false, false,
         [this, done = std::move(done)](const Reply &reply, const QJsonObject &o) {
             const QJsonObject session = o.value(QStringLiteral("session")).toObject();
             const QString name = session.value(QStringLiteral("name")).toString().left(256);
             const QString key = session.value(QStringLiteral("key")).toString().left(256);
             if (reply.outcome == Outcome::Accepted && !key.isEmpty())
                 m_sessionKey = key;
             done(key.isEmpty() && reply.outcome == Outcome::Accepted ? Outcome::Rejected
                                                                      : reply.outcome,
                  name, key);
         });
}

#include "moc_LastFmClient.cpp"
