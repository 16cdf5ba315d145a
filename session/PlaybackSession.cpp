#include "session/PlaybackSession.h"

#include "platform/base/Log.h"
#include "platform/base/Settings.h"
#include "platform/media/MediaItem.h"
#include "platform/media/MediaPlayer.h"
#include "session/SleepTimer.h"
#include "session/StreamTaps.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

namespace {
const QString kPauseHoldsKey = QStringLiteral("playback/pauseHoldsStation");
const QString kEvenLoudnessKey = QStringLiteral("playback/evenOutLoudness");
// The loudness stations are levelled to, in LUFS (-18: ReplayGain 2.0's).
const QString kLoudnessTargetKey = QStringLiteral("playback/loudnessTargetLufs");
constexpr double kDefaultTargetLufs = -18.0;

double loudnessTarget(const QSettings &file)
{
    bool ok = false;
    const double lufs = file.value(kLoudnessTargetKey, kDefaultTargetLufs).toDouble(&ok);
    // A target the gain's +-12 dB can reach from what stations send.
    return ok && lufs >= -40.0 && lufs <= -5.0 ? lufs : kDefaultTargetLufs;
}

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

struct PlaybackSession::Stream {
    // Receiver of the item's reports: replacing it drops them all.
    std::unique_ptr<QObject> observations;
    std::unique_ptr<MediaPlayer> player;
    std::shared_ptr<MediaItem> item;
};

PlaybackSession::PlaybackSession(QObject *parent)
    : QObject(parent), m_volume(new Volume(this)), m_sleep(new SleepTimer(this)),
      m_stream(std::make_unique<Stream>()), m_taps(std::make_shared<StreamTaps>())
{
    connect(m_volume, &Volume::effectiveChanged, this, &PlaybackSession::applyVolume);
    connect(m_sleep, &SleepTimer::fadeChanged, m_volume, &Volume::setFade);
    connect(m_sleep, &SleepTimer::finished, this, &PlaybackSession::sleepTimerFinished);
    const auto file = settings::open();
    m_pauseHolds = file->value(kPauseHoldsKey, false).toBool();
    m_evenLoudness = file->value(kEvenLoudnessKey, true).toBool();
    m_loudnessTarget = loudnessTarget(*file);
}

PlaybackSession::~PlaybackSession()
{
    if (m_stream->player)
        m_stream->player->pause();
    releasePlayer();
}

void PlaybackSession::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (state != State::Playing) {
        setNowPlaying(QString());
        setStreamInfo(QString());
    }
    Q_EMIT stateChanged(state);
}

void PlaybackSession::setNowPlaying(const QString &title)
{
    if (title == m_nowPlaying)
        return;
    m_nowPlaying = title;
    Q_EMIT nowPlayingChanged(title);
}

void PlaybackSession::setStreamInfo(const QString &info)
{
    if (info == m_streamInfo)
        return;
    m_streamInfo = info;
    Q_EMIT streamInfoChanged(info);
}

void PlaybackSession::showWhatPlays()
{
    if (!m_stream->item)
        return;
    setNowPlaying(m_stream->item->nowPlaying());
    setStreamInfo(m_stream->item->format().text());
}

void PlaybackSession::refreshProgram()
{
    const QVariantMap live =
        m_ownProgram.isEmpty() ? CacheManager::shareIntance()->getLiveData() : m_ownProgram;
    if (live == m_program)
        return;
    m_program = live;
    Q_EMIT currentProgramChanged();
}

void PlaybackSession::setOwnProgram(const QVariantMap &program)
{
    m_ownProgram = program;
    refreshProgram();
}

void PlaybackSession::toggle()
{
    togglePlayback(!isPlaying());
}

void PlaybackSession::playCurrent()
{
    togglePlayback(true);
}

void PlaybackSession::pause()
{
    if (isPlaying())
        togglePlayback(false);
}

void PlaybackSession::togglePlayback(bool start)
{
    // Play during the sleep timer's fade-out means the listener is awake.
    if (start && m_sleep->isFading())
        m_sleep->cancel();
    Q_EMIT requested(start);
    refreshProgram();
    if (!start) {
        // Paused before the player hears of it, so that whatever it reports
        // while stopping (the end of a reconnect) finds playback stopped.
        m_abandoned = m_state == State::Loading;
        setState(State::Paused);
        pauseSound();
        return;
    }
    const bool held = m_pauseHolds && m_state == State::Paused && m_stream->player &&
                      m_stream->item && m_stream->item->status() == MediaItem::StatusReadyToPlay &&
                      m_stream->item->url() == streamUrl(program::url(m_program));
    if (held) {
        // The station was held: play goes on where it stopped, once it is
        // back if it dropped meanwhile.
        if (m_stream->item->isReconnecting()) {
            m_stream->player->play();
            setState(State::Loading);
        } else {
            startSound();
        }
        return;
    }
    if (!openUrl(program::url(m_program))) {
        // No program, or its address is not a URL: nothing could be opened.
        fail();
        return;
    }
    setState(State::Loading);
}

void PlaybackSession::currentProgramFailed()
{
    // The user asked for another program: the old stream ends all the same.
    releasePlayer();
    fail();
}

bool PlaybackSession::openUrl(const QString &urlString)
{
    const QUrl url = streamUrl(urlString);
    if (url.isEmpty()) {
        // The previous stream ends all the same: the user asked for another.
        releasePlayer();
        NSLog(lcSession(), QtWarningMsg, "cannot play %@: not a URL", urlString);
        return false;
    }
    auto item = std::make_shared<MediaItem>(url);
    // Drop the old item's reports before it is released with its player.
    m_stream->observations = std::make_unique<QObject>();
    m_stream->item = item;
    m_abandoned = false;
    MediaItem *raw = item.get();
    QObject *context = m_stream->observations.get();
    connect(raw, &MediaItem::statusChanged, context, [this] { itemStatusChanged(); });
    connect(raw, &MediaItem::nowPlayingChanged, context, [this](const QString &title) {
        if (m_state == State::Playing)
            setNowPlaying(title);
    });
    connect(raw, &MediaItem::formatChanged, context, [this, raw] {
        if (m_state == State::Playing)
            setStreamInfo(raw->format().text());
    });
    connect(raw, &MediaItem::reconnectingChanged, context,
            [this](bool on) { reconnectingChanged(on); });
    connect(raw, &MediaItem::ended, context, [this] { itemEnded(); });
    connect(raw, &MediaItem::keptAudioChanged, context, [this, raw] {
        m_kept = raw->keptAudio();
        Q_EMIT keptAudioChanged();
    });
    MediaPlayerFactory *factory = MediaPlayerFactory::shared();
    // Always set, so that a tap attached later reaches the stream under way.
    item->setStreamTap(m_taps);
    m_stream->player = factory ? factory->playerWithItem(item) : nullptr;
    if (MediaPlayer *player = m_stream->player.get()) {
        player->setPauseHolds(m_pauseHolds);
        player->setLevelling(m_evenLoudness, m_loudnessTarget);
        connect(player, &MediaPlayer::timeShiftChanged, context,
                [this] { Q_EMIT timeShiftChanged(); });
        connect(player, &MediaPlayer::seeked, context, [this] { Q_EMIT seeked(); });
        connect(player, &MediaPlayer::resumedFromOldest, context,
                [this] { Q_EMIT resumedFromOldest(); });
    }
    applyVolume();
    Q_EMIT timeShiftChanged();
    Q_EMIT opening(urlString);
    // Another stream: what the last one kept goes.
    if (m_kept != item->keptAudio()) {
        m_kept = item->keptAudio();
        Q_EMIT keptAudioChanged();
    }
    if (!m_stream->player) {
        NSLog(lcSession(), QtCriticalMsg, "no media player available");
        return false;
    }
    return true;
}

void PlaybackSession::releasePlayer()
{
    const bool couldSeek = canSeek();
    m_stream->observations.reset();
    m_stream->player.reset();
    m_stream->item.reset();
    if (couldSeek)
        Q_EMIT timeShiftChanged();
}

bool PlaybackSession::canSeek() const
{
    return m_stream->player && m_state != State::Idle && m_state != State::Failed &&
           m_stream->player->canSeek();
}

qint64 PlaybackSession::behindLiveMs() const
{
    return canSeek() ? m_stream->player->timeBehindLiveMs() : 0;
}

qint64 PlaybackSession::keptMs() const
{
    return canSeek() ? m_stream->player->keptMs() : 0;
}

qint64 PlaybackSession::positionMs() const
{
    return canSeek() ? m_stream->player->positionMs() : 0;
}

void PlaybackSession::seekBy(qint64 ms)
{
    if (canSeek())
        m_stream->player->seekBy(ms);
}

void PlaybackSession::goLive()
{
    if (canSeek())
        m_stream->player->goLive();
}

void PlaybackSession::setPauseHoldsStation(bool holds)
{
    if (holds == m_pauseHolds)
        return;
    m_pauseHolds = holds;
    settings::open()->setValue(kPauseHoldsKey, holds);
    if (m_stream->player)
        m_stream->player->setPauseHolds(holds);
    Q_EMIT pauseHoldsStationChanged(holds);
}

void PlaybackSession::setEvenLoudness(bool on)
{
    if (on == m_evenLoudness)
        return;
    m_evenLoudness = on;
    settings::open()->setValue(kEvenLoudnessKey, on);
    if (m_stream->player)
        m_stream->player->setLevelling(on, m_loudnessTarget);
    Q_EMIT evenLoudnessChanged(on);
}

QString PlaybackSession::behindLiveText(qint64 behindMs)
{
    const qint64 seconds = (behindMs + 500) / 1000;
    if (seconds <= 0)
        return QStringLiteral("Live");
    return QStringLiteral("\u2212%1:%2")
        .arg(seconds / 60)
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void PlaybackSession::setStreamTap(std::shared_ptr<StreamTap> tap)
{
    m_taps->set(StreamTaps::Slot::Recorder, std::move(tap));
}

void PlaybackSession::setCastTap(std::shared_ptr<StreamTap> tap)
{
    m_taps->set(StreamTaps::Slot::Cast, std::move(tap));
}

void PlaybackSession::setLocalSound(bool on)
{
    if (on == m_localSound)
        return;
    m_localSound = on;
    NSLog(lcSession(), QtInfoMsg, on ? "sound on this computer" : "sound played elsewhere");
    applyVolume();
}

void PlaybackSession::itemStatusChanged()
{
    switch (m_stream->item->status()) {
    case MediaItem::StatusUnknown:
        NSLog(lcSession(), QtWarningMsg, "AVPlayerItemStatusUnknown");
        if (m_abandoned) {
            NSLog(lcSession(), QtInfoMsg,
                  "failure report ignored: playback was stopped while loading");
            break;
        }
        fail();
        break;
    case MediaItem::StatusReadyToPlay:
        // Paused (or failed) while the stream was still opening: stay quiet,
        // and let go of a live stream nobody listens to.
        if (!isPlaying()) {
            NSLog(lcSession(), QtInfoMsg,
                  "ready report ignored: playback was stopped while loading");
            if (m_abandoned) {
                // Once the item has finished reporting: it goes with the player.
                QMetaObject::invokeMethod(
                    this,
                    [this, item = std::weak_ptr<MediaItem>(m_stream->item)] {
                        if (m_abandoned && !item.expired() && item.lock() == m_stream->item)
                            releasePlayer();
                    },
                    Qt::QueuedConnection);
            }
            break;
        }
        startSound();
        NSLog(lcSession(), QtInfoMsg, "AVPlayerItemStatusReadyToPlay");
        break;
    case MediaItem::StatusFailed:
        if (m_abandoned) {
            NSLog(lcSession(), QtInfoMsg,
                  "failure report ignored: playback was stopped while loading");
            break;
        }
        fail();
        NSLog(lcSession(), QtWarningMsg, "AVPlayerItemStatusFailed");
        break;
    }
}

void PlaybackSession::startSound()
{
    if (m_stream->player)
        m_stream->player->play();
    refreshProgram();
    setState(State::Playing);
    showWhatPlays();
}

void PlaybackSession::pauseSound()
{
    if (m_stream->player)
        m_stream->player->pause();
}

void PlaybackSession::fail()
{
    NSLog(lcSession(), QtWarningMsg, "播放失败");
    setState(State::Failed);
}

void PlaybackSession::reconnectingChanged(bool reconnecting)
{
    if (!isPlaying())
        return;
    if (reconnecting) {
        setState(State::Loading);
    } else if (m_stream->item && m_stream->item->status() == MediaItem::StatusReadyToPlay) {
        refreshProgram();
        setState(State::Playing);
        showWhatPlays();
    }
}

void PlaybackSession::itemEnded()
{
    // A file played to its end: the same as pressing pause.
    if (!isPlaying())
        return;
    refreshProgram();
    setState(State::Paused);
}

void PlaybackSession::reconnectNow(Reconnect reason)
{
    using Reason = MediaPlayer::ReconnectReason;
    if (m_stream->player && isPlaying())
        m_stream->player->reconnectNow(reason == Reconnect::Resumed ? Reason::Resumed
                                                                    : Reason::NetworkBack);
}

void PlaybackSession::sleepTimerFinished()
{
    // The same as pressing pause; the next play is at the usual volume.
    pause();
    m_volume->setFade(1.0);
}

void PlaybackSession::applyVolume()
{
    if (!m_stream->player)
        return;
    m_stream->player->setVolume(m_volume->effectiveLevel());
    // The pipeline, its one connection and its tap stay as they are; the
    // player need not decode while the sound plays elsewhere.
    m_stream->player->setMuted(m_volume->effectiveMuted() || !m_localSound);
    m_stream->player->setSoundElsewhere(!m_localSound);
}

#include "moc_PlaybackSession.cpp"
