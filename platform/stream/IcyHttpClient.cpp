#include "platform/stream/IcyHttpClient.h"

#include "platform/stream/HttpPolicy.h"

#include "platform/stream/IcyHttp.h"
#include "platform/stream/PlaylistResolver.h"

#include <QTcpSocket>

#include <algorithm>

#include <sys/socket.h>

namespace {

// A metadata block is at most 255 * 16 bytes; an interval beyond this is no
// interval a server means.
constexpr qint64 kMaxMetaInterval = 1 << 20;

} // namespace

IcyHttpClient::IcyHttpClient(QObject *parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        end(QStringLiteral("Timed out connecting to %1").arg(m_current.toString()));
    });
    m_idle.setSingleShot(true);
    m_idle.setInterval(httppolicy::kIdleTimeoutMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        end(QStringLiteral("Nothing came from %1 for %2 s")
                .arg(m_current.toString())
                .arg(m_idle.interval() / 1000.0));
    });
    m_pieceWait.setSingleShot(true);
    // Waited long enough: whatever is there is read at once.
    connect(&m_pieceWait, &QTimer::timeout, this, [this] { setLowWater(1); });
    m_body.audio = [this](const QByteArray &bytes) { Q_EMIT audio(bytes); };
    m_body.title = [this](const QString &t) { Q_EMIT title(t); };
}

IcyHttpClient::~IcyHttpClient()
{
    dropSocket();
}

void IcyHttpClient::open(const QUrl &url, int deadlineMs)
{
    m_redirects = 0;
    m_deadline.start(qMax(1, deadlineMs));
    request(url);
}

void IcyHttpClient::setIdleTimeout(int ms)
{
    m_idle.setInterval(qMax(1, ms)); // a wait under way starts over
}

void IcyHttpClient::close()
{
    m_deadline.stop();
    dropSocket();
}

void IcyHttpClient::readInPieces(qint64 minBytes, int maxWaitMs)
{
    const qint64 piece = minBytes > 1 ? minBytes : 0;
    const int wait = qMax(1, maxWaitMs);
    // Asked again as before (the player asks at each look, more often than
    // the wait): the wait under way stands, or it would never end.
    if (piece == m_pieceBytes && wait == m_pieceWait.interval())
        return;
    m_pieceBytes = piece;
    m_pieceWait.setInterval(wait);
    if (!m_pieceBytes) {
        m_pieceWait.stop();
        setLowWater(1);
    } else if (m_inBody) {
        setLowWater(m_pieceBytes);
        m_pieceWait.start();
    }
}

// The kernel tells the socket readable only once this many bytes are there
// (or the connection ended), so no event loop wakes for fewer.
void IcyHttpClient::setLowWater(qint64 bytes)
{
    QTcpSocket *socket = m_socket.data();
    bytes = std::clamp<qint64>(bytes, 1, 1 << 20);
    if (!socket || bytes == m_lowWater)
        return;
    const int value = int(bytes);
    const qintptr fd = socket->socketDescriptor();
    if (fd >= 0 && ::setsockopt(int(fd), SOL_SOCKET, SO_RCVLOWAT, &value, sizeof value) == 0)
        m_lowWater = bytes;
}

void IcyHttpClient::dropSocket()
{
    m_pieceWait.stop();
    m_idle.stop();
    m_lowWater = 1; // a new socket's own
    if (QTcpSocket *socket = m_socket.data()) {
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void IcyHttpClient::end(const QString &error)
{
    close();
    Q_EMIT failed(error);
}

void IcyHttpClient::request(const QUrl &url)
{
    dropSocket();
    m_current = url;
    m_head.clear();
    m_inBody = false;
    if (!httppolicy::isHttpOrHttps(url)) {
        QMetaObject::invokeMethod(
            this, [this] { end(QStringLiteral("Not an HTTP address")); }, Qt::QueuedConnection);
        return;
    }
    QTcpSocket *socket = icyhttp::newSocket(url, this);
    if (!socket) {
        QMetaObject::invokeMethod(
            this, [this] { end(QStringLiteral("TLS is not available")); }, Qt::QueuedConnection);
        return;
    }
    m_socket = socket;
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        if (m_socket != socket)
            return;
        if (socket->error() == QAbstractSocket::RemoteHostClosedError && m_inBody)
            end(QStringLiteral("The stream ended"));
        else
            end(socket->errorString());
    });
    connect(socket, &QIODevice::readyRead, this, &IcyHttpClient::onReadyRead);
    icyhttp::connectTo(socket, url, this, [this, socket] {
        socket->write(icyhttp::getRequest(m_current, "Accept: */*\r\n"));
    });
}

void IcyHttpClient::onReadyRead()
{
    QTcpSocket *socket = m_socket.data();
    if (!socket || sender() != socket)
        return;
    if (!m_inBody) {
        m_head += socket->read(httppolicy::kMaxHeadBytes - m_head.size());
        if (!readHead() || m_socket != socket || !m_inBody)
            return; // more head to come, or redirected or failed
    }
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;
    m_idle.start();
    QPointer<IcyHttpClient> self(this);
    if (!m_body.feed(bytes)) {
        end(QStringLiteral("Malformed chunked answer"));
        return;
    }
    if (!self || m_socket != socket)
        return;
    if (m_body.finished()) {
        end(QStringLiteral("The stream ended"));
    } else if (m_pieceBytes) {
        setLowWater(m_pieceBytes);
        m_pieceWait.start();
    }
}

// True once the head is complete and the body follows in the socket (or the
// answer was dealt with otherwise).
bool IcyHttpClient::readHead()
{
    qsizetype headEnd = m_head.indexOf("\r\n\r\n");
    qsizetype bodyStart = headEnd + 4;
    if (headEnd < 0) {
        headEnd = m_head.indexOf("\n\n");
        bodyStart = headEnd + 2;
    }
    if (headEnd < 0) {
        if (m_head.size() >= httppolicy::kMaxHeadBytes)
            end(QStringLiteral("The answer's head is too long"));
        return false;
    }
    const QByteArray head = m_head.left(headEnd);
    const QByteArray rest = m_head.mid(bodyStart);
    const int code = icyhttp::statusCode(head.left(head.indexOf('\n')));
    const bool known = code != 0;
    if (code >= 300 && code < 400) {
        const QUrl next =
            httppolicy::redirectTarget(m_current, icyhttp::headerValue(head, "Location"));
        if (!next.isValid()) {
            end(QStringLiteral("A redirect that is not followed, from %1")
                    .arg(m_current.toString()));
        } else if (m_redirects < httppolicy::kMaxRedirects) {
            ++m_redirects;
            request(next);
        } else {
            end(QStringLiteral("Too many redirects"));
        }
        return true;
    }
    if (code < 200 || code >= 300) {
        end(known ? QStringLiteral("The server answered %1").arg(code)
                  : QStringLiteral("Not an HTTP answer"));
        return true;
    }
    m_deadline.stop();
    m_idle.start();
    m_contentType =
        icyhttp::headerValue(head, "Content-Type").split(';').first().trimmed().toLower();
    // Some servers send bit/s where kbit/s is meant; anything else out of
    // the range of audio is no rate at all.
    int kbps = icyhttp::headerValue(head, "icy-br").split(',').first().trimmed().toInt();
    if (kbps >= 8000 && kbps <= 1'000'000)
        kbps /= 1000;
    m_bitrateKbps = kbps >= 8 && kbps <= 1000 ? kbps : 0;
    const qint64 metaint = icyhttp::headerValue(head, "icy-metaint").toLongLong();
    bool hasLength = false;
    m_contentLength = icyhttp::headerValue(head, "Content-Length").toLongLong(&hasLength);
    if (!hasLength)
        m_contentLength = -1;
    const bool chunked =
        icyhttp::headerValue(head, "Transfer-Encoding").toLower().contains("chunked");
    m_body.reset(chunked, metaint > 0 && metaint <= kMaxMetaInterval ? metaint : 0);
    m_inBody = true;
    m_head.clear();
    QPointer<IcyHttpClient> self(this);
    Q_EMIT opened();
    if (!self || !m_socket)
        return true;
    if (!rest.isEmpty() && !m_body.feed(rest))
        end(QStringLiteral("Malformed chunked answer"));
    return true;
}

#include "moc_IcyHttpClient.cpp"
