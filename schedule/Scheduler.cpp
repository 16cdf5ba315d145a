#include "schedule/Scheduler.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "schedule/ScheduleFile.h"
#include "store/ProgramEntry.h"
#include "store/ProgramIndex.h"

#include <QStandardPaths>

#include <cmath>

using schedule::Action;
using schedule::Occurrence;
using schedule::Schedule;

namespace {

// Runs further back are not counted one by one when catching up.
constexpr qint64 kCatchUpDays = 366;

QDateTime now()
{
    return Clock::shared()->currentDateTimeUtc();
}

// The key ProgramIndex gives the first program with this URL; a second
// program with the same URL has it with "_2" appended.
QString urlKey(const QString &url)
{
    return programindex::programs({program::make(QString(), QString(), url)}).value(0).key;
}

} // namespace

Scheduler::Scheduler(const QString &path, ProgramList programs, QObject *parent)
    : QObject(parent), m_file(std::make_unique<ScheduleFile>(path)), m_programs(std::move(programs))
{
    if (!m_programs) {
        m_programs = [] { return programindex::programs(); };
        m_watcher = new ProgramListWatcher(this);
        connect(m_watcher, &ProgramListWatcher::changed, this, &Scheduler::programListChanged);
    }
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Scheduler::check);
}

Scheduler::~Scheduler() = default;

QString Scheduler::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/orbitune/schedules.sqlite");
}

QString Scheduler::keptAsideAs() const
{
    return m_file->keptAsideAs();
}

bool Scheduler::isReadOnly() const
{
    return m_file->isReadOnly();
}

void Scheduler::start()
{
    if (m_started)
        return;
    m_started = true;
    openFile();
    readList();
    resumeUnfinished();
    check();
}

void Scheduler::openFile()
{
    // A file that cannot be opened is tried again at every look at the
    // clock, and told once.
    const ScheduleFile::Opened opened = m_file->open();
    if (m_file->keptAsideAs() != m_toldKeptAside) {
        m_toldKeptAside = m_file->keptAsideAs();
        Q_EMIT keptAside(m_toldKeptAside);
    }
    if (opened != ScheduleFile::Opened::Ready || !m_file->load(&m_schedules, &m_refused)) {
        if (!m_toldTrouble)
            Q_EMIT fileFailed(
                opened == ScheduleFile::Opened::Busy
                    ? QStringLiteral("The schedules file %1 is held by another program; Orbitune "
                                     "tries again.")
                          .arg(m_file->path())
                    : QStringLiteral("The schedules file %1 cannot be used: %2.")
                          .arg(m_file->path(), m_file->lastError()));
        m_toldTrouble = true;
        return;
    }
    m_toldTrouble = false;
    if (m_file->isReadOnly())
        Q_EMIT fileFailed(QStringLiteral("The schedules file %1 was written by a newer version of "
                                         "Orbitune: its schedules run, but changes to them cannot "
                                         "be saved.")
                              .arg(m_file->path()));
    // A row added by hand has never been handled: its runs start from now.
    for (Schedule &s : m_schedules) {
        if (!s.handledUntil.isValid()) {
            s.handledUntil = now();
            if (schedule::begunNotEnded(s))
                s.handledUntil = s.handledUntil.addMSecs(1);
            m_file->setHandledUntil(s.id, s.handledUntil);
        }
    }
    if (!m_refused.isEmpty())
        Q_EMIT refused(m_refused);
    Q_EMIT changed();
}

void Scheduler::resumeUnfinished()
{
    if (m_resumed || !m_file->isOpen())
        return;
    m_resumed = true;
    const QDateTime t = now();
    QList<qint64> ids;
    for (const Schedule &s : std::as_const(m_schedules)) {
        if (s.enabled && schedule::begunNotEnded(s) && !m_running.contains(s.id))
            ids << s.id;
    }
    for (const qint64 id : ids) {
        const qsizetype i = indexOf(id);
        if (i < 0)
            continue;
        const Schedule s = m_schedules.at(i);
        Occurrence o = schedule::occurrence(s, s.handledUntil);
        o.late = true;
        o.programGone = !isListed(s);
        if (!o.programGone && o.endsAt.isValid() && t < o.endsAt) {
            NSLog(lcSchedule(), QtInfoMsg, "schedules: %@ was recording at the quit; the rest",
                  s.name());
            m_running.insert(id, o);
            Q_EMIT due(asListed(s), o);
            continue;
        }
        o.cutShort = true;
        setHandled(id, o.at.addMSecs(1));
        NSLog(lcSchedule(), QtInfoMsg, "schedules: %@ was cut short by the quit", s.name());
        Q_EMIT missed(asListed(s), o);
    }
}

void Scheduler::setHandled(qint64 id, const QDateTime &until)
{
    const qsizetype i = indexOf(id);
    if (i < 0)
        return;
    m_schedules[i].handledUntil = until;
    // A newer Orbitune's file is only read: handled in memory alone.
    if (!m_file->setHandledUntil(id, until) && !m_file->isReadOnly())
        Q_EMIT fileFailed(QStringLiteral("Orbitune could not note in the schedules file that "
                                         "\"%1\" was handled: %2.")
                              .arg(m_schedules.at(i).name(), m_file->lastError()));
}

void Scheduler::recheck()
{
    if (m_started)
        check();
}

void Scheduler::programListChanged()
{
    readList();
    if (m_started)
        refresh();
}

void Scheduler::readList()
{
    m_listed.clear();
    for (const programindex::Program &p : m_programs()) {
        // Every program with the URL has its key or the key with "_N".
        const QString key = p.key.section(QLatin1Char('_'), 0, 0);
        if (!m_listed.contains(key))
            m_listed.insert(key, p.entry);
    }
}

bool Scheduler::isListed(const Schedule &s) const
{
    return m_listed.contains(urlKey(s.url()));
}

Schedule Scheduler::asListed(const Schedule &s) const
{
    Schedule shown = s;
    shown.program = m_listed.value(urlKey(s.url()), s.program);
    return shown;
}

qsizetype Scheduler::indexOf(qint64 id) const
{
    for (qsizetype i = 0; i < m_schedules.size(); ++i) {
        if (m_schedules.at(i).id == id)
            return i;
    }
    return -1;
}

std::optional<Schedule> Scheduler::find(qint64 id) const
{
    const qsizetype i = indexOf(id);
    return i < 0 ? std::nullopt : std::optional<Schedule>(m_schedules.at(i));
}

QDateTime Scheduler::nextRunAfter(const Schedule &s, const QDateTime &now) const
{
    if (!s.enabled)
        return QDateTime();
    return schedule::nextRun(s, std::max(s.handledUntil, now)).value_or(QDateTime());
}

QDateTime Scheduler::nextRun(qint64 id) const
{
    const qsizetype i = indexOf(id);
    return i < 0 ? QDateTime() : nextRunAfter(m_schedules.at(i), now());
}

Scheduler::Standing Scheduler::standing(qint64 id) const
{
    const qsizetype i = indexOf(id);
    if (i < 0)
        return Standing::Done;
    const Schedule &s = m_schedules.at(i);
    if (!s.enabled)
        return Standing::Disabled;
    if (m_running.contains(id))
        return Standing::Running;
    if (!isListed(s))
        return Standing::ProgramGone;
    return nextRunAfter(s, now()).isValid() ? Standing::Waiting : Standing::Done;
}

bool Scheduler::nextDueWithin(qint64 ms) const
{
    const QDateTime t = now();
    const QDateTime until = t.addMSecs(ms);
    for (const Schedule &s : m_schedules) {
        const QDateTime next = nextRunAfter(s, t);
        if (next.isValid() && next <= until && isListed(s))
            return true;
    }
    return false;
}

void Scheduler::setAwakeWindow(qint64 ms)
{
    m_awakeWindowMs = std::max<qint64>(0, ms);
    if (m_started)
        refresh();
}

void Scheduler::check()
{
    Clock *clock = Clock::shared();
    const QDateTime t = clock->currentDateTimeUtc();
    noticeJump(t, clock->steadyMs());
    if (!m_file->isOpen()) {
        openFile();
        if (!m_file->isOpen()) {
            arm(t);
            return;
        }
        resumeUnfinished();
    }
    QList<qint64> ended;
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) {
        if (it.value().endsAt <= t)
            ended << it.key();
    }
    for (const qint64 id : ended)
        endRun(id);
    // Whoever hears a run may change the schedules: each is looked up anew.
    QList<qint64> ids;
    for (const Schedule &s : m_schedules)
        ids << s.id;
    bool listRead = false;
    for (const qint64 id : ids) {
        const qsizetype i = indexOf(id);
        if (i < 0 || !m_schedules.at(i).enabled)
            continue;
        const auto next = schedule::nextRun(m_schedules.at(i), m_schedules.at(i).handledUntil);
        if (!next || *next > t)
            continue;
        if (!listRead) {
            // Read once the first run is due: the list may have changed in a
            // way the file watcher did not tell yet.
            listRead = true;
            readList();
        }
        handle(id, t);
    }
    arm(t);
    updateDueSoon(t);
}

void Scheduler::noticeJump(const QDateTime &t, qint64 steady)
{
    const Clock *clock = Clock::shared();
    if (m_wallRef.isValid()) {
        // Both clocks moved alike unless the system clock was set or the
        // machine slept (the steady clock stops while it sleeps).
        const double moved = double(m_wallRef.msecsTo(t)) * clock->timeScale();
        const double drift = moved - double(steady - m_steadyRef);
        if (std::abs(drift) > double(kJumpMs)) {
            NSLog(lcSchedule(), QtInfoMsg,
                  "schedules: the clock moved %ld s against the steady clock; runs recomputed",
                  qint64(drift / clock->timeScale() / 1000));
            if (drift < 0)
                clockWentBack(t);
            Q_EMIT changed();
        }
    }
    m_wallRef = t;
    m_steadyRef = steady;
}

void Scheduler::clockWentBack(const QDateTime &t)
{
    // Runs reported missed that are ahead again were missed only because
    // the clock was wrong: they run when their time comes. Runs started
    // stay handled.
    const auto missed = m_missedFrom;
    m_missedFrom.clear();
    for (auto it = missed.cbegin(); it != missed.cend(); ++it) {
        const qsizetype i = indexOf(it.key());
        if (i < 0 || m_schedules.at(i).handledUntil <= t)
            continue;
        NSLog(lcSchedule(), QtInfoMsg, "schedules: %@ is ahead again", m_schedules.at(i).name());
        setHandled(it.key(), std::max(it.value(), t));
    }
}

void Scheduler::handle(qint64 id, const QDateTime &t)
{
    Schedule s = m_schedules.at(indexOf(id));
    // The runs since the schedule was last handled; of those more than a
    // year back, only the first.
    QList<QDateTime> runs;
    QDateTime from = s.handledUntil;
    const QDateTime yearBack = t.addDays(-kCatchUpDays);
    if (const auto first = schedule::nextRun(s, from); first && *first < yearBack) {
        runs << *first;
        from = yearBack;
    }
    for (auto at = schedule::nextRun(s, from); at && *at <= t; at = schedule::nextRun(s, *at))
        runs << *at;
    if (runs.isEmpty())
        return;
    Occurrence o = schedule::occurrence(s, runs.last());
    const qint64 lateness = o.at.msecsTo(t);
    o.late = Clock::shared()->scaled(lateness) > kOnTimeMs;
    o.programGone = !isListed(s);
    bool run = !o.programGone;
    if (run && o.late) {
        run = s.action == Action::Play ? lateness <= kAlarmGraceMs
                                       : o.endsAt.isValid() && t < o.endsAt;
    }

    // Handled before anyone hears of it: a run is told once, even to a
    // listener that looks at the clock again from its slot. A recording
    // begun is marked at its start until it ends; any other run just past.
    const bool begun = run && o.endsAt.isValid() && s.action == Action::Record;
    if (run)
        m_missedFrom.remove(id);
    else if (!m_missedFrom.contains(id))
        m_missedFrom.insert(id, s.handledUntil);
    s.handledUntil = begun ? o.at : o.at.addMSecs(1);
    setHandled(id, s.handledUntil);
    const Schedule shown = asListed(s);
    if (runs.size() > 1) {
        Occurrence earlier = schedule::occurrence(s, runs.at(runs.size() - 2));
        earlier.late = true;
        earlier.alsoMissed = int(runs.size()) - 2;
        if (run) {
            NSLog(lcSchedule(), QtInfoMsg, "schedules: %@ missed at %@ and %ld more", s.name(),
                  earlier.at, earlier.alsoMissed);
            Q_EMIT missed(shown, earlier);
        } else {
            o.alsoMissed = int(runs.size()) - 1;
        }
    }
    if (!run) {
        NSLog(lcSchedule(), QtInfoMsg, "schedules: %@ missed at %@ (%@)", s.name(), o.at,
              o.programGone ? QStringLiteral("program no longer in the list")
                            : QStringLiteral("late"));
        Q_EMIT missed(shown, o);
        return;
    }
    if (m_running.contains(id))
        endRun(id);
    if (o.endsAt.isValid())
        m_running.insert(id, o);
    NSLog(lcSchedule(), QtInfoMsg, "schedules: %@ due at %@%@", s.name(), o.at,
          o.late ? QStringLiteral(", late") : QString());
    Q_EMIT due(shown, o);
}

void Scheduler::endRun(qint64 id)
{
    const auto it = m_running.constFind(id);
    if (it == m_running.cend())
        return;
    const Occurrence o = it.value();
    m_running.erase(it);
    const qsizetype i = indexOf(id);
    if (i < 0)
        return;
    if (m_schedules.at(i).handledUntil == o.at)
        setHandled(id, o.at.addMSecs(1)); // ended: not to be resumed
    Q_EMIT finished(asListed(m_schedules.at(i)), o);
}

void Scheduler::arm(const QDateTime &t)
{
    // The earliest of: a run, the end of one under way, the start of the
    // awake window before a run.
    QDateTime next;
    const auto consider = [&](const QDateTime &at) {
        if (at.isValid() && at > t && (!next.isValid() || at < next))
            next = at;
    };
    for (const Schedule &s : m_schedules) {
        const QDateTime run = nextRunAfter(s, t);
        consider(run);
        if (run.isValid() && m_awakeWindowMs > 0)
            consider(run.addMSecs(-m_awakeWindowMs));
    }
    for (const Occurrence &o : std::as_const(m_running))
        consider(o.endsAt);
    int wait = kClockPollMs;
    if (next.isValid())
        wait = std::min(wait, Clock::shared()->scaled(t.msecsTo(next)));
    m_timer.start(std::max(wait, 1));
}

void Scheduler::updateDueSoon(const QDateTime &t)
{
    bool soon = !m_running.isEmpty();
    for (const Schedule &s : std::as_const(m_schedules)) {
        if (soon)
            break;
        const QDateTime run = nextRunAfter(s, t);
        soon = run.isValid() && t.msecsTo(run) <= m_awakeWindowMs && m_awakeWindowMs > 0 &&
               isListed(s);
    }
    if (soon == m_dueSoon)
        return;
    m_dueSoon = soon;
    Q_EMIT dueSoonChanged(soon);
}

void Scheduler::refresh()
{
    const QDateTime t = now();
    arm(t);
    updateDueSoon(t);
    Q_EMIT changed();
}

// The changes to the schedules: each written to the file at once, then the
// next runs worked out again.

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

#include "moc_Scheduler.cpp"
