#pragma once

#include <QObject>

class HomeViewController;
class MprisService;

// Shows the main window's playback to desktop media controls and media keys,
// and routes their requests through the same paths as the play button.
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
    MprisService *m_service;
};
