#pragma once

#include <QObject>

#include <memory>

class DesktopNotifier;
class FindLauncher;
class GstMediaPlayerFactory;
class HistoryRecorder;
class HistoryStore;
class HomeViewController;
class MprisBridge;
class MprisService;
class NowPlayingNotices;
class PlayOnLauncher;
class PlaybackSession;
class ProgramStore;
class Recorder;
class ScheduleLauncher;
class Alarm;
class Scheduler;
class SingleInstance;
class ScrobbleLauncher;
class SongHistoryLauncher;
class StartupOptions;
class ProgramSearch;
class RemoteCommands;
class WakeWatcher;

// Keeps the application alive while its window is closed and brings the
// window back when the user starts Orbitune again.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // Loads the main window and its controller.
    void loadMainInterface();
    // Started by the desktop (at login, or for its search): only the tray
    // icon shows, not the window.
    void setStartsHidden(bool hidden) { m_startsHidden = hidden; }
    HomeViewController *homeViewController() const { return m_home.get(); }
    PlaybackSession *session() const { return m_session.get(); }
    ProgramStore *store() const { return m_store; }
    // The song history's window and "Love" controls; null until the
    // history is open (after the first frame).
    SongHistoryLauncher *songHistory() const { return m_songHistory; }
    ScrobbleLauncher *scrobbling() const { return m_scrobbling; }
    Recorder *recorder() const { return m_recorder; }
    // The title notifications; null until the start-up is done.
    NowPlayingNotices *notices() const { return m_notices; }
    // The schedules and their window; null until the start-up is done.
    Scheduler *scheduler() const { return m_scheduler; }
    ScheduleLauncher *schedules() const { return m_schedules; }
    // "Play On" and the speakers found; null until the start-up is done.
    PlayOnLauncher *playOn() const { return m_playOn; }
    // Answers the command line's commands (`orbitune --status`) sent to this
    // instance.
    void answerCommands(SingleInstance *instance);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // No while a tray icon can bring the window back, or while sound plays
    // (the desktop's media controls show the player and can raise it);
    // with no tray and no sound, closing the window would strand an
    // invisible process, so then yes.
    bool applicationShouldTerminateAfterLastWindowClosed() const;
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // Orbitune was started again: the window comes back to the front.
    void reopenRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void tellHistoryReplaced(const QString &keptAs);
    // The tray menu's "Notifications", in its Listening section.
    void addNotificationsItem();
    // The scheduler, its window and what it tells.
    void startSchedules();
    void keepAwakeForSchedules();

    std::unique_ptr<GstMediaPlayerFactory> m_mediaFactory;
    ProgramStore *m_store = nullptr;
    std::unique_ptr<PlaybackSession> m_session;
    HistoryStore *m_history = nullptr;
    HistoryRecorder *m_historyRecorder = nullptr;
    SongHistoryLauncher *m_songHistory = nullptr;
    ScrobbleLauncher *m_scrobbling = nullptr;
    Recorder *m_recorder = nullptr;
    std::unique_ptr<HomeViewController> m_home;
    MprisService *m_mpris = nullptr;
    MprisBridge *m_mprisBridge = nullptr;
    DesktopNotifier *m_notifier = nullptr;
    NowPlayingNotices *m_notices = nullptr;
    Scheduler *m_scheduler = nullptr;
    Alarm *m_alarm = nullptr; // the scheduler's
    ScheduleLauncher *m_schedules = nullptr;
    FindLauncher *m_find = nullptr;
    PlayOnLauncher *m_playOn = nullptr;
    WakeWatcher *m_wake = nullptr;
    ProgramSearch *m_search = nullptr;
    StartupOptions *m_startup = nullptr;
    RemoteCommands *m_commands = nullptr;
    bool m_startsHidden = false;
};
