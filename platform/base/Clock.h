#pragma once

#include <QDateTime>

// Where the program's time comes from: the wall clock for what is shown or
// stored, a steady count of milliseconds for deadlines, and a scale for every
// wait it schedules itself (reconnect delays, the sleep timer). Tests install
// a clock of their own, or shrink the scale so that minute-long waits take
// milliseconds; the program never reads the time any other way.
class Clock {
public:
    virtual ~Clock();

    virtual QDateTime currentDateTimeUtc() const;
    // Milliseconds from an arbitrary start, never going back and not counting
    // while the machine sleeps (the monotonic clock). Deadlines are read
    // from it; a test clock sets it by hand.
    virtual qint64 steadyMs() const;
    // Multiplies every scheduled duration; 1 in the shipped program.
    double timeScale() const { return m_timeScale; }
    void setTimeScale(double scale);
    // `ms` scaled, clamped to what a timer accepts (at least 1 ms when `ms` > 0).
    int scaled(qint64 ms) const;

    // The clock in use; never null. setShared(nullptr) restores the system
    // clock. The caller keeps ownership of what it installs.
    static Clock *shared();
    static void setShared(Clock *clock);

private:
    double m_timeScale = 1.0;
};
