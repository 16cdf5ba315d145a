#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class MprisService;
class PlaybackSession;
class ProgramStore;

// Shows the playback session to desktop media controls and media keys, and
// hands their requests to it. The program list is offered as playlists, one
// per program; Next, Previous and choosing a playlist play that program as
// choosing its row in the list window does. Raise and Quit are passed on to
// whoever holds the window.
class MprisBridge : public QObject {
    Q_OBJECT
public:
    MprisBridge(PlaybackSession *session, ProgramStore *store, MprisService *service,
                QObject *parent = nullptr);

    void play();
    void pause();
    void playPause();
    void stop();
    // Plays the program `step` rows after (before, when negative) the
    // current one, wrapping around.
    void step(int step);
    void playProgram(const QString &key);

Q_SIGNALS:
    void raiseRequested();
    void quitRequested();

private:
    void publishState();
    void publishMetadata();
    void publishPlaylists();

    PlaybackSession *m_session;
    ProgramStore *m_store;
    MprisService *m_service;
    bool m_playlistsDue = false; // the list changed: offered at the next turn of the loop
    QUrl m_artAsked;             // picture being written to a file for the metadata
};
