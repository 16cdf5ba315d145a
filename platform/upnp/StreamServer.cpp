#include "platform/upnp/StreamServer.h"

#include "platform/upnp/CastLog.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
constexpr int kDrainMs = 50;
constexpr qsizetype kMaxRequest = 8 * 1024;
constexpr qsizetype kOggHead = 16 * 1024;
constexpr qint64 kSocketChunk = 64 * 1024;
constexpr qsizetype kFeedBacklog = 4 * StreamServer::kClientBacklog;

QString extension(const QString &mime)
{
    if (mime == QLatin1String("audio/aac"))
        return QStringLiteral("aac");
    if (mime == QLatin1String("application/ogg"))
        return QStringLiteral("ogg");
    return QStringLiteral("mp3");
}
} // namespace

struct StreamServer::Client {
    QTcpSocket *socket = nullptr;
    QByteArray request;
    bool streaming = false;
    QByteArray pending;
    // With ICY metadata: stream bytes left before the next block, and the
    // title the last block carried.
    bool icy = false;
    qsizetype untilMeta = 0;
    QString sentTitle;
};

void StreamServer::Feed::begin(const QString &mime)
{
    std::lock_guard lock(m_mutex);
    m_mime = mime;
    ++m_generation;
    m_pending.clear();
}

void StreamServer::Feed::push(const char *data, qsizetype size)
{
    std::lock_guard lock(m_mutex);
    // Nobody drains a server that is gone (or one that is held up): what
    // waits is bounded too.
    if (m_pending.size() + size > kFeedBacklog) {
        m_dropped += m_pending.size();
        m_pending.clear();
    }
    m_pending.append(data, size);
}

void StreamServer::Feed::setTitle(const QString &title)
{
    std::lock_guard lock(m_mutex);
    m_title = title;
}

QString StreamServer::Feed::mime()
{
    std::lock_guard lock(m_mutex);
    return m_mime;
}

StreamServer::StreamServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    const quint64 a = QRandomGenerator::system()->generate64();
    const quint64 b = QRandomGenerator::system()->generate64();
    m_token = QString::number(a, 16).rightJustified(16, QLatin1Char('0')) +
              QString::number(b, 16).rightJustified(16, QLatin1Char('0'));
    connect(m_server, &QTcpServer::newConnection, this, &StreamServer::accept);
    m_drain.setInterval(kDrainMs);
    connect(&m_drain, &QTimer::timeout, this, &StreamServer::drain);
}

StreamServer::~StreamServer()
{
    for (const auto &client : m_clients)
        client->socket->abort();
}

bool StreamServer::listen(const QHostAddress &address)
{
    if (!m_server->listen(address, 0)) {
        NSLog(lcCast(), QtWarningMsg, "stream server cannot listen on %@: %@", address.toString(),
              m_server->errorString());
        return false;
    }
    m_drain.start();
    return true;
}

QString StreamServer::url() const
{
    if (!m_server->isListening())
        return {};
    return QStringLiteral("http://%1:%2/%3/stream.%4")
        .arg(m_server->serverAddress().toString())
        .arg(m_server->serverPort())
        .arg(m_token, extension(m_mime));
}

bool StreamServer::serves(const QString &uri) const
{
    return !uri.isEmpty() && uri.contains(QLatin1Char('/') + m_token + QLatin1Char('/'));
}

void StreamServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto client = std::make_unique<Client>();
        client->socket = socket;
        Client *raw = client.get();
        m_clients.push_back(std::move(client));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readRequest(raw); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, raw] { flush(raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
    }
}

void StreamServer::readRequest(Client *client)
{
    if (client->streaming) {
        client->socket->readAll();
        return;
    }
    client->request += client->socket->read(kMaxRequest + 1 - client->request.size());
    if (client->request.size() > kMaxRequest) {
        drop(client->socket);
        return;
    }
    if (!client->request.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> line = client->request.left(client->request.indexOf("\r\n")).split(' ');
    const QByteArray method = line.value(0);
    const QByteArray path = line.value(1);
    const QByteArray wanted = ("/" + m_token + "/").toLatin1();
    QTcpSocket *socket = client->socket;
    if ((method != "GET" && method != "HEAD") || !path.startsWith(wanted) ||
        path.mid(wanted.size()).contains('/') || m_mime.isEmpty()) {
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    const QByteArray head = client->request.toLower();
    client->icy = head.contains("\r\nicy-metadata: 1") || head.contains("\r\nicy-metadata:1");
    client->untilMeta = kMetaInterval;
    socket->write(
        QStringLiteral("HTTP/1.1 200 OK\r\nContent-Type: %1\r\nCache-Control: no-cache\r\n"
                       "transferMode.dlna.org: Streaming\r\n%2Connection: close\r\n\r\n")
            .arg(m_mime,
                 client->icy ? QStringLiteral("icy-metaint: %1\r\n").arg(kMetaInterval) : QString())
            .toLatin1());
    if (method == "HEAD") {
        socket->disconnectFromHost();
        return;
    }
    client->streaming = true;
    client->pending = m_head + m_recent;
    NSLog(lcCast(), QtInfoMsg, "renderer %@ fetches the stream", socket->peerAddress().toString());
    Q_EMIT clientConnected();
    flush(client);
}

void StreamServer::drain()
{
    QByteArray bytes;
    QString mime;
    int generation = 0;
    {
        std::lock_guard lock(m_feed->m_mutex);
        bytes.swap(m_feed->m_pending);
        mime = m_feed->m_mime;
        generation = m_feed->m_generation;
        m_dropped += m_feed->m_dropped;
        m_feed->m_dropped = 0;
        m_title = m_feed->m_title;
    }
    if (generation != m_generation) {
        m_generation = generation;
        m_mime = mime;
        m_head.clear();
        m_recent.clear();
        // The clients of the old stream could not follow a new one.
        for (const auto &client : m_clients) {
            if (client->streaming)
                client->socket->disconnectFromHost();
        }
        Q_EMIT streamBegan(mime);
    }
    if (bytes.isEmpty())
        return;
    m_fed += bytes.size();
    if (m_mime == QLatin1String("application/ogg") && m_head.size() < kOggHead)
        m_head += bytes.left(kOggHead - m_head.size());
    m_recent += bytes;
    if (m_recent.size() > kStartBurst)
        m_recent.remove(0, m_recent.size() - kStartBurst);
    for (const auto &client : m_clients) {
        if (!client->streaming)
            continue;
        client->pending += bytes;
        if (client->pending.size() > kClientBacklog) {
            const qsizetype excess = client->pending.size() - kClientBacklog;
            client->pending.remove(0, excess);
            m_dropped += excess;
        }
        flush(client.get());
    }
}

void StreamServer::flush(Client *client)
{
    QTcpSocket *socket = client->socket;
    while (client->streaming && !client->pending.isEmpty() &&
           socket->bytesToWrite() < kSocketChunk) {
        if (client->icy && client->untilMeta == 0) {
            socket->write(metaBlock(client));
            client->untilMeta = kMetaInterval;
        }
        const qsizetype size = client->icy ? qMin(kSocketChunk, client->untilMeta) : kSocketChunk;
        const qint64 written = socket->write(client->pending.left(size));
        if (written <= 0)
            return;
        client->pending.remove(0, written);
        client->untilMeta -= written;
        m_served += written;
    }
}

// A length byte (in 16s) and StreamTitle='...'; padded with zeros; a
// single zero when the title is the one the client has.
QByteArray StreamServer::metaBlock(Client *client) const
{
    if (m_title == client->sentTitle)
        return QByteArray(1, '\0');
    client->sentTitle = m_title;
    QByteArray text = "StreamTitle='" + m_title.toUtf8().left(255 * 16 - 16) + "';";
    const qsizetype blocks = (text.size() + 15) / 16;
    text.append(QByteArray(blocks * 16 - text.size(), '\0'));
    return char(blocks) + text;
}

void StreamServer::drop(QTcpSocket *socket)
{
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [socket](const auto &c) { return c->socket == socket; });
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

#include "moc_StreamServer.cpp"
