#include "integrations/CastPlace.h"

#include "platform/cast/CastDevice.h"

#include <QUdpSocket>

namespace {
// What stands for the URI of what another sender plays.
const QString kOthers = QStringLiteral("cast:another-sender");
} // namespace

CastPlace::CastPlace(const CastDeviceInfo &info, QObject *parent)
    : PlayOnPlace(parent), m_device(std::make_unique<CastDevice>(info))
{
    // The interface a datagram to it would leave by (nothing is sent).
    const QHostAddress host(info.host);
    if (!host.isNull()) {
        QUdpSocket probe;
        probe.connectToHost(host, info.port);
        if (probe.state() == QAbstractSocket::ConnectedState)
            m_localAddress = probe.localAddress().toString();
    }
    connect(m_device.get(), &CastDevice::playerStateChanged, this, [this] {
        m_stopped = false;
        Q_EMIT polled();
    });
    connect(m_device.get(), &CastDevice::stoppedThere, this, [this] {
        m_stopped = true;
        Q_EMIT polled();
    });
    connect(m_device.get(), &CastDevice::takenOver, this, [this] {
        m_uri = kOthers;
        Q_EMIT polled();
    });
    connect(m_device.get(), &CastDevice::lost, this, &PlayOnPlace::lost);
    m_poll.setInterval(1000);
    connect(&m_poll, &QTimer::timeout, this, &PlayOnPlace::polled);
    m_poll.start();
}

CastPlace::~CastPlace() = default;

bool CastPlace::plays(const QString &mime)
{
    return mime == QLatin1String("audio/mpeg") || mime == QLatin1String("audio/aac") ||
           mime == QLatin1String("application/ogg");
}

QString CastPlace::name() const
{
    return m_device->info().name;
}

QString CastPlace::localAddress() const
{
    return m_localAddress;
}

bool CastPlace::offer(const Stream &stream, Done done)
{
    if (!plays(stream.mime))
        return false;
    m_uri.clear();
    m_stopped = false;
    const QString url = stream.url;
    m_device->load({url, stream.mime, stream.title, stream.pictureUrl, true},
                   [this, url, done = std::move(done)](const QString &error) {
                       if (error.isEmpty())
                           m_uri = url;
                       done(error);
                   });
    return true;
}

QString CastPlace::transportState() const
{
    if (m_stopped)
        return QStringLiteral("STOPPED");
    switch (m_device->playerState()) {
    case CastDevice::PlayerState::Playing: return QStringLiteral("PLAYING");
    case CastDevice::PlayerState::Buffering: return QStringLiteral("TRANSITIONING");
    case CastDevice::PlayerState::Paused: return QStringLiteral("PAUSED_PLAYBACK");
    case CastDevice::PlayerState::Idle: return QStringLiteral("STOPPED");
    case CastDevice::PlayerState::None: break;
    }
    return QString();
}

QString CastPlace::currentUri() const
{
    return m_uri;
}

void CastPlace::stop()
{
    // A live stream is stopped, not paused: played again, it is loaded afresh.
    m_device->stop();
    m_uri.clear();
}

void CastPlace::stopThenDelete()
{
    m_poll.stop();
    disconnect();
    CastDevice *leaving = m_device.release();
    leaving->setParent(parent());
    leaving->stopThenDelete();
    deleteLater();
}

void CastPlace::setVolume(int volume)
{
    m_device->setVolume(volume / 100.0);
}

void CastPlace::setMute(bool mute)
{
    m_device->setMuted(mute);
}
