#pragma once

#include "platform/cast/CastFrameReader.h"

#include <QJsonObject>
#include <QObject>
#include <QSslSocket>
#include <QTimer>

#include <functional>
#include <map>

// One TLS connection to a Cast device, as sender "sender-0": the device's
// self-signed certificate is taken (as every Cast sender does) and its
// fingerprint remembered per device in the settings file, so that a changed
// certificate is noticed and logged. The virtual connection to "receiver-0"
// is opened on connecting; the heartbeat pings every 5 s and answers the
// device's pings, and three pings unanswered mean the device is lost.
// Payloads are JSON of at most one frame; a request carries a requestId and
// hears its answer or, past its deadline, nothing.
class CastChannel : public QObject {
    Q_OBJECT
public:
    static constexpr int kConnectMs = 5000;
    static constexpr int kPingMs = 5000;
    static constexpr int kMissedPongsLost = 3;
    static constexpr int kRequestMs = 5000;
    // Requests waiting for an answer; more are refused at once.
    static constexpr std::size_t kMaxPending = 32;

    static inline const QString kSender = QStringLiteral("sender-0");
    static inline const QString kReceiver = QStringLiteral("receiver-0");
    static inline const QString kConnectionNs =
        QStringLiteral("urn:x-cast:com.google.cast.tp.connection");
    static inline const QString kHeartbeatNs =
        QStringLiteral("urn:x-cast:com.google.cast.tp.heartbeat");

    enum class State { Closed, Connecting, Open, Lost };

    // `deviceId` names the device's remembered certificate.
    CastChannel(const QString &host, quint16 port, const QString &deviceId,
                QObject *parent = nullptr);
    ~CastChannel() override;

    void open();
    State state() const { return m_state; }

    // The answer to a request, or null when its deadline passed or the
    // connection went.
    using Reply = std::function<void(const QJsonObject *answer)>;
    // Sends `payload` with a fresh requestId; `reply` hears the answer.
    void request(const QString &destination, const QString &ns, QJsonObject payload,
                 Reply reply = {});
    // Sends `payload` as it is.
    void send(const QString &destination, const QString &ns, const QJsonObject &payload);
    // Opens the virtual connection to `destination` (an application's
    // transportId, or receiver-0).
    void connectTo(const QString &destination);

    // The settings key of a device's remembered certificate fingerprint.
    static QString certificateKey(const QString &deviceId);

Q_SIGNALS:
    void opened();
    // A message that answers no request of ours (a status the device sends
    // by itself), from `source` on `ns`.
    void message(const QString &source, const QString &ns, const QJsonObject &payload);
    // The connection failed, ended or stopped answering; once.
    void lost(const QString &why);

private:
    struct Pending {
        Reply reply;
        qint64 deadline = 0;
    };

    void encrypted();
    void readSome();
    void handle(const CastMessage &in);
    void heartbeat();
    void expire();
    void fail(const QString &why);
    void rememberCertificate();

    QString m_host;
    quint16 m_port;
    QString m_deviceId;
    QSslSocket m_socket;
    CastFrameReader m_reader;
    State m_state = State::Closed;
    QTimer m_connectDeadline;
    QTimer m_ping;
    QTimer m_expiry;
    QTimer m_readMore;
    int m_missedPongs = 0;
    int m_nextRequestId = 1;
    std::map<int, Pending> m_pending;
};
