// Staying on air: after a drop the player waits a growing pause between
// attempts, watched by cheap probes, until the retry budget is spent; a
// network that returns or a machine that wakes up cuts the wait short.
#include "platform/media/GstMediaPlayer.h"

#include "platform/base/Log.h"

#include <utility>

int GstMediaPlayer::nextReconnectDelayMs() const
{
    const QList<int> &delays = m_options.reconnectDelaysMs;
    return scaled(m_reconnectAttempts < delays.size() ? delays.at(m_reconnectAttempts)
                                                      : m_options.reconnectRepeatMs);
}

void GstMediaPlayer::resetBackoff()
{
    m_steadyTimer.stop();
    m_reconnectAttempts = 0;
    m_outage.invalidate();
}

void GstMediaPlayer::onDropped(const QString &error)
{
    // An attempt the probe asked for that failed all the same: the station
    // answers but serves no audio (an "offline" page, say). Its answers mean
    // nothing for the rest of the wait it cut short, which goes on unprobed
    // until the attempt that was due.
    const bool probeMisled = std::exchange(m_probeLedAttempt, false);
    teardownPipeline();
    if (!m_outage.isValid())
        m_outage.start();
    const int delay = probeMisled ? m_probeCutWaitMs : nextReconnectDelayMs();
    if (m_outage.elapsed() + delay > scaled(m_options.reconnectBudgetMs)) {
        // Reported as a failure while still reconnecting: the item never
        // looks ready in between.
        fail(error);
        return;
    }
    if (!probeMisled)
        ++m_reconnectAttempts;
    NSLog(lcMedia(), QtWarningMsg, "stream dropped (%@), reconnecting in %ld ms", error, delay);
    m_phase = Phase::Reconnecting;
    m_reconnectTimer.start(delay);
    // Long waits are watched by cheap probes, so a station that comes back
    // is heard within a probe interval rather than a full wait.
    if (!probeMisled && delay > scaled(m_options.probeIntervalMs))
        m_probe.start(m_streamUrl, scaled(m_options.probeIntervalMs));
    m_item->setReconnecting(true);
}

void GstMediaPlayer::onProbeAnswered()
{
    if (m_phase != Phase::Reconnecting || !m_reconnectTimer.isActive())
        return;
    NSLog(lcMedia(), QtInfoMsg, "stream answers again: %@", m_streamUrl.toString());
    const int waitLeft = m_reconnectTimer.remainingTime();
    m_reconnectTimer.stop();
    openStream(m_streamUrl);
    m_probeLedAttempt = true;
    m_probeCutWaitMs = waitLeft;
}

void GstMediaPlayer::reconnectNow(ReconnectReason reason)
{
    const bool resumed = reason == ReconnectReason::Resumed;
    if (m_phase == Phase::Reconnecting && m_reconnectTimer.isActive()) {
        NSLog(lcMedia(), QtInfoMsg, "reconnecting at once: %@",
              resumed ? "woke up" : "network is back");
        m_reconnectTimer.stop();
        m_probe.stop();
        openStream(m_streamUrl);
    } else if (resumed && m_phase == Phase::Ready && m_wantPlaying && isLiveStream()) {
        // The connection most likely died while asleep; do not wait for the
        // pipeline to notice.
        NSLog(lcMedia(), QtInfoMsg, "woke up: reopening %@", m_streamUrl.toString());
        m_outage.start();
        m_phase = Phase::Reconnecting;
        openStream(m_streamUrl);
        m_item->setReconnecting(true);
    }
}
