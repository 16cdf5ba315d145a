#include "platform/media/LoudnessMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

struct LoudnessMeter::State {
    explicit State(ebur128_state *meter) : meter(meter) {}
    ~State() { ebur128_destroy(&meter); }
    State(const State &) = delete;
    State &operator=(const State &) = delete;
    ebur128_state *meter;
};

LoudnessMeter::LoudnessMeter() = default;
LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::setFormat(unsigned channels, unsigned long rate)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_newFrames = 0;
    m_seenFrames = 0;
    m_rate = 0;
    m_state.reset();
    // libebur128 takes up to 48 channels and rates it can filter.
    if (channels == 0 || channels > 48 || rate < 8000 || rate > 384000)
        return;
    if (ebur128_state *meter = ebur128_init(channels, rate, EBUR128_MODE_S)) {
        m_state = std::make_unique<State>(meter);
        m_rate = rate;
    }
}

void LoudnessMeter::addFrames(const float *samples, size_t frames)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_state || frames == 0)
        return;
    if (ebur128_add_frames_float(m_state->meter, samples, frames) == EBUR128_SUCCESS) {
        m_newFrames += frames;
        m_seenFrames += frames;
    }
}

std::optional<double> LoudnessMeter::take()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_state || m_newFrames < m_rate * kMinNewMs / 1000)
        return std::nullopt;
    m_newFrames = 0;
    // Over the audio there is when less than the short-term window came: the
    // window's empty part would read as silence and the first readings of a
    // station as several LU quieter than it is.
    const unsigned long seenMs = (unsigned long)(m_seenFrames * 1000 / m_rate);
    const unsigned long windowMs = std::min<unsigned long>(kWindowMs, seenMs);
    double lufs = 0;
    if (ebur128_loudness_window(m_state->meter, windowMs, &lufs) != EBUR128_SUCCESS)
        return std::nullopt;
    return std::isnan(lufs) ? -std::numeric_limits<double>::infinity() : lufs;
}
