#include "platform/cast/AvahiQtPoll.h"

#include <QSocketNotifier>
#include <QTimer>

#include <avahi-common/timeval.h>

#include <algorithm>
#include <memory>

// What Avahi's interface calls a watch and a timeout; it never looks inside.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void *userdata = nullptr;
    AvahiWatchEvent happened = AvahiWatchEvent(0);
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void *userdata = nullptr;
    std::unique_ptr<QTimer> timer = std::make_unique<QTimer>();
};

namespace {
// The watch or timeout whose callback runs (on the main thread).
const void *g_firing = nullptr;

// Avahi frees watches and timeouts from their own callbacks: a notifier or
// timer whose signal is under way goes once that returned.
template <typename T> void letGo(std::unique_ptr<T> &object, bool firing)
{
    if (!object)
        return;
    object->disconnect();
    if (firing)
        object.release()->deleteLater();
    else
        object.reset();
}

void fire(AvahiWatch *watch, AvahiWatchEvent event)
{
    watch->happened = event;
    g_firing = watch;
    watch->callback(watch, watch->fd, event, watch->userdata);
    g_firing = nullptr;
}

// The watch's notifier of `type` for `event`, made when Avahi wants that
// event and let go when it no longer does.
void follow(AvahiWatch *watch, std::unique_ptr<QSocketNotifier> &notifier,
            QSocketNotifier::Type type, AvahiWatchEvent event, bool wanted)
{
    if (wanted && !notifier) {
        notifier = std::make_unique<QSocketNotifier>(watch->fd, type);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                         [watch, event] { fire(watch, event); });
    } else if (!wanted) {
        letGo(notifier, g_firing == watch);
    }
}

void watchUpdate(AvahiWatch *watch, AvahiWatchEvent events)
{
    follow(watch, watch->read, QSocketNotifier::Read, AVAHI_WATCH_IN, events & AVAHI_WATCH_IN);
    follow(watch, watch->write, QSocketNotifier::Write, AVAHI_WATCH_OUT, events & AVAHI_WATCH_OUT);
}

AvahiWatch *watchNew(const AvahiPoll *, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void *userdata)
{
    auto *watch = new AvahiWatch;
    watch->fd = fd;
    watch->callback = callback;
    watch->userdata = userdata;
    watchUpdate(watch, events);
    return watch;
}

AvahiWatchEvent watchGetEvents(AvahiWatch *watch)
{
    return watch->happened;
}

void watchFree(AvahiWatch *watch)
{
    letGo(watch->read, g_firing == watch);
    letGo(watch->write, g_firing == watch);
    delete watch;
}

// Avahi's times are absolute, on the wall clock it reads itself.
void timeoutUpdate(AvahiTimeout *timeout, const struct timeval *tv)
{
    if (!tv) {
        timeout->timer->stop();
        return;
    }
    const AvahiUsec late = avahi_age(tv);
    timeout->timer->start(int(std::clamp<AvahiUsec>(-late / 1000, 0, 24 * 3600 * 1000)));
}

AvahiTimeout *timeoutNew(const AvahiPoll *, const struct timeval *tv, AvahiTimeoutCallback callback,
                         void *userdata)
{
    auto *timeout = new AvahiTimeout;
    timeout->callback = callback;
    timeout->userdata = userdata;
    timeout->timer->setSingleShot(true);
    QObject::connect(timeout->timer.get(), &QTimer::timeout, timeout->timer.get(), [timeout] {
        g_firing = timeout;
        timeout->callback(timeout, timeout->userdata);
        g_firing = nullptr;
    });
    timeoutUpdate(timeout, tv);
    return timeout;
}

void timeoutFree(AvahiTimeout *timeout)
{
    letGo(timeout->timer, g_firing == timeout);
    delete timeout;
}
} // namespace

AvahiQtPoll::AvahiQtPoll()
{
    m_api.userdata = this;
    m_api.watch_new = watchNew;
    m_api.watch_update = watchUpdate;
    m_api.watch_get_events = watchGetEvents;
    m_api.watch_free = watchFree;
    m_api.timeout_new = timeoutNew;
    m_api.timeout_update = timeoutUpdate;
    m_api.timeout_free = timeoutFree;
}
