#pragma once

#include "platform/ui/ViewController.h"
#include "session/PlaybackSession.h"

#include <QPointF>

#include <chrono>
#include <memory>

class MovableWindow;
class PreviewPicture;
class PreviewView;
class QLabel;
class QMenu;
class QPushButton;
class StatusItem;
class TrayMenu;
class WindowHost;

namespace Ui {
class HomeView;
}

// The main window: shows the current program (round preview, name, now
// playing) and the playback session's state, hands play and pause to the
// session, and owns the tray icon, its menu and the host of the features in
// it.
class HomeViewController : public ViewController {
    Q_OBJECT
public:
    using PlaybackState = PlaybackSession::State;

    // Shows `session`, which outlives the controller; without one the
    // controller makes a session of its own.
    explicit HomeViewController(PlaybackSession *session, QObject *parent = nullptr);
    explicit HomeViewController(QObject *parent = nullptr);
    ~HomeViewController() override;

    PlaybackSession *session() const { return m_session; }

    // Outlets.
    PreviewView *previewImageView() const;
    QLabel *titleTextField() const;
    QLabel *nowPlayingLabel() const;
    QPushButton *playBtn() const;
    StatusItem *statusItem() const { return m_statusItem; }
    QMenu *statusMenu() const;
    // What the window offers the features that live in it (loads the view).
    WindowHost *host();

    // Home window.
    void loadDefaultData();
    void refeshLiveView();
    void statusItemClicked(QObject *sender = nullptr);
    void startAnimation();
    void stopAnimation();

    // Playback requests, handed to the session: play or pause, play the
    // current program afresh, the program chosen elsewhere could not be
    // played at all.
    void playClick(QObject *sender = nullptr);
    void notificationPlay();
    void notificationPlayFailed();

    // Whether the user wants sound: the stream is opening or playing.
    bool isPlaying() const { return m_session->isPlaying(); }
    PlaybackState playbackState() const { return m_session->state(); }
    QPointF previewImageViewPoint() const { return m_previewImageViewPoint; }
    // How long after a failed preview load the same URL is tried again.
    void setPreviewRetryInterval(std::chrono::milliseconds interval);

Q_SIGNALS:
    // The window shows a new playback state (the session's, forwarded).
    void playbackStateChanged(HomeViewController::PlaybackState state);
    // The list and add buttons: whoever assembles the app opens the program
    // list or the add form over the window.
    void listRequested();
    void addRequested();

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;

private:
    // What the window does at each step of the session:
    // a request shows its button and the program at once; opening a URL
    // shows "Loading..."; the session's state goes through
    // observeValueForKeyPath to play, pause or error.
    void observeSession();
    void showRequest(bool play);
    void readyToPlayUrl(const QString &urlString);
    void observeValueForKeyPath(const QString &keyPath, QObject *object, PlaybackState newValue);
    void play();
    void pause();
    void error();
    void setPlayImage(const char *name);
    void buildStatusMenu();

    std::unique_ptr<PlaybackSession> m_ownSession; // when none was given
    PlaybackSession *m_session;
    std::unique_ptr<Ui::HomeView> m_ui;
    MovableWindow *m_window = nullptr;
    StatusItem *m_statusItem = nullptr;
    TrayMenu *m_trayMenu = nullptr;
    WindowHost *m_host = nullptr;

    QPointF m_previewImageViewPoint;

    PreviewPicture *m_picture;
};
