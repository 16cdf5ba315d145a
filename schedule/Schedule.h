#pragma once

#include <QDate>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QTime>
#include <QVariantMap>

#include <optional>

// A schedule: a program of the list recorded, or played as an alarm, at a
// time of day on one date or on chosen weekdays.
//
// Time as people mean it. A start is a local date and time of day, read in
// the zone the computer is set to when the run comes due:
// - on the night the clocks go forward, a time in the hour that does not
//   exist (02:30 in Berlin on 28 March 2027) runs at the first moment after
//   the gap, when the clocks jump (03:00 local);
// - on the night they go back, a time that exists twice (02:30 in Berlin on
//   31 October 2027) runs once, at its first occurrence (02:30 summer time);
//   the hour repeated afterwards does not run it again;
// - a schedule runs at most once on a local date.
namespace schedule {

enum class Action { Record, Play };

struct Schedule {
    qint64 id = 0; // the row in the file; 0 until added
    // The program as the list held it when it was chosen ("name", "url",
    // "image"). It is found in the list again by the key ProgramIndex makes
    // of its URL, so renaming or moving the program keeps the schedule.
    QVariantMap program;
    Action action = Action::Play;
    // One run on `date` at `time`; or, with `date` null, a run at `time` on
    // each weekday in `weekdays` (bit 0 Monday ... bit 6 Sunday).
    QDate date;
    QTime time;
    int weekdays = 0;
    // Minutes a recording lasts (at least 1); for an alarm, how long it
    // plays, 0 meaning until it is stopped.
    int lengthMinutes = 0;
    bool enabled = true;
    // The alarm's sound rises over `fadeInSeconds` to `volume` (0-100), its
    // own volume: the everyday one is left as it is.
    int fadeInSeconds = 0;
    int volume = 100;
    // Runs due at or before this instant were handled: started or reported
    // missed. Kept by the scheduler; moved to now when a schedule is added,
    // changed or enabled, so that an edit never reports past runs as missed.
    QDateTime handledUntil;

    bool repeats() const { return !date.isValid(); }
    QString name() const;
    QString url() const;
};

// One run of a schedule; instants in UTC.
struct Occurrence {
    QDateTime at;     // when it was due
    QDateTime endsAt; // when its length is over; null for an alarm played until stopped
    // Begun (due) or found (missed) after its time: Orbitune was not
    // running, the computer slept, or the system clock jumped.
    bool late = false;
    // Missed because the program is no longer in the list.
    bool programGone = false;
    // A recording begun and cut short, Orbitune not running until its end.
    bool cutShort = false;
    // Earlier runs of the same schedule missed as well, told in this one
    // report rather than one by one.
    int alsoMissed = 0;
};

// A row of the file that makes no schedule: never loaded, never run, kept
// in the file as it is.
struct Problem {
    qint64 id = 0;
    QString message;
};

constexpr int kAllWeekdays = 0x7f;
constexpr int kMaxLengthMinutes = 24 * 60;
constexpr int kMaxFadeInSeconds = 3600;

// What makes `s` no schedule, in a sentence; empty when it is one.
QString problemWith(const Schedule &s);

// The instant a local date and time of day stand for, by the rules above.
QDateTime localInstant(QDate date, QTime time);
// The first run of `s` strictly after `after`; none when no run is left.
std::optional<QDateTime> nextRun(const Schedule &s, const QDateTime &after);
// The run of `s` due at `at`.
Occurrence occurrence(const Schedule &s, const QDateTime &at);
// Whether `s` is marked as a recording begun and not ended: handled up to
// exactly one of its runs' start (an ended one is marked a moment later).
bool begunNotEnded(const Schedule &s);

} // namespace schedule

Q_DECLARE_METATYPE(schedule::Schedule)
Q_DECLARE_METATYPE(schedule::Occurrence)
Q_DECLARE_METATYPE(schedule::Problem)
