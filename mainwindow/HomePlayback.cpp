// The playback half of HomeViewController: the listener's requests go to the
// session, and each step of the session comes back to the operation that
// shows it.
#include "mainwindow/HomeViewController.h"

#include "platform/base/NotificationCenter.h"
#include "platform/ui/MovableWindow.h"

#include "ui_HomeView.h"

#include <QIcon>
#include <QPushButton>

namespace {
const QString kStateKeyPath = QStringLiteral("state");
const QString kLoading = QStringLiteral("Loading...");
const QString kFailed = QStringLiteral("Error, switch next one.");
} // namespace

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
