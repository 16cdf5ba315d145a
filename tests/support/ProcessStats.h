#pragma once

#include <QDir>
#include <QFile>

// Figures of this process from /proc, for tests that check nothing grows.
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

} // namespace processstats
