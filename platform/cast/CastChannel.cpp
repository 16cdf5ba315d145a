#include "platform/cast/CastChannel.h"

#include "platform/base/Clock.h"
#include "platform/base/Settings.h"
#include "platform/cast/CastLog.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {
// What the socket holds unread: the rest waits in the kernel.
constexpr qint64 kReadBuffer = 256 * 1024;
// Read in one turn of the event loop at most; the rest in the next turn.
constexpr qsizetype kReadPerTurn = 128 * 1024;
constexpr qsizetype kFramesPerTurn = 64;
} // namespace

CastChannel::CastChannel(const QString &host, quint16 port, const QString &deviceId,
                         QObject *parent)
    : QObject(parent), m_host(host), m_port(port), m_deviceId(deviceId)
{
    m_socket.setReadBufferSize(kReadBuffer);
    m_socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(&m_socket, &QSslSocket::encrypted, this, &CastChannel::encrypted);
    connect(&m_socket, &QSslSocket::readyRead, this, &CastChannel::readSome);
    connect(&m_socket, &QSslSocket::disconnected, this,
            [this] { fail(QStringLiteral("the connection ended")); });
    connect(&m_socket, &QSslSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError) { fail(m_socket.errorString()); });
    m_connectDeadline.setSingleShot(true);
    connect(&m_connectDeadline, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no connection in time")); });
    connect(&m_ping, &QTimer::timeout, this, &CastChannel::heartbeat);
    connect(&m_expiry, &QTimer::timeout, this, &CastChannel::expire);
    m_readMore.setSingleShot(true);
    connect(&m_readMore, &QTimer::timeout, this, &CastChannel::readSome);
}

CastChannel::~CastChannel()
{
    m_socket.disconnect(this);
    if (m_state == State::Open)
        send(kReceiver, kConnectionNs, {{QStringLiteral("type"), QStringLiteral("CLOSE")}});
    m_socket.abort();
}

QString CastChannel::certificateKey(const QString &deviceId)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    return QStringLiteral("cast/certificates/") +
           QString(deviceId).replace(unsafe, QStringLiteral("_")).left(64);
}

void CastChannel::open()
{
    if (m_state != State::Closed)
        return;
    m_state = State::Connecting;
    m_connectDeadline.start(Clock::shared()->scaled(kConnectMs));
    m_socket.connectToHostEncrypted(m_host, m_port);
}

void CastChannel::encrypted()
{
    m_connectDeadline.stop();
    rememberCertificate();
    m_state = State::Open;
    connectTo(kReceiver);
    m_ping.start(Clock::shared()->scaled(kPingMs));
    m_expiry.start(Clock::shared()->scaled(500));
    NSLog(lcGoogleCast(), QtInfoMsg, "connected to %@:%ld", m_host, qint64(m_port));
    Q_EMIT opened();
}

void CastChannel::rememberCertificate()
{
    const QByteArray fingerprint =
        m_socket.peerCertificate().digest(QCryptographicHash::Sha256).toHex();
    const std::unique_ptr<QSettings> settings = settings::open();
    const QString key = certificateKey(m_deviceId);
    const QByteArray known = settings->value(key).toByteArray();
    if (known == fingerprint)
        return;
    if (!known.isEmpty())
        NSLog(lcGoogleCast(), QtWarningMsg, "the certificate of %@ changed (was %@, now %@)",
              m_deviceId, QString::fromLatin1(known), QString::fromLatin1(fingerprint));
    settings->setValue(key, fingerprint);
}

void CastChannel::connectTo(const QString &destination)
{
    send(destination, kConnectionNs, {{QStringLiteral("type"), QStringLiteral("CONNECT")}});
}

void CastChannel::send(const QString &destination, const QString &ns, const QJsonObject &payload)
{
    if (m_state != State::Open)
        return;
    CastMessage message;
    message.sourceId = kSender;
    message.destinationId = destination;
    message.nameSpace = ns;
    message.payloadUtf8 = QJsonDocument(payload).toJson(QJsonDocument::Compact);
    m_socket.write(message.frame());
}

void CastChannel::request(const QString &destination, const QString &ns, QJsonObject payload,
                          Reply reply)
{
    if (m_state != State::Open || m_pending.size() >= kMaxPending) {
        if (reply)
            reply(nullptr);
        return;
    }
    const int id = m_nextRequestId++;
    payload.insert(QStringLiteral("requestId"), id);
    if (reply)
        m_pending[id] = {std::move(reply),
                         Clock::shared()->steadyMs() + Clock::shared()->scaled(kRequestMs)};
    send(destination, ns, payload);
}

void CastChannel::readSome()
{
    qsizetype read = 0;
    qsizetype frames = 0;
    char chunk[16 * 1024];
    while (m_state == State::Open && read < kReadPerTurn && frames < kFramesPerTurn) {
        CastMessage message;
        switch (m_reader.next(&message)) {
        case CastFrameReader::Result::Message:
            ++frames;
            handle(message);
            continue;
        case CastFrameReader::Result::Malformed:
            ++frames;
            NSLog(lcGoogleCast(), QtDebugMsg, "%@ sent a frame that is not a message", m_host);
            continue;
        case CastFrameReader::Result::TooLarge:
            fail(
                QStringLiteral("it sent a frame larger than %1 bytes").arg(CastMessage::kMaxFrame));
            return;
        case CastFrameReader::Result::NeedMore: break;
        }
        const qint64 got = m_socket.read(chunk, std::min<qint64>(sizeof chunk, m_reader.room()));
        if (got <= 0)
            return;
        read += got;
        m_reader.feed(chunk, qsizetype(got));
    }
    // More waits: read on in the next turn, after the window had its own.
    if (m_state == State::Open)
        m_readMore.start(0);
}

void CastChannel::handle(const CastMessage &in)
{
    if (in.payloadType != CastMessage::PayloadType::String)
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(in.payloadUtf8, &error);
    if (!document.isObject()) {
        NSLog(lcGoogleCast(), QtDebugMsg, "%@ sent a payload that is not JSON: %@", m_host,
              error.errorString());
        return;
    }
    const QJsonObject payload = document.object();
    const QString type = payload.value(QStringLiteral("type")).toString();
    if (in.nameSpace == kHeartbeatNs) {
        if (type == QLatin1String("PING"))
            send(in.sourceId, kHeartbeatNs, {{QStringLiteral("type"), QStringLiteral("PONG")}});
        else if (type == QLatin1String("PONG"))
            m_missedPongs = 0;
        return;
    }
    if (in.nameSpace == kConnectionNs) {
        if (type == QLatin1String("CLOSE") && in.sourceId == kReceiver)
            fail(QStringLiteral("it closed the connection"));
        return;
    }
    const int id = payload.value(QStringLiteral("requestId")).toInt();
    const auto pending = id > 0 ? m_pending.find(id) : m_pending.end();
    if (pending == m_pending.end()) {
        Q_EMIT message(in.sourceId, in.nameSpace, payload);
        return;
    }
    const Reply reply = std::move(pending->second.reply);
    m_pending.erase(pending);
    // An answer is a status like any other: it is told too.
    Q_EMIT message(in.sourceId, in.nameSpace, payload);
    if (m_state == State::Open)
        reply(&payload);
}

void CastChannel::heartbeat()
{
    if (m_missedPongs >= kMissedPongsLost) {
        fail(QStringLiteral("it stopped answering"));
        return;
    }
    ++m_missedPongs;
    send(kReceiver, kHeartbeatNs, {{QStringLiteral("type"), QStringLiteral("PING")}});
}

void CastChannel::expire()
{
    const qint64 now = Clock::shared()->steadyMs();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second.deadline > now) {
            ++it;
            continue;
        }
        const Reply reply = std::move(it->second.reply);
        it = m_pending.erase(it);
        reply(nullptr);
        if (m_state != State::Open)
            return;
    }
}

void CastChannel::fail(const QString &why)
{
    if (m_state == State::Lost || m_state == State::Closed)
        return;
    m_state = State::Lost;
    m_connectDeadline.stop();
    m_ping.stop();
    m_expiry.stop();
    m_readMore.stop();
    m_socket.abort();
    NSLog(lcGoogleCast(), QtWarningMsg, "%@:%ld lost: %@", m_host, qint64(m_port), why);
    std::map<int, Pending> pending;
    pending.swap(m_pending);
    for (auto &[id, request] : pending)
        request.reply(nullptr);
    // Last: a listener may let go of the channel.
    Q_EMIT lost(why);
}
