#include "history/HistoryRecorder.h"

#include "history/HistoryStore.h"
#include "session/PlaybackSession.h"
#include "store/ProgramEntry.h"

HistoryRecorder::HistoryRecorder(PlaybackSession *session, HistoryStore *store, QObject *parent)
    : QObject(parent), m_session(session), m_store(store)
{
    connect(session, &PlaybackSession::nowPlayingChanged, this, &HistoryRecorder::titleChanged);
    connect(session, &PlaybackSession::stateChanged, this, &HistoryRecorder::stateChanged);
    connect(session, &PlaybackSession::seeked, this, [this] { m_shifted = true; });
}

HistoryRecorder::~HistoryRecorder()
{
    endSong();
}

void HistoryRecorder::endSong()
{
    if (m_current)
        m_store->finish(m_current);
    setCurrent(0);
}

void HistoryRecorder::setCurrent(qint64 id)
{
    if (id == m_current)
        return;
    m_current = id;
    Q_EMIT currentSongChanged(id);
}

void HistoryRecorder::stateChanged()
{
    switch (m_session->state()) {
    case PlaybackSession::State::Playing: {
        // Another program starts a new listening.
        const QString url = program::url(m_session->currentProgram());
        if (url != m_programUrl) {
            endSong();
            m_lastTitle.clear();
            m_programUrl = url;
            m_kept.clear();
            m_shifted = false;
        }
        break;
    }
    case PlaybackSession::State::Loading:
        // Opening, or reconnecting within the same listening: the song goes
        // on until a new title or the end.
        break;
    default:
        endSong();
        m_lastTitle.clear();
        m_programUrl.clear();
        m_kept.clear();
        m_shifted = false;
        break;
    }
}

void HistoryRecorder::titleChanged(const QString &title)
{
    if (m_session->state() != PlaybackSession::State::Playing)
        return;
    const QString clean = HistoryStore::cleanTitle(title);
    const QVariantMap program = m_session->currentProgram();
    const QString name = program::name(program);
    if (clean.isEmpty() || clean == m_lastTitle)
        return;
    endSong();
    // The station naming itself between songs ends the song but is no song;
    // the title that comes back after it is the same song still.
    if (clean == name.trimmed())
        return;
    m_lastTitle = clean;
    // Heard again after a skip back (or forward over it once more): a
    // replay of a song kept already, not a new one.
    if (m_shifted && m_kept.contains(clean))
        return;
    m_kept.insert(clean);
    setCurrent(m_store->add(name, program::url(program), clean));
}

#include "moc_HistoryRecorder.cpp"
