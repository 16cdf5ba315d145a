#pragma once

#include "schedule/Schedule.h"
#include "store/ProgramIndex.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class ScheduleFile;

// The schedules and when they run: kept in their file (ScheduleFile), and
// told as they come due while Orbitune runs, whatever its windows do. It
// records nothing and plays nothing: whoever wires it starts a recording or
// the alarm on due(), ends a recording on finished(), and shows missed()
// as "Missed: ...". Everything happens on the thread it lives on (the main
// thread), as timer events; a change is written to the file before the call
// returns.
//
// Wiring:
//     auto *scheduler = new Scheduler(Scheduler::defaultPath(), {}, parent);
//     connect(scheduler, &Scheduler::due, ...);          // record or ring
//     connect(scheduler, &Scheduler::finished, ...);     // stop recording
//     connect(scheduler, &Scheduler::missed, ...);       // notify
//     connect(scheduler, &Scheduler::refused, ...);      // hand-edited rows
//     connect(scheduler, &Scheduler::keptAside, ...);    // unreadable file
//     connect(scheduler, &Scheduler::fileFailed, ...);   // the disk said no
//     connect(wakeWatcher, &WakeWatcher::wokeUp, scheduler, &Scheduler::recheck);
//     scheduler->setAwakeWindow(15 * 60 * 1000);
//     connect(scheduler, &Scheduler::dueSoonChanged, inhibitor, ...);
//     scheduler->start();
// The window lists schedules() (and refusedRows()), shows standing() and
// nextRun() of each, follows changed(), and changes them with add(),
// update(), setEnabled() and remove(), showing lastError() when one says
// false.
//
// On time: a run is told within a second of its time (timers of the
// program's Clock, so a test's sped-up clock runs a week in seconds). The
// system clock is read against the steady clock at every wake-up and at
// least every kClockPollMs, and recheck() (connect the wake from suspend to
// it) looks at once: a jump of the clock (suspend and resume, NTP, set by
// hand) is noticed and the runs recomputed.
//
// Late and missed runs. Each schedule keeps when it was last handled, in
// the file, so a run is handled once, also across restarts and when the
// clocks go back. A run found after its time (Orbitune was not running, the
// computer slept, the clock jumped forward) is never started silently:
// - an alarm at most kAlarmGraceMs late still rings: due() with late set;
// - a recording whose time is not over yet starts for the rest of it: due()
//   with late set, and finished() at its planned end;
// - otherwise missed(), once; several runs of one schedule missed in a row
//   are one report (Occurrence::alsoMissed counts the others, those of the
//   last year one by one, any before as one).
// A schedule whose program is no longer in the list does not run:
// standing() says ProgramGone, and at its time missed() is told with
// programGone set. A disabled schedule does not run, and runs passed while
// it was disabled are not missed. Runs handled stay handled when the clock
// goes back: a run never starts twice. A run reported missed because the
// clock had jumped forward comes back when the clock is put right before
// its time (a hardware clock in local time, corrected by NTP after boot).
//
// A recording under way when Orbitune quits or crashes is marked in the
// file as begun (handledUntil at its start; past it once it ended): at the
// next start it records the rest (due() with late set) if its time is not
// over, else it is told as missed with cutShort set.
//
// A file written by a newer Orbitune is only read: its schedules run, every
// change is refused saying why (fileFailed() once at start), and runs
// handled are kept in memory.
// Keeping awake: dueSoon() says whether an enabled schedule runs within
// the awake window, or a run with a length is under way; the wiring holds
// the sleep inhibitor while it says so. It cannot wake a suspended
// computer.
class Scheduler : public QObject {
    Q_OBJECT
public:
    using ProgramList = std::function<QList<programindex::Program>()>;

    enum class Standing {
        Waiting,     // enabled, a run ahead
        Running,     // a run with a length is under way
        Disabled,    // switched off
        ProgramGone, // its program is no longer in the list
        Done,        // no run left (a single run that was handled)
    };
    Q_ENUM(Standing)

    static constexpr qint64 kAlarmGraceMs = 10 * 60 * 1000;
    // How late a run may be told and still count as on time (a wait, so
    // scaled by the clock).
    static constexpr qint64 kOnTimeMs = 1000;
    // How often the system clock is read when nothing is due sooner (real
    // time: it watches the system clock, not the program's waits).
    static constexpr int kClockPollMs = 30000;
    // How far the system clock may drift from the steady clock between two
    // readings before it counts as a jump (real milliseconds).
    static constexpr qint64 kJumpMs = 2000;

    // `programs` gives the program list; by default the data file's
    // (ProgramIndex), followed as it changes.
    explicit Scheduler(const QString &path = defaultPath(), ProgramList programs = {},
                       QObject *parent = nullptr);
    ~Scheduler() override;

    // <GenericDataLocation>/orbitune/schedules.sqlite
    static QString defaultPath();

    // Opens the file, tells what it refused or kept aside, tells the runs
    // missed since it was last used, then runs the schedules. Connect first.
    void start();

    QList<schedule::Schedule> schedules() const { return m_schedules; }
    std::optional<schedule::Schedule> find(qint64 id) const;
    // Rows of the file that make no schedule, with the reason for each.
    QList<schedule::Problem> refusedRows() const { return m_refused; }
    // Where an unreadable file was put aside at start; empty when none was.
    QString keptAsideAs() const;
    // The file was written by a newer Orbitune: nothing is written to it.
    bool isReadOnly() const;
    Standing standing(qint64 id) const;
    // The next run (UTC), null when none is ahead or it is disabled.
    QDateTime nextRun(qint64 id) const;

    // Changes, written to the file at once; false (0 for add) when the
    // schedule makes no sense or the file refused it, lastError() saying
    // which. add() and update() take everything but the id (add) and
    // handledUntil (both). remove() also takes a refused row's id.
    qint64 add(const schedule::Schedule &s);
    bool update(const schedule::Schedule &s);
    bool setEnabled(qint64 id, bool enabled);
    bool remove(qint64 id);
    QString lastError() const { return m_error; }

    // How long before a run the computer should stay awake; 0 (the
    // default) counts only runs under way.
    void setAwakeWindow(qint64 ms);
    bool dueSoon() const { return m_dueSoon; }
    // Whether an enabled schedule whose program is listed runs within `ms`.
    bool nextDueWithin(qint64 ms) const;

public Q_SLOTS:
    // Looks at the clock now: after a wake from suspend, a network return,
    // a change of the time zone.
    void recheck();
    // Reads the program list again (connected by itself to the data file
    // when the list is the default one).
    void programListChanged();

Q_SIGNALS:
    // Start the run: record `s`'s program until `o.endsAt`, or ring the
    // alarm. `s.program` is the list's entry for it now.
    void due(const schedule::Schedule &s, const schedule::Occurrence &o);
    // The run's length is over (or its schedule was disabled or removed
    // while it ran).
    void finished(const schedule::Schedule &s, const schedule::Occurrence &o);
    void missed(const schedule::Schedule &s, const schedule::Occurrence &o);
    // Schedules, their standing or their next runs changed.
    void changed();
    void refused(const QList<schedule::Problem> &rows);
    void keptAside(const QString &path);
    // The file could not be opened, or a run's being handled could not be
    // written (it may be told again at the next start).
    void fileFailed(const QString &message);
    void dueSoonChanged(bool dueSoon);

private:
    void openFile();
    void resumeUnfinished();
    // Notes in memory and the file that `id`'s runs up to `until` were handled.
    void setHandled(qint64 id, const QDateTime &until);
    void readList();
    void check();
    void noticeJump(const QDateTime &now, qint64 steady);
    void clockWentBack(const QDateTime &now);
    void handle(qint64 id, const QDateTime &now);
    void endRun(qint64 id);
    void refresh();
    void arm(const QDateTime &now);
    void updateDueSoon(const QDateTime &now);
    qsizetype indexOf(qint64 id) const;
    bool isListed(const schedule::Schedule &s) const;
    schedule::Schedule asListed(const schedule::Schedule &s) const;
    QDateTime nextRunAfter(const schedule::Schedule &s, const QDateTime &now) const;

    std::unique_ptr<ScheduleFile> m_file;
    ProgramList m_programs;
    ProgramListWatcher *m_watcher = nullptr;
    QList<schedule::Schedule> m_schedules;
    QList<schedule::Problem> m_refused;
    QHash<QString, QVariantMap> m_listed; // the list's entries by their URL's key
    QHash<qint64, schedule::Occurrence> m_running;
    // Where a schedule was handled up to before runs of it were reported
    // missed (none of them started), for a clock that goes back to undo.
    QHash<qint64, QDateTime> m_missedFrom;
    QTimer m_timer;
    QDateTime m_wallRef;
    qint64 m_steadyRef = 0;
    qint64 m_awakeWindowMs = 0;
    bool m_started = false;
    bool m_resumed = false; // runs cut short by a quit were looked at
    bool m_dueSoon = false;
    bool m_toldTrouble = false;
    QString m_toldKeptAside;
    QString m_error;
};
