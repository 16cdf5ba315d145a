#pragma once

// Small helpers shared by the store tests: raw file access, the files kept
// aside next to the data file, and a child-process run of python3's plistlib.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

namespace storetest {

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Files the store kept aside instead of overwriting, oldest name first.
inline QStringList keptAside(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("data.plist.unreadable-*")},
                               QDir::Files | QDir::Dirs, QDir::Name);
}

// Runs a short python3 program with the given arguments; returns its exit
// code (-1 when python3 could not run) and what it printed.
inline int runPython(const QString &program, const QStringList &args, QString *output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), program} + args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Lowers the file-size limit of this process for its lifetime, so writes of
// regular files beyond `bytes` fail with EFBIG (even for root).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_active)
            setrlimit(RLIMIT_FSIZE, &m_saved);
    }
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    bool m_active = false;
};

} // namespace storetest
