#include "platform/media/FeedFormats.h"

void FeedFormats::mark(qint64 at, StreamTap::Format format, qint64 keptFrom)
{
    while (!m_formats.empty() && m_formats.back().first == at)
        m_formats.pop_back();
    if (m_formats.empty() || m_formats.back().second != format)
        m_formats.push_back({at, format});
    constexpr size_t kMaxFormats = 64;
    while (m_formats.size() > kMaxFormats ||
           (m_formats.size() > 1 && m_formats[1].first <= keptFrom))
        m_formats.pop_front();
}

StreamTap::Format FeedFormats::at(qint64 offset) const
{
    for (auto it = m_formats.crbegin(); it != m_formats.crend(); ++it) {
        if (it->first <= offset)
            return it->second;
    }
    return m_formats.empty() ? StreamTap::Format::Unknown : m_formats.front().second;
}

qint64 FeedFormats::nextChange(qint64 offset) const
{
    const StreamTap::Format here = at(offset);
    for (const auto &[from, format] : m_formats) {
        if (from > offset && format != here)
            return from;
    }
    return -1;
}
