#include "app/AppDelegate.h"

#include "alarm/Alarm.h"
#include "app/AlarmControls.h"
#include "app/FindLauncher.h"
#include "app/ManageLauncher.h"
#include "app/PlayOnLauncher.h"
#include "app/RemoteCommands.h"
#include "app/ScheduleLauncher.h"
#include "app/ScheduledRuns.h"
#include "app/ScrobbleLauncher.h"
#include "app/SongHistoryLauncher.h"
#include "app/StartupOptions.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "integrations/ListeningInhibitor.h"
#include "integrations/MprisBridge.h"
#include "integrations/NowPlayingNotices.h"
#include "integrations/PlayOn.h"
#include "integrations/ProgramSearch.h"
#include "mainwindow/HomeViewController.h"
#include "mainwindow/RecordingControls.h"
#include "mainwindow/TrayPrograms.h"
#include "manage/AddViewController.h"
#include "manage/ListViewController.h"
#include "platform/base/Settings.h"
#include "platform/desktop/BackgroundPortal.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/desktop/MprisService.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/desktop/SleepInhibitor.h"
#include "platform/desktop/WakeWatcher.h"
#include "platform/media/GstMediaPlayer.h"
#include "platform/ui/Alert.h"
#include "platform/ui/AppIcon.h"
#include "platform/ui/FirstFrame.h"
#include "platform/ui/StatusItem.h"
#include "platform/ui/WindowFront.h"
#include "platform/ui/WindowHost.h"
#include "record/Recorder.h"
#include "schedule/Scheduler.h"
#include "scrobble/Scrobbler.h"
#include "session/PlayProgram.h"
#include "session/PlaybackSession.h"
#include "store/ProgramStore.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent) {}

AppDelegate::~AppDelegate()
{
    // The sound comes back from the speaker while the session is here.
    delete m_playOn;
    delete m_schedules;
    delete m_scheduler;
    delete m_find;
    delete m_mprisBridge;
    delete m_mpris;
    // The file being recorded is closed and written out.
    delete m_recorder;
    delete m_songHistory;
    // The song playing at quit ends now, while its history is still open.
    delete m_historyRecorder;
    // After the recorder: the song it ended is queued while the file is open.
    delete m_scrobbling;
    delete m_history;
    m_home.reset();
    m_session.reset();
    if (MediaPlayerFactory::shared() == m_mediaFactory.get())
        MediaPlayerFactory::setShared(nullptr);
}

void AppDelegate::answerCommands(SingleInstance *instance)
{
    instance->setCommandHandler([this](const QStringList &args,
                                       const SingleInstance::Reply &reply) {
        reply(m_commands ? m_commands->run(args)
                         : SingleInstance::Answer{1, QByteArrayLiteral("Orbitune is starting.\n")});
    });
}

void AppDelegate::loadMainInterface()
{
    QApplication::setQuitOnLastWindowClosed(false);
    // GStreamer itself loads once the window is up (see below).
    // Time-shift keeps as much of the station as "Save Last Song" does
    // (the setting bufferMB).
    GstMediaPlayer::Options media;
    media.timelineBytes = Recorder::savedOptions().bufferBytes;
    m_mediaFactory = std::make_unique<GstMediaPlayerFactory>(media);
    MediaPlayerFactory::setShared(m_mediaFactory.get());

    m_store = new ProgramStore(this);
    m_session = std::make_unique<PlaybackSession>();
    session::followStore(m_session.get(), m_store);
    m_home = std::make_unique<HomeViewController>(m_session.get());
    // Recording and "save last song" tap every stream the session opens.
    m_recorder = new Recorder(m_session.get(), Recorder::savedOptions(), this);
    m_commands = new RemoteCommands(
        m_session.get(), m_store, [this] { return m_recorder; }, this);
    m_find = new FindLauncher(this);
    auto *sheets = new ManageLauncher(m_home.get(), this);
    sheets->setListControllerFactory([this] {
        auto *list = new ListViewController;
        m_find->attachList(list);
        list->followStore(m_store);
        return list;
    });
    sheets->setAddControllerFactory([] { return new AddViewController; });
    WindowHost *host = m_home->host();
    m_find->attachHome(host);
    m_startup = new StartupOptions(this);
    m_startup->attachHome(host);
    // On the window and its tray.
    new RecordingControls(m_session.get(), m_recorder, host, m_recorder);
    auto *trayPrograms = new TrayPrograms(m_store, host, this);
    // The list window is a sheet of the main window: shown first.
    connect(trayPrograms, &TrayPrograms::allProgramsRequested, this, [host, sheets] {
        Q_EMIT host->raiseRequested();
        sheets->listClick();
    });
    QWidget *window = m_home->view();
    window->installEventFilter(this);
    connect(host, &WindowHost::quitRequested, qApp, &QApplication::quit, Qt::QueuedConnection);
    connect(qApp, &QApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    if (!m_startsHidden)
        window->show();
    applicationDidFinishLaunching();
}

void AppDelegate::applicationDidFinishLaunching()
{
    // What the first frame does not need comes after it: the window icon
    // (a theme lookup and eight pictures), the media framework, media keys
    // and desktop controls. Without a session bus the app simply runs on.
    const auto afterFirstFrame = [this] {
        if (!m_home || m_mpris)
            return;
        // First, so a desktop that started us for its search is answered soon.
        m_search = new ProgramSearch(m_store, this);
        connect(m_search, &ProgramSearch::raiseRequested, m_home->host(),
                &WindowHost::raiseRequested);
        m_search->start();
        QApplication::setWindowIcon(AppIcon::application());
        // The first play should not wait for the media framework to load.
        GstMediaPlayer::warmUpInBackground();
        m_mpris = new MprisService(this);
        if (m_mpris->start()) {
            m_mprisBridge = new MprisBridge(m_session.get(), m_store, m_mpris, this);
            connect(m_mprisBridge, &MprisBridge::raiseRequested, m_home->host(),
                    &WindowHost::raiseRequested);
            connect(m_mprisBridge, &MprisBridge::quitRequested, m_home->host(),
                    &WindowHost::quitRequested);
        }
        // Back on air at once when the network returns or the machine wakes.
        m_wake = new WakeWatcher(this);
        PlaybackSession *session = m_session.get();
        connect(m_wake, &WakeWatcher::networkBack, session,
                [session] { session->reconnectNow(PlaybackSession::Reconnect::NetworkBack); });
        connect(m_wake, &WakeWatcher::wokeUp, session,
                [session] { session->reconnectNow(PlaybackSession::Reconnect::Resumed); });
        m_wake->start();
        // Title notifications and the suspend inhibitor; both tolerate a
        // desktop without the services.
        m_notifier = new DesktopNotifier(this);
        m_notices = new NowPlayingNotices(m_session.get(), m_notifier, this);
        m_notices->setWindowHidden(!m_home->view()->window()->isVisible());
        addNotificationsItem();
        new ListeningInhibitor(m_session.get(), new SleepInhibitor(this), this);
        // Every song heard is kept (the file opens after the first frame).
        m_history = new HistoryStore(HistoryStore::defaultPath(), this);
        connect(m_history, &HistoryStore::keptAside, this, &AppDelegate::tellHistoryReplaced);
        m_historyRecorder = new HistoryRecorder(m_session.get(), m_history, this);
        m_songHistory = new SongHistoryLauncher(m_history, m_historyRecorder, this);
        m_songHistory->attachHome(m_home->host());
        m_songHistory->attachNotices(m_notices);
        m_recorder->setHistory(m_history);
        // A row of the history whose song is still in the recorder's buffer
        // can be saved from the window.
        Recorder *recorder = m_recorder;
        m_songHistory->setSaveSongHandler(
            [recorder](const HistoryStore::Song &song) { return recorder->canSave(song); },
            [recorder](const HistoryStore::Song &song) { recorder->save(song); });
        // What was heard, sent to the listener's scrobbling services.
        m_scrobbling = new ScrobbleLauncher(m_session.get(), m_historyRecorder, m_history, this);
        m_scrobbling->attachHome(m_home->host());
        connect(m_wake, &WakeWatcher::networkBack, m_scrobbling->scrobbler(), &Scrobbler::retryNow);
        connect(m_wake, &WakeWatcher::wokeUp, m_scrobbling->scrobbler(), &Scrobbler::retryNow);
        connect(m_scrobbling, &ScrobbleLauncher::notice, m_notifier,
                [notifier = m_notifier](const QString &text) {
                    notifier->show(QStringLiteral("Scrobbling"), text);
                });
        startSchedules();
        // Speakers on the network: looked for once the window is up.
        m_playOn = new PlayOnLauncher(m_session.get(), this);
        m_playOn->attachHome(m_home->host());
        connect(m_playOn->playOn(), &PlayOn::notice, m_notifier,
                [notifier = m_notifier](const QString &text) {
                    notifier->show(QStringLiteral("Play On"), text);
                });
        // An alarm played on a renderer counts as heard once it plays there.
        connect(m_playOn->playOn(), &PlayOn::soundingThereChanged, m_alarm,
                &Alarm::setSoundElsewhere);
        if (StartupOptions::resumesPlaying() && !m_store->currentProgram().isEmpty())
            session::playCurrentProgram();
    };
    // A hidden window paints no first frame.
    if (m_startsHidden)
        QTimer::singleShot(0, this, afterFirstFrame);
    else
        runAfterFirstFrame(m_home->view(), this, afterFirstFrame);
}

void AppDelegate::tellHistoryReplaced(const QString &keptAs)
{
    Alert alert;
    alert.setMessageText(QStringLiteral("Tip："));
    alert.setInformativeText(
        QStringLiteral("The song history could not be read. It was kept as %1 and a new one "
                       "was started.")
            .arg(keptAs));
    alert.setAlertStyle(Alert::WarningStyle);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.beginSheetModalForWindow(m_home->view()->window());
}

void AppDelegate::startSchedules()
{
    ProgramStore *store = m_store;
    m_scheduler = new Scheduler(
        Scheduler::defaultPath(), [store] { return store->programs(); }, this);
    connect(m_store, &ProgramStore::listChanged, m_scheduler, &Scheduler::programListChanged);
    connect(m_wake, &WakeWatcher::wokeUp, m_scheduler, &Scheduler::recheck);
    DesktopNotifier *notifier = m_notifier;
    auto *alarm = new Alarm(m_session.get(), session::playProgram, m_scheduler);
    m_alarm = alarm;
    new AlarmControls(alarm, m_home->host(), notifier, alarm);
    auto *runs = new ScheduledRuns(m_scheduler, m_session.get(), m_recorder, alarm, m_scheduler);
    connect(runs, &ScheduledRuns::notice, notifier,
            [notifier](const QString &title, const QString &body) { notifier->show(title, body); });
    m_schedules = new ScheduleLauncher(m_scheduler, m_store, this);
    m_schedules->attachHome(m_home->host());
    keepAwakeForSchedules();
    m_scheduler->start();
}

void AppDelegate::keepAwakeForSchedules()
{
    // Runs under way always; runs due within the settings file's minutes too.
    const int minutes =
        qBound(0, settings::open()->value(QStringLiteral("schedules/keepAwakeMinutes"), 0).toInt(),
               24 * 60);
    m_scheduler->setAwakeWindow(qint64(minutes) * 60 * 1000);
    auto *inhibitor = new SleepInhibitor(m_scheduler);
    inhibitor->setReason(QStringLiteral("A scheduled recording or alarm is due"));
    connect(m_scheduler, &Scheduler::dueSoonChanged, inhibitor, &SleepInhibitor::setInhibited);
    inhibitor->setInhibited(m_scheduler->dueSoon());
}

void AppDelegate::addNotificationsItem()
{
    QAction *toggle = m_home->host()->addTrayAction(
        TrayMenu::Section::Listening, QStringLiteral("Notifications"), "notificationsAction");
    toggle->setCheckable(true);
    toggle->setChecked(m_notices->isEnabled());
    connect(toggle, &QAction::toggled, m_notices, &NowPlayingNotices::setEnabled);
    connect(m_notices, &NowPlayingNotices::enabledChanged, toggle, &QAction::setChecked);
}

void AppDelegate::applicationWillTerminate() {}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() const
{
    // The tray brings the window back; without one, sound that plays on is
    // still in the desktop's media controls (MPRIS), which can raise it.
    if (StatusItem::isTrayAvailable())
        return false;
    return !(m_session && m_session->isPlaying());
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    // Shown or not, the window ends up restored, raised and active: one that
    // is shown may still be behind other windows.
    Q_UNUSED(hasVisibleWindows);
    if (m_home)
        bringToFront(m_home->view()->window());
    return true;
}

void AppDelegate::reopenRequested()
{
    if (m_home)
        applicationShouldHandleReopen(isShownToUser(m_home->view()->window()));
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // Notices are shown only while the window is hidden. A window the
    // window system hides for its own reasons (minimised) counts as shown.
    if (m_notices && m_home && watched == m_home->view()) {
        if (event->type() == QEvent::Show)
            m_notices->setWindowHidden(false);
        else if (event->type() == QEvent::Hide && !event->spontaneous())
            m_notices->setWindowHidden(true);
    }
    if (m_home && watched == m_home->view() && event->type() == QEvent::Close) {
        if (applicationShouldTerminateAfterLastWindowClosed())
            QTimer::singleShot(0, qApp, &QApplication::quit);
        else if (!StatusItem::isTrayAvailable())
            backgroundportal::request(QStringLiteral("Playing radio"));
    }
    return QObject::eventFilter(watched, event);
}

#include "moc_AppDelegate.cpp"
