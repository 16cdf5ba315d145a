#pragma once

#include "platform/base/Clock.h"

#include <QElapsedTimer>

// A clock the test drives, the shared one while it lives. Its wall time and
// steady reading stand still until moved: advance() moves both as time
// passing would, jump() the wall time alone (the system clock set, or a
// sleep the steady clock does not count). run() lets both go on by
// themselves from then, the wall time 1/scale times faster than real time,
// every wait scaled to match: a week passes in seconds.
class TestClock : public Clock {
public:
    explicit TestClock(const QDateTime &wall) : m_wall(wall.toUTC()) { Clock::setShared(this); }
    ~TestClock() override { Clock::setShared(nullptr); }

    QDateTime currentDateTimeUtc() const override
    {
        return m_wall.addMSecs(qint64(double(realNs()) / 1e6 / timeScale()));
    }
    qint64 steadyMs() const override { return m_steady + realNs() / 1000000; }

    void advance(qint64 ms)
    {
        m_wall = m_wall.addMSecs(ms);
        m_steady += qint64(double(ms) * timeScale());
    }
    void jump(qint64 ms) { m_wall = m_wall.addMSecs(ms); }
    void run(double scale)
    {
        setTimeScale(scale);
        m_running.start();
    }

private:
    qint64 realNs() const { return m_running.isValid() ? m_running.nsecsElapsed() : 0; }

    QDateTime m_wall;
    qint64 m_steady = 1000000;
    QElapsedTimer m_running;
};
