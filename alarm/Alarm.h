#pragma once

#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <memory>

class PlaybackSession;
class TonePlayer;

// An alarm ringing: its program is played as choosing it in the list does,
// its sound rising over the fade-in to the alarm's own volume (the everyday
// volume is left as it was). If no sound comes within 20 seconds (the
// station is down, the network is not back after a resume) a built-in tone
// rings instead, so that the listener wakes anyway; so does a station that
// fails, at once, and one that goes quiet again for 20 seconds. Snooze
// silences it for ten minutes; Stop ends it. The listener choosing another
// station while it rings ends it too, leaving their choice playing at their
// own volume. While the sound plays elsewhere (a renderer), a playing
// stream counts as sound only once the place says it plays
// (setSoundElsewhere); until then the 20 seconds run.
class Alarm : public QObject {
    Q_OBJECT
public:
    enum class State { Off, Ringing, Snoozed };
    Q_ENUM(State)
    static constexpr qint64 kSilenceMs = 20 * 1000;
    static constexpr qint64 kSnoozeMs = 10 * 60 * 1000;

    struct Ring {
        QVariantMap program;
        QString name;          // what the listener calls it
        double volume = 1.0;   // 0..1, perceptual like the everyday volume
        int fadeInSeconds = 0; // 0 for the full volume at once
    };
    // `play` asks for a program to be played (the application's "play this
    // program"); false when it could not be.
    using Play = std::function<bool(const QVariantMap &program)>;

    Alarm(PlaybackSession *session, Play play, QObject *parent = nullptr);
    ~Alarm() override;

    State state() const { return m_state; }
    QString name() const { return m_ring.name; }
    bool isToneRinging() const;

public Q_SLOTS:
    // Rings `ring`, in place of one ringing now.
    void ring(const Alarm::Ring &ring);
    void snooze();
    void stop();
    // Whether the place the sound plays at, other than this computer, is
    // playing it.
    void setSoundElsewhere(bool sounding);

Q_SIGNALS:
    void stateChanged(Alarm::State state);
    void toneChanged(bool ringing);
    // What the listener should be told, as a notice a screen reader speaks.
    void notice(const QString &title, const QString &body);

private:
    void setState(State state);
    void fadeStep();
    void sessionStateChanged();
    void sessionOpening(const QString &url);
    // The station plays, and is heard here or at the place that says so.
    bool isSounding() const;
    // Sound came: the wait for it and the tone end; or it has not: the wait
    // runs, unless the tone already rings.
    void soundCame();
    void awaitSound();
    void ringTone(const QString &why);
    void silence();

    PlaybackSession *m_session;
    Play m_play;
    Ring m_ring;
    State m_state = State::Off;
    std::unique_ptr<TonePlayer> m_tone;
    QTimer m_fade;
    QTimer m_silence;
    QTimer m_snooze;
    qint64 m_fadeStart = 0;
    double m_scale = 1.0;
    bool m_steering = false; // the session changes because the alarm asked
    bool m_soundElsewhere = false;
};
