#include "platform/stream/PlayPosition.h"

#include "platform/base/Clock.h"
#include "platform/stream/StreamTimeline.h"

PlayPosition::PlayPosition(const StreamTimeline &timeline, const Clock *clock)
    : m_timeline(timeline), m_clock(clock)
{
}

qint64 PlayPosition::nowMs() const
{
    return (m_clock ? m_clock : Clock::shared())->steadyMs();
}

void PlayPosition::reset(qint64 offset)
{
    m_live = true;
    m_lagBytes = 0;
    startAt(offset);
}

void PlayPosition::startAt(qint64 offset)
{
    m_start = offset;
    m_anchor = offset;
    m_playedMs = 0;
    if (isRunning())
        m_runningSince = nowMs();
}

void PlayPosition::setRunning(bool running)
{
    if (running == isRunning())
        return;
    if (running) {
        m_runningSince = nowMs();
    } else {
        m_playedMs += qMax<qint64>(0, nowMs() - m_runningSince);
        m_runningSince = -1;
    }
}

void PlayPosition::caughtUpWith(qint64 reached)
{
    if (isRunning() && playedTo() > reached) {
        m_anchor = reached;
        m_playedMs = 0;
        m_runningSince = nowMs();
    }
}

void PlayPosition::standAt(qint64 reached)
{
    caughtUpWith(reached);
    setRunning(false);
}

qint64 PlayPosition::playedTo() const
{
    const qint64 played =
        m_playedMs + (isRunning() ? qMax<qint64>(0, nowMs() - m_runningSince) : 0);
    return m_timeline.offsetAt(m_timeline.timeAt(m_anchor) + played);
}

// Within what is kept; a bound past the newest byte or before the oldest
// (held longer than what is kept) gives the oldest.
qint64 PlayPosition::kept(qint64 offset) const
{
    return qMax(m_timeline.startOffset(), qMin(offset, m_timeline.endOffset()));
}

qint64 PlayPosition::heardOffset(qint64 reached) const
{
    return kept(qMin(playedTo(), reached));
}

qint64 PlayPosition::positionMs(qint64 reached) const
{
    return qMax<qint64>(0, m_timeline.timeAt(qMin(playedTo(), reached)));
}

bool PlayPosition::isBeforeOldest(qint64 reached) const
{
    return qMin(playedTo(), reached) < m_timeline.startOffset();
}

bool PlayPosition::hasHeardAll(qint64 reached) const
{
    return heardOffset(reached) >= m_timeline.endOffset();
}

qint64 PlayPosition::liveOffset() const
{
    return kept(m_timeline.endOffset() - m_lagBytes);
}

qint64 PlayPosition::behindLiveMs(qint64 reached) const
{
    if (m_live)
        return 0;
    return qMax<qint64>(0,
                        m_timeline.timeAt(liveOffset()) - m_timeline.timeAt(heardOffset(reached)));
}

qint64 PlayPosition::keptMs() const
{
    return qMax<qint64>(0, m_timeline.timeAt(liveOffset()) -
                               m_timeline.timeAt(m_timeline.startOffset()));
}

void PlayPosition::leaveLive(qint64 reached)
{
    if (m_live)
        m_lagBytes = qMax<qint64>(0, m_timeline.endOffset() - heardOffset(reached));
    m_live = false;
}

qint64 PlayPosition::seekBy(qint64 ms, qint64 reached, qint64 liveMarginMs, bool playing)
{
    const qint64 heard = heardOffset(reached);
    leaveLive(reached);
    const qint64 liveAt = liveOffset();
    const qint64 target = m_timeline.offsetAt(m_timeline.timeAt(heard) + ms);
    if (ms > 0 && m_timeline.timeAt(target) > m_timeline.timeAt(liveAt) - kLiveWithinMs)
        return goLive(liveMarginMs, playing);
    return qMax(m_timeline.startOffset(), qMin(target, liveAt));
}

qint64 PlayPosition::goLive(qint64 marginMs, bool playing)
{
    const qint64 end = m_timeline.endOffset();
    const qint64 target = kept(m_timeline.offsetAt(m_timeline.timeAt(end) - marginMs));
    m_live = playing;
    m_lagBytes = end - target;
    return target;
}
