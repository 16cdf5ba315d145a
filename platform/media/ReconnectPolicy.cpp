#include "platform/media/ReconnectPolicy.h"

#include "platform/base/Clock.h"

#include <climits>
#include <utility>

namespace {

qint64 now()
{
    return Clock::shared()->steadyMs();
}

} // namespace

ReconnectPolicy::ReconnectPolicy(const Schedule &schedule) : m_schedule(schedule) {}

int ReconnectPolicy::scaled(int ms) const
{
    return int(qBound(0.0, ms * m_schedule.timeScale, double(INT_MAX)));
}

ReconnectPolicy::Decision ReconnectPolicy::dropped()
{
    // An attempt the probe asked for that failed all the same: the station
    // answers but serves no audio (an "offline" page, say). Its answers mean
    // nothing for the rest of the wait it cut short, which goes on unprobed
    // until the attempt that was due.
    const bool probeMisled = std::exchange(m_probeLed, false);
    const qint64 t = now();
    m_steadyAt.reset();
    if (!m_outageStart)
        m_outageStart = t;
    const QList<int> &delays = m_schedule.delaysMs;
    const int delay = probeMisled ? m_probeCutWaitMs
                                  : scaled(m_attempts < delays.size() ? delays.at(m_attempts)
                                                                      : m_schedule.repeatMs);
    if (t - *m_outageStart + delay > scaled(m_schedule.budgetMs)) {
        stop();
        return {Step::GiveUp};
    }
    if (!probeMisled)
        ++m_attempts;
    m_state = State::Waiting;
    m_attemptAt = t + delay;
    const int probeMs = scaled(m_schedule.probeIntervalMs);
    m_probed = !probeMisled && delay > probeMs;
    return {Step::Wait, delay, m_probed ? probeMs : 0};
}

ReconnectPolicy::Decision ReconnectPolicy::timePassed()
{
    const qint64 t = now();
    if (m_state == State::Waiting) {
        if (t < m_attemptAt)
            return {Step::Wait, int(m_attemptAt - t)};
        m_state = State::Attempting;
        return {Step::Attempt};
    }
    if (m_state == State::Idle && m_steadyAt) {
        if (t < *m_steadyAt)
            return {Step::Wait, int(*m_steadyAt - t)};
        stop();
        return {Step::Steady};
    }
    return {};
}

ReconnectPolicy::Decision ReconnectPolicy::probeAnswered()
{
    if (m_state != State::Waiting || !m_probed)
        return {};
    m_state = State::Attempting;
    m_probeLed = true;
    m_probeCutWaitMs = int(qMax<qint64>(0, m_attemptAt - now()));
    return {Step::Attempt};
}

ReconnectPolicy::Decision ReconnectPolicy::reconnectNow(MediaPlayer::ReconnectReason reason,
                                                        bool onAir)
{
    if (m_state == State::Waiting) {
        m_state = State::Attempting;
        return {Step::Attempt};
    }
    if (reason == MediaPlayer::ReconnectReason::Resumed && onAir && m_state == State::Idle) {
        // Do not wait for the source to notice the dead connection. The
        // budget counts from the wake.
        m_outageStart = now();
        m_steadyAt.reset();
        m_state = State::Attempting;
        return {Step::Attempt};
    }
    return {};
}

ReconnectPolicy::Decision ReconnectPolicy::reopened(bool listening)
{
    m_state = State::Idle;
    m_probeLed = false;
    m_steadyAt.reset();
    // The back-off goes on until the sound has held for a while: a station
    // that accepts, plays a moment and drops again must not be retried every
    // second for ever.
    if (!listening || !m_outageStart)
        return {};
    return steadyCheckIn(now());
}

ReconnectPolicy::Decision ReconnectPolicy::listening()
{
    if (m_state != State::Idle || !m_outageStart || m_steadyAt)
        return {};
    return steadyCheckIn(now());
}

ReconnectPolicy::Decision ReconnectPolicy::steadyCheckIn(qint64 t)
{
    const int steadyMs = scaled(m_schedule.steadyMs);
    m_steadyAt = t + steadyMs;
    return {Step::Wait, steadyMs};
}

void ReconnectPolicy::ended()
{
    m_steadyAt.reset();
}

void ReconnectPolicy::stop()
{
    m_state = State::Idle;
    m_attempts = 0;
    m_outageStart.reset();
    m_steadyAt.reset();
    m_probed = false;
    m_probeLed = false;
}
