#pragma once

#include "platform/media/MediaPlayer.h"

#include <QList>

#include <optional>

// What to do about a stream that dropped: how long to wait before the next
// attempt, whether to probe the station meanwhile, when to try at once and
// when to give up. It knows nothing of how a stream is opened; the source
// that plays it (a pipeline, an HTTP client) says what happened and does what
// the answer says. Every deadline is read from Clock::shared()->steadyMs(),
// so a test with a clock of its own drives it without waiting.
class ReconnectPolicy {
public:
    struct Schedule {
        // Pauses before the first attempts after a drop, then every repeatMs
        // until budgetMs have passed since the drop.
        QList<int> delaysMs = {1000, 2000, 4000, 8000};
        int repeatMs = 10000;
        int budgetMs = 10 * 60 * 1000;
        // A reopened stream earns the whole budget and the first, shortest
        // pause back only after this long of steady sound; a station that
        // drops again sooner keeps its growing pauses.
        int steadyMs = 30000;
        // A wait longer than this is watched by probes this often, so that a
        // station coming back is heard within seconds.
        int probeIntervalMs = 2000;
        // Multiplies every duration above; tests shrink it.
        double timeScale = 1.0;
    };

    enum class Step {
        None,    // nothing to do
        Wait,    // call timePassed() in `ms`; probe every `probeMs` meanwhile if it is not 0
        Attempt, // open the stream again now
        GiveUp,  // the budget is spent: the stream has failed
        Steady,  // the reopened stream held: the next drop starts afresh
    };
    struct Decision {
        Step step = Step::None;
        int ms = 0;
        int probeMs = 0;
    };

    explicit ReconnectPolicy(const Schedule &schedule);

    // The stream, or the attempt under way, ended without sound: Wait or GiveUp.
    Decision dropped();
    // The wait asked for is over (a timer went off): Attempt when the next
    // attempt is due, Steady when the sound has held, Wait for what is left.
    Decision timePassed();
    // A probe found the station answering: Attempt while a probed wait runs.
    Decision probeAnswered();
    // The network came back or the machine woke up: Attempt at once when
    // waiting, or after a wake when `onAir` (a live stream is playing; its
    // connection most likely died in the sleep).
    Decision reconnectNow(MediaPlayer::ReconnectReason reason, bool onAir);
    // An attempt opened the stream; `listening` says the sound is played.
    // Wait for the steady check while an outage is remembered.
    Decision reopened(bool listening);
    // The listener starts the sound of a stream reopened unheard.
    Decision listening();
    // A finite stream played to its end: no steady check, the outage is kept.
    void ended();
    // The listener paused or the stream failed: nothing is pending and the
    // next drop starts afresh.
    void stop();

private:
    enum class State { Idle, Waiting, Attempting };

    int scaled(int ms) const;
    Decision steadyCheckIn(qint64 now);

    Schedule m_schedule;
    State m_state = State::Idle;
    int m_attempts = 0;
    std::optional<qint64> m_outageStart; // when the stream dropped
    std::optional<qint64> m_steadyAt;    // when the reopened stream counts as steady
    qint64 m_attemptAt = 0;              // while waiting: when the next attempt is due
    bool m_probed = false;               // the wait is watched by probes
    // The attempt under way was asked for by a probe, cutting short a wait
    // that had this long left.
    bool m_probeLed = false;
    int m_probeCutWaitMs = 0;
};
