#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class KeptAudio;
class SleepTimer;
class StreamTap;
class StreamTaps;
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
    // Why a dropped stream is worth trying again at once.
    enum class Reconnect { NetworkBack, Resumed };

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

    // Re-reads the current program from the store.
    void refreshProgram();
    // From now on plays `program` instead of the store's current one (a
    // recording made in the background); an empty map follows the store.
    void setOwnProgram(const QVariantMap &program);
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
    void reconnectNow(Reconnect reason);
    // Time-shift: the station's recent audio is kept, and the listener
    // hears it from a position of their own. Whether the position can move
    // (the stream keeps audio and plays), how far behind live it is (0 at
    // live) and how far back what is kept reaches.
    bool canSeek() const;
    qint64 behindLiveMs() const;
    qint64 keptMs() const;
    // Where the listener is: the time heard since the stream began, standing
    // while paused and moved otherwise only by seeked() and
    // resumedFromOldest().
    qint64 positionMs() const;
    // Back when negative; never past live, never before the oldest kept.
    void seekBy(qint64 ms);
    void goLive();
    // "Pause holds the station": pause keeps the connection and what is
    // kept, and play goes on where it stopped. Off: play after a pause opens
    // the stream afresh. Remembered in the settings file.
    bool pauseHoldsStation() const { return m_pauseHolds; }
    void setPauseHoldsStation(bool holds);
    // "Even Out Loudness": what is heard here is levelled toward the target
    // loudness (the settings file's, -18 LUFS unless set), each station's
    // gain learned and kept by the player. On unless turned off;
    // remembered in the settings file.
    bool evenLoudness() const { return m_evenLoudness; }
    void setEvenLoudness(bool on);
    // "−1:20" behind live, "Live" at live; empty while nothing is kept.
    static QString behindLiveText(qint64 behindMs);

    // Where every stream opened from now on also sends its compressed audio
    // (the recorder's buffer); null for nowhere.
    void setStreamTap(std::shared_ptr<StreamTap> tap);
    // A second such tap, for playing elsewhere: attached at once to the
    // stream under way (a new tap hears it begin) and to every later one.
    void setCastTap(std::shared_ptr<StreamTap> tap);
    // The stream as the player keeps it itself (time-shift's timeline), for
    // the recorder to read rather than what its tap was given; null while
    // the player keeps none. What was kept stays after the player has gone
    // (a stop, a failure) until another stream is opened.
    std::shared_ptr<KeptAudio> keptAudio() const { return m_kept; }
    // Whether the sound plays on this computer. Off, the stream, its tap,
    // its titles and the play position go on as before but nothing is heard
    // here: the sound plays elsewhere. The listener's volume and mute are
    // kept as they are.
    void setLocalSound(bool on);
    bool hasLocalSound() const { return m_localSound; }

Q_SIGNALS:
    void stateChanged(PlaybackSession::State state);
    void currentProgramChanged();
    void nowPlayingChanged(const QString &title);
    void streamInfoChanged(const QString &info);
    // The listener asked for play or pause (the window's button follows).
    void requested(bool play);
    // A new player and item were made for `url` (the window shows
    // "Loading..."); the state becomes Loading next.
    void opening(const QString &url);
    // canSeek, behindLiveMs (by a whole second) or keptMs changed.
    void timeShiftChanged();
    // The position was moved by a seek.
    void seeked();
    // Held longer than what is kept reaches: playing the oldest kept.
    void resumedFromOldest();
    void pauseHoldsStationChanged(bool holds);
    void evenLoudnessChanged(bool on);
    void keptAudioChanged();

private:
    // The player, the item it opens and the receiver of the item's reports.
    struct Stream;

    // The steps behind the requests above.
    //
    // Makes a new item and player for `urlString`; false (and no player)
    // when it is not a URL or no player could be made.
    bool openUrl(const QString &urlString);
    // The item reported a new status.
    void itemStatusChanged();
    void startSound();
    // Pauses the sound without changing the state.
    void pauseSound();
    void fail();
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
    QVariantMap m_ownProgram;
    SleepTimer *m_sleep = nullptr;
    std::unique_ptr<Stream> m_stream;
    std::shared_ptr<StreamTaps> m_taps;
    std::shared_ptr<KeptAudio> m_kept;
    bool m_localSound = true;
    // Paused while the stream was still opening: what that attempt reports
    // later must not start sound or show a failure.
    bool m_abandoned = false;
    bool m_pauseHolds = false;
    bool m_evenLoudness = true;
    double m_loudnessTarget = -18.0;
};
