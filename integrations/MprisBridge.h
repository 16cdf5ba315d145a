#pragma once

#include "store/ProgramIndex.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <QVariantMap>

class HomeViewController;
class MprisService;
class PlaybackSession;
class ProgramStore;

// Shows the playback session to desktop media controls and media keys, and
// hands their requests to it; Raise brings the main window to the front.
// The program list is offered as playlists, one per program; Next, Previous
// and choosing a playlist play that program as choosing its row in the list
// window does.
class MprisBridge : public QObject {
    Q_OBJECT
public:
    MprisBridge(HomeViewController *home, ProgramStore *store, MprisService *service,
                QObject *parent = nullptr);

    void play();
    void pause();
    void playPause();
    void stop();
    void raise();
    // Plays the program `step` rows after (before, when negative) the
    // current one, wrapping around.
    void step(int step);
    void playProgram(const QString &key);

private:
    void publishState();
    void publishMetadata();
    void publishPlaylists();

    HomeViewController *m_home;
    PlaybackSession *m_session;
    ProgramStore *m_store;
    MprisService *m_service;
    bool m_playlistsDue = false;
    QUrl m_artAsked; // picture being written to a file for the metadata
};
