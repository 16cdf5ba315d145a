#include "support/TestEnv.h"

#include "platform/base/Resources.h"

#include <QDir>
#include <QFile>
#include <QThreadPool>

#include <glib.h>

#include <cstdlib>

namespace {
TestEnv *g_env = nullptr;
}

TestEnv::TestEnv()
{
    g_env = this;
    orbitune::initResources();
    const QString base = m_root.path();
    for (const char *sub : {"data", "cache", "config", "runtime"})
        QDir(base).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(base + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_DATA_HOME", (base + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (base + QStringLiteral("/cache")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (base + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (base + QStringLiteral("/runtime")).toUtf8());
    qputenv("ORBITUNE_NO_SYSLOG", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Pooled threads wait to the end instead of ending on their own after a
    // while idle: a thread ending while LeakSanitizer scans the threads at
    // exit can crash its tracer, which fails a test that passed.
    g_thread_pool_set_max_idle_time(0);
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
}

TestEnv *TestEnv::instance()
{
    return g_env;
}

QString TestEnv::dataDir() const
{
    return m_root.path() + QStringLiteral("/data/orbitune");
}

QString TestEnv::dataFile() const
{
    return dataDir() + QStringLiteral("/data.plist");
}

QString fixturePath(const QString &name)
{
    return QString::fromLocal8Bit(qgetenv("ORBITUNE_SOURCE_DIR")) +
           QStringLiteral("/tests/fixtures/") + name;
}

QByteArray readFixture(const QString &name)
{
    QFile f(fixturePath(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return f.readAll();
}
