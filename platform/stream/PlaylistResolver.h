#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <deque>

class QNetworkAccessManager;
class QNetworkReply;

// Turns the URL a user gave into stream URLs to open, one at a time. An HTTP
// URL is looked at first: media goes straight to the pipeline, a PLS, M3U or
// XSPF playlist is read (capped in size and time) and its entries become the
// candidates, in order. Call next() for the first candidate and again each
// time one fails to open; exhausted() says there is nothing left to try.
class PlaylistResolver : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxPlaylistBytes = 512 * 1024;
    static constexpr int kMaxEntries = 32;
    static constexpr int kMaxDepth = 3;
    static constexpr int kTimeoutMs = 10000;

    explicit PlaylistResolver(const QUrl &url, QObject *parent = nullptr);
    ~PlaylistResolver() override;

    void next();

    // One manager for all players, made on first use on the main thread.
    static QNetworkAccessManager *network();

Q_SIGNALS:
    void candidate(const QUrl &url);
    void exhausted(const QString &error);

private:
    struct Pending {
        QUrl url;
        int depth = 0;
    };

    void probe(const Pending &pending);
    void onHeaders();
    void onData();
    void onFinished();
    void finishProbe(bool truncated);
    void emitLater(const QUrl &url);
    void abortReply();

    std::deque<Pending> m_queue;
    QSet<QString> m_seen;
    Pending m_current;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    QString m_lastError;
    QTimer m_timeout;
};
