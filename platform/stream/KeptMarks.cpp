#include "platform/stream/KeptMarks.h"

#include <algorithm>
#include <utility>

void KeptMarks::started(qint64 offset, qint64 wallMs, StreamTap::Format format)
{
    m_format = format;
    m_lastTitle.clear();
    m_titledSinceStart = false;
    m_marks.append(StreamMark{StreamMark::Kind::Start, offset, wallMs, QString(), format, true});
}

void KeptMarks::titled(qint64 offset, qint64 wallMs, const QString &title)
{
    if (title.isEmpty() || title == m_lastTitle)
        return;
    mark(StreamMark::Kind::Title, offset, wallMs, title, m_format);
}

void KeptMarks::chainBegan(qint64 offset, qint64 wallMs, const QString &title,
                           StreamTap::Format format)
{
    mark(StreamMark::Kind::Chain, offset, wallMs, title, format);
}

void KeptMarks::mark(StreamMark::Kind kind, qint64 offset, qint64 wallMs, const QString &title,
                     StreamTap::Format format)
{
    m_lastTitle = title;
    const bool begins = std::exchange(m_titledSinceStart, true);
    m_marks.append(StreamMark{kind, offset, wallMs, title, format, begins});
    if (kind == StreamMark::Kind::Title && m_marks.size() > kMaxMarks) {
        // The first stays: the held part's song begins there.
        const auto oldest =
            std::find_if(std::next(m_marks.begin()), m_marks.end(),
                         [](const StreamMark &m) { return m.kind == StreamMark::Kind::Title; });
        m_marks.erase(oldest);
    }
}

void KeptMarks::forgetBefore(qint64 start)
{
    // The marks before the one the held part's song began at go; that one
    // stays (with the title that named it), so the song keeps where it began.
    qsizetype first = 0;
    for (qsizetype i = 1; i < m_marks.size() && m_marks.at(i).offset <= start; ++i) {
        if (m_marks.at(i).beginsSong)
            first = i;
    }
    m_marks.remove(0, first);
}

void KeptMarks::clear()
{
    m_marks.clear();
    m_lastTitle.clear();
    m_titledSinceStart = false;
}
