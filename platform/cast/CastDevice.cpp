#include "platform/cast/CastDevice.h"

#include "platform/cast/CastLog.h"

#include <QJsonArray>

#include <algorithm>

namespace {
const QString kType = QStringLiteral("type");

QString errorOf(const QJsonObject *answer, const char *expected)
{
    if (!answer)
        return QStringLiteral("no answer");
    const QString type = answer->value(kType).toString();
    if (type == QLatin1String(expected))
        return QString();
    const QString reason = answer->value(QStringLiteral("reason")).toString();
    return (reason.isEmpty() ? type : type + QLatin1Char(' ') + reason).left(80);
}
} // namespace

CastDevice::CastDevice(const CastDeviceInfo &info, QObject *parent)
    : QObject(parent), m_info(info), m_channel(info.host, info.port, info.id)
{
    connect(&m_channel, &CastChannel::opened, this, [this] {
        m_channel.request(CastChannel::kReceiver, kReceiverNs,
                          {{kType, QStringLiteral("GET_STATUS")}});
    });
    connect(&m_channel, &CastChannel::message, this, &CastDevice::statusMessage);
    connect(&m_channel, &CastChannel::lost, this, &CastDevice::lost);
    m_channel.open();
}

CastDevice::~CastDevice() = default;

void CastDevice::load(const Media &media, Done done)
{
    const quint64 load = ++m_loads;
    m_takenOver = false;
    auto launch = [this, media, done, load] {
        m_channel.request(
            CastChannel::kReceiver, kReceiverNs,
            {{kType, QStringLiteral("LAUNCH")}, {QStringLiteral("appId"), kDefaultReceiver}},
            [this, media, done, load](const QJsonObject *answer) {
                if (load == m_loads)
                    launched(answer, media, done);
            });
    };
    if (m_channel.state() == CastChannel::State::Open) {
        launch();
        return;
    }
    // Connecting still: launched once it is open, or told it went.
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(&m_channel, &CastChannel::opened, this, [once, launch] {
        QObject::disconnect(*once);
        launch();
    });
    auto gone = std::make_shared<QMetaObject::Connection>();
    *gone =
        connect(&m_channel, &CastChannel::lost, this, [this, gone, done, load](const QString &why) {
            QObject::disconnect(*gone);
            if (load == m_loads)
                done(why);
        });
}

void CastDevice::launched(const QJsonObject *answer, const Media &media, const Done &done)
{
    const QString error = errorOf(answer, "RECEIVER_STATUS");
    if (!error.isEmpty()) {
        done(error);
        return;
    }
    // receiverStatus() took the app's session from the answer.
    if (m_transportId.isEmpty()) {
        done(QStringLiteral("the media receiver did not start"));
        return;
    }
    m_channel.connectTo(m_transportId);
    QJsonObject metadata{{QStringLiteral("metadataType"), media.music ? 3 : 0},
                         {QStringLiteral("title"), media.title}};
    if (!media.imageUrl.isEmpty())
        metadata.insert(QStringLiteral("images"),
                        QJsonArray{QJsonObject{{QStringLiteral("url"), media.imageUrl}}});
    const QJsonObject item{{QStringLiteral("contentId"), media.url},
                           {QStringLiteral("streamType"), QStringLiteral("LIVE")},
                           {QStringLiteral("contentType"), media.contentType},
                           {QStringLiteral("metadata"), metadata}};
    const quint64 load = m_loads;
    m_mediaSessionId.reset();
    m_channel.request(
        m_transportId, kMediaNs,
        {{kType, QStringLiteral("LOAD")},
         {QStringLiteral("sessionId"), m_sessionId},
         {QStringLiteral("media"), item},
         {QStringLiteral("autoplay"), true}},
        [this, done, load](const QJsonObject *answer) {
            if (load != m_loads)
                return;
            QString error = errorOf(answer, "MEDIA_STATUS");
            const QJsonArray status =
                answer ? answer->value(QStringLiteral("status")).toArray() : QJsonArray();
            const qint64 id =
                status.isEmpty()
                    ? -1
                    : status.at(0).toObject().value(QStringLiteral("mediaSessionId")).toInteger(-1);
            if (error.isEmpty() && id < 0)
                error = QStringLiteral("it did not say what it plays");
            if (error.isEmpty()) {
                m_mediaSessionId = id;
                mediaStatus(status);
            }
            done(error);
        });
}

void CastDevice::statusMessage(const QString &, const QString &ns, const QJsonObject &payload)
{
    const QString type = payload.value(kType).toString();
    if (ns == kReceiverNs && type == QLatin1String("RECEIVER_STATUS"))
        receiverStatus(payload.value(QStringLiteral("status")).toObject());
    else if (ns == kMediaNs && type == QLatin1String("MEDIA_STATUS"))
        mediaStatus(payload.value(QStringLiteral("status")).toArray());
}

void CastDevice::receiverStatus(const QJsonObject &status)
{
    const QJsonArray applications = status.value(QStringLiteral("applications")).toArray();
    QString sessionId;
    QString transportId;
    // Few entries on any device; more are not looked at.
    for (qsizetype i = 0; i < std::min<qsizetype>(applications.size(), 8); ++i) {
        const QJsonObject app = applications.at(i).toObject();
        if (app.value(QStringLiteral("appId")).toString() != kDefaultReceiver)
            continue;
        sessionId = app.value(QStringLiteral("sessionId")).toString().left(128);
        transportId = app.value(QStringLiteral("transportId")).toString().left(128);
        break;
    }
    if (sessionId == m_sessionId)
        return;
    // Our app's session, which played our stream, ended or another took its place.
    if (m_mediaSessionId) {
        m_sessionId.clear();
        m_transportId.clear();
        m_mediaSessionId.reset();
        if (!m_takenOver) {
            m_takenOver = true;
            NSLog(lcGoogleCast(), QtInfoMsg, "%@ runs another session now", m_info.name);
            Q_EMIT takenOver();
        }
        return;
    }
    m_sessionId = sessionId;
    m_transportId = transportId;
}

void CastDevice::mediaStatus(const QJsonArray &statuses)
{
    // Ours is known from the answer to our LOAD.
    if (!m_mediaSessionId)
        return;
    for (qsizetype i = 0; i < std::min<qsizetype>(statuses.size(), 8); ++i) {
        const QJsonObject status = statuses.at(i).toObject();
        const qint64 id = status.value(QStringLiteral("mediaSessionId")).toInteger(-1);
        if (id != *m_mediaSessionId) {
            // Another sender loaded something else in the same app.
            if (!m_takenOver && m_playerState != PlayerState::None) {
                m_takenOver = true;
                Q_EMIT takenOver();
            }
            return;
        }
        const QString state = status.value(QStringLiteral("playerState")).toString();
        if (state == QLatin1String("PLAYING")) {
            setPlayerState(PlayerState::Playing);
        } else if (state == QLatin1String("BUFFERING")) {
            setPlayerState(PlayerState::Buffering);
        } else if (state == QLatin1String("PAUSED")) {
            setPlayerState(PlayerState::Paused);
        } else if (state == QLatin1String("IDLE")) {
            const QString reason = status.value(QStringLiteral("idleReason")).toString();
            const bool wasOn = m_playerState != PlayerState::None;
            // Taken over is told first: whoever hears the state go idle
            // must not take it for a stop of ours.
            if (reason == QLatin1String("INTERRUPTED") && !m_takenOver) {
                m_takenOver = true;
                Q_EMIT takenOver();
                setPlayerState(PlayerState::Idle);
                return;
            }
            setPlayerState(PlayerState::Idle);
            if (wasOn && !m_takenOver) {
                NSLog(lcGoogleCast(), QtInfoMsg, "%@ stopped by itself (%@)", m_info.name, reason);
                Q_EMIT stoppedThere();
            }
        }
        return;
    }
}

void CastDevice::setPlayerState(PlayerState state)
{
    if (state == m_playerState)
        return;
    m_playerState = state;
    Q_EMIT playerStateChanged(state);
}

void CastDevice::mediaCommand(const char *type)
{
    if (m_transportId.isEmpty() || !m_mediaSessionId)
        return;
    m_channel.request(
        m_transportId, kMediaNs,
        {{kType, QLatin1String(type)}, {QStringLiteral("mediaSessionId"), *m_mediaSessionId}});
}

void CastDevice::play()
{
    mediaCommand("PLAY");
}

void CastDevice::pause()
{
    mediaCommand("PAUSE");
}

void CastDevice::stop()
{
    ++m_loads;
    if (m_sessionId.isEmpty())
        return;
    m_channel.request(
        CastChannel::kReceiver, kReceiverNs,
        {{kType, QStringLiteral("STOP")}, {QStringLiteral("sessionId"), m_sessionId}});
    m_sessionId.clear();
    m_transportId.clear();
    m_mediaSessionId.reset();
    setPlayerState(PlayerState::None);
}

void CastDevice::stopThenDelete()
{
    ++m_loads;
    disconnect();
    if (m_sessionId.isEmpty() || m_channel.state() != CastChannel::State::Open) {
        deleteLater();
        return;
    }
    m_channel.request(CastChannel::kReceiver, kReceiverNs,
                      {{kType, QStringLiteral("STOP")}, {QStringLiteral("sessionId"), m_sessionId}},
                      [this](const QJsonObject *) { deleteLater(); });
}

void CastDevice::setVolume(double level)
{
    m_channel.request(CastChannel::kReceiver, kReceiverNs,
                      {{kType, QStringLiteral("SET_VOLUME")},
                       {QStringLiteral("volume"),
                        QJsonObject{{QStringLiteral("level"), std::clamp(level, 0.0, 1.0)}}}});
}

void CastDevice::setMuted(bool muted)
{
    m_channel.request(CastChannel::kReceiver, kReceiverNs,
                      {{kType, QStringLiteral("SET_VOLUME")},
                       {QStringLiteral("volume"), QJsonObject{{QStringLiteral("muted"), muted}}}});
}
