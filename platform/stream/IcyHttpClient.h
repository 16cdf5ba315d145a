#pragma once

#include "platform/stream/IcyBody.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// Reads one HTTP(S) or Shoutcast stream over a plain socket: a GET with
// "Icy-MetaData: 1" and our User-Agent, redirects followed a few times,
// "ICY 200 OK" taken for "HTTP/1.0 200 OK", a head of bounded size, and a
// deadline for the first byte of the answer, and once the body flows a
// limit on how long it may stay silent (a station that stops sending but
// keeps the connection, a connection half-open after a network change).
// Qt's HTTP classes refuse the
// Shoutcast status line and would hand the metadata blocks on as audio,
// which is why this speaks HTTP itself. Runs on the thread it lives on.
class IcyHttpClient : public QObject {
    Q_OBJECT
public:
    explicit IcyHttpClient(QObject *parent = nullptr);
    ~IcyHttpClient() override;

    void open(const QUrl &url, int deadlineMs);
    void close();
    QByteArray contentType() const { return m_contentType; }
    // The nominal bit rate the server announced (icy-br, in kbit/s also
    // when sent in bit/s), 0 if none or none that audio has.
    int bitrateKbps() const { return m_bitrateKbps; }
    // The body's length when the server said it (a file, not a stream); -1 if not.
    qint64 contentLength() const { return m_contentLength; }
    // Once the body flows: wake for the socket only when `minBytes` are
    // there to read, or `maxWaitMs` after the last read, whichever comes
    // first, instead of for every packet the server sends. 0: every packet.
    void readInPieces(qint64 minBytes, int maxWaitMs);
    // How long the body may bring nothing before the connection counts as
    // failed; the HTTP policy's idle timeout unless told.
    void setIdleTimeout(int ms);

Q_SIGNALS:
    // The answer's head is read and audio follows.
    void opened();
    void audio(const QByteArray &bytes);
    void title(const QString &title);
    // The connection failed or ended; nothing follows.
    void failed(const QString &error);

private:
    void request(const QUrl &url);
    void onReadyRead();
    bool readHead();
    void end(const QString &error);
    void dropSocket();
    void setLowWater(qint64 bytes);

    QUrl m_current;
    int m_redirects = 0;
    QByteArray m_head;
    bool m_inBody = false;
    QByteArray m_contentType;
    int m_bitrateKbps = 0;
    qint64 m_contentLength = -1;
    IcyBody m_body;
    QTimer m_deadline;
    QTimer m_idle;
    qint64 m_pieceBytes = 0;
    qint64 m_lowWater = 1; // what the socket is set to wake for
    QTimer m_pieceWait;
    QPointer<QTcpSocket> m_socket;
};
