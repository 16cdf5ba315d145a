// The scheduler's changes to the schedules: each written to the file at
// once, then the next runs worked out again.
#include "schedule/Scheduler.h"

#include "schedule/ScheduleFile.h"

using schedule::Schedule;

qint64 Scheduler::add(const Schedule &s)
{
    const QString why = schedule::problemWith(s);
    if (!why.isEmpty()) {
        m_error = QStringLiteral("The schedule was not saved: %1.").arg(why);
        return 0;
    }
    Schedule added = s;
    added.handledUntil = now();
    if (schedule::begunNotEnded(added)) // added at the very moment of a run
        added.handledUntil = added.handledUntil.addMSecs(1);
    added.id = m_file->insert(added);
    if (added.id == 0) {
        m_error = QStringLiteral("The schedule was not saved: %1.").arg(m_file->lastError());
        return 0;
    }
    m_schedules.append(added);
    refresh();
    return added.id;
}

bool Scheduler::update(const Schedule &s)
{
    const qsizetype i = indexOf(s.id);
    QString why = i < 0 ? QStringLiteral("it is no longer there") : schedule::problemWith(s);
    Schedule changedTo = s;
    if (why.isEmpty()) {
        const Schedule &before = m_schedules.at(i);
        // A recording under way keeps its mark of one begun while it goes on.
        if (changedTo.enabled && m_running.contains(s.id) && schedule::begunNotEnded(before)) {
            changedTo.handledUntil = before.handledUntil;
        } else {
            changedTo.handledUntil = std::max(before.handledUntil, now());
            if (schedule::begunNotEnded(changedTo))
                changedTo.handledUntil = changedTo.handledUntil.addMSecs(1);
        }
        if (!m_file->update(changedTo))
            why = m_file->lastError();
    }
    if (!why.isEmpty()) {
        m_error = QStringLiteral("The schedule was not saved: %1.").arg(why);
        return false;
    }
    m_schedules[i] = changedTo;
    if (!changedTo.enabled)
        endRun(s.id);
    refresh();
    return true;
}

bool Scheduler::setEnabled(qint64 id, bool enabled)
{
    std::optional<Schedule> s = find(id);
    if (!s) {
        m_error = QStringLiteral("The schedule was not saved: it is no longer there.");
        return false;
    }
    s->enabled = enabled;
    return update(*s);
}

bool Scheduler::remove(qint64 id)
{
    if (!m_file->remove(id)) {
        m_error = QStringLiteral("The schedule was not removed: %1.").arg(m_file->lastError());
        return false;
    }
    m_refused.removeIf([id](const schedule::Problem &p) { return p.id == id; });
    endRun(id);
    const qsizetype i = indexOf(id);
    if (i >= 0)
        m_schedules.removeAt(i);
    refresh();
    return true;
}
