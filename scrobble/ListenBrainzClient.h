#pragma once

#include "scrobble/ScrobbleClient.h"

#include <QUrl>

class QNetworkAccessManager;

// A ListenBrainz server (listenbrainz.org or one of its own at another
// address): listens sent with the user's token, one as "single", more as
// "import"; "now playing" as "playing_now"; the token checked and the
// account's name read. The rate-limit headers of every answer are passed
// on as the wait before the next request.
class ListenBrainzClient : public ScrobbleClient {
    Q_OBJECT
public:
    static constexpr char kService[] = "listenbrainz";
    static constexpr char kDefaultAddress[] = "https://api.listenbrainz.org";
    // The service takes at most 1000 listens in one request; fewer keep each
    // request small.
    static constexpr int kBatchSize = 100;

    explicit ListenBrainzClient(const QUrl &address, const QString &token,
                                QObject *parent = nullptr);

    QString service() const override { return QString::fromLatin1(kService); }
    int batchSize() const override { return kBatchSize; }
    void submit(const QList<ScrobbleQueue::Listen> &listens, Done done) override;
    void nowPlaying(const ScrobbleQueue::Listen &listen) override;
    // The recording looked up by artist and title, then feedback with a
    // score of 1 for it.
    void love(const QString &artist, const QString &title, Done done) override;
    // Checks the token: `done(outcome, user name)`.
    void validate(std::function<void(Outcome, const QString &)> done);

private:
    void post(const QString &path, const QByteArray &body, Done done);

    QUrl m_address;
    QByteArray m_token;
    QNetworkAccessManager *m_network;
};
