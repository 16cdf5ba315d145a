#include "history/ListenRules.h"

#include "platform/stream/StreamTitle.h"

void ListenRules::songBegan(const QString &streamTitle, const QString &programName,
                            qint64 startedMs, bool fromItsStart, bool replay, bool muted)
{
    const streamtitle::Parts parts = streamtitle::split(streamTitle.trimmed());
    m_song = Listen{parts.artist, parts.title, startedMs};
    m_programName = programName.trimmed();
    m_heardMs = 0;
    m_fromItsStart = fromItsStart;
    m_replay = replay;
    m_everUnmuted = !muted;
}

void ListenRules::heard(qint64 ms, bool muted)
{
    if (!m_song || ms <= 0)
        return;
    m_heardMs += ms;
    m_everUnmuted = m_everUnmuted || !muted;
}

ListenRules::Verdict ListenRules::judge() const
{
    if (!m_song)
        return Verdict::NoSong;
    const QString whole = streamtitle::compose(m_song->title, m_song->artist);
    if (!m_programName.isEmpty() &&
        (whole.compare(m_programName, Qt::CaseInsensitive) == 0 ||
         m_song->title.compare(m_programName, Qt::CaseInsensitive) == 0))
        return Verdict::StationName;
    if (m_song->artist.isEmpty() || m_song->title.isEmpty())
        return Verdict::NotArtistAndTitle;
    if (m_replay)
        return Verdict::Replay;
    if (!m_everUnmuted)
        return Verdict::Muted;
    if (m_heardMs < (m_fromItsStart ? kFromStartMs : kJoinedMs))
        return Verdict::TooShort;
    return Verdict::Listen;
}

ListenRules::Verdict ListenRules::songEnded()
{
    const Verdict verdict = judge();
    m_listen.reset();
    if (verdict == Verdict::Listen)
        m_listen = m_song;
    m_song.reset();
    return verdict;
}

std::optional<ListenRules::Listen> ListenRules::nowPlaying() const
{
    const Verdict verdict = judge();
    if (verdict == Verdict::Listen || verdict == Verdict::TooShort)
        return m_song;
    return std::nullopt;
}
