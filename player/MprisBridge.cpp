#include "player/MprisBridge.h"

#include "platform/desktop/MprisService.h"
#include "platform/ui/WindowFront.h"
#include "player/HomeViewController.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

#include <QWidget>

MprisBridge::MprisBridge(HomeViewController *home, MprisService *service, QObject *parent)
    : QObject(parent), m_home(home), m_session(home->session()), m_service(service)
{
    connect(m_session, &PlaybackSession::stateChanged, this, &MprisBridge::publishState);
    connect(m_session, &PlaybackSession::currentProgramChanged, this,
            &MprisBridge::publishMetadata);
    connect(m_session, &PlaybackSession::nowPlayingChanged, this, &MprisBridge::publishMetadata);
    connect(service, &MprisService::playRequested, this, &MprisBridge::play);
    connect(service, &MprisService::pauseRequested, this, &MprisBridge::pause);
    connect(service, &MprisService::playPauseRequested, this, &MprisBridge::playPause);
    connect(service, &MprisService::stopRequested, this, &MprisBridge::stop);
    connect(service, &MprisService::raiseRequested, this, &MprisBridge::raise);
    connect(service, &MprisService::quitRequested, home, &HomeViewController::quitRequested);
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
    publishMetadata();
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

void MprisBridge::raise()
{
    bringToFront(m_home->view()->window());
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

void MprisBridge::publishMetadata()
{
    const QVariantMap live = m_session->currentProgram();
    const QString name = program::name(live);
    const QString nowPlaying = m_session->nowPlaying();
    m_service->setMetadata(nowPlaying.isEmpty() ? name : nowPlaying, name,
                           QUrl(program::image(live)));
}
