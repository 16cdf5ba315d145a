#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>

// The loudness of decoded audio (EBU R128 / BS.1770, libebur128), fed on
// the streaming thread and read on the main thread. A reading is the
// short-term loudness of the last three seconds (of what came, when less
// did), given only when at least
// `kMinNewMs` of audio came since the last one, so a stream that stalls,
// fails or is held tells nothing rather than the same seconds again.
class LoudnessMeter {
public:
    static constexpr int kMinNewMs = 750;
    static constexpr unsigned long kWindowMs = 3000;

    LoudnessMeter();
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    // The audio's format changed (float samples, interleaved); starts over.
    void setFormat(unsigned channels, unsigned long rate);
    void addFrames(const float *samples, size_t frames);
    // LUFS, -inf for digital silence; none while too little came.
    std::optional<double> take();

private:
    struct State; // libebur128's, freed with it
    std::mutex m_mutex;
    std::unique_ptr<State> m_state;
    unsigned long m_rate = 0;
    size_t m_newFrames = 0;
    size_t m_seenFrames = 0; // since the format was set
};
