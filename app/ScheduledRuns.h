#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include "schedule/Schedule.h"

class Alarm;
class BackgroundRecording;
class PlaybackSession;
class Recorder;
class Scheduler;

// What a schedule does when its time comes. An alarm rings (its program
// played at its own volume, with a tone if the station stays silent). A
// recording of the program playing is made by the recorder from the one
// connection; a recording of another program, or of the one playing while
// the listener records it themselves, on a connection of its own without
// sound. When the listener's connection stops recording (they pause, the
// sleep timer ends, the stream is given up, they switch or press R), the
// rest goes on on a connection of its own. Each goes into a
// "<program> <date>" folder and runs the schedule's length, or says why not.
// Runs missed while Orbitune was not running or the computer slept are told
// once, and so is a recording that had to stop.
class ScheduledRuns : public QObject {
    Q_OBJECT
public:
    ScheduledRuns(Scheduler *scheduler, PlaybackSession *session, Recorder *recorder, Alarm *alarm,
                  QObject *parent = nullptr);
    ~ScheduledRuns() override;

    // Scheduled recordings under way on connections of their own.
    int backgroundRecordings() const { return int(m_background.size()); }

Q_SIGNALS:
    // Something the listener should hear of, as a notification.
    void notice(const QString &title, const QString &body);

private:
    void due(const schedule::Schedule &s, const schedule::Occurrence &o);
    void finished(const schedule::Schedule &s);
    void missed(const schedule::Schedule &s, const schedule::Occurrence &o);
    void recordInBackground(const schedule::Schedule &s, const QDate &date);
    // The listener's connection no longer records (another stream, a pause,
    // a failure, R): the recordings made from it go on connections of their
    // own.
    void listenerSwitched();
    void stopped(qint64 id, const QString &name, const QString &message);

    PlaybackSession *m_session;
    Recorder *m_recorder;
    Alarm *m_alarm;
    qint64 m_alarmId = 0;
    // Schedules recorded from the connection the listener hears, with the
    // date their folder is named for.
    QHash<qint64, QPair<schedule::Schedule, QDate>> m_recordings;
    QHash<qint64, BackgroundRecording *> m_background;
};
