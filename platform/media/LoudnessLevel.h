#pragma once

#include <QtGlobal>

#include <array>
#include <optional>

// The levelling gain of one station, worked out from readings of its own
// loudness (before the gain) with no GStreamer: the gain moves toward the
// target at most `kSlewDbPerSecond` (time from the shared Clock), within
// +-`kMaxGainDb`. Readings are gated as BS.1770 gates blocks: one below
// -70 LUFS (silence, digital silence) is no reading, and one more than
// 10 LU below the loudness of the others kept is left out of it. Until
// `kReadingsToLearn` readings passed the gates the station has taught
// nothing: the gain stays where it started (what it learned before, or 0 dB),
// so a short listen or a failed stream teaches no wrong gain. A station that
// had learned nothing before approaches its first learned gain at
// `kFirstApproachDbPerSecond`.
class LoudnessLevel {
public:
    static constexpr double kDefaultTargetLufs = -18.0;
    static constexpr double kMaxGainDb = 12.0;
    static constexpr double kSlewDbPerSecond = 1.0;
    // A station met for the first time is brought to the gain its first
    // readings ask for this much faster, once: levelled within seconds,
    // after which its own changes are followed slowly.
    static constexpr double kFirstApproachDbPerSecond = 4.0;
    static constexpr double kAbsoluteGateLufs = -70.0;
    static constexpr double kRelativeGateLu = 10.0;
    static constexpr int kReadingsToLearn = 5;
    // The readings the loudness is worked out from, the newest kept: about
    // half a minute at one a second, so a station whose loudness changes is
    // followed.
    static constexpr int kWindow = 30;

    // Starts at `startGainDb` at once (a station's gain learned before).
    explicit LoudnessLevel(double targetLufs = kDefaultTargetLufs,
                           std::optional<double> startGainDb = std::nullopt);

    double targetLufs() const { return m_target; }
    void setTargetLufs(double lufs);
    // The station's loudness over the last seconds, in LUFS; -inf or NaN for
    // digital silence.
    void addReading(double lufs);
    // Moves the gain toward where the readings say, by the time passed since
    // the last call (at most two seconds of it), and returns it.
    double advance();
    double gainDb() const { return m_gain; }
    // The gain the readings ask for, once they taught one.
    std::optional<double> learnedGainDb() const;
    // The loudness the gated readings give, once enough passed the gates.
    std::optional<double> measuredLufs() const;

private:
    double goal() const;

    double m_target;
    double m_gain;
    double m_start;
    bool m_approaching; // nothing learned before: the first approach is faster
    // Readings that passed the absolute gate, as mean-square energies.
    std::array<double, kWindow> m_energies{};
    int m_count = 0; // how many of m_energies hold a reading
    int m_next = 0;
    qint64 m_lastMs = -1;
};
