#pragma once

#include "find/Station.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class ServerDiscovery;

// What to search for. Empty fields do not filter.
struct StationQuery {
    QString name;
    QString country;
    QString language;
    QString tag;
    int offset = 0;
    int limit = 100;
};

// Talks to the Radio Browser directory: searches stations (most listened
// first, broken ones left out) and reports which station the user played.
//
// Servers come from ORBITUNE_DIRECTORY_URL, from setServers(), or from DNS
// (ServerDiscovery). A failed request (no connection, HTTP error, no answer
// in time, an answer that is too large or not a list of stations) is tried
// on the next server; the first server that answers stays the one asked
// first. Nothing here blocks: answers arrive as signals.
class DirectoryClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 10000;
    static constexpr qint64 kMaxBodyBytes = 4 * 1024 * 1024;

    explicit DirectoryClient(QObject *parent = nullptr);
    ~DirectoryClient() override;

    // "Orbitune/<version>", as the player and image loader send it.
    static QByteArray userAgent();
    // The search URL on a server whose base URL is `base`.
    static QUrl searchUrl(const QUrl &base, const StationQuery &query);

    // Servers to use in this order, instead of looking them up.
    void setServers(const QList<QUrl> &servers);
    QList<QUrl> servers() const { return m_servers; }
    // How long one request (or the look-up) may take before it counts as failed.
    void setTimeout(int ms) { m_timeoutMs = ms; }
    int timeout() const { return m_timeoutMs; }

    // Starts a search, dropping any unfinished one.
    void search(const StationQuery &query);
    void cancel();
    bool isBusy() const { return m_busy; }
    // Tells the directory a station was played (its click count); the
    // answer is not waited for.
    void reportClick(const QString &stationUuid);

Q_SIGNALS:
    void busyChanged(bool busy);
    void searchFinished(const StationQuery &query, const QList<Station> &stations, int skipped);
    void searchFailed(const StationQuery &query, const QString &message);

private:
    void discoveryFound(const QList<QUrl> &servers);
    void discoveryFailed(const QString &message);
    void attempt();
    void readBody();
    void replyFinished();
    void attemptFailed(const QString &message);
    void dropReply();
    void finishWithError(const QString &message);
    void setBusy(bool busy);
    QString timeoutMessage() const;

    QNetworkAccessManager *m_network;
    ServerDiscovery *m_discovery;
    QList<QUrl> m_servers;
    int m_current = 0;
    int m_timeoutMs = kDefaultTimeoutMs;

    StationQuery m_query;
    bool m_busy = false;
    QSet<int> m_tried;
    int m_attemptServer = -1;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    QTimer m_deadline;
};
