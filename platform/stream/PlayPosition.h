#pragma once

#include <QtGlobal>

class Clock;
class StreamTimeline;

// Where the listener is in what a timeline keeps, and where live is for
// them. The sound starts over at an offset and runs on from there by the
// clock while it plays. Live follows the newest byte a little behind it (the
// lag); anywhere else that lag stays as it was, so a listener who pauses
// falls behind live as the station goes on. Only a sound that runs follows
// live: moved to live while paused, the position is behind as soon as more
// comes. Times are the timeline's audio time in milliseconds. No GStreamer;
// the player says how far the sound was handed bytes (`reached`).
class PlayPosition {
public:
    // Forward to closer to live than this is live.
    static constexpr qint64 kLiveWithinMs = 1000;

    // The timeline outlives the position; the clock is the shared one
    // unless given.
    explicit PlayPosition(const StreamTimeline &timeline, const Clock *clock = nullptr);

    // A new stream: live at `offset`, nothing played yet.
    void reset(qint64 offset);
    // The sound starts over at `offset`; what it played before is forgotten.
    void startAt(qint64 offset);
    qint64 startOffset() const { return m_start; }
    // The sound runs, or stands (paused, buffering, waiting for its cushion).
    void setRunning(bool running);
    bool isRunning() const { return m_runningSince >= 0; }
    // The sound is handed more after playing all it had been handed up to
    // `reached`: if the clock says it played further, it stood there waiting
    // (an underrun), and it goes on from `reached` from now.
    void caughtUpWith(qint64 reached);
    // The sound stands (paused, buffering); it played no further than what
    // it was handed, `reached`.
    void standAt(qint64 reached);

    // What is heard: where the sound started and what it played since, never
    // past `reached` and never before the oldest byte kept.
    qint64 heardOffset(qint64 reached) const;
    // The time heard since the timeline began, for a media-control client: it
    // stands while paused, runs at the sound's pace while it plays and is
    // not moved by what the timeline lets go of; only a seek or playing on
    // from the oldest kept moves it otherwise.
    qint64 positionMs(qint64 reached) const;
    // Held longer than what is kept reaches: what was heard last is gone.
    bool isBeforeOldest(qint64 reached) const;
    // Heard up to the newest byte: nothing kept is left to play.
    bool hasHeardAll(qint64 reached) const;

    bool isLive() const { return m_live; }
    // Live's place: the lag before the newest byte, within what is kept.
    qint64 liveOffset() const;
    // How far what is heard is behind live; 0 while live.
    qint64 behindLiveMs(qint64 reached) const;
    // From the oldest moment kept to live.
    qint64 keptMs() const;

    // The sound stops following live (a held pause, a reconnect behind it).
    void leaveLive(qint64 reached);
    // Where the sound starts over for a step of `ms` from what is heard (back
    // when negative): never before the oldest kept, never past live; forward
    // to within kLiveWithinMs of live is back to live.
    qint64 seekBy(qint64 ms, qint64 reached, qint64 liveMarginMs, bool playing);
    // Where the sound starts over for live: `marginMs` before the newest
    // byte. Live from then on only while `playing`.
    qint64 goLive(qint64 marginMs, bool playing);

private:
    qint64 nowMs() const;
    // Where the sound has come to by the clock, past what it was handed too.
    qint64 playedTo() const;
    qint64 kept(qint64 offset) const;

    const StreamTimeline &m_timeline;
    const Clock *m_clock;
    qint64 m_start = 0;         // where the sound started over: its decoder's first byte
    qint64 m_anchor = 0;        // where the time it played counts from: m_start, or
                                // where it stood after running dry
    qint64 m_playedMs = 0;      // since m_anchor, up to m_runningSince
    qint64 m_runningSince = -1; // the clock's steady reading; -1 while standing
    bool m_live = true;
    qint64 m_lagBytes = 0; // live is this far before the newest byte
};
