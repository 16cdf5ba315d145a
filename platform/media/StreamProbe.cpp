#include "platform/media/StreamProbe.h"

#include "platform/base/AppInfo.h"
#include "platform/media/PlaylistResolver.h"

#include <QTcpSocket>
#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif

namespace {

// The status line and headers of an answer are never longer than this.
constexpr qsizetype kMaxAnswerHead = 16 * 1024;

bool isHttpOrHttps(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// "HTTP/1.1 200 OK" or Shoutcast's "ICY 200 OK": the status code, 0 if the
// line is neither.
int answerStatus(const QByteArray &line)
{
    const QList<QByteArray> parts = line.simplified().split(' ');
    if (parts.size() < 2 || !(parts.at(0).startsWith("HTTP/") || parts.at(0) == "ICY"))
        return 0;
    return parts.at(1).toInt();
}

QByteArray answerHeader(const QByteArray &head, const QByteArray &name)
{
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

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
    if (!isHttpOrHttps(url))
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
    const bool tls = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QTcpSocket *socket = nullptr;
    if (tls) {
#if QT_CONFIG(ssl)
        if (!QSslSocket::supportsSsl())
            return;
        socket = new QSslSocket(this);
#else
        return;
#endif
    } else {
        socket = new QTcpSocket(this);
    }
    m_socket = socket;
    const auto send = [this, socket] {
        QByteArray target = m_current.path(QUrl::FullyEncoded).toUtf8();
        if (target.isEmpty())
            target = "/";
        if (m_current.hasQuery())
            target += '?' + m_current.query(QUrl::FullyEncoded).toUtf8();
        QByteArray host = m_current.host(QUrl::FullyEncoded).toUtf8();
        if (m_current.port() != -1)
            host += ':' + QByteArray::number(m_current.port());
        socket->write("GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: " +
                      appinfo::kUserAgent + "\r\nIcy-MetaData: 1\r\nConnection: close\r\n\r\n");
    };
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        if (m_socket == socket)
            dropSocket(); // not answering; the next interval asks again
    });
    connect(socket, &QIODevice::readyRead, this, &StreamProbe::onReadyRead);
#if QT_CONFIG(ssl)
    if (tls) {
        auto *ssl = static_cast<QSslSocket *>(socket);
        connect(ssl, &QSslSocket::encrypted, this, send);
        ssl->connectToHostEncrypted(url.host(), quint16(url.port(443)));
        return;
    }
#endif
    connect(socket, &QAbstractSocket::connected, this, send);
    socket->connectToHost(url.host(), quint16(url.port(80)));
}

void StreamProbe::onReadyRead()
{
    QTcpSocket *socket = m_socket.data();
    if (!socket || sender() != socket)
        return;
    m_head += socket->read(kMaxAnswerHead - m_head.size());
    const qsizetype lineEnd = m_head.indexOf('\n');
    if (lineEnd < 0) {
        if (m_head.size() >= kMaxAnswerHead)
            dropSocket();
        return;
    }
    const int status = answerStatus(m_head.left(lineEnd));
    if (status >= 200 && status < 300) {
        dropSocket();
        m_timer.stop();
        Q_EMIT answering();
        return;
    }
    if (status >= 300 && status < 400) {
        // The whole head is needed for the new address.
        const bool complete = m_head.contains("\r\n\r\n") || m_head.contains("\n\n");
        if (!complete && m_head.size() < kMaxAnswerHead)
            return;
        const QByteArray location = answerHeader(m_head, "Location");
        const QUrl next = m_current.resolved(QUrl::fromEncoded(location));
        if (!location.isEmpty() && isHttpOrHttps(next) &&
            m_redirects < PlaylistResolver::kMaxRedirects) {
            ++m_redirects;
            request(next);
            return;
        }
    }
    dropSocket(); // answered, but not with the stream
}

#include "moc_StreamProbe.cpp"
