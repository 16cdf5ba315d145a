#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class PlaybackSession;
class Recorder;
class Scheduler;

namespace schedule {
struct Schedule;
struct Occurrence;
} // namespace schedule

// What a schedule does when its time comes. An alarm plays its program as
// choosing it in the list does, at the listener's volume. A recording is
// made while its program is the one playing (the recorder records what is
// heard) and ends with the schedule's length, unless the listener was
// recording already. Recording another program in the background is not
// done yet: the listener is told at the time instead of finding no file.
// A run missed while Orbitune was not running or the computer slept is told
// once, too.
class ScheduledRuns : public QObject {
    Q_OBJECT
public:
    ScheduledRuns(Scheduler *scheduler, PlaybackSession *session, Recorder *recorder,
                  QObject *parent = nullptr);

Q_SIGNALS:
    // Something the listener should hear of, as a notification.
    void notice(const QString &title, const QString &body);

private:
    void due(const schedule::Schedule &s, const schedule::Occurrence &o);
    void finished(const schedule::Schedule &s);
    void missed(const schedule::Schedule &s, const schedule::Occurrence &o);

    PlaybackSession *m_session;
    Recorder *m_recorder;
    QSet<qint64> m_recordings; // schedules whose recording this started
};
