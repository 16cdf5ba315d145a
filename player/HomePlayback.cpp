// The playback half of HomeViewController: the play/pause toggle, the
// reaction to a program chosen in the list, and the stream's readiness.
#include "player/HomeViewController.h"

#include "platform/base/Log.h"
#include "platform/base/NotificationCenter.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include "ui_HomeView.h"

#include <QAction>
#include <QIcon>
#include <QPushButton>

namespace {
const QString kStatusKeyPath = QStringLiteral("status");
const QString kLoading = QStringLiteral("Loading...");
const QString kFailed = QStringLiteral("Error, switch next one.");

// A string that names a stream we could open: absolute, with a scheme.
QUrl streamUrl(const QString &s)
{
    const QUrl url(s.trimmed(), QUrl::StrictMode);
    if (s.trimmed().isEmpty() || !url.isValid() || url.isRelative())
        return {};
    if (url.host().isEmpty() && url.path().isEmpty())
        return {};
    return url;
}
} // namespace

HomeViewController::~HomeViewController()
{
    if (m_player)
        m_player->pause();
    NotificationCenter::defaultCenter()->removeObserver(this);
    releasePlayer();
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

void HomeViewController::setPlaybackState(PlaybackState state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (state != PlaybackState::Playing)
        setNowPlaying(QString());
    Q_EMIT playbackStateChanged(state);
}

void HomeViewController::setNowPlaying(const QString &title)
{
    QLabel *label = m_ui->nowPlayingLabel;
    if (label->text() == title && label->isVisible() == !title.isEmpty())
        return;
    label->setText(title);
    label->setVisible(!title.isEmpty());
    Q_EMIT nowPlayingChanged();
}

void HomeViewController::playClick(QObject *)
{
    togglePlayback(!isPlaying());
}

void HomeViewController::notificationPlay()
{
    togglePlayback(true);
}

void HomeViewController::togglePlayback(bool start)
{
    setPlayImage(start ? "pause" : "play");
    stopAnimation();
    refeshLiveView();
    if (!start) {
        // Paused before the player hears of it, so that whatever it reports
        // while stopping (the end of a reconnect) finds playback stopped.
        setPlaybackState(PlaybackState::Paused);
        pause();
        return;
    }
    const QVariantMap live = CacheManager::shareIntance()->getLiveData();
    if (!readyToPlayUrl(program::url(live))) {
        // No program, or its address is not a URL: nothing could be opened.
        error();
        return;
    }
    setPlaybackState(PlaybackState::Loading);
}

void HomeViewController::notificationPlayFailed()
{
    // The user asked for another program: the old stream ends all the same.
    stopAnimation();
    releasePlayer();
    error();
}

bool HomeViewController::readyToPlayUrl(const QString &urlString)
{
    const QUrl url = streamUrl(urlString);
    if (url.isEmpty()) {
        // The previous stream ends all the same: the user asked for another.
        releasePlayer();
        NSLog("cannot play %@: not a URL", urlString);
        return false;
    }
    auto item = std::make_shared<MediaItem>(url);
    // Drop the old item's reports before it is released with its player.
    m_itemObservations = std::make_unique<QObject>();
    m_playerItem = item;
    MediaItem *raw = item.get();
    QObject *context = m_itemObservations.get();
    connect(raw, &MediaItem::statusChanged, context,
            [this, raw](int status) { observeValueForKeyPath(kStatusKeyPath, raw, status); });
    connect(raw, &MediaItem::nowPlayingChanged, context, [this](const QString &title) {
        if (m_state == PlaybackState::Playing)
            setNowPlaying(title);
    });
    connect(raw, &MediaItem::reconnectingChanged, context,
            [this](bool on) { itemReconnectingChanged(on); });
    connect(raw, &MediaItem::ended, context, [this] { itemEnded(); });
    MediaPlayerFactory *factory = MediaPlayerFactory::shared();
    m_player = factory ? factory->playerWithItem(item) : nullptr;
    applyVolume();
    m_ui->titleTextField->setText(kLoading);
    if (!m_player) {
        NSLog("no media player available");
        return false;
    }
    return true;
}

void HomeViewController::releasePlayer()
{
    m_itemObservations.reset();
    m_player.reset();
    m_playerItem.reset();
}

void HomeViewController::observeValueForKeyPath(const QString &keyPath, QObject *object,
                                                int newValue)
{
    if (keyPath != kStatusKeyPath || !qobject_cast<MediaItem *>(object))
        return;
    switch (newValue) {
    case MediaItem::StatusUnknown:
        NSLog("AVPlayerItemStatusUnknown");
        error();
        break;
    case MediaItem::StatusReadyToPlay:
        // Paused (or failed) while the stream was still opening: stay quiet.
        if (!isPlaying()) {
            NSLog("ready report ignored: playback was stopped while loading");
            break;
        }
        play();
        NSLog("AVPlayerItemStatusReadyToPlay");
        break;
    case MediaItem::StatusFailed:
        error();
        NSLog("AVPlayerItemStatusFailed");
        break;
    default: break;
    }
}

void HomeViewController::play()
{
    if (m_player)
        m_player->play();
    refeshLiveView();
    startAnimation();
    setPlaybackState(PlaybackState::Playing);
    if (m_playerItem)
        setNowPlaying(m_playerItem->nowPlaying());
}

void HomeViewController::pause()
{
    if (m_player)
        m_player->pause();
    stopAnimation();
}

void HomeViewController::error()
{
    NSLog("播放失败");
    setPlayImage("play");
    m_ui->titleTextField->setText(kFailed);
    stopAnimation();
    setPlaybackState(PlaybackState::Failed);
}

void HomeViewController::itemReconnectingChanged(bool reconnecting)
{
    if (!isPlaying())
        return;
    if (reconnecting) {
        m_ui->titleTextField->setText(kLoading);
        stopAnimation();
        setPlaybackState(PlaybackState::Loading);
    } else if (m_playerItem && m_playerItem->status() == MediaItem::StatusReadyToPlay) {
        refeshLiveView();
        startAnimation();
        setPlaybackState(PlaybackState::Playing);
        setNowPlaying(m_playerItem->nowPlaying());
    }
}

void HomeViewController::itemEnded()
{
    // A file played to its end: the same as pressing pause.
    if (!isPlaying())
        return;
    setPlayImage("play");
    stopAnimation();
    refeshLiveView();
    setPlaybackState(PlaybackState::Paused);
}

void HomeViewController::reconnectNow(MediaPlayer::ReconnectReason reason)
{
    if (m_player && isPlaying())
        m_player->reconnectNow(reason);
}
