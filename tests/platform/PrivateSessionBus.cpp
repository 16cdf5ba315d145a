#include "PrivateSessionBus.h"

#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

PrivateSessionBus::PrivateSessionBus()
{
    int out[2];
    if (pipe(out) != 0)
        return;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--print-address", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    m_pid = pid;

    // dbus-daemon prints the address as one line once it listens.
    char buf[512];
    QByteArray line;
    while (!line.contains('\n')) {
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buf, n);
    }
    close(out[0]);
    m_address = line.trimmed();
    if (m_address.isEmpty()) {
        std::fprintf(stderr, "PrivateSessionBus: dbus-daemon printed no address\n");
        return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}
