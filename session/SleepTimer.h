#pragma once

#include <QObject>
#include <QTimer>

// Counts down the minutes the listener chose, then fades the sound out over
// ten seconds and says it is time to pause. Not remembered across restarts.
// Time is read from the shared Clock's steady count, durations follow its
// time scale as it was at start().
class SleepTimer : public QObject {
    Q_OBJECT
public:
    static constexpr int kFadeMs = 10000;

    explicit SleepTimer(QObject *parent = nullptr);

    // Starts (or restarts) the countdown; 0 cancels.
    void start(int minutes);
    void cancel() { start(0); }
    int minutes() const { return m_minutes; }
    bool isRunning() const { return m_minutes > 0; }
    // Whole minutes left before the fade, rounded up.
    int minutesLeft() const;
    // In the last seconds, while the sound fades out.
    bool isFading() const;

Q_SIGNALS:
    void remainingChanged();
    // 1 down to 0 while fading; 1 again when cancelled.
    void fadeChanged(double factor);
    // The fade is over: pause now.
    void finished();
    // Cancelled or finished: the timer is off.
    void stopped();

private:
    void tick();
    qint64 elapsedMs() const; // unscaled

    int m_minutes = 0;
    double m_scale = 1.0; // the clock's, when started
    qint64 m_startMs = 0; // the clock's steady count at start()
    QTimer m_tick;
};
