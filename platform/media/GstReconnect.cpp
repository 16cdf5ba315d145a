// Staying on air: after a drop the player does what its ReconnectPolicy
// says: wait, probe meanwhile, try again, or give up once the retry budget
// is spent; a network that returns or a machine that wakes up cuts the wait
// short.
#include "platform/media/GstMediaPlayer.h"

#include "platform/base/Log.h"
#include "platform/stream/PlayPosition.h"

using Step = ReconnectPolicy::Step;

void GstMediaPlayer::stopReconnecting()
{
    m_reconnect.stop();
    m_reconnectTimer.stop();
    m_probe.stop();
}

void GstMediaPlayer::onDropped(const QString &error, bool keepDecoder)
{
    // A connection of our own that dropped leaves the decoder as it is: the
    // next one goes on into it.
    if (keepDecoder) {
        m_watchdog.stop();
        dropClient();
    } else {
        teardownPipeline();
    }
    const ReconnectPolicy::Decision next = m_reconnect.dropped();
    // Behind live the decoder plays on from what is kept: the drop is told
    // once the play position reaches it (see followPosition).
    const bool playsOn = keepDecoder && m_position && !m_position->isLive() &&
                         !m_position->hasHeardAll(reachedOffset());
    if (next.step == Step::GiveUp && playsOn) {
        NSLog(lcMedia(), QtWarningMsg, "stream gone (%@); playing what is kept to its end", error);
        stopReconnecting();
        m_phase = Phase::Reconnecting;
        m_failWhenHeard = error;
        wakeFollower();
        return;
    }
    if (next.step == Step::GiveUp) {
        // Reported as a failure while still reconnecting: the item never
        // looks ready in between.
        fail(error);
        return;
    }
    NSLog(lcMedia(), QtWarningMsg, "stream dropped (%@), reconnecting in %ld ms", error, next.ms);
    m_phase = Phase::Reconnecting;
    m_reconnectTimer.start(next.ms);
    if (next.probeMs > 0)
        m_probe.start(m_streamUrl, next.probeMs);
    if (playsOn)
        wakeFollower();
    else
        m_item->setReconnecting(true);
}

void GstMediaPlayer::onReconnectTimer()
{
    const ReconnectPolicy::Decision next = m_reconnect.timePassed();
    switch (next.step) {
    case Step::Attempt: openStream(m_streamUrl); break;
    case Step::Wait: m_reconnectTimer.start(next.ms); break;
    case Step::Steady:
        NSLog(lcMedia(), QtInfoMsg, "stream steady again, the next drop has the whole budget: %@",
              m_streamUrl.toString());
        break;
    default: break;
    }
}

void GstMediaPlayer::onProbeAnswered()
{
    if (m_reconnect.probeAnswered().step != Step::Attempt)
        return;
    NSLog(lcMedia(), QtInfoMsg, "stream answers again: %@", m_streamUrl.toString());
    m_reconnectTimer.stop();
    openStream(m_streamUrl);
}

void GstMediaPlayer::reconnectNow(ReconnectReason reason)
{
    const bool onAir = m_phase == Phase::Ready && m_wantPlaying && isLiveStream();
    if (m_reconnect.reconnectNow(reason, onAir).step != Step::Attempt)
        return;
    m_reconnectTimer.stop();
    if (m_phase == Phase::Reconnecting) {
        NSLog(lcMedia(), QtInfoMsg, "reconnecting at once: %@",
              reason == ReconnectReason::Resumed ? "woke up" : "network is back");
        openStream(m_streamUrl);
        return;
    }
    NSLog(lcMedia(), QtInfoMsg, "woke up: reopening %@", m_streamUrl.toString());
    m_phase = Phase::Reconnecting;
    openStream(m_streamUrl);
    m_item->setReconnecting(true);
}
