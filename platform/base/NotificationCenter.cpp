#include "platform/base/NotificationCenter.h"

#include <algorithm>

NotificationCenter *NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return &center;
}

void NotificationCenter::addObserver(QObject *observer, const QString &name,
                                     std::function<void()> handler)
{
    m_entries.push_back(Entry{observer, observer, name, std::move(handler)});
}

void NotificationCenter::removeObserver(QObject *observer)
{
    std::erase_if(m_entries, [observer](const Entry &e) { return e.key == observer; });
}

void NotificationCenter::removeObserver(QObject *observer, const QString &name)
{
    std::erase_if(m_entries, [&](const Entry &e) { return e.key == observer && e.name == name; });
}

void NotificationCenter::postNotificationName(const QString &name)
{
    // Handlers may add or remove observers; work on a snapshot and skip the
    // ones that went away meanwhile.
    std::erase_if(m_entries, [](const Entry &e) { return e.observer.isNull(); });
    const std::vector<Entry> snapshot = m_entries;
    for (const Entry &e : snapshot) {
        if (e.name != name || e.observer.isNull())
            continue;
        const bool stillRegistered =
            std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry &live) {
                return live.key == e.key && live.name == e.name;
            });
        if (stillRegistered)
            e.handler();
    }
}

int NotificationCenter::observerCount(const QString &name) const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(), [&](const Entry &e) {
        return e.name == name && !e.observer.isNull();
    }));
}
