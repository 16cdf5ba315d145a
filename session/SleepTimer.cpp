#include "session/SleepTimer.h"

#include "platform/base/Clock.h"

#include <QtGlobal>

namespace {
constexpr int kTickMs = 1000;
constexpr int kFadeSteps = 50;
} // namespace

SleepTimer::SleepTimer(QObject *parent) : QObject(parent)
{
    connect(&m_tick, &QTimer::timeout, this, &SleepTimer::tick);
}

void SleepTimer::start(int minutes)
{
    const bool wasFading = isFading();
    m_minutes = qMax(0, minutes);
    if (wasFading)
        Q_EMIT fadeChanged(1.0);
    if (!m_minutes) {
        m_tick.stop();
        Q_EMIT stopped();
        return;
    }
    m_scale = Clock::shared()->timeScale();
    m_startMs = Clock::shared()->steadyMs();
    m_tick.start(qMax(1, int(kTickMs * m_scale)));
    Q_EMIT remainingChanged();
}

qint64 SleepTimer::elapsedMs() const
{
    return qint64(double(Clock::shared()->steadyMs() - m_startMs) / m_scale);
}

int SleepTimer::minutesLeft() const
{
    if (!isRunning())
        return 0;
    const qint64 left = qint64(m_minutes) * 60000 - elapsedMs();
    return left > 0 ? int((left + 59999) / 60000) : 0;
}

bool SleepTimer::isFading() const
{
    return isRunning() && elapsedMs() >= qint64(m_minutes) * 60000;
}

void SleepTimer::tick()
{
    const qint64 intoFade = elapsedMs() - qint64(m_minutes) * 60000;
    if (intoFade < 0) {
        Q_EMIT remainingChanged();
        return;
    }
    if (intoFade < kFadeMs) {
        m_tick.setInterval(qMax(1, int(kFadeMs / kFadeSteps * m_scale)));
        Q_EMIT fadeChanged(1.0 - double(intoFade) / kFadeMs);
        return;
    }
    m_tick.stop();
    m_minutes = 0;
    Q_EMIT fadeChanged(0.0);
    Q_EMIT finished();
    Q_EMIT stopped();
}

#include "moc_SleepTimer.cpp"
