#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// One picture fetched over HTTP(S), bounded: no bytes for `idleMs` ends it,
// as does not being complete within `deadlineMs` (a server sending a byte
// now and then), a body or an announced length above `maxBytes`, or more
// than `maxRedirects` redirects (never from https to http). Says once how it
// ended; destroyed before that, it aborts.
class ImageTransfer : public QObject {
    Q_OBJECT
public:
    struct Bounds {
        int idleMs = 10'000;
        int deadlineMs = 30'000; // 0: none
        int maxRedirects = 5;
        qint64 maxBytes = 4 * 1024 * 1024;
    };

    ImageTransfer(QNetworkAccessManager *manager, const QUrl &url, const Bounds &bounds,
                  QObject *parent = nullptr);
    ~ImageTransfer() override;

Q_SIGNALS:
    void finished(const QByteArray &bytes);
    void failed(const QString &why);

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void fail(const QString &why);
    void stop();

    Bounds m_bounds;
    // Qt's network access may go first (it owns its replies).
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    QByteArray m_data;
};
