#include "platform/base/Clock.h"

#include <chrono>
#include <climits>
#include <cmath>

namespace {
Clock g_system;
Clock *g_shared = nullptr;
} // namespace

Clock::~Clock() = default;

QDateTime Clock::currentDateTimeUtc() const
{
    return QDateTime::currentDateTimeUtc();
}

qint64 Clock::steadyMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Clock::setTimeScale(double scale)
{
    m_timeScale = std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

int Clock::scaled(qint64 ms) const
{
    if (ms <= 0)
        return 0;
    const double v = std::ceil(double(ms) * m_timeScale);
    return int(qBound(1.0, v, double(INT_MAX)));
}

Clock *Clock::shared()
{
    return g_shared ? g_shared : &g_system;
}

void Clock::setShared(Clock *clock)
{
    g_shared = clock;
}
