#include "platform/stream/IcyHttp.h"

#include "platform/base/AppInfo.h"

#include <QList>
#include <QTcpSocket>
#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif

namespace icyhttp {

QTcpSocket *newSocket(const QUrl &url, QObject *parent)
{
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return new QTcpSocket(parent);
#if QT_CONFIG(ssl)
    if (QSslSocket::supportsSsl())
        return new QSslSocket(parent);
#endif
    return nullptr;
}

void connectTo(QTcpSocket *socket, const QUrl &url, QObject *context,
               const std::function<void()> &send)
{
#if QT_CONFIG(ssl)
    if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
        QObject::connect(ssl, &QSslSocket::encrypted, context, send);
        ssl->connectToHostEncrypted(url.host(), quint16(url.port(443)));
        return;
    }
#endif
    QObject::connect(socket, &QAbstractSocket::connected, context, send);
    socket->connectToHost(url.host(), quint16(url.port(80)));
}

QByteArray getRequest(const QUrl &url, const QByteArray &extraHeaders)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (url.port() != -1)
        host += ':' + QByteArray::number(url.port());
    return "GET " + target + " HTTP/1.1\r\nHost: " + host +
           "\r\nUser-Agent: " + appinfo::kUserAgent + "\r\nIcy-MetaData: 1\r\n" + extraHeaders +
           "Connection: close\r\n\r\n";
}

int statusCode(const QByteArray &statusLine)
{
    const QList<QByteArray> parts = statusLine.simplified().split(' ');
    if (parts.size() < 2 || !(parts.at(0).startsWith("HTTP/") || parts.at(0) == "ICY"))
        return 0;
    return parts.at(1).toInt();
}

QByteArray headerValue(const QByteArray &head, const QByteArray &name)
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

} // namespace icyhttp
