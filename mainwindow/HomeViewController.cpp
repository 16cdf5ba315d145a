#include "mainwindow/HomeViewController.h"

#include "mainwindow/PreviewPicture.h"
#include "mainwindow/TimeShiftControls.h"
#include "mainwindow/TrayControls.h"
#include "platform/base/NotificationCenter.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Announce.h"
#include "platform/ui/FirstFrame.h"
#include "platform/ui/MovableWindow.h"
#include "platform/ui/PreviewView.h"
#include "platform/ui/StatusItem.h"
#include "platform/ui/TrayMenu.h"
#include "platform/ui/WindowFront.h"
#include "platform/ui/WindowHost.h"
#include "store/CacheManager.h"
#include "store/Notifications.h"
#include "store/ProgramEntry.h"

#include "ui_HomeView.h"

#include <QAction>
#include <QIcon>
#include <QLayout>
#include <QPushButton>
#include <QTimer>

namespace {
const QString kWindowTitle = QStringLiteral("Orbitune");
// How long after losing the focus to a panel click the window still counts
// as the one in front.
constexpr int kTrayClickGraceMs = 1000;
constexpr double kPreviewRadius = 65;
constexpr double kQuarterTurn = 1.5707963267948966;
constexpr int kQuarterTurnMs = 10000;
const QString kStateKeyPath = QStringLiteral("state");
const QString kLoading = QStringLiteral("Loading...");
const QString kFailed = QStringLiteral("Error, switch next one.");
} // namespace

HomeViewController::HomeViewController(PlaybackSession *session, QObject *parent)
    : ViewController(parent), m_session(session), m_ui(std::make_unique<Ui::HomeView>()),
      m_picture(new PreviewPicture(
          [this](const QImage &image) { m_ui->previewImageView->setImage(image); }, this))
{
}

HomeViewController::HomeViewController(QObject *parent) : HomeViewController(nullptr, parent)
{
    m_ownSession = std::make_unique<PlaybackSession>();
    m_session = m_ownSession.get();
}

void HomeViewController::setPreviewRetryInterval(std::chrono::milliseconds interval)
{
    m_picture->setRetryInterval(interval);
}

QMenu *HomeViewController::statusMenu() const
{
    return m_trayMenu ? m_trayMenu->menu() : nullptr;
}

PreviewView *HomeViewController::previewImageView() const
{
    return m_ui->previewImageView;
}
QLabel *HomeViewController::titleTextField() const
{
    return m_ui->titleTextField;
}
QLabel *HomeViewController::nowPlayingLabel() const
{
    return m_ui->nowPlayingLabel;
}
QPushButton *HomeViewController::playBtn() const
{
    return m_ui->playBtn;
}

WindowHost *HomeViewController::host()
{
    view();
    return m_host;
}

QWidget *HomeViewController::loadView()
{
    m_window = new MovableWindow;
    m_window->setObjectName(QStringLiteral("homeWindow"));
    m_ui->setupUi(m_window);
    m_ui->nowPlayingLabel->hide();
    setPlayImage("play");
    connect(m_ui->playBtn, &QPushButton::clicked, this, [this] { playClick(m_ui->playBtn); });
    connect(m_ui->listBtn, &QToolButton::clicked, this, &HomeViewController::listRequested);
    connect(m_ui->addBtn, &QToolButton::clicked, this, &HomeViewController::addRequested);
    return m_window;
}

void HomeViewController::viewDidLoad()
{
    ViewController::viewDidLoad();

    observeSession();
    NotificationCenter::defaultCenter()->addObserver(this, kLivePlayNotification,
                                                     [this] { notificationPlay(); });
    NotificationCenter::defaultCenter()->addObserver(this, kLivePlayFailedNotification,
                                                     [this] { notificationPlayFailed(); });

    setBackgroundColor(m_window, Qt::white);

    m_window->setWindowTitle(kWindowTitle);
    m_window->hideZoomButton();
    m_window->setMovableByWindowBackground(true);

    m_statusItem = new StatusItem(this);
    m_statusItem->setImage(QIcon(QStringLiteral(":/images/statusIcon.svg")));
    m_statusItem->setAction([this] { statusItemClicked(m_statusItem); });
    m_statusItem->setToolTip(m_window->windowTitle());
    buildStatusMenu();

    setBackgroundColor(m_ui->bottomView, QColor(0x80, 0x80, 0x80));

    PreviewView *preview = m_ui->previewImageView;
    preview->setCornerRadius(kPreviewRadius);
    preview->setMasksToBounds(true);
    preview->setBorderWidth(2);
    preview->setBorderColor(QColor::fromRgbF(1.0f, 0.5f, 0.0f));

    // Lay the window out now so the captured position is the real one.
    if (m_window->layout())
        m_window->layout()->activate();
    m_previewImageViewPoint = preview->pos();

    m_picture->setHeld(true);
    runAfterFirstFrame(m_window, this, [this] { m_picture->setHeld(false); });
    loadDefaultData();
    // After the first refresh: the program's name is the tooltip's first line.
    new TrayControls(m_session, m_host, this);
    new TimeShiftControls(m_session, m_host, this);
}

void HomeViewController::loadDefaultData()
{
    if (!CacheManager::shareIntance()->seedDefaultDataIfEmpty()) {
        // Said once the window is up; the list stays empty and is seeded at
        // the next start.
        QTimer::singleShot(0, this, [this] {
            Alert alert;
            alert.setMessageText(QStringLiteral("Tip："));
            alert.setInformativeText(QStringLiteral("The default programs could not be saved. "
                                                    "They will be added at the next start."));
            alert.setAlertStyle(Alert::CriticalStyle);
            alert.addButtonWithTitle(QStringLiteral("OK"));
            alert.beginSheetModalForWindow(m_window);
        });
    }
    refeshLiveView();
}

void HomeViewController::refeshLiveView()
{
    m_session->refreshProgram();
    const QVariantMap live = m_session->currentProgram();

    m_picture->refresh(program::image(live));

    m_ui->titleTextField->setText(program::name(live));
    announce::setName(
        m_ui->previewImageView,
        announce::pictureName(program::name(live), QStringLiteral("Program picture")));
    m_host->setToolTipLine(QStringLiteral("program"), program::name(live));
}

void HomeViewController::statusItemClicked(QObject *)
{
    // Hide only what the user sees in front of them; a minimised window or
    // one behind others comes to the front instead.
    QWidget *window = view()->window();
    if (isShownToUser(window) && m_window->wasActiveJustNow(kTrayClickGraceMs)) {
        window->close();
        return;
    }
    bringToFront(window);
}

void HomeViewController::startAnimation()
{
    PreviewView *preview = m_ui->previewImageView;
    // The view turns about its own centre, so putting it back where it was
    // at load is all the placing it needs; doing so again changes nothing.
    if (preview->pos() != m_previewImageViewPoint.toPoint() && !preview->parentWidget()->layout())
        preview->move(m_previewImageViewPoint.toPoint());
    PreviewView::RotationAnimation turn;
    turn.byRadians = kQuarterTurn;
    turn.durationMs = kQuarterTurnMs;
    turn.cumulative = true;
    turn.repeatCount = quint64(1) << 31;
    preview->addAnimation(turn, QStringLiteral("animation"));
}

void HomeViewController::stopAnimation()
{
    m_ui->previewImageView->removeAllAnimations();
}

void HomeViewController::buildStatusMenu()
{
    m_trayMenu = new TrayMenu(m_window);
    m_statusItem->setMenu(m_trayMenu->menu());
    m_host = new WindowHost({m_window, m_statusItem, m_trayMenu, m_ui->recordingLabel,
                             m_ui->loveBtn, m_ui->playOnBtn, m_ui->timeShiftBar},
                            this);
    connect(m_host, &WindowHost::raiseRequested, this, [this] { bringToFront(m_window); });
    // The window's own item; the tray's others are TrayControls'.
    QAction *show =
        m_host->addTrayAction(TrayMenu::Section::Window, QStringLiteral("Show"), "showAction");
    connect(show, &QAction::triggered, this, [this, show] { statusItemClicked(show); });
    connect(m_host, &WindowHost::trayMenuAboutToShow, this, [this, show] {
        const bool inFront =
            isShownToUser(m_window) && m_window->wasActiveJustNow(kTrayClickGraceMs);
        show->setText(inFront ? QStringLiteral("Hide") : QStringLiteral("Show"));
    });
}

HomeViewController::~HomeViewController()
{
    NotificationCenter::defaultCenter()->removeObserver(this);
    // A session of our own stops with the window.
    m_ownSession.reset();
}

void HomeViewController::observeSession()
{
    connect(m_session, &PlaybackSession::requested, this, &HomeViewController::showRequest);
    connect(m_session, &PlaybackSession::opening, this, &HomeViewController::readyToPlayUrl);
    connect(m_session, &PlaybackSession::stateChanged, this, [this](PlaybackState state) {
        observeValueForKeyPath(kStateKeyPath, m_session, state);
    });
    connect(m_session, &PlaybackSession::nowPlayingChanged, this, [this](const QString &title) {
        m_ui->nowPlayingLabel->setText(title);
        m_ui->nowPlayingLabel->setVisible(!title.isEmpty());
    });
    // What plays, technically: on hovering the window and for screen readers.
    connect(m_session, &PlaybackSession::streamInfoChanged, this, [this](const QString &info) {
        m_window->setToolTip(info);
        m_window->setAccessibleDescription(info);
    });
}

void HomeViewController::setPlayImage(const char *name)
{
    const QString n = QString::fromLatin1(name);
    m_ui->playBtn->setIcon(QIcon(QStringLiteral(":/images/%1.svg").arg(n)));
    m_ui->playBtn->setProperty("imageName", n);
    const bool pauseImage = n == QLatin1String("pause");
    m_ui->playBtn->setToolTip(pauseImage ? QStringLiteral("Pause (Space)")
                                         : QStringLiteral("Play (Space)"));
    m_ui->playBtn->setAccessibleName(pauseImage ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void HomeViewController::playClick(QObject *)
{
    m_session->toggle();
}

void HomeViewController::notificationPlay()
{
    m_session->playCurrent();
}

void HomeViewController::notificationPlayFailed()
{
    m_session->currentProgramFailed();
}

void HomeViewController::showRequest(bool play)
{
    // Play or pause was asked for: the button shows what comes, the preview
    // stops and the window shows the current program until the stream says
    // more.
    setPlayImage(play ? "pause" : "play");
    stopAnimation();
    refeshLiveView();
}

void HomeViewController::readyToPlayUrl(const QString &)
{
    // The session has made a new item and player for the URL; nothing is
    // heard until the item is ready.
    m_ui->titleTextField->setText(kLoading);
}

void HomeViewController::observeValueForKeyPath(const QString &keyPath, QObject *object,
                                                PlaybackState newValue)
{
    if (keyPath != kStateKeyPath || object != m_session)
        return;
    switch (newValue) {
    case PlaybackState::Idle: break;
    case PlaybackState::Loading:
        // Opening, or reopening a dropped stream.
        m_ui->titleTextField->setText(kLoading);
        stopAnimation();
        break;
    case PlaybackState::Playing: play(); break;
    case PlaybackState::Paused: pause(); break;
    case PlaybackState::Failed: error(); break;
    }
    Q_EMIT playbackStateChanged(newValue);
}

void HomeViewController::play()
{
    // The sound has started: the program's name replaces "Loading..." and
    // the preview turns.
    setPlayImage("pause");
    refeshLiveView();
    startAnimation();
}

void HomeViewController::pause()
{
    // Asked for, or a file that played to its end.
    setPlayImage("play");
    stopAnimation();
    refeshLiveView();
}

void HomeViewController::error()
{
    setPlayImage("play");
    m_ui->titleTextField->setText(kFailed);
    stopAnimation();
}

#include "moc_HomeViewController.cpp"
