#include "session/StreamTaps.h"

void StreamTaps::set(Slot slot, std::shared_ptr<StreamTap> tap)
{
    std::lock_guard lock(m_mutex);
    if (tap && m_running && tap != m_taps[int(slot)])
        tap->streamStarted(m_format);
    m_taps[int(slot)] = std::move(tap);
}

void StreamTaps::streamStarted(Format format)
{
    std::lock_guard lock(m_mutex);
    m_running = true;
    m_format = format;
    for (const auto &tap : m_taps) {
        if (tap)
            tap->streamStarted(format);
    }
}

void StreamTaps::streamData(const char *data, qsizetype size)
{
    std::lock_guard lock(m_mutex);
    for (const auto &tap : m_taps) {
        if (tap)
            tap->streamData(data, size);
    }
}

void StreamTaps::streamTitle(const QString &title)
{
    std::lock_guard lock(m_mutex);
    for (const auto &tap : m_taps) {
        if (tap)
            tap->streamTitle(title);
    }
}
