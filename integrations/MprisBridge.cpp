#include "integrations/MprisBridge.h"

#include "platform/base/Log.h"
#include "platform/desktop/MprisService.h"
#include "platform/net/ArtFiles.h"
#include "platform/stream/StreamTitle.h"
#include "session/PlayProgram.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"
#include "store/ProgramGroups.h"
#include "store/ProgramIndex.h"
#include "store/ProgramStore.h"

#include <QTimer>

MprisBridge::MprisBridge(PlaybackSession *session, ProgramStore *store, MprisService *service,
                         QObject *parent)
    : QObject(parent), m_session(session), m_store(store), m_service(service)
{
    // Changes made together (a rename is a removal and an addition) are
    // offered once, as what they make together.
    connect(store, &ProgramStore::listChanged, this, [this] {
        if (!m_playlistsDue) {
            m_playlistsDue = true;
            QTimer::singleShot(0, this, [this] {
                m_playlistsDue = false;
                publishPlaylists();
            });
        }
    });
    connect(service, &MprisService::nextRequested, this, [this] { step(1); });
    connect(service, &MprisService::previousRequested, this, [this] { step(-1); });
    connect(service, &MprisService::playlistRequested, this, &MprisBridge::playProgram);
    connect(m_session, &PlaybackSession::stateChanged, this, &MprisBridge::publishState);
    connect(m_session, &PlaybackSession::currentProgramChanged, this,
            &MprisBridge::publishMetadata);
    connect(m_session, &PlaybackSession::nowPlayingChanged, this, &MprisBridge::publishMetadata);
    connect(service, &MprisService::playRequested, this, &MprisBridge::play);
    connect(service, &MprisService::pauseRequested, this, &MprisBridge::pause);
    connect(service, &MprisService::playPauseRequested, this, &MprisBridge::playPause);
    connect(service, &MprisService::stopRequested, this, &MprisBridge::stop);
    connect(service, &MprisService::raiseRequested, this, &MprisBridge::raiseRequested);
    // Time-shift: the time heard, which runs at the one rate while playing
    // and stands while paused; any other move is announced as Seeked.
    service->setPositionSource([session] { return session->positionMs() * 1000; });
    connect(m_session, &PlaybackSession::timeShiftChanged, this,
            [this] { m_service->setCanSeek(m_session->canSeek()); });
    connect(m_session, &PlaybackSession::seeked, service, &MprisService::announceSeeked);
    connect(m_session, &PlaybackSession::resumedFromOldest, service, &MprisService::announceSeeked);
    connect(service, &MprisService::seekRequested, m_session,
            [this](qint64 offsetUs) { m_session->seekBy(offsetUs / 1000); });
    connect(service, &MprisService::positionRequested, m_session, [this](qint64 positionUs) {
        m_session->seekBy(positionUs / 1000 - m_session->positionMs());
    });
    connect(service, &MprisService::quitRequested, this, &MprisBridge::quitRequested);
    // Volume both ways; muted reads as 0, and a client's volume unmutes.
    Volume *volume = m_session->volume();
    auto publishVolume = [this, volume] {
        m_service->setVolume(volume->isMuted() ? 0.0 : volume->level());
    };
    connect(volume, &Volume::changed, this, publishVolume);
    connect(service, &MprisService::volumeRequested, volume, [volume](double level) {
        volume->setLevel(level);
        volume->setMuted(false);
    });
    publishVolume();
    publishState();
    publishPlaylists();
}

void MprisBridge::play()
{
    if (!m_session->isPlaying())
        m_session->toggle();
}

void MprisBridge::pause()
{
    m_session->pause();
}

void MprisBridge::playPause()
{
    m_session->toggle();
}

void MprisBridge::stop()
{
    pause();
}

void MprisBridge::publishState()
{
    using State = PlaybackSession::State;
    switch (m_session->state()) {
    case State::Loading:
    case State::Playing: m_service->setPlaybackStatus(MprisService::PlaybackStatus::Playing); break;
    case State::Paused: m_service->setPlaybackStatus(MprisService::PlaybackStatus::Paused); break;
    case State::Idle:
    case State::Failed: m_service->setPlaybackStatus(MprisService::PlaybackStatus::Stopped); break;
    }
}

void MprisBridge::step(int step)
{
    // From the program the store holds as the current one, as the list
    // window marks it.
    const session::Choice choice = session::playNeighbour(m_store, step);
    if (choice.outcome == session::Choice::NotSaved)
        NSLog(lcPlayer(), QtWarningMsg, "MPRIS: %@ could not be made the current program",
              choice.name);
}

void MprisBridge::playProgram(const QString &key)
{
    const session::Choice choice = session::playKey(m_store, key);
    if (choice.outcome == session::Choice::NotListed)
        NSLog(lcPlayer(), QtInfoMsg, "MPRIS: the chosen program is no longer in the list");
    else if (choice.outcome == session::Choice::NotSaved)
        NSLog(lcPlayer(), QtWarningMsg, "MPRIS: %@ could not be made the current program",
              choice.name);
}

void MprisBridge::publishPlaylists()
{
    // In the order the list window shows them: the programs of no group,
    // then each group's, named "Group: Program".
    const QList<programindex::Program> programs = m_store->programs();
    QVariantList entries;
    entries.reserve(programs.size());
    for (const programindex::Program &p : programs)
        entries << p.entry;
    QList<MprisService::Playlist> playlists;
    for (const programgroups::Section &section :
         programgroups::sections(entries, m_store->groups())) {
        for (qsizetype i : section.items) {
            const programindex::Program &p = programs.at(i);
            const QUrl image(program::image(p.entry));
            const QString art = artfiles::existing(image);
            const QString name = program::name(p.entry);
            playlists.append(
                {p.key,
                 section.group.isEmpty() ? name : section.group + QStringLiteral(": ") + name,
                 art.isEmpty() ? image.toString() : QUrl::fromLocalFile(art).toString()});
        }
    }
    m_service->setPlaylists(playlists);
    publishMetadata();
}

void MprisBridge::publishMetadata()
{
    const QVariantMap live = m_session->currentProgram();
    const QString name = program::name(live);
    MprisService::Track track;
    if (!live.isEmpty()) {
        // The same key as the program's playlist; a program that is not in
        // the list (any more) keeps the key its address gives it.
        track.id = programindex::keyOf(live, m_store->programs());
        if (track.id.isEmpty())
            track.id = programindex::programs(QVariantList{live}).value(0).key;
        const streamtitle::Parts parts = streamtitle::split(m_session->nowPlaying());
        track.title = parts.title.isEmpty() ? name : parts.title;
        track.artist = parts.artist;
        track.album = name;
        const QUrl image(program::image(live));
        const QString art = artfiles::existing(image);
        if (!art.isEmpty()) {
            track.artUrl = QUrl::fromLocalFile(art);
        } else if (!image.isEmpty() && image != m_artAsked) {
            m_artAsked = image;
            // Asked again at the next title when it did not come (failed, or
            // on its way for the desktop's search).
            artfiles::fetch(image, this, [this](const QString &path) {
                if (path.isEmpty())
                    m_artAsked.clear();
                else
                    publishPlaylists(); // the playlist's icon too
            });
        }
    }
    m_service->setMetadata(track);
    m_service->setActivePlaylist(programindex::keyOf(live, m_store->programs()));
}

#include "moc_MprisBridge.cpp"
