#include "support/ChildProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace childprocess {

std::unique_ptr<QProcess> start(const QString &program, const QStringList &arguments,
                                const QProcessEnvironment &env, const QString &stderrFile)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessEnvironment(env);
    if (stderrFile.isEmpty())
        process->setProcessChannelMode(QProcess::MergedChannels);
    else
        process->setStandardErrorFile(stderrFile);
    process->setChildProcessModifier([] {
        // Dies with the test process, even if that one crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process->start();
    if (!process->waitForStarted(5000)) {
        qWarning("could not start %s: %s", qPrintable(program), qPrintable(process->errorString()));
        return nullptr;
    }
    return process;
}

void stop(QProcess *process, int timeoutMs)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate(); // SIGTERM to this PID only
    if (!process->waitForFinished(timeoutMs)) {
        process->kill();
        process->waitForFinished(2000);
    }
}

QString waitForLine(QProcess *process, const QByteArray &prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        while (process->canReadLine()) {
            const QByteArray line = process->readLine().trimmed();
            if (line.startsWith(prefix))
                return QString::fromUtf8(line.mid(prefix.size()).trimmed());
        }
        if (process->state() == QProcess::NotRunning)
            return {};
        process->waitForReadyRead(
            int(qMax<qint64>(1, qMin<qint64>(200, deadline.remainingTime()))));
    }
    return {};
}

quint16 freePort(quint16 from, int span)
{
    // A port handed out stays this process's until it ends: no other test
    // process (nor this one) is handed it while its server is not yet
    // listening on it.
    static std::vector<std::unique_ptr<QLockFile>> held;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = quint16(from + QRandomGenerator::global()->bounded(span));
        auto lock = std::make_unique<QLockFile>(
            QStringLiteral("%1/orbitune-test-port-%2.lock").arg(QDir::tempPath()).arg(port));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0))
            continue;
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, port)) {
            held.push_back(std::move(lock));
            return port;
        }
    }
    return 0;
}

bool waitForTcpPort(quint16 port, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(500))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void shareGstRegistry()
{
    if (qEnvironmentVariableIsSet("GST_REGISTRY_1_0"))
        return;
    const QString path = QStringLiteral("%1/orbitune-test-gst-registry-%2.bin")
                             .arg(QDir::tempPath())
                             .arg(::getuid());
    qputenv("GST_REGISTRY_1_0", path.toUtf8());
    // On a fresh machine the first tests start together, and each of them and
    // of their gst-launch-1.0 helpers would scan every plugin at once (on a
    // busy two-core machine that took longer than a source is given to come
    // up). The first one builds the registry; the others wait for it.
    QLockFile lock(path + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(300000) || QFileInfo::exists(path))
        return;
    QProcess inspect;
    inspect.start(QStringLiteral("gst-inspect-1.0"), {QStringLiteral("coreelements")});
    if (!inspect.waitForFinished(300000))
        inspect.kill();
    inspect.waitForFinished();
}

} // namespace childprocess
