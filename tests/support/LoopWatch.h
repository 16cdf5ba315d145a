#pragma once

#include "support/SchedStat.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// How long this thread's event loop was held: a timer ticks every
// `intervalMs`, and the longest gap between two ticks counts, less the time
// the thread waited for a CPU meanwhile (the kernel's schedstat). A handler
// that computes or blocks shows; a busy machine that hands the thread no
// CPU does not.
class LoopWatch {
public:
    explicit LoopWatch(int intervalMs = 20) : m_interval(intervalMs)
    {
        m_clock.start();
        m_lastWaitNs = waitedNs();
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 waited = waitedNs();
            const qint64 held = (now - m_lastNs) - (waited - m_lastWaitNs);
            m_worstMs = std::max(m_worstMs, held / 1000000 - m_interval);
            m_lastNs = now;
            m_lastWaitNs = waited;
        });
        m_tick.start(intervalMs);
    }

    qint64 worstMs() const { return m_worstMs; }

private:
    static qint64 waitedNs() { return threadSchedStat().waitNs; }

    int m_interval;
    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_lastWaitNs = 0;
    qint64 m_worstMs = 0;
};
