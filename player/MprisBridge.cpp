#include "player/MprisBridge.h"

#include "platform/desktop/MprisService.h"
#include "platform/ui/WindowFront.h"
#include "player/HomeViewController.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

#include <QLabel>
#include <QWidget>

MprisBridge::MprisBridge(HomeViewController *home, MprisService *service, QObject *parent)
    : QObject(parent), m_home(home), m_service(service)
{
    connect(home, &HomeViewController::playbackStateChanged, this, &MprisBridge::publishState);
    connect(home, &HomeViewController::nowPlayingChanged, this, &MprisBridge::publishMetadata);
    connect(service, &MprisService::playRequested, this, &MprisBridge::play);
    connect(service, &MprisService::pauseRequested, this, &MprisBridge::pause);
    connect(service, &MprisService::playPauseRequested, this, &MprisBridge::playPause);
    connect(service, &MprisService::stopRequested, this, &MprisBridge::stop);
    connect(service, &MprisService::raiseRequested, this, &MprisBridge::raise);
    connect(service, &MprisService::quitRequested, home, &HomeViewController::quitRequested);
    // Volume both ways; muted reads as 0, and a client's volume unmutes.
    Volume *volume = home->volume();
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
    if (!m_home->isPlaying())
        m_home->playClick();
}

void MprisBridge::pause()
{
    if (m_home->isPlaying())
        m_home->playClick();
}

void MprisBridge::playPause()
{
    m_home->playClick();
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
    using State = HomeViewController::PlaybackState;
    switch (m_home->playbackState()) {
    case State::Loading:
    case State::Playing: m_service->setPlaybackStatus(MprisService::PlaybackStatus::Playing); break;
    case State::Paused: m_service->setPlaybackStatus(MprisService::PlaybackStatus::Paused); break;
    case State::Idle:
    case State::Failed: m_service->setPlaybackStatus(MprisService::PlaybackStatus::Stopped); break;
    }
}

void MprisBridge::publishMetadata()
{
    const QVariantMap live = m_home->shownProgram();
    const QString name = program::name(live);
    const QString nowPlaying = m_home->nowPlayingLabel()->text();
    m_service->setMetadata(nowPlaying.isEmpty() ? name : nowPlaying, name,
                           QUrl(program::image(live)));
}
