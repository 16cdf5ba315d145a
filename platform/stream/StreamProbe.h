#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QTcpSocket;

// Between full reconnect attempts, asks an HTTP(S) stream every so often
// whether it answers again: a request that is dropped as soon as the status
// line arrives, so a station coming back is noticed within one interval
// without building a pipeline each time. Redirects are followed as the
// player follows them, and an old Shoutcast server's "ICY 200 OK" counts as
// an answer; both are why this speaks HTTP over a plain socket.
class StreamProbe : public QObject {
    Q_OBJECT
public:
    explicit StreamProbe(QObject *parent = nullptr);
    ~StreamProbe() override;

    // Probes `url` every `intervalMs` until stop(); other schemes are ignored.
    void start(const QUrl &url, int intervalMs);
    void stop();
    bool isRunning() const { return m_timer.isActive(); }

Q_SIGNALS:
    // The stream answered with a success status.
    void answering();

private:
    void probe();
    void request(const QUrl &url);
    void onReadyRead();
    void dropSocket();

    QUrl m_url;
    QUrl m_current; // where this probe's request went, after redirects
    int m_redirects = 0;
    QByteArray m_head;
    QTimer m_timer;
    QPointer<QTcpSocket> m_socket;
};
