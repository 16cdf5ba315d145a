#pragma once

#include "schedule/Schedule.h"
#include "store/ProgramIndex.h"

#include <QList>

namespace Ui {
class ScheduleView;
}

// The Schedules window's form: one schedule shown in its fields, and read
// back from them. What the form cannot hold (the id, when it was last
// handled) is left to the caller.
namespace scheduleform {

// The program combo: the list's programs by name, each holding its entry,
// and when `keep` names a program no longer listed, that one too, marked
// as removed, so editing such a schedule keeps its program.
void fillPrograms(Ui::ScheduleView &ui, const QList<programindex::Program> &programs,
                  const QVariantMap &keep = {});
void show(Ui::ScheduleView &ui, const schedule::Schedule &s);
schedule::Schedule read(const Ui::ScheduleView &ui);
// A new schedule: the first program, played tomorrow at 07:00 on weekdays.
schedule::Schedule blank(const QList<programindex::Program> &programs);
// Enables the fields that count for what the form holds: the date or the
// time and weekdays, fade-in and volume for an alarm.
void updateFields(Ui::ScheduleView &ui);

} // namespace scheduleform
