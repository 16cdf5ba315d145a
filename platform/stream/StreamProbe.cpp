#include "platform/stream/StreamProbe.h"

#include "platform/stream/HttpPolicy.h"

#include "platform/stream/IcyHttp.h"
#include "platform/stream/PlaylistResolver.h"

#include <QTcpSocket>

StreamProbe::StreamProbe(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &StreamProbe::probe);
}

StreamProbe::~StreamProbe()
{
    dropSocket();
}

void StreamProbe::start(const QUrl &url, int intervalMs)
{
    stop();
    if (!httppolicy::isHttpOrHttps(url))
        return;
    m_url = url;
    m_timer.start(qMax(1, intervalMs));
}

void StreamProbe::stop()
{
    m_timer.stop();
    dropSocket();
}

void StreamProbe::dropSocket()
{
    if (QTcpSocket *socket = m_socket.data()) {
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void StreamProbe::probe()
{
    // A probe still unanswered after a whole interval has had its chance.
    dropSocket();
    m_redirects = 0;
    request(m_url);
}

void StreamProbe::request(const QUrl &url)
{
    dropSocket();
    m_current = url;
    m_head.clear();
    QTcpSocket *socket = icyhttp::newSocket(url, this);
    if (!socket)
        return;
    m_socket = socket;
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        if (m_socket == socket)
            dropSocket(); // not answering; the next interval asks again
    });
    connect(socket, &QIODevice::readyRead, this, &StreamProbe::onReadyRead);
    icyhttp::connectTo(socket, url, this,
                       [this, socket] { socket->write(icyhttp::getRequest(m_current)); });
}

void StreamProbe::onReadyRead()
{
    QTcpSocket *socket = m_socket.data();
    if (!socket || sender() != socket)
        return;
    m_head += socket->read(httppolicy::kMaxHeadBytes - m_head.size());
    const qsizetype lineEnd = m_head.indexOf('\n');
    if (lineEnd < 0) {
        if (m_head.size() >= httppolicy::kMaxHeadBytes)
            dropSocket();
        return;
    }
    const int status = icyhttp::statusCode(m_head.left(lineEnd));
    if (status >= 200 && status < 300) {
        dropSocket();
        m_timer.stop();
        Q_EMIT answering();
        return;
    }
    if (status >= 300 && status < 400) {
        // The whole head is needed for the new address.
        const bool complete = m_head.contains("\r\n\r\n") || m_head.contains("\n\n");
        if (!complete && m_head.size() < httppolicy::kMaxHeadBytes)
            return;
        const QUrl next =
            httppolicy::redirectTarget(m_current, icyhttp::headerValue(m_head, "Location"));
        if (next.isValid() && m_redirects < httppolicy::kMaxRedirects) {
            ++m_redirects;
            request(next);
            return;
        }
    }
    dropSocket(); // answered, but not with the stream
}

#include "moc_StreamProbe.cpp"
