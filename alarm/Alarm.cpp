#include "alarm/Alarm.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/media/TonePlayer.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

namespace {
constexpr int kFadeTickMs = 100;

QString alarmTitle(const QString &name)
{
    return QStringLiteral("Alarm: %1").arg(name);
}
} // namespace

Alarm::Alarm(PlaybackSession *session, Play play, QObject *parent)
    : QObject(parent), m_session(session), m_play(std::move(play))
{
    for (QTimer *t : {&m_silence, &m_snooze})
        t->setSingleShot(true);
    connect(&m_fade, &QTimer::timeout, this, &Alarm::fadeStep);
    connect(&m_silence, &QTimer::timeout, this,
            [this] { ringTone(QStringLiteral("No sound came from the station.")); });
    connect(&m_snooze, &QTimer::timeout, this, [this] { ring(m_ring); });
    connect(m_session, &PlaybackSession::stateChanged, this, &Alarm::sessionStateChanged);
    connect(m_session, &PlaybackSession::opening, this, &Alarm::sessionOpening);
    // Setting the volume or mute is the listener taking over: no more rising.
    connect(m_session->volume(), &Volume::overrideTaken, &m_fade, &QTimer::stop);
}

Alarm::~Alarm()
{
    if (m_state != State::Off)
        m_session->volume()->clearOverride();
}

bool Alarm::isToneRinging() const
{
    return m_tone && m_tone->isSounding();
}

void Alarm::ring(const Ring &ring)
{
    silence();
    m_ring = ring;
    m_ring.volume = qBound(0.0, ring.volume, 1.0);
    NSLog(lcSession(), QtInfoMsg, "alarm rings: %@", m_ring.name);
    setState(State::Ringing);
    Clock *clock = Clock::shared();
    m_scale = clock->timeScale();
    m_fadeStart = clock->steadyMs();
    m_session->volume()->setOverride(m_ring.fadeInSeconds > 0 ? 0.0 : m_ring.volume);
    if (m_ring.fadeInSeconds > 0)
        m_fade.start(clock->scaled(kFadeTickMs));
    Q_EMIT notice(alarmTitle(m_ring.name),
                  QStringLiteral("Playing %1.").arg(program::name(m_ring.program)));
    m_steering = true;
    const bool asked = m_play(m_ring.program);
    m_steering = false;
    if (!asked) {
        ringTone(QStringLiteral("Its program could not be played."));
        return;
    }
    if (m_session->state() == PlaybackSession::State::Failed)
        ringTone(QStringLiteral("The station could not be played."));
    else if (!isSounding())
        awaitSound();
}

void Alarm::snooze()
{
    if (m_state != State::Ringing)
        return;
    silence();
    setState(State::Snoozed);
    m_snooze.start(Clock::shared()->scaled(kSnoozeMs));
}

void Alarm::stop()
{
    if (m_state == State::Off)
        return;
    silence();
    m_snooze.stop();
    setState(State::Off);
}

void Alarm::silence()
{
    m_fade.stop();
    m_silence.stop();
    if (m_tone && m_tone->isSounding()) {
        m_tone->stop();
        Q_EMIT toneChanged(false);
    }
    if (m_state == State::Ringing) {
        m_steering = true;
        if (m_session->isPlaying())
            m_session->pause();
        m_steering = false;
    }
    m_session->volume()->clearOverride();
}

void Alarm::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void Alarm::fadeStep()
{
    const double elapsed = double(Clock::shared()->steadyMs() - m_fadeStart) / m_scale;
    const double fadeMs = m_ring.fadeInSeconds * 1000.0;
    if (elapsed >= fadeMs) {
        m_fade.stop();
        m_session->volume()->setOverride(m_ring.volume);
        return;
    }
    m_session->volume()->setOverride(m_ring.volume * elapsed / fadeMs);
}

void Alarm::sessionStateChanged()
{
    if (m_state != State::Ringing || m_steering)
        return;
    switch (m_session->state()) {
    case PlaybackSession::State::Playing:
        // The station came after all: it wakes the listener, not the tone.
        // Played elsewhere, the place has to say it sounds.
        isSounding() ? soundCame() : awaitSound();
        break;
    case PlaybackSession::State::Failed:
        ringTone(QStringLiteral("The station could not be played."));
        break;
    case PlaybackSession::State::Paused:
        // The listener paused it: they are awake.
        if (!isToneRinging())
            stop();
        break;
    case PlaybackSession::State::Loading:
        // Gone quiet after it sounded (a drop): the tone if it stays so.
        awaitSound();
        break;
    case PlaybackSession::State::Idle: break;
    }
}

void Alarm::setSoundElsewhere(bool sounding)
{
    m_soundElsewhere = sounding;
    if (m_state != State::Ringing || !m_session->isPlaying())
        return;
    isSounding() ? soundCame() : awaitSound();
}

bool Alarm::isSounding() const
{
    return m_session->state() == PlaybackSession::State::Playing &&
           (m_session->hasLocalSound() || m_soundElsewhere);
}

void Alarm::soundCame()
{
    m_silence.stop();
    if (m_tone && m_tone->isSounding()) {
        m_tone->stop();
        Q_EMIT toneChanged(false);
    }
}

void Alarm::awaitSound()
{
    if (!isToneRinging() && !m_silence.isActive())
        m_silence.start(Clock::shared()->scaled(kSilenceMs));
}

void Alarm::sessionOpening(const QString &url)
{
    if (m_state != State::Ringing || m_steering || url == program::url(m_ring.program))
        return;
    // The listener chose another station: they are awake, and it is theirs,
    // at their own volume; nothing of the alarm pauses it later.
    NSLog(lcSession(), QtInfoMsg, "alarm ends: the listener chose another station");
    m_fade.stop();
    m_silence.stop();
    if (m_tone && m_tone->isSounding()) {
        m_tone->stop();
        Q_EMIT toneChanged(false);
    }
    m_session->volume()->clearOverride();
    setState(State::Off);
}

void Alarm::ringTone(const QString &why)
{
    m_silence.stop();
    if (m_state != State::Ringing || isToneRinging())
        return;
    if (!m_tone)
        m_tone = std::make_unique<TonePlayer>();
    // At the alarm's full volume at once: it rings because nothing else did.
    if (!m_tone->start(m_ring.volume))
        return;
    NSLog(lcSession(), QtInfoMsg, "alarm tone: %@", why);
    Q_EMIT toneChanged(true);
    Q_EMIT notice(alarmTitle(m_ring.name), why + QStringLiteral(" A tone rings instead."));
}

#include "moc_Alarm.cpp"
