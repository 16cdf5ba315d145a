#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>

// Media-player remote control over D-Bus (MPRIS 2): desktop shells, media
// keys and tools like playerctl see the player, its state and what it plays,
// and can ask it to play, pause, stop, raise its window or quit.
//
// The service only reports and relays: the application tells it the state
// with the setters and acts on the *Requested signals. It knows nothing of
// programs: what it offers as playlists and tracks are ids and names it was
// given. Without a session bus
// start() returns false and everything else keeps working as a no-op.
// (The D-Bus context is where a refused call gets its error reply.)
class MprisService : public QObject, public QDBusContext {
    Q_OBJECT
public:
    enum class PlaybackStatus { Stopped, Paused, Playing };
    Q_ENUM(PlaybackStatus)

    static constexpr const char *ObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *BaseServiceName = "org.mpris.MediaPlayer2.orbitune";

    // Uses the session bus unless another connection is given.
    explicit MprisService(QObject *parent = nullptr);
    explicit MprisService(const QDBusConnection &bus, QObject *parent = nullptr);
    ~MprisService() override;

    // Exports the object and claims the bus name. When another process owns
    // the name already, claims BaseServiceName + ".instance<pid>" instead.
    // Returns false when there is no usable bus, saying so in the log once.
    bool start();
    void stop();
    bool isRegistered() const { return m_registered; }
    QString serviceName() const { return m_serviceName; }

    void setPlaybackStatus(PlaybackStatus status);
    PlaybackStatus playbackStatus() const { return m_status; }

    // Whether clients may seek (Seek, SetPosition: seekRequested,
    // positionRequested), and the position in microseconds, asked for
    // whenever a client reads it.
    void setCanSeek(bool canSeek);
    bool canSeek() const { return m_canSeek; }
    void setPositionSource(std::function<qint64()> positionUs)
    {
        m_position = std::move(positionUs);
    }
    qint64 position() const;
    // The position jumped: the Seeked signal with where it is now.
    void announceSeeked();

    // The player's volume, 0..1; clients ask to change it with volumeRequested.
    void setVolume(double volume);
    double volume() const { return m_volume; }

    // What plays. `id` names the track in its object path and must hold only
    // letters, digits and '_'; empty values are left out of the metadata, and
    // a track without an id and title means "no track".
    struct Track {
        QString id;
        QString title;
        QString artist;
        QString album;
        QUrl artUrl; // a local file, so every client can show it
        bool operator==(const Track &) const = default;
    };
    void setMetadata(const Track &track);
    QVariantMap metadata() const;
    static QString trackPath(const QString &id);

    // The playlists clients may choose from, in the user's order; the same
    // rules for `id` as for a track's. Next and Previous can step when there
    // are two or more.
    struct Playlist {
        QString id;
        QString name;
        QString icon; // a URI, or empty
        bool operator==(const Playlist &) const = default;
    };
    void setPlaylists(const QList<Playlist> &playlists);
    QList<Playlist> playlists() const { return m_playlists; }
    // The playlist playing now; empty or unknown: none.
    void setActivePlaylist(const QString &id);
    QString activePlaylist() const { return m_activePlaylist; }
    bool canStep() const { return m_playlists.size() >= 2; }
    static QString playlistPath(const QString &id);
    // The orders GetPlaylists honours; any other gives the user's order.
    static QStringList orderings();
    // What GetPlaylists answers.
    QList<Playlist> playlistsFor(uint index, uint maxCount, const QString &order,
                                 bool reverse) const;

    static QString statusName(PlaybackStatus status);

Q_SIGNALS:
    void raiseRequested();
    void quitRequested();
    void playRequested();
    void pauseRequested();
    void playPauseRequested();
    void stopRequested();
    // A client set Volume; already clamped to 0..1.
    void volumeRequested(double volume);
    void nextRequested();
    void previousRequested();
    // A client chose the playlist with this id (one of those set).
    void playlistRequested(const QString &id);
    // Seek by this many microseconds (back when negative).
    void seekRequested(qint64 offsetUs);
    // SetPosition for the track playing, in microseconds.
    void positionRequested(qint64 positionUs);

private:
    void emitPlayerPropertiesChanged(const QVariantMap &changed);
    void emitPropertiesChanged(const QString &interface, const QVariantMap &changed);
    QVariant activePlaylistValue() const;

    QDBusConnection m_bus;
    bool m_registered = false;
    bool m_reportedNoBus = false;
    QString m_serviceName;
    PlaybackStatus m_status = PlaybackStatus::Stopped;
    Track m_track;
    QList<Playlist> m_playlists;
    QString m_activePlaylist;
    double m_volume = 1.0;
    bool m_canSeek = false;
    std::function<qint64()> m_position;
};
