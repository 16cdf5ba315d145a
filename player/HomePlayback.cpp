// The playback half of HomeViewController: how the session's state and the
// stream's title are shown, and the playback operations, which forward to
// the session.
#include "player/HomeViewController.h"

#include "platform/base/NotificationCenter.h"
#include "platform/ui/MovableWindow.h"

#include "ui_HomeView.h"

#include <QIcon>
#include <QPushButton>

namespace {
const QString kStatusKeyPath = QStringLiteral("status");
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
    connect(m_session, &PlaybackSession::opening, this,
            [this] { m_ui->titleTextField->setText(kLoading); });
    connect(m_session, &PlaybackSession::stateChanged, this, &HomeViewController::showState);
    connect(m_session, &PlaybackSession::nowPlayingChanged, this,
            &HomeViewController::showNowPlaying);
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

void HomeViewController::showRequest(bool play)
{
    // Play or pause was asked for: the button shows what comes, the preview
    // stops and the window shows the current program until the stream says
    // more.
    setPlayImage(play ? "pause" : "play");
    stopAnimation();
    refeshLiveView();
}

void HomeViewController::showState(PlaybackState state)
{
    switch (state) {
    case PlaybackState::Idle: break;
    case PlaybackState::Loading:
        // Opening, or reopening a dropped stream.
        m_ui->titleTextField->setText(kLoading);
        stopAnimation();
        break;
    case PlaybackState::Playing:
        setPlayImage("pause");
        refeshLiveView();
        startAnimation();
        break;
    case PlaybackState::Paused:
        // Asked for, or a file that played to its end.
        setPlayImage("play");
        stopAnimation();
        refeshLiveView();
        break;
    case PlaybackState::Failed:
        setPlayImage("play");
        m_ui->titleTextField->setText(kFailed);
        stopAnimation();
        break;
    }
    Q_EMIT playbackStateChanged(state);
}

void HomeViewController::showNowPlaying(const QString &title)
{
    QLabel *label = m_ui->nowPlayingLabel;
    label->setText(title);
    label->setVisible(!title.isEmpty());
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

bool HomeViewController::readyToPlayUrl(const QString &urlString)
{
    return m_session->openUrl(urlString);
}

void HomeViewController::observeValueForKeyPath(const QString &keyPath, QObject *object,
                                                int newValue)
{
    // The session observes its item itself; this dispatches a report given
    // by hand the same way.
    if (keyPath != kStatusKeyPath || !qobject_cast<MediaItem *>(object))
        return;
    m_session->itemStatusChanged(newValue);
}

void HomeViewController::play()
{
    m_session->startSound();
}

void HomeViewController::pause()
{
    m_session->pauseSound();
    stopAnimation();
}

void HomeViewController::error()
{
    m_session->fail();
}
