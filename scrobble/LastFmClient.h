#pragma once

#include "scrobble/ScrobbleClient.h"

#include <QMap>
#include <QUrl>

class QNetworkAccessManager;

// Last.fm's API 2.0: every call signed with the application's secret
// (api_sig, the MD5 of the parameters' names and values in name order, then
// the secret; `format` is not signed). The desktop's authentication: a
// token, approved by the user on Last.fm's page in the browser, exchanged
// for a session key. Listens as track.scrobble, at most kBatchSize a call
// and none older than Last.fm takes; "now playing" as
// track.updateNowPlaying; a loved song as track.love.
class LastFmClient : public ScrobbleClient {
    Q_OBJECT
public:
    static constexpr char kService[] = "lastfm";
    static constexpr char kDefaultRoot[] = "https://ws.audioscrobbler.com/2.0/";
    static constexpr char kApprovalPage[] = "https://www.last.fm/api/auth/";
    static constexpr int kBatchSize = 50;
    static constexpr qint64 kMaxAgeMs = qint64(14) * 24 * 3600 * 1000;

    // The application's key and secret.
    struct Application {
        QString key;
        QString secret;
        bool isValid() const { return !key.isEmpty() && !secret.isEmpty(); }
    };
    // The build's (ORBITUNE_LASTFM_KEY, ORBITUNE_LASTFM_SECRET), else the
    // settings file's ([lastfm] key, secret); invalid when neither has
    // both, and Last.fm is not available.
    static Application application();
    static QByteArray signature(const QMap<QString, QString> &parameters, const QString &secret);

    LastFmClient(const QUrl &root, const Application &app, const QString &sessionKey,
                 QObject *parent = nullptr);

    QString service() const override { return QString::fromLatin1(kService); }
    int batchSize() const override { return kBatchSize; }
    qint64 maxAgeMs() const override { return kMaxAgeMs; }
    void submit(const QList<ScrobbleQueue::Listen> &listens, Done done) override;
    void nowPlaying(const ScrobbleQueue::Listen &listen) override;
    void love(const QString &artist, const QString &title, Done done) override;

    // The first step of connecting: a token for the user to approve.
    void requestToken(std::function<void(Outcome, const QString &token)> done);
    // The page the user approves `token` on.
    QUrl approvalPage(const QString &token) const;
    // The last step, once approved: the account's name and session key.
    void requestSession(const QString &token,
                        std::function<void(Outcome, const QString &user, const QString &key)> done);

private:
    // Calls `method` signed, with the session key unless `signedIn` is
    // false; `done` gets the outcome and the answer's JSON.
    void call(const QString &method, QMap<QString, QString> parameters, bool post, bool signedIn,
              std::function<void(const Reply &, const QJsonObject &)> done);

    QUrl m_root;
    Application m_app;
    QString m_sessionKey;
    QNetworkAccessManager *m_network;
};
