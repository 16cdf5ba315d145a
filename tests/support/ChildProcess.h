#pragma once

#include <QProcess>
#include <QStringList>

#include <memory>

// Starts helper programs for tests so that they never outlive the test: the
// kernel kills them if the test process dies, and stop() ends them by PID.
namespace childprocess {

// Starts program and waits until it has been executed. Returns nullptr (and
// logs why) if it could not start. stdout stays readable; stderr is merged
// into it unless stderrFile is given.
std::unique_ptr<QProcess>
start(const QString &program, const QStringList &arguments,
      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
      const QString &stderrFile = QString());

// SIGTERM, then SIGKILL after timeoutMs; always reaps the process.
void stop(QProcess *process, int timeoutMs = 3000);

// Reads stdout until a line starting with prefix arrives; returns the rest of
// that line, or an empty string on time-out or exit.
QString waitForLine(QProcess *process, const QByteArray &prefix, int timeoutMs);

// A TCP port on 127.0.0.1 in [from, from + span) that nothing listens on
// right now. By default below the kernel's ephemeral range, so a server that
// binds port 0 later cannot be handed the same port. A port handed out is
// not handed out again, to this or another test process, while this one
// runs.
quint16 freePort(quint16 from = 20000, int span = 12000);

bool waitForTcpPort(quint16 port, int timeoutMs);

// Test processes get a private XDG cache, which would make every GStreamer
// process (ours and each gst-launch-1.0 helper) rescan all plugins. Points
// GST_REGISTRY_1_0 at one registry file per user, unless already set, and
// builds that file first if no test has yet.
void shareGstRegistry();

} // namespace childprocess
