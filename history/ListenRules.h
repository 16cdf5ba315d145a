#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Radio's rules for what counts as a listen, for the scrobbling services:
// a song is a listen when it ends at the play position after being heard
// from its start for at least kFromStartMs, or for at least kJoinedMs when
// it was joined in the middle; never the station's own name, a title
// without both an artist and a title (station IDs, adverts, "Live"), a
// replay after going back, or a song muted the whole time it was heard.
// Its time is when it started. Time is the heard time the caller counts
// (the play position runs), not the wall clock; pure logic, no Qt objects.
class ListenRules {
public:
    static constexpr qint64 kFromStartMs = 30 * 1000;
    static constexpr qint64 kJoinedMs = 4 * 60 * 1000;

    enum class Verdict {
        Listen,
        TooShort,
        StationName,
        NotArtistAndTitle,
        Replay,
        Muted,
        NoSong,
    };

    struct Listen {
        QString artist;
        QString title;
        qint64 startedMs = 0; // UTC, when it began to be heard
    };

    // A song begins to be heard: `fromItsStart` when its title change was
    // heard (not the first title after tuning in), `replay` when it was
    // heard before in this listening and the listener went back to it.
    void songBegan(const QString &streamTitle, const QString &programName, qint64 startedMs,
                   bool fromItsStart, bool replay, bool muted);
    // `ms` more of the song were heard, muted or not.
    void heard(qint64 ms, bool muted);
    // The song ended at the play position: what it counts as.
    Verdict songEnded();
    // The listen the last songEnded() counted, when it said Listen.
    const std::optional<Listen> &listen() const { return m_listen; }
    // The song under way, for "now playing"; none when it would not count.
    std::optional<Listen> nowPlaying() const;

private:
    Verdict judge() const;

    std::optional<Listen> m_song;
    std::optional<Listen> m_listen;
    QString m_programName;
    qint64 m_heardMs = 0;
    bool m_fromItsStart = false;
    bool m_replay = false;
    bool m_everUnmuted = false;
};
