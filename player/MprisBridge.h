#pragma once

#include <QObject>

class HomeViewController;
class MprisService;
class PlaybackSession;

// Shows the playback session to desktop media controls and media keys, and
// hands their requests to it; Raise brings the main window to the front.
class MprisBridge : public QObject {
    Q_OBJECT
public:
    MprisBridge(HomeViewController *home, MprisService *service, QObject *parent = nullptr);

    void play();
    void pause();
    void playPause();
    void stop();
    void raise();

private:
    void publishState();
    void publishMetadata();

    HomeViewController *m_home;
    PlaybackSession *m_session;
    MprisService *m_service;
};
