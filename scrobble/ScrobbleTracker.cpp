#include "scrobble/ScrobbleTracker.h"

#include "history/HistoryRecorder.h"
#include "platform/base/Clock.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

ScrobbleTracker::ScrobbleTracker(PlaybackSession *session, HistoryRecorder *recorder,
                                 QObject *parent)
    : QObject(parent), m_session(session), m_recorder(recorder)
{
    m_tick = Clock::shared()->steadyMs();
    m_muted = session->volume()->effectiveMuted();
    m_playing = session->state() == PlaybackSession::State::Playing;
    // After the recorder's own handlers: a song it ends was heard until now.
    connect(recorder, &HistoryRecorder::currentSongChanged, this, &ScrobbleTracker::songChanged);
    connect(session, &PlaybackSession::stateChanged, this, &ScrobbleTracker::stateChanged);
    connect(session, &PlaybackSession::currentProgramChanged, this, [this] { m_fresh = true; });
    connect(session, &PlaybackSession::seeked, this,
            [this] { m_seekedAt = Clock::shared()->steadyMs(); });
    connect(session->volume(), &Volume::effectiveChanged, this, [this] {
        const bool muted = m_session->volume()->effectiveMuted();
        if (muted == m_muted)
            return;
        account();
        m_muted = muted;
    });
}

void ScrobbleTracker::account()
{
    const qint64 now = Clock::shared()->steadyMs();
    const qint64 ms = now - m_tick;
    m_tick = now;
    if (!m_playing || !m_song || ms <= 0)
        return;
    m_rules.heard(ms, m_muted);
    m_heardMs += ms;
}

void ScrobbleTracker::stateChanged()
{
    account();
    const PlaybackSession::State state = m_session->state();
    m_playing = state == PlaybackSession::State::Playing;
    // Opening or reconnecting goes on with the same listening.
    if (!m_playing && state != PlaybackSession::State::Loading)
        m_fresh = true;
}

ScrobbleQueue::Listen ScrobbleTracker::listenOf(const ListenRules::Listen &song,
                                                qint64 heardMs) const
{
    ScrobbleQueue::Listen listen;
    listen.artist = song.artist;
    listen.title = song.title;
    listen.started = QDateTime::fromMSecsSinceEpoch(song.startedMs, Qt::UTC);
    listen.heardMs = heardMs;
    listen.station = m_station;
    listen.song = m_song;
    return listen;
}

void ScrobbleTracker::songChanged(qint64 id)
{
    account();
    if (m_song) {
        m_rules.songEnded();
        if (const auto &listen = m_rules.listen(); listen && !m_excluded.contains(m_station))
            Q_EMIT listened(listenOf(*listen, m_heardMs));
    }
    m_song = id;
    m_heardMs = 0;
    if (!id)
        return;
    const QVariantMap program = m_session->currentProgram();
    m_station = program::url(program);
    const qint64 now = Clock::shared()->steadyMs();
    const bool joined = std::exchange(m_fresh, false) || now - m_seekedAt < kSeekJoinsMs;
    // The recorder keeps no replay and no station name: those never get here.
    m_rules.songBegan(m_recorder->currentTitle(), program::name(program),
                      Clock::shared()->currentDateTimeUtc().toMSecsSinceEpoch(), !joined, false,
                      m_muted);
    if (const auto song = m_rules.nowPlaying(); song && !m_excluded.contains(m_station))
        Q_EMIT nowPlaying(listenOf(*song, 0));
}

#include "moc_ScrobbleTracker.cpp"
