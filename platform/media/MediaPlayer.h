#pragma once

#include "platform/media/MediaItem.h"

#include <QObject>

#include <functional>
#include <memory>

// Plays one MediaItem. Creating a player starts opening the item's stream
// (the item reports ready or failed); nothing is heard until play().
// Destroying the player ends the stream at once; after that the item never
// hears from it again.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~MediaPlayer() override = default;

    virtual std::shared_ptr<MediaItem> currentItem() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;

    // Volume on a perceptual scale, 0..1 (0.5 sounds like half), and mute.
    // Kept across reconnects; a new player starts at full volume, unmuted.
    virtual void setVolume(double volume) { m_volume = volume; }
    double volume() const { return m_volume; }
    virtual void setMuted(bool muted) { m_muted = muted; }
    bool isMuted() const { return m_muted; }
    // The sound plays elsewhere (the stream is served to a renderer): nothing
    // needs to be heard here. A player may stop decoding meanwhile; its play
    // position, titles and tap go on as if it played, and once back the sound
    // goes on from where the position has come to.
    virtual void setSoundElsewhere(bool elsewhere) { m_elsewhere = elsewhere; }
    bool isSoundElsewhere() const { return m_elsewhere; }

    enum class ReconnectReason { NetworkBack, Resumed };
    // The network came back or the machine woke up: a pending reconnect is
    // tried at once, and after a resume a live stream is reopened.
    virtual void reconnectNow(ReconnectReason reason) { Q_UNUSED(reason); }

    // Time-shift: a player that keeps what the station sent plays it from a
    // position of its own; live is the newest. Players that keep nothing
    // cannot seek and are always live.
    virtual bool canSeek() const { return false; }
    // Moves the play position by `ms` (back when negative), never past live
    // and no further back than what is kept.
    virtual void seekBy(qint64 ms) { Q_UNUSED(ms); }
    virtual void goLive() {}
    // How far the play position is behind live; 0 at live.
    virtual qint64 timeBehindLiveMs() const { return 0; }
    // How far back what is kept reaches from live.
    virtual qint64 keptMs() const { return 0; }
    // Where the play position is, for media controls: the time heard since
    // the stream began.
    virtual qint64 positionMs() const { return 0; }
    // Pause keeps the connection and what is kept, and play goes on where
    // it stopped, instead of letting the stream go.
    virtual void setPauseHolds(bool holds) { Q_UNUSED(holds); }
    // Evens out loudness across stations: what is heard here is brought
    // toward `targetLufs` by a gain of the player's own, learned per
    // station; off leaves the station's audio as it is.
    virtual void setLevelling(bool on, double targetLufs)
    {
        Q_UNUSED(on);
        Q_UNUSED(targetLufs);
    }

Q_SIGNALS:
    // canSeek, timeBehindLiveMs (by a whole second) or keptMs changed.
    void timeShiftChanged();
    // The play position was moved by a seek, not by playing.
    void seeked();
    // Held longer than what is kept reaches: playback went on from the
    // oldest moment still kept.
    void resumedFromOldest();

protected:
    double m_volume = 1.0;
    bool m_muted = false;
    bool m_elsewhere = false;
};

// Makes players. The application installs the GStreamer one; tests install
// fakes.
class MediaPlayerFactory {
public:
    virtual ~MediaPlayerFactory() = default;
    virtual std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) = 0;

    static MediaPlayerFactory *shared();
    // Does not take ownership. Passing nullptr restores the default.
    static void setShared(MediaPlayerFactory *factory);
};
