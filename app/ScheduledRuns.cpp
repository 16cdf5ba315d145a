#include "app/ScheduledRuns.h"

#include "alarm/Alarm.h"
#include "platform/base/Log.h"
#include "record/BackgroundRecording.h"
#include "record/Recorder.h"
#include "schedule/Scheduler.h"
#include "session/PlaybackSession.h"
#include "store/ProgramEntry.h"

#include <QLocale>

ScheduledRuns::ScheduledRuns(Scheduler *scheduler, PlaybackSession *session, Recorder *recorder,
                             Alarm *alarm, QObject *parent)
    : QObject(parent), m_session(session), m_recorder(recorder), m_alarm(alarm)
{
    connect(scheduler, &Scheduler::due, this, &ScheduledRuns::due);
    connect(scheduler, &Scheduler::finished, this,
            [this](const schedule::Schedule &s, const schedule::Occurrence &) { finished(s); });
    connect(scheduler, &Scheduler::missed, this, &ScheduledRuns::missed);
    connect(m_session, &PlaybackSession::opening, this, &ScheduledRuns::listenerSwitched);
    // The listener's connection stopped recording (a pause, the sleep timer,
    // the stream given up, R pressed): the schedules it carried go on, on
    // connections of their own. Looked at once the recorder has said why,
    // so that a file that cannot be written is told, not tried again.
    connect(m_recorder, &Recorder::recordingChanged, this, [this](bool on) {
        if (!on && !m_recordings.isEmpty())
            QMetaObject::invokeMethod(this, &ScheduledRuns::listenerSwitched, Qt::QueuedConnection);
    });
    connect(m_recorder, &Recorder::failed, this, [this](const QString &message) {
        const QList<qint64> ids = m_recordings.keys();
        for (qint64 id : ids)
            stopped(id, m_recordings.value(id).first.name(), message);
    });
}

ScheduledRuns::~ScheduledRuns()
{
    qDeleteAll(m_background);
}

void ScheduledRuns::missed(const schedule::Schedule &s, const schedule::Occurrence &o)
{
    const QString at = QLocale::c().toString(o.at.toLocalTime(), QStringLiteral("ddd HH:mm"));
    QString body;
    if (o.cutShort) {
        Q_EMIT notice(QStringLiteral("Recording cut short: %1 at %2").arg(s.name(), at),
                      QStringLiteral("Orbitune was not running until its end. What was recorded "
                                     "is kept."));
        return;
    }
    if (o.programGone)
        body = QStringLiteral("Its program is no longer in the list.");
    else if (o.alsoMissed > 0)
        body = QStringLiteral("%1 earlier run(s) were missed too.").arg(o.alsoMissed);
    Q_EMIT notice(QStringLiteral("Missed: %1 at %2").arg(s.name(), at), body);
}

void ScheduledRuns::due(const schedule::Schedule &s, const schedule::Occurrence &o)
{
    NSLog(lcSchedule(), QtInfoMsg, "due: %@", s.name());
    if (o.late) // begun after its time: never without a word
        Q_EMIT notice(QStringLiteral("Started late: %1").arg(s.name()),
                      QStringLiteral("It was due at %1.")
                          .arg(QLocale::c().toString(o.at.toLocalTime(), QStringLiteral("HH:mm"))));
    if (s.action == schedule::Action::Play) {
        m_alarmId = s.id;
        m_alarm->ring({s.program, s.name(), s.volume / 100.0, s.fadeInSeconds});
        return;
    }
    const QDate date = o.at.toLocalTime().date();
    const bool playing = m_session->isPlaying() &&
                         program::url(m_session->currentProgram()) == program::url(s.program);
    if (!playing || m_background.contains(s.id)) {
        recordInBackground(s, date);
        return;
    }
    if (m_recorder->isRecording() && m_recordings.isEmpty()) {
        // The listener's own recording ends when they say; the schedule's
        // runs its length on a connection of its own.
        recordInBackground(s, date);
        return;
    }
    m_recorder->setFolderDate(date);
    m_recorder->setRecording(true);
    if (m_recorder->isRecording())
        m_recordings.insert(s.id, {s, date});
    else
        recordInBackground(s, date);
}

void ScheduledRuns::recordInBackground(const schedule::Schedule &s, const QDate &date)
{
    delete m_background.take(s.id);
    auto *rec = new BackgroundRecording(s.program, date, m_recorder->options());
    m_background.insert(s.id, rec);
    connect(
        rec, &BackgroundRecording::failed, this,
        [this, id = s.id, name = s.name()](const QString &message) { stopped(id, name, message); });
    rec->start();
}

void ScheduledRuns::listenerSwitched()
{
    if (m_recordings.isEmpty() || m_recorder->isRecording())
        return;
    const auto runs = m_recordings;
    m_recordings.clear();
    m_recorder->setFolderDate({});
    for (const auto &run : runs)
        recordInBackground(run.first, run.second);
}

void ScheduledRuns::stopped(qint64 id, const QString &name, const QString &message)
{
    if (m_recordings.remove(id) && m_recordings.isEmpty())
        m_recorder->setFolderDate({});
    if (BackgroundRecording *rec = m_background.take(id))
        rec->deleteLater();
    NSLog(lcSchedule(), QtWarningMsg, "scheduled recording stopped: %@", message);
    Q_EMIT notice(QStringLiteral("Recording stopped: %1").arg(name),
                  message + QStringLiteral(" What was recorded is kept."));
}

void ScheduledRuns::finished(const schedule::Schedule &s)
{
    if (s.id == m_alarmId) {
        m_alarmId = 0;
        m_alarm->stop();
        return;
    }
    delete m_background.take(s.id);
    if (m_recordings.remove(s.id) && m_recordings.isEmpty()) {
        m_recorder->setRecording(false);
        m_recorder->setFolderDate({});
    }
}

#include "moc_ScheduledRuns.cpp"
