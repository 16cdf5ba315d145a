#pragma once

#include <QByteArray>

#include <sys/types.h>

// A private D-Bus session bus for one test process: starts dbus-daemon,
// points DBUS_SESSION_BUS_ADDRESS at it, and stops it (by its PID) when
// destroyed. Create it before QApplication so Qt's session bus is this one.
// The daemon is also told to exit should the test process die first.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    bool isRunning() const { return m_pid > 0 && !m_address.isEmpty(); }
    QByteArray address() const { return m_address; }

private:
    pid_t m_pid = -1;
    QByteArray m_address;
};
