#pragma once

#include <QByteArray>
#include <QUrl>

#include <functional>

class QObject;
class QTcpSocket;

// What the stream client and the stream probe share of asking a station
// for its stream over HTTP(S) themselves: the socket, the request and the
// answer's status and headers, Shoutcast's "ICY 200 OK" included.
namespace icyhttp {

// A socket for `url`, TLS for https; null when TLS is not available.
QTcpSocket *newSocket(const QUrl &url, QObject *parent);
// Connects `socket` to `url`'s host and calls `send` once it can be written
// to (after the handshake for TLS).
void connectTo(QTcpSocket *socket, const QUrl &url, QObject *context,
               const std::function<void()> &send);
// "GET" for `url` with our User-Agent and ICY metadata asked for;
// `extraHeaders` ("Name: value\r\n" lines) go before Connection.
QByteArray getRequest(const QUrl &url, const QByteArray &extraHeaders = {});

// "HTTP/1.1 200 OK" or "ICY 200 OK": the status code, 0 if the line is
// neither.
int statusCode(const QByteArray &statusLine);
// The value of header `name` (any case) in an answer's head; empty if none.
QByteArray headerValue(const QByteArray &head, const QByteArray &name);

} // namespace icyhttp
