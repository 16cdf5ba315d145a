#include "platform/media/LoudnessLevel.h"

#include "platform/base/Clock.h"

#include <algorithm>
#include <cmath>

namespace {

// BS.1770: loudness = -0.691 + 10 log10(mean square).
double energyOf(double lufs)
{
    return std::pow(10.0, (lufs + 0.691) / 10.0);
}

double lufsOf(double energy)
{
    return -0.691 + 10.0 * std::log10(energy);
}

} // namespace

LoudnessLevel::LoudnessLevel(double targetLufs, std::optional<double> startGainDb)
    : m_target(targetLufs), m_gain(std::clamp(startGainDb.value_or(0.0), -kMaxGainDb, kMaxGainDb)),
      m_start(m_gain), m_approaching(!startGainDb)
{
}

void LoudnessLevel::setTargetLufs(double lufs)
{
    m_target = lufs;
}

void LoudnessLevel::addReading(double lufs)
{
    if (!std::isfinite(lufs) || lufs < kAbsoluteGateLufs)
        return;
    m_energies[size_t(m_next)] = energyOf(lufs);
    m_next = (m_next + 1) % kWindow;
    m_count = std::min(m_count + 1, kWindow);
}

std::optional<double> LoudnessLevel::measuredLufs() const
{
    if (m_count < kReadingsToLearn)
        return std::nullopt;
    double sum = 0;
    for (int i = 0; i < m_count; ++i)
        sum += m_energies[size_t(i)];
    const double relativeGate = energyOf(lufsOf(sum / m_count) - kRelativeGateLu);
    double kept = 0;
    int keptCount = 0;
    for (int i = 0; i < m_count; ++i) {
        if (m_energies[size_t(i)] >= relativeGate) {
            kept += m_energies[size_t(i)];
            ++keptCount;
        }
    }
    if (keptCount < kReadingsToLearn)
        return std::nullopt;
    return lufsOf(kept / keptCount);
}

std::optional<double> LoudnessLevel::learnedGainDb() const
{
    const std::optional<double> measured = measuredLufs();
    if (!measured)
        return std::nullopt;
    return std::clamp(m_target - *measured, -kMaxGainDb, kMaxGainDb);
}

double LoudnessLevel::goal() const
{
    return learnedGainDb().value_or(m_start);
}

double LoudnessLevel::advance()
{
    const qint64 now = Clock::shared()->steadyMs();
    const qint64 elapsed = m_lastMs < 0 ? 0 : std::clamp<qint64>(now - m_lastMs, 0, 2000);
    m_lastMs = now;
    const bool learned = learnedGainDb().has_value();
    const double rate = m_approaching && learned ? kFirstApproachDbPerSecond : kSlewDbPerSecond;
    const double step = rate * double(elapsed) / 1000.0;
    const double goal = this->goal();
    m_gain = m_gain < goal ? std::min(goal, m_gain + step) : std::max(goal, m_gain - step);
    if (learned && m_gain == goal)
        m_approaching = false;
    return m_gain;
}
