#pragma once

#include <QFile>
#include <QList>

// The calling thread's time on a CPU and time runnable but waiting for one,
// in nanoseconds.
struct SchedStat {
    qint64 runNs = 0;
    qint64 waitNs = 0;
};
inline SchedStat threadSchedStat()
{
    QFile schedstat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!schedstat.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> fields = schedstat.readAll().split(' ');
    if (fields.size() < 2)
        return {};
    return {fields[0].toLongLong(), fields[1].toLongLong()};
}
