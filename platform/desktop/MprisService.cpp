#include "platform/desktop/MprisService.h"

#include "platform/base/Log.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

#include <algorithm>
#include <cmath>

// The Playlists interface's structures on the wire: (oss) and b(oss).
struct MprisPlaylistWire {
    // "/" when there is none: an empty path cannot be sent at all.
    QDBusObjectPath id{QStringLiteral("/")};
    QString name;
    QString icon;
};
struct MprisMaybePlaylistWire {
    bool valid = false;
    MprisPlaylistWire playlist;
};
Q_DECLARE_METATYPE(MprisPlaylistWire)
Q_DECLARE_METATYPE(MprisMaybePlaylistWire)

QDBusArgument &operator<<(QDBusArgument &arg, const MprisPlaylistWire &p)
{
    arg.beginStructure();
    arg << p.id << p.name << p.icon;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, MprisPlaylistWire &p)
{
    arg.beginStructure();
    arg >> p.id >> p.name >> p.icon;
    arg.endStructure();
    return arg;
}

QDBusArgument &operator<<(QDBusArgument &arg, const MprisMaybePlaylistWire &p)
{
    arg.beginStructure();
    arg << p.valid << p.playlist;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, MprisMaybePlaylistWire &p)
{
    arg.beginStructure();
    arg >> p.valid >> p.playlist;
    arg.endStructure();
    return arg;
}

namespace {

const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString PlaylistsInterface = QStringLiteral("org.mpris.MediaPlayer2.Playlists");

MprisPlaylistWire toWire(const MprisService::Playlist &p)
{
    return {QDBusObjectPath(MprisService::playlistPath(p.id)), p.name, p.icon};
}

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
// has one speed; its position is where the listener is within what the
// player keeps of it (0 at the oldest moment kept), and seeking moves it
// while anything is kept. Its neighbours are the playlists before and after
// it.
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
    Q_PROPERTY(bool CanGoNext READ canStep)
    Q_PROPERTY(bool CanGoPrevious READ canStep)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ canSeek)
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
    qlonglong position() const { return m_service->position(); }
    bool canSeek() const { return m_service->canSeek(); }
    bool yes() const { return true; }
    bool no() const { return false; }
    bool canStep() const { return m_service->canStep(); }

public Q_SLOTS:
    void Play() { Q_EMIT m_service->playRequested(); }
    void Pause() { Q_EMIT m_service->pauseRequested(); }
    void PlayPause() { Q_EMIT m_service->playPauseRequested(); }
    void Stop() { Q_EMIT m_service->stopRequested(); }
    void Next()
    {
        if (m_service->canStep())
            Q_EMIT m_service->nextRequested();
    }
    void Previous()
    {
        if (m_service->canStep())
            Q_EMIT m_service->previousRequested();
    }
    void Seek(qlonglong offset)
    {
        if (m_service->canSeek())
            Q_EMIT m_service->seekRequested(offset);
    }
    // Ignored for another track than the one playing, as the interface says.
    void SetPosition(const QDBusObjectPath &trackId, qlonglong position)
    {
        const QVariant current = m_service->metadata().value(QStringLiteral("mpris:trackid"));
        if (m_service->canSeek() && position >= 0 &&
            (!current.isValid() || current.value<QDBusObjectPath>() == trackId))
            Q_EMIT m_service->positionRequested(position);
    }
    void OpenUri(const QString &uri) { Q_UNUSED(uri) }

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    MprisService *m_service;
};

// org.mpris.MediaPlayer2.Playlists: every playlist the application gave,
// and which of them plays.
class MprisPlaylistsAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Playlists")
    Q_PROPERTY(uint PlaylistCount READ playlistCount)
    Q_PROPERTY(QStringList Orderings READ orderings)
    Q_PROPERTY(MprisMaybePlaylistWire ActivePlaylist READ activePlaylist)

public:
    explicit MprisPlaylistsAdaptor(MprisService *service)
        : QDBusAbstractAdaptor(service), m_service(service)
    {
    }

    uint playlistCount() const { return uint(m_service->playlists().size()); }
    QStringList orderings() const { return MprisService::orderings(); }
    MprisMaybePlaylistWire activePlaylist() const
    {
        const QString id = m_service->activePlaylist();
        if (id.isEmpty())
            return {};
        for (const MprisService::Playlist &p : m_service->playlists()) {
            if (p.id == id)
                return {true, toWire(p)};
        }
        return {};
    }

public Q_SLOTS:
    void ActivatePlaylist(const QDBusObjectPath &path)
    {
        for (const MprisService::Playlist &p : m_service->playlists()) {
            if (MprisService::playlistPath(p.id) == path.path()) {
                Q_EMIT m_service->playlistRequested(p.id);
                return;
            }
        }
        if (m_service->calledFromDBus())
            m_service->sendErrorReply(QDBusError::InvalidArgs,
                                      QStringLiteral("No such playlist: %1").arg(path.path()));
    }
    QList<MprisPlaylistWire> GetPlaylists(uint index, uint maxCount, const QString &order,
                                          bool reverseOrder)
    {
        QList<MprisPlaylistWire> out;
        for (const MprisService::Playlist &p :
             m_service->playlistsFor(index, maxCount, order, reverseOrder))
            out << toWire(p);
        return out;
    }

Q_SIGNALS:
    void PlaylistChanged(const MprisPlaylistWire &playlist);

private:
    MprisService *m_service;
};

bool sameActive(const QVariant &a, const QVariant &b)
{
    const auto x = a.value<MprisMaybePlaylistWire>();
    const auto y = b.value<MprisMaybePlaylistWire>();
    if (x.valid != y.valid)
        return false;
    return !x.valid || (x.playlist.id == y.playlist.id && x.playlist.name == y.playlist.name &&
                        x.playlist.icon == y.playlist.icon);
}

} // namespace

MprisService::MprisService(QObject *parent) : MprisService(QDBusConnection::sessionBus(), parent) {}

MprisService::MprisService(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<MprisPlaylistWire>();
    qDBusRegisterMetaType<MprisMaybePlaylistWire>();
    qDBusRegisterMetaType<QList<MprisPlaylistWire>>();
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    new MprisPlaylistsAdaptor(this);
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

void MprisService::setCanSeek(bool canSeek)
{
    if (canSeek == m_canSeek)
        return;
    m_canSeek = canSeek;
    emitPlayerPropertiesChanged({{QStringLiteral("CanSeek"), canSeek}});
}

qint64 MprisService::position() const
{
    return m_position ? m_position() : 0;
}

void MprisService::announceSeeked()
{
    if (!m_registered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(ObjectPath), QStringLiteral("org.mpris.MediaPlayer2.Player"),
        QStringLiteral("Seeked"));
    signal << qlonglong(position());
    m_bus.send(signal);
}

void MprisService::setVolume(double volume)
{
    volume = qBound(0.0, volume, 1.0);
    if (volume == m_volume)
        return;
    m_volume = volume;
    emitPlayerPropertiesChanged({{QStringLiteral("Volume"), volume}});
}

void MprisService::setMetadata(const Track &track)
{
    if (track == m_track)
        return;
    m_track = track;
    emitPlayerPropertiesChanged({{QStringLiteral("Metadata"), metadata()}});
}

QString MprisService::trackPath(const QString &id)
{
    return QStringLiteral("/org/orbitune/Track/") + id;
}

QVariantMap MprisService::metadata() const
{
    QVariantMap map;
    const Track &t = m_track;
    if (t.id.isEmpty() && t.title.isEmpty())
        return map;
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath(
                   t.id.isEmpty() ? QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")
                                  : trackPath(t.id))));
    if (!t.title.isEmpty())
        map.insert(QStringLiteral("xesam:title"), t.title);
    if (!t.artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{t.artist});
    if (!t.album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), t.album);
    if (!t.artUrl.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), t.artUrl.toString());
    return map;
}

QString MprisService::playlistPath(const QString &id)
{
    return QStringLiteral("/org/orbitune/playlist/") + id;
}

QStringList MprisService::orderings()
{
    return {QStringLiteral("Alphabetical"), QStringLiteral("UserDefined")};
}

QList<MprisService::Playlist> MprisService::playlistsFor(uint index, uint maxCount,
                                                         const QString &order, bool reverse) const
{
    QList<Playlist> list = m_playlists;
    if (order == QLatin1String("Alphabetical")) {
        // Case never decides first, whatever the locale's collation.
        std::stable_sort(list.begin(), list.end(), [](const Playlist &a, const Playlist &b) {
            const int c = QString::localeAwareCompare(a.name.toCaseFolded(), b.name.toCaseFolded());
            return c != 0 ? c < 0 : QString::localeAwareCompare(a.name, b.name) < 0;
        });
    }
    if (reverse)
        std::reverse(list.begin(), list.end());
    if (index >= uint(list.size()))
        return {};
    return list.mid(qsizetype(index), qsizetype(std::min<uint>(maxCount, uint(list.size()))));
}

void MprisService::setPlaylists(const QList<Playlist> &playlists)
{
    if (playlists == m_playlists)
        return;
    const QList<Playlist> before = m_playlists;
    const QVariant activeBefore = activePlaylistValue();
    const bool couldStep = canStep();
    m_playlists = playlists;

    if (before.size() != playlists.size())
        emitPropertiesChanged(PlaylistsInterface,
                              {{QStringLiteral("PlaylistCount"), uint(playlists.size())}});
    // A playlist that stayed but was renamed or got another picture.
    for (const Playlist &p : playlists) {
        const auto old = std::find_if(before.cbegin(), before.cend(),
                                      [&p](const Playlist &b) { return b.id == p.id; });
        if (old != before.cend() && !(*old == p) && m_registered) {
            QDBusMessage signal = QDBusMessage::createSignal(
                QLatin1String(ObjectPath), PlaylistsInterface, QStringLiteral("PlaylistChanged"));
            signal << QVariant::fromValue(toWire(p));
            m_bus.send(signal);
        }
    }
    const QVariant activeNow = activePlaylistValue();
    if (!sameActive(activeBefore, activeNow))
        emitPropertiesChanged(PlaylistsInterface, {{QStringLiteral("ActivePlaylist"), activeNow}});
    if (couldStep != canStep())
        emitPlayerPropertiesChanged({{QStringLiteral("CanGoNext"), canStep()},
                                     {QStringLiteral("CanGoPrevious"), canStep()}});
}

void MprisService::setActivePlaylist(const QString &id)
{
    if (id == m_activePlaylist)
        return;
    const QVariant before = activePlaylistValue();
    m_activePlaylist = id;
    const QVariant now = activePlaylistValue();
    if (!sameActive(before, now))
        emitPropertiesChanged(PlaylistsInterface, {{QStringLiteral("ActivePlaylist"), now}});
}

QVariant MprisService::activePlaylistValue() const
{
    MprisMaybePlaylistWire value;
    for (const Playlist &p : m_playlists) {
        if (!m_activePlaylist.isEmpty() && p.id == m_activePlaylist)
            value = {true, toWire(p)};
    }
    return QVariant::fromValue(value);
}

void MprisService::emitPlayerPropertiesChanged(const QVariantMap &changed)
{
    emitPropertiesChanged(PlayerInterface, changed);
}

void MprisService::emitPropertiesChanged(const QString &interface, const QVariantMap &changed)
{
    if (!m_registered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    m_bus.send(signal);
}

#include "MprisService.moc"

#include "moc_MprisService.cpp"
