#include "schedule/Schedule.h"

#include "store/ProgramEntry.h"

namespace schedule {

namespace {

constexpr qint64 kDaySecs = 24 * 3600;

// The local zone's offset from UTC, in seconds, at `secs` since the epoch.
int offsetAt(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::LocalTime).offsetFromUtc();
}

} // namespace

QString Schedule::name() const
{
    return program::name(program);
}

QString Schedule::url() const
{
    return program::url(program);
}

QString problemWith(const Schedule &s)
{
    if (s.url().trimmed().isEmpty())
        return QStringLiteral("it names no program address");
    if (!s.time.isValid())
        return QStringLiteral("its start time is not a time of day");
    if (s.date.isValid() && s.weekdays != 0)
        return QStringLiteral("it has both a date and weekdays");
    if (!s.date.isValid() && (s.weekdays <= 0 || s.weekdays > kAllWeekdays))
        return QStringLiteral("it has neither a date nor a set of weekdays");
    if (s.lengthMinutes < 0 || s.lengthMinutes > kMaxLengthMinutes)
        return QStringLiteral("its length is not between 0 and %1 minutes").arg(kMaxLengthMinutes);
    if (s.action == Action::Record && s.lengthMinutes == 0)
        return QStringLiteral("it records for no time");
    if (s.fadeInSeconds < 0 || s.fadeInSeconds > kMaxFadeInSeconds)
        return QStringLiteral("its fade-in is not between 0 and %1 seconds").arg(kMaxFadeInSeconds);
    if (s.volume < 0 || s.volume > 100)
        return QStringLiteral("its volume is not between 0 and 100");
    return QString();
}

QDateTime localInstant(QDate date, QTime time)
{
    // The local reading in seconds, counted as if it were UTC; an instant
    // shows it when that instant plus its offset equals it. The offsets a
    // day before and after are the only ones the night can have.
    const qint64 reading =
        QDateTime(date, QTime(time.hour(), time.minute(), time.second()), Qt::UTC)
            .toSecsSinceEpoch();
    const int before = offsetAt(reading - kDaySecs);
    const int after = offsetAt(reading + kDaySecs);
    std::optional<qint64> first;
    for (const int offset : {before, after}) {
        const qint64 at = reading - offset;
        if (offsetAt(at) == offset && (!first || at < *first))
            first = at;
    }
    if (!first) {
        // In the gap: the moment the clocks jumped, found between the last
        // instant read with the old offset and the first with the new.
        qint64 low = reading - after; // still the old offset
        qint64 high = reading - before;
        while (high - low > 1) {
            const qint64 mid = low + (high - low) / 2;
            (offsetAt(mid) == before ? low : high) = mid;
        }
        first = high;
    }
    return QDateTime::fromSecsSinceEpoch(*first, Qt::UTC);
}

std::optional<QDateTime> nextRun(const Schedule &s, const QDateTime &after)
{
    if (!s.time.isValid())
        return std::nullopt;
    if (!s.repeats()) {
        const QDateTime at = localInstant(s.date, s.time);
        return at > after ? std::optional<QDateTime>(at) : std::nullopt;
    }
    // A run on a local date falls within that date, so the first run after
    // `after` is on its date or one of the seven after it.
    QDate day = after.toLocalTime().date();
    for (int i = 0; i < 8; ++i, day = day.addDays(1)) {
        if (!(s.weekdays & (1 << (day.dayOfWeek() - 1))))
            continue;
        const QDateTime at = localInstant(day, s.time);
        if (at > after)
            return at;
    }
    return std::nullopt;
}

Occurrence occurrence(const Schedule &s, const QDateTime &at)
{
    Occurrence o;
    o.at = at;
    if (s.lengthMinutes > 0)
        o.endsAt = at.addSecs(qint64(s.lengthMinutes) * 60);
    return o;
}

bool begunNotEnded(const Schedule &s)
{
    if (s.action != Action::Record || !s.handledUntil.isValid())
        return false;
    const auto run = nextRun(s, s.handledUntil.addMSecs(-1));
    return run && *run == s.handledUntil;
}

} // namespace schedule
