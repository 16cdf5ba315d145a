#pragma once

#include <avahi-common/watch.h>

// Avahi's event loop interface over the main thread's Qt event loop: its
// file descriptors watched by QSocketNotifiers, its timeouts by QTimers, so
// that the client's callbacks run on the main thread and nothing blocks.
class AvahiQtPoll {
public:
    AvahiQtPoll();
    AvahiQtPoll(const AvahiQtPoll &) = delete;
    AvahiQtPoll &operator=(const AvahiQtPoll &) = delete;

    const AvahiPoll *api() const { return &m_api; }

private:
    AvahiPoll m_api;
};
