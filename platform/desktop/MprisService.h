#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

// Media-player remote control over D-Bus (MPRIS 2): desktop shells, media
// keys and tools like playerctl see the player, its state and what it plays,
// and can ask it to play, pause, stop, raise its window or quit.
//
// The service only reports and relays: the application tells it the state
// with the setters and acts on the *Requested signals. Without a session bus
// start() returns false and everything else keeps working as a no-op.
class MprisService : public QObject {
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

    // The player's volume, 0..1; clients ask to change it with volumeRequested.
    void setVolume(double volume);
    double volume() const { return m_volume; }

    // Empty values are left out of the metadata; all three empty means
    // "no track". A change of any value starts a new track id.
    void setMetadata(const QString &title, const QString &artist, const QUrl &artUrl);
    QVariantMap metadata() const;

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

private:
    void emitPlayerPropertiesChanged(const QVariantMap &changed);

    QDBusConnection m_bus;
    bool m_registered = false;
    bool m_reportedNoBus = false;
    QString m_serviceName;
    PlaybackStatus m_status = PlaybackStatus::Stopped;
    QString m_title;
    QString m_artist;
    QUrl m_artUrl;
    quint64 m_trackNumber = 0;
    double m_volume = 1.0;
};
