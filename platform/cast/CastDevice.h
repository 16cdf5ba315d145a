#pragma once

#include "platform/cast/CastChannel.h"
#include "platform/cast/CastDeviceInfo.h"

#include <QObject>

#include <functional>
#include <optional>

// Plays one stream on a Cast device through its Default Media Receiver:
// launches the app (receiver namespace), opens the app's own connection
// and loads the stream there (media namespace), then follows what the
// device says of it. Another app or another sender's session taking the
// device over, and the device stopping it on its own, are told; so is the
// device lost.
class CastDevice : public QObject {
    Q_OBJECT
public:
    static inline const QString kDefaultReceiver = QStringLiteral("CC1AD845");
    static inline const QString kReceiverNs = QStringLiteral("urn:x-cast:com.google.cast.receiver");
    static inline const QString kMediaNs = QStringLiteral("urn:x-cast:com.google.cast.media");

    enum class PlayerState { None, Buffering, Playing, Paused, Idle };

    struct Media {
        QString url;
        QString contentType;
        QString title;
        QString imageUrl;
        // Music (3) or generic (0) metadata.
        bool music = true;
    };

    explicit CastDevice(const CastDeviceInfo &info, QObject *parent = nullptr);
    ~CastDevice() override;

    const CastDeviceInfo &info() const { return m_info; }
    PlayerState playerState() const { return m_playerState; }

    // `done` hears the fault, empty when the device took the stream.
    using Done = std::function<void(const QString &error)>;
    // Launches the app if it is not ours yet, then loads `media` to play.
    void load(const Media &media, Done done);
    void play();
    void pause();
    // Stops the app (the device goes back to its idle screen).
    void stop();
    // Stops the app and lets go of this handle once the device answered (or
    // its deadline passed).
    void stopThenDelete();
    // 0..1, the device's own scale.
    void setVolume(double level);
    void setMuted(bool muted);

Q_SIGNALS:
    void playerStateChanged(CastDevice::PlayerState state);
    // The device stopped the stream by itself (its remote, its app).
    void stoppedThere();
    // Another app or another sender has it now.
    void takenOver();
    void lost(const QString &why);

private:
    void launched(const QJsonObject *answer, const Media &media, const Done &done);
    void statusMessage(const QString &source, const QString &ns, const QJsonObject &payload);
    void receiverStatus(const QJsonObject &status);
    void mediaStatus(const QJsonArray &statuses);
    void mediaCommand(const char *type);
    void setPlayerState(PlayerState state);

    CastDeviceInfo m_info;
    CastChannel m_channel;
    // The app's session and connection while it is ours.
    QString m_sessionId;
    QString m_transportId;
    std::optional<qint64> m_mediaSessionId;
    PlayerState m_playerState = PlayerState::None;
    bool m_takenOver = false;
    // Counts loads; an answer to an older one is not heeded.
    quint64 m_loads = 0;
};
