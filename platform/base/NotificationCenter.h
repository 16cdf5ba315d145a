#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

// In-process notifications by name. A notification carries nothing; observers
// are called synchronously, in the order they registered, on the thread that
// posts. An observer that is destroyed is forgotten automatically.
class NotificationCenter {
public:
    static NotificationCenter *defaultCenter();

    void addObserver(QObject *observer, const QString &name, std::function<void()> handler);
    void removeObserver(QObject *observer);
    void removeObserver(QObject *observer, const QString &name);
    void postNotificationName(const QString &name);

    int observerCount(const QString &name) const;

private:
    struct Entry {
        QPointer<QObject> observer;
        const QObject *key;
        QString name;
        std::function<void()> handler;
    };
    std::vector<Entry> m_entries;
};
