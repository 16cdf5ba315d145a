#pragma once

#include "platform/upnp/ServedPicture.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <memory>
#include <mutex>
#include <vector>

class QTcpServer;
class QTcpSocket;

// A small HTTP server handing the bytes of one live stream to renderers.
// It listens only on the address given (our side of the network that faces
// the renderer) and answers only the path of its URL, which holds a random
// token nobody can guess. Bytes are fed from any thread through feed();
// the main thread passes them on to the connected clients every 50 ms. A
// client that reads slower than the stream loses its oldest bytes instead
// of making the server hold more and more. A client asking for ICY
// metadata (Icy-MetaData: 1) gets the stream's title in blocks every
// kMetaInterval bytes, as a station would send it.
//
// Anyone on the network can connect to it: it holds at most kMaxClients
// connections (a new one pushes out the oldest still sending its request),
// a request head must come within kHeadMs, and a client that takes no
// bytes for kIdleMs is let go.
//
// Beside the stream it serves one picture (the program's, made by us): a
// device may reach neither the station's server nor a file on this
// computer. Each picture has an address of its own under the token, given
// out before the picture is made; a request for it waits until it is (at
// most kHeadMs from connecting).
class StreamServer : public QObject {
    Q_OBJECT
public:
    // What each client may fall behind before bytes are dropped.
    static constexpr qsizetype kClientBacklog = 512 * 1024;
    // What a new client gets at once, so the renderer fills its buffer
    // without waiting for the stream.
    static constexpr qsizetype kStartBurst = 64 * 1024;
    static constexpr qsizetype kMetaInterval = 16000;
    static constexpr int kMaxClients = 8;
    static constexpr qint64 kHeadMs = 5000;
    static constexpr qint64 kIdleMs = 20000;
    static constexpr qsizetype kMaxPicture = ServedPicture::kMaxBytes;

    // Thread-safe; shared with whoever delivers the stream, which may
    // outlive the server.
    class Feed {
    public:
        // A new stream begins, of type `mime`; clients of the old one are
        // let go.
        void begin(const QString &mime);
        void push(const char *data, qsizetype size);
        // The title playing from now on; kept across a new stream.
        void setTitle(const QString &title);
        // The type last begun; empty before.
        QString mime();

    private:
        friend class StreamServer;
        std::mutex m_mutex;
        QString m_mime;
        QString m_title;
        int m_generation = 0;
        QByteArray m_pending;
        qint64 m_dropped = 0;
    };

    explicit StreamServer(QObject *parent = nullptr);
    ~StreamServer() override;

    bool listen(const QHostAddress &address);
    // http://address:port/<token>/stream.<ext>; empty unless listening.
    QString url() const;
    // A new picture is being made: the old one is no longer served, and
    // requests for the new one wait. Returns its serial, for setPicture().
    int beginPicture();
    // The picture `serial` is made (`bytes` of type `mime`), or could not be
    // (empty, or beyond kMaxPicture): what waits for it is answered. A
    // picture begun since makes this one stale and it is dropped.
    void setPicture(int serial, const QByteArray &bytes, const QString &mime);
    // The address of the picture last begun; empty when none was begun or
    // it could not be made, or unless listening.
    QString pictureUrl() const;

    // Whether `uri` (in any form a renderer was given it) is this server's.
    bool serves(const QString &uri) const;
    std::shared_ptr<Feed> feed() const { return m_feed; }
    // The stream's type as last begun; empty before.
    QString mime() const { return m_mime; }
    // Connections held, streaming or still sending their request.
    qsizetype clientCount() const;
    // Bytes of the stream handed to clients (metadata blocks not counted),
    // and dropped for slow ones, since listening.
    qint64 bytesServed() const { return m_served; }
    qint64 bytesDropped() const { return m_dropped; }
    // Bytes of the stream taken from the feed since listening.
    qint64 bytesFed() const { return m_fed; }

Q_SIGNALS:
    // A stream began (its type is known now).
    void streamBegan(const QString &mime);
    void clientConnected();

private:
    struct Client;
    void accept();
    void readRequest(Client *client);
    void answerPicture(Client *client);
    void answerPictureWaiters();
    void drain();
    void expire();
    void flush(Client *client);
    QByteArray metaBlock(Client *client) const;
    // Closes the client's connection; its entry goes at the next sweep, so
    // that no walk over the clients sees the list change under it.
    void drop(Client *client);
    void sweep();

    std::shared_ptr<Feed> m_feed = std::make_shared<Feed>();
    QTcpServer *m_server = nullptr;
    QString m_token;
    QString m_mime;
    QString m_title;
    int m_generation = 0;
    // The stream's first bytes (Ogg's header pages) and its latest ones.
    QByteArray m_head;
    QByteArray m_recent;
    // Bytes of the current stream taken from the feed.
    qint64 m_streamFed = 0;
    std::vector<std::unique_ptr<Client>> m_clients;
    QTimer m_drain;
    qint64 m_served = 0;
    qint64 m_fed = 0;
    qint64 m_dropped = 0;
    ServedPicture m_picture;
};
