#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QDnsLookup;

// Finds the directory's API servers the way its operators ask clients to:
// the SRV records of _api._tcp.radio-browser.info, or, when those cannot be
// had, the addresses of all.api.radio-browser.info turned back into host
// names (HTTPS needs names, not addresses). The servers come back in random
// order so that clients spread over them.
class ServerDiscovery : public QObject {
    Q_OBJECT
public:
    static inline const QString kSrvName = QStringLiteral("_api._tcp.radio-browser.info");
    static inline const QString kAllName = QStringLiteral("all.api.radio-browser.info");

    explicit ServerDiscovery(QObject *parent = nullptr);

    // ORBITUNE_DIRECTORY_URL: one base URL (or several, separated by spaces
    // or commas) that replaces the look-up, e.g. http://127.0.0.1:8080.
    static QList<QUrl> fromEnvironment();
    // "in-addr.arpa" name for an IPv4 address ("1.2.3.4" -> "4.3.2.1.in-addr.arpa").
    static QString reverseName(const QString &ipv4);

    // Emits found() or failed() once, at most timeoutMs later.
    void start(int timeoutMs);
    void cancel();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    void found(const QList<QUrl> &servers);
    void failed(const QString &message);

private:
    void srvDone();
    void addressesDone();
    void nameDone(QDnsLookup *lookup);
    void finish(QList<QUrl> servers);
    void fail(const QString &message);
    void clear();

    bool m_running = false;
    QTimer m_deadline;
    QList<QPointer<QDnsLookup>> m_lookups;
    int m_namesPending = 0;
    QList<QUrl> m_named;
};
