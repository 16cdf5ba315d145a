#pragma once

#include <QDir>
#include <QFile>

#include <algorithm>
#include <unistd.h>
#include <vector>

// Figures of this process (or another one) from /proc, for tests that check
// nothing grows and for the benchmarks.
namespace processstats {

inline QByteArray statusField(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(qsizetype(qstrlen(name))).trimmed();
    }
    return {};
}

inline double residentMb()
{
    return statusField("VmRSS:").split(' ').first().toDouble() / 1024.0;
}

inline int threads()
{
    return statusField("Threads:").toInt();
}

inline int openFds()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

// CPU time used so far and resident memory of any process.
struct Usage {
    double cpuSeconds = 0;
    double rssMb = 0;
};

inline Usage usageOf(qint64 pid)
{
    Usage u;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        // Fields after the command name, which may contain spaces.
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 13)
            u.cpuSeconds = double(f.at(11).toLongLong() + f.at(12).toLongLong()) /
                           double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                u.rssMb = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return u;
}

// CPU time of every thread of `pid` so far, in seconds, to the nanosecond
// (the clock ticks of /proc/PID/stat are too coarse for a player that uses
// a percent of a core or less).
inline double schedCpuSeconds(qint64 pid)
{
    double total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

// The median of `values`, -1 without any.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace processstats
