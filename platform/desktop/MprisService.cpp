#include "platform/desktop/MprisService.h"

#include "platform/base/Log.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <cmath>

namespace {

const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// org.mpris.MediaPlayer2: who we are and what the shell may ask of the
// application as a whole.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit MprisRootAdaptor(MprisService *service)
        : QDBusAbstractAdaptor(service), m_service(service)
    {
    }

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Orbitune"); }
    QString desktopEntry() const { return QStringLiteral("orbitune"); }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public Q_SLOTS:
    void Raise() { Q_EMIT m_service->raiseRequested(); }
    void Quit() { Q_EMIT m_service->quitRequested(); }

private:
    MprisService *m_service;
};

// org.mpris.MediaPlayer2.Player: transport state and controls. A live stream
// has no position, no neighbours and one speed, so those members report
// fixed values and their methods do nothing.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)

public:
    explicit MprisPlayerAdaptor(MprisService *service)
        : QDBusAbstractAdaptor(service), m_service(service)
    {
    }

    QString playbackStatus() const { return MprisService::statusName(m_service->playbackStatus()); }
    QVariantMap metadata() const { return m_service->metadata(); }
    double rate() const { return 1.0; }
    double volume() const { return m_service->volume(); }
    // Whatever a client writes: out of range is clamped, NaN ignored.
    void setVolume(double volume)
    {
        if (std::isnan(volume)) {
            NSLog(lcDesktop(), QtWarningMsg, "MPRIS: ignoring a volume that is not a number");
            return;
        }
        Q_EMIT m_service->volumeRequested(qBound(0.0, volume, 1.0));
    }
    qlonglong position() const { return 0; }
    bool yes() const { return true; }
    bool no() const { return false; }

public Q_SLOTS:
    void Play() { Q_EMIT m_service->playRequested(); }
    void Pause() { Q_EMIT m_service->pauseRequested(); }
    void PlayPause() { Q_EMIT m_service->playPauseRequested(); }
    void Stop() { Q_EMIT m_service->stopRequested(); }
    void Next() {}
    void Previous() {}
    void Seek(qlonglong offset) { Q_UNUSED(offset) }
    void SetPosition(const QDBusObjectPath &trackId, qlonglong position)
    {
        Q_UNUSED(trackId)
        Q_UNUSED(position)
    }
    void OpenUri(const QString &uri) { Q_UNUSED(uri) }

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    MprisService *m_service;
};

} // namespace

MprisService::MprisService(QObject *parent) : MprisService(QDBusConnection::sessionBus(), parent) {}

MprisService::MprisService(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

MprisService::~MprisService()
{
    stop();
}

bool MprisService::start()
{
    if (m_registered)
        return true;
    if (!m_bus.isConnected()) {
        if (!m_reportedNoBus)
            NSLog(lcDesktop(), QtInfoMsg,
                  "MPRIS: no D-Bus session bus, media controls are off (%@)",
                  m_bus.lastError().message());
        m_reportedNoBus = true;
        return false;
    }
    if (!m_bus.registerObject(QLatin1String(ObjectPath), this, QDBusConnection::ExportAdaptors)) {
        NSLog(lcDesktop(), QtWarningMsg, "MPRIS: cannot export %@ (%@)",
              QString::fromLatin1(ObjectPath), m_bus.lastError().message());
        return false;
    }
    QString name = QLatin1String(BaseServiceName);
    if (!m_bus.registerService(name)) {
        // Another player instance holds the plain name; MPRIS lets each
        // further instance add a unique suffix.
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!m_bus.registerService(name)) {
            NSLog(lcDesktop(), QtWarningMsg, "MPRIS: cannot own %@ (%@)", name,
                  m_bus.lastError().message());
            m_bus.unregisterObject(QLatin1String(ObjectPath));
            return false;
        }
    }
    m_serviceName = name;
    m_registered = true;
    return true;
}

void MprisService::stop()
{
    if (!m_registered)
        return;
    m_bus.unregisterService(m_serviceName);
    m_bus.unregisterObject(QLatin1String(ObjectPath));
    m_serviceName.clear();
    m_registered = false;
}

QString MprisService::statusName(PlaybackStatus status)
{
    switch (status) {
    case PlaybackStatus::Playing: return QStringLiteral("Playing");
    case PlaybackStatus::Paused: return QStringLiteral("Paused");
    case PlaybackStatus::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

void MprisService::setPlaybackStatus(PlaybackStatus status)
{
    if (status == m_status)
        return;
    m_status = status;
    emitPlayerPropertiesChanged({{QStringLiteral("PlaybackStatus"), statusName(status)}});
}

void MprisService::setVolume(double volume)
{
    volume = qBound(0.0, volume, 1.0);
    if (volume == m_volume)
        return;
    m_volume = volume;
    emitPlayerPropertiesChanged({{QStringLiteral("Volume"), volume}});
}

void MprisService::setMetadata(const QString &title, const QString &artist, const QUrl &artUrl)
{
    if (title == m_title && artist == m_artist && artUrl == m_artUrl)
        return;
    m_title = title;
    m_artist = artist;
    m_artUrl = artUrl;
    ++m_trackNumber;
    emitPlayerPropertiesChanged({{QStringLiteral("Metadata"), metadata()}});
}

QVariantMap MprisService::metadata() const
{
    QVariantMap map;
    if (m_title.isEmpty() && m_artist.isEmpty() && m_artUrl.isEmpty())
        return map;
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(
                   QDBusObjectPath(QStringLiteral("/org/orbitune/Track/%1").arg(m_trackNumber))));
    if (!m_title.isEmpty())
        map.insert(QStringLiteral("xesam:title"), m_title);
    if (!m_artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{m_artist});
    if (!m_artUrl.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), m_artUrl.toString());
    return map;
}

void MprisService::emitPlayerPropertiesChanged(const QVariantMap &changed)
{
    if (!m_registered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << PlayerInterface << changed << QStringList();
    m_bus.send(signal);
}

#include "MprisService.moc"
