#include "platform/upnp/StreamServer.h"

#include "platform/base/Clock.h"
#include "platform/upnp/CastLog.h"
#include "platform/upnp/RequestHead.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
constexpr int kDrainMs = 50;
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
    // Null once dropped.
    QTcpSocket *socket = nullptr;
    QByteArray request;
    bool answered = false;
    bool streaming = false;
    // When it connected, and when its socket last took bytes (steady ms).
    qint64 since = 0;
    qint64 lastTaken = 0;
    QByteArray pending;
    // With ICY metadata: stream bytes left before the next block, and the
    // title the last block carried.
    bool icy = false;
    qsizetype untilMeta = 0;
    QString sentTitle;
    bool headOnly = false;
    // Waits for the picture being made.
    bool awaitsPicture = false;
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
        drop(client.get());
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

int StreamServer::beginPicture()
{
    // Whoever waits for the last one is told it is gone.
    m_picture.clear();
    answerPictureWaiters();
    return m_picture.begin();
}

void StreamServer::setPicture(int serial, const QByteArray &bytes, const QString &mime)
{
    if (m_picture.set(serial, bytes, mime))
        answerPictureWaiters();
}

QString StreamServer::pictureUrl() const
{
    if (!m_server->isListening() || m_picture.name().isEmpty())
        return {};
    return QStringLiteral("http://%1:%2/%3/%4")
        .arg(m_server->serverAddress().toString())
        .arg(m_server->serverPort())
        .arg(m_token, QString::fromLatin1(m_picture.name()));
}

void StreamServer::answerPictureWaiters()
{
    for (const auto &client : m_clients) {
        if (client->socket && client->awaitsPicture)
            answerPicture(client.get());
    }
}

qsizetype StreamServer::clientCount() const
{
    return std::count_if(m_clients.cbegin(), m_clients.cend(),
                         [](const auto &client) { return client->socket != nullptr; });
}

void StreamServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        sweep();
        if (qsizetype(m_clients.size()) >= kMaxClients) {
            // The oldest that has not asked for the stream yet makes room.
            auto waiting = std::find_if(m_clients.begin(), m_clients.end(),
                                        [](const auto &c) { return !c->streaming; });
            if (waiting == m_clients.end()) {
                NSLog(lcCast(), QtWarningMsg, "stream server full: %@ turned away",
                      socket->peerAddress().toString());
                socket->abort();
                socket->deleteLater();
                continue;
            }
            drop(waiting->get());
            sweep();
        }
        auto client = std::make_unique<Client>();
        client->socket = socket;
        socket->setReadBufferSize(RequestHead::kMaxBytes);
        client->since = Clock::shared()->steadyMs();
        client->lastTaken = client->since;
        Client *raw = client.get();
        m_clients.push_back(std::move(client));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readRequest(raw); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, raw] {
            raw->lastTaken = Clock::shared()->steadyMs();
            flush(raw);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { drop(raw); });
    }
}

void StreamServer::readRequest(Client *client)
{
    QTcpSocket *socket = client->socket;
    if (!socket)
        return;
    if (client->answered) {
        socket->readAll();
        return;
    }
    client->request += socket->read(RequestHead::kMaxBytes - client->request.size());
    const RequestHead head = RequestHead::parse(client->request);
    if (head.status == RequestHead::Status::Incomplete)
        return;
    // What it sends from now on is read and thrown away.
    client->answered = true;
    client->request.clear();
    client->request.squeeze();
    if (head.status == RequestHead::Status::Malformed) {
        socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    const QByteArray wanted = ("/" + m_token + "/").toLatin1();
    const QByteArray name = head.target.mid(wanted.size());
    const bool ours = (head.method == "GET" || head.method == "HEAD") &&
                      head.target.startsWith(wanted) && !name.contains('/');
    // Any other name under the token is the stream.
    const bool picture = name.startsWith("picture-");
    // Only the picture begun last, made or being made.
    const bool pictureServed = picture && name == m_picture.name();
    if (!ours || (picture && !pictureServed) || (!picture && m_mime.isEmpty())) {
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    client->headOnly = head.method == "HEAD";
    if (picture) {
        client->awaitsPicture = true;
        if (m_picture.state() == ServedPicture::State::Made)
            answerPicture(client);
        return;
    }
    client->icy = head.icyMetadata;
    client->untilMeta = kMetaInterval;
    socket->write(
        QStringLiteral("HTTP/1.1 200 OK\r\nContent-Type: %1\r\nCache-Control: no-cache\r\n"
                       "transferMode.dlna.org: Streaming\r\n%2Connection: close\r\n\r\n")
            .arg(m_mime,
                 client->icy ? QStringLiteral("icy-metaint: %1\r\n").arg(kMetaInterval) : QString())
            .toLatin1());
    if (client->headOnly) {
        socket->disconnectFromHost();
        return;
    }
    client->streaming = true;
    client->lastTaken = Clock::shared()->steadyMs();
    // The head (Ogg's header pages) and the latest bytes, each byte once:
    // early in a stream the two overlap.
    const qint64 recentFrom = m_streamFed - m_recent.size();
    client->pending = m_head + m_recent.mid(qMax<qint64>(0, m_head.size() - recentFrom));
    NSLog(lcCast(), QtInfoMsg, "renderer %@ fetches the stream", socket->peerAddress().toString());
    Q_EMIT clientConnected();
    flush(client);
}

// Its picture, or 404 when it could not be made; and the connection ends.
void StreamServer::answerPicture(Client *client)
{
    client->awaitsPicture = false;
    client->socket->write(m_picture.response(client->headOnly));
    client->socket->disconnectFromHost();
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
    sweep();
    expire();
    if (generation != m_generation) {
        m_generation = generation;
        m_mime = mime;
        m_head.clear();
        m_recent.clear();
        m_streamFed = 0;
        // The clients of the old stream could not follow a new one.
        for (const auto &client : m_clients) {
            if (client->streaming)
                drop(client.get());
        }
        Q_EMIT streamBegan(mime);
    }
    if (bytes.isEmpty())
        return;
    m_fed += bytes.size();
    m_streamFed += bytes.size();
    if (m_mime == QLatin1String("application/ogg") && m_head.size() < kOggHead)
        m_head += bytes.left(kOggHead - m_head.size());
    m_recent += bytes;
    if (m_recent.size() > kStartBurst)
        m_recent.remove(0, m_recent.size() - kStartBurst);
    for (const auto &client : m_clients) {
        if (!client->socket || !client->streaming)
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

// A request head that does not come in time, and a client that takes
// nothing for long, are let go.
void StreamServer::expire()
{
    const qint64 now = Clock::shared()->steadyMs();
    for (const auto &client : m_clients) {
        if (!client->socket)
            continue;
        // One with nothing to take is not idle.
        if (client->streaming && client->pending.isEmpty() && client->socket->bytesToWrite() == 0)
            client->lastTaken = now;
        const bool late = !client->streaming && now - client->since > kHeadMs;
        const bool idle = client->streaming && now - client->lastTaken > kIdleMs;
        if (late || idle) {
            NSLog(lcCast(), QtInfoMsg, "%@ let go: %@", client->socket->peerAddress().toString(),
                  late ? QStringLiteral("no request in time") : QStringLiteral("reads nothing"));
            drop(client.get());
        }
    }
}

void StreamServer::flush(Client *client)
{
    QTcpSocket *socket = client->socket;
    while (socket && client->streaming && !client->pending.isEmpty() &&
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

void StreamServer::drop(Client *client)
{
    QTcpSocket *socket = std::exchange(client->socket, nullptr);
    if (!socket)
        return;
    client->streaming = false;
    client->pending.clear();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void StreamServer::sweep()
{
    std::erase_if(m_clients, [](const auto &client) { return client->socket == nullptr; });
}

#include "moc_StreamServer.cpp"
