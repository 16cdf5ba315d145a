#include "app/ScheduledRuns.h"

#include "platform/base/Log.h"
#include "record/Recorder.h"
#include "schedule/Scheduler.h"
#include "session/PlayProgram.h"
#include "session/PlaybackSession.h"
#include "store/ProgramEntry.h"

#include <QLocale>

ScheduledRuns::ScheduledRuns(Scheduler *scheduler, PlaybackSession *session, Recorder *recorder,
                             QObject *parent)
    : QObject(parent), m_session(session), m_recorder(recorder)
{
    connect(scheduler, &Scheduler::due, this, &ScheduledRuns::due);
    connect(scheduler, &Scheduler::finished, this,
            [this](const schedule::Schedule &s, const schedule::Occurrence &) { finished(s); });
    connect(scheduler, &Scheduler::missed, this, &ScheduledRuns::missed);
}

void ScheduledRuns::missed(const schedule::Schedule &s, const schedule::Occurrence &o)
{
    const QString at = QLocale::c().toString(o.at.toLocalTime(), QStringLiteral("ddd HH:mm"));
    QString body;
    if (o.programGone)
        body = QStringLiteral("Its program is no longer in the list.");
    else if (o.alsoMissed > 0)
        body = QStringLiteral("%1 earlier run(s) were missed too.").arg(o.alsoMissed);
    Q_EMIT notice(QStringLiteral("Missed: %1 at %2").arg(s.name(), at), body);
}

void ScheduledRuns::due(const schedule::Schedule &s, const schedule::Occurrence &)
{
    NSLog(lcSchedule(), QtInfoMsg, "due: %@", s.name());
    if (s.action == schedule::Action::Play) {
        if (!session::playProgram(s.program))
            Q_EMIT notice(QStringLiteral("Alarm: %1").arg(s.name()),
                          QStringLiteral("The program could not be played."));
        return;
    }
    const bool playing = m_session->isPlaying() &&
                         program::url(m_session->currentProgram()) == program::url(s.program);
    if (!playing) {
        Q_EMIT notice(QStringLiteral("Not recorded: %1").arg(s.name()),
                      QStringLiteral("A scheduled recording is made while its program plays."));
        return;
    }
    if (m_recorder->isRecording())
        return; // the listener's own recording goes on and ends as they say
    m_recorder->setRecording(true);
    if (m_recorder->isRecording())
        m_recordings.insert(s.id);
}

void ScheduledRuns::finished(const schedule::Schedule &s)
{
    if (m_recordings.remove(s.id) && m_recordings.isEmpty())
        m_recorder->setRecording(false);
}

#include "moc_ScheduledRuns.cpp"
