#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Between full reconnect attempts, asks an HTTP(S) stream every so often
// whether it answers again: a request that is dropped as soon as the
// response headers arrive, so a station coming back is noticed within one
// interval without building a pipeline each time.
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
    void dropReply();

    QUrl m_url;
    QTimer m_timer;
    QNetworkAccessManager *m_nam = nullptr;
    QPointer<QNetworkReply> m_reply;
};
