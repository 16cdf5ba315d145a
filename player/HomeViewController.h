#pragma once

#include "platform/media/MediaItem.h"
#include "platform/media/MediaPlayer.h"
#include "platform/ui/ViewController.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QPointF>
#include <QPointer>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>

class MovableWindow;
class PreviewView;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class StatusItem;
class QTimer;
class SleepTimer;
class Volume;

namespace Ui {
class HomeView;
}

// The main window: shows the current program (round preview, name, now
// playing), plays and pauses it, and owns the tray icon.
//
// The home half (set-up, tray, preview, refresh) is in HomeViewController.cpp,
// the playback half (play/pause state machine) in HomePlayback.cpp.
class HomeViewController : public ViewController {
    Q_OBJECT
public:
    // What the user sees of playback; drives the tray menu and MPRIS.
    enum class PlaybackState { Idle, Loading, Playing, Paused, Failed };
    Q_ENUM(PlaybackState)

    explicit HomeViewController(QObject *parent = nullptr);
    ~HomeViewController() override;

    // Outlets.
    PreviewView *previewImageView() const;
    QLabel *titleTextField() const;
    QLabel *nowPlayingLabel() const;
    QWidget *bottomView() const;
    QPushButton *playBtn() const;
    QToolButton *listBtn() const;
    QToolButton *addBtn() const;
    StatusItem *statusItem() const { return m_statusItem; }
    QMenu *statusMenu() const { return m_statusMenu; }
    // The listener's volume and mute, applied to every player.
    Volume *volume() const { return m_volume; }
    // The tray menu's "Sleep Timer".
    SleepTimer *sleepTimer() const { return m_sleep; }

    // Home window.
    void loadDefaultData();
    void refeshLiveView();
    void statusItemClicked(QObject *sender = nullptr);
    void startAnimation();
    void stopAnimation();

    // Playback.
    void playClick(QObject *sender = nullptr);
    void notificationPlay();
    // The program chosen elsewhere could not be played at all.
    void notificationPlayFailed();
    bool readyToPlayUrl(const QString &urlString);
    void play();
    void pause();
    void error();
    void observeValueForKeyPath(const QString &keyPath, QObject *object, int newValue);
    // The network came back or the machine woke up.
    void reconnectNow(MediaPlayer::ReconnectReason reason);

    // Whether the user wants sound: the stream is opening or playing.
    bool isPlaying() const
    {
        return m_state == PlaybackState::Loading || m_state == PlaybackState::Playing;
    }
    PlaybackState playbackState() const { return m_state; }
    MediaPlayer *player() const { return m_player.get(); }
    std::shared_ptr<MediaItem> playerItem() const { return m_playerItem; }
    QPointF previewImageViewPoint() const { return m_previewImageViewPoint; }
    // How long after a failed preview load the same URL is tried again.
    void setPreviewRetryInterval(std::chrono::milliseconds interval)
    {
        m_previewRetryInterval = interval;
    }
    // The current program as the last refresh showed it.
    QVariantMap shownProgram() const { return m_shownProgram; }

    // The program list and the add form, made by whoever assembles the app.
    void setListControllerFactory(std::function<ViewController *()> make);
    void setAddControllerFactory(std::function<ViewController *()> make);
    void listClick(QObject *sender = nullptr);
    void addClick(QObject *sender = nullptr);

    static constexpr double kPreviewRadius = 65;
    static constexpr double kQuarterTurn = 1.5707963267948966;
    static constexpr int kQuarterTurnMs = 10000;

Q_SIGNALS:
    void playbackStateChanged(HomeViewController::PlaybackState state);
    // Now-playing title or program name changed (for MPRIS metadata).
    void nowPlayingChanged();
    void quitRequested();

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;

private:
    void setPlaybackState(PlaybackState state);
    void setNowPlaying(const QString &title);
    void setPlayImage(const char *name);
    void togglePlayback(bool start);
    void releasePlayer();
    void itemReconnectingChanged(bool reconnecting);
    void itemEnded();
    void buildStatusMenu();
    void refreshPreview(const QString &imageString);
    void loadPreview(const QUrl &url);
    void installShortcuts();
    // A window-wide key with an object name tests can find it by.
    void addShortcut(const QKeySequence &keys, const char *name, std::function<void()> action);

    // Volume keys, tray scrolling, the sleep timer and the tray tooltip
    // (HomeEveryday.cpp).
    void installEverydayControls();
    void buildSleepMenu();
    void sleepTimerFinished();
    void applyVolume();
    void updateToolTip();

    std::unique_ptr<Ui::HomeView> m_ui;
    MovableWindow *m_window = nullptr;
    StatusItem *m_statusItem = nullptr;
    QMenu *m_statusMenu = nullptr;
    QAction *m_showAction = nullptr;
    QAction *m_playAction = nullptr;
    Volume *m_volume = nullptr;
    QTimer *m_volumeTip = nullptr; // runs while the tooltip shows the volume
    SleepTimer *m_sleep = nullptr;

    QPointF m_previewImageViewPoint;
    PlaybackState m_state = PlaybackState::Idle;
    std::unique_ptr<MediaPlayer> m_player;
    std::shared_ptr<MediaItem> m_playerItem;
    // Receiver of the current item's reports: replacing it drops them all.
    std::unique_ptr<QObject> m_itemObservations;

    QVariantMap m_shownProgram;
    QUrl m_previewUrl;
    quint64 m_previewGeneration = 0;
    bool m_previewFailed = false;                 // the shown URL's last load gave no picture
    bool m_previewHeld = false;                   // start-up: asked for after the first frame
    QHash<QUrl, QDeadlineTimer> m_previewRetryAt; // failed URL -> when to try again
    std::chrono::milliseconds m_previewRetryInterval{60'000};

    std::function<ViewController *()> m_makeList;
    std::function<ViewController *()> m_makeAdd;
};
