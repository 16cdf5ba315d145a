#pragma once

#include "platform/media/MediaItem.h"
#include "platform/media/MediaPlayer.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class SleepTimer;
class Volume;

// What plays. Holds the playback state, the player and the item it opens,
// the listener's volume and sleep timer, the current program and its
// now-playing title; windows and desktop features observe it and forward the
// user's requests to it. It always plays the store's current program.
//
// Requests come from the main window's controller (which shows the state),
// the tray, MPRIS and the desktop; "play this program" from any window goes
// through the store and the "LIVE_PLAY" notification (see PlayProgram.h),
// which the main window's controller hands to playCurrent().
class PlaybackSession : public QObject {
    Q_OBJECT
public:
    // What the listener sees of playback.
    enum class State { Idle, Loading, Playing, Paused, Failed };
    Q_ENUM(State)

    explicit PlaybackSession(QObject *parent = nullptr);
    ~PlaybackSession() override;

    State state() const { return m_state; }
    // Whether the listener wants sound: the stream is opening or playing.
    bool isPlaying() const { return m_state == State::Loading || m_state == State::Playing; }
    // The current program as last read from the store.
    QVariantMap currentProgram() const { return m_program; }
    // The stream's own title while playing; empty otherwise.
    QString nowPlaying() const { return m_nowPlaying; }
    // What plays, technically ("MP3 · 128 kbit/s · 44.1 kHz"), while playing;
    // empty otherwise or while the stream has not said.
    QString streamInfo() const { return m_streamInfo; }
    Volume *volume() const { return m_volume; }
    SleepTimer *sleepTimer() const { return m_sleep; }
    MediaPlayer *player() const { return m_player.get(); }
    std::shared_ptr<MediaItem> playerItem() const { return m_playerItem; }

    // Re-reads the current program from the store.
    void refreshProgram();
    // Plays when paused, stopped or failed; pauses otherwise.
    void toggle();
    // Opens the current program afresh, whatever played before.
    void playCurrent();
    // Pauses the sound; the next play opens the stream afresh.
    void pause();
    // The program chosen elsewhere could not be played at all: the old
    // stream ends and playing has failed.
    void currentProgramFailed();
    // The network came back or the machine woke up.
    void reconnectNow(MediaPlayer::ReconnectReason reason);
    // Where every stream opened from now on also sends its compressed audio
    // (the recorder's buffer); null for nowhere.
    void setStreamTap(std::shared_ptr<StreamTap> tap) { m_tap = std::move(tap); }

    // The steps behind the requests above, kept apart so that the main
    // window's controller can run them in its own order.
    //
    // Makes a new item and player for `urlString`; false (and no player)
    // when it is not a URL or no player could be made.
    bool openUrl(const QString &urlString);
    // The item reported `status` (MediaItem::Status).
    void itemStatusChanged(int status);
    // Starts the sound of the opened stream.
    void startSound();
    // Pauses the sound without changing the state.
    void pauseSound();
    // Shows that playing failed.
    void fail();

Q_SIGNALS:
    void stateChanged(PlaybackSession::State state);
    void currentProgramChanged();
    void nowPlayingChanged(const QString &title);
    void streamInfoChanged(const QString &info);
    // A new stream is being opened (the window shows "Loading...").
    void opening();
    // The listener asked for play or pause (the window's button follows).
    void requested(bool play);

private:
    void setState(State state);
    void setNowPlaying(const QString &title);
    void setStreamInfo(const QString &info);
    // The item's title and format, once it plays.
    void showWhatPlays();
    void togglePlayback(bool start);
    void releasePlayer();
    void reconnectingChanged(bool reconnecting);
    void itemEnded();
    void sleepTimerFinished();
    void applyVolume();

    State m_state = State::Idle;
    QVariantMap m_program;
    QString m_nowPlaying;
    QString m_streamInfo;
    Volume *m_volume = nullptr;
    SleepTimer *m_sleep = nullptr;
    std::unique_ptr<MediaPlayer> m_player;
    std::shared_ptr<MediaItem> m_playerItem;
    std::shared_ptr<StreamTap> m_tap;
    // Receiver of the current item's reports: replacing it drops them all.
    std::unique_ptr<QObject> m_itemObservations;
    // Paused while the stream was still opening: what that attempt reports
    // later must not start sound or show a failure.
    bool m_abandoned = false;
};
