#pragma once

#include <QAccessible>
#include <QList>
#include <QPointer>
#include <QString>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

// Records what assistive technology would be told, as a screen reader on the
// accessibility bus hears it. Qt sends nothing unless a client is listening,
// so recording switches the platform's accessibility on for the test. One
// recorder at a time.
class AccessibilityEvents {
public:
    struct Event {
        QPointer<QObject> object;
        QAccessible::Event type;
        QString name; // the object's accessible name when the event was sent
    };

    AccessibilityEvents()
    {
        if (QPlatformAccessibility *platform =
                QGuiApplicationPrivate::platformIntegration()->accessibility())
            platform->setActive(true);
        current() = this;
        QAccessible::installUpdateHandler(&AccessibilityEvents::record);
    }
    ~AccessibilityEvents()
    {
        QAccessible::installUpdateHandler(nullptr);
        current() = nullptr;
    }
    AccessibilityEvents(const AccessibilityEvents &) = delete;
    AccessibilityEvents &operator=(const AccessibilityEvents &) = delete;

    static bool active() { return QAccessible::isActive(); }

    // The names `object` was announced with by name-change events, in order.
    QStringList namesOf(const QObject *object) const
    {
        QStringList names;
        for (const Event &e : events)
            if (e.object == object && e.type == QAccessible::NameChanged)
                names << e.name;
        return names;
    }
    void clear() { events.clear(); }

    QList<Event> events;

private:
    static AccessibilityEvents *&current()
    {
        static AccessibilityEvents *recorder = nullptr;
        return recorder;
    }
    static void record(QAccessibleEvent *event)
    {
        if (!current())
            return;
        QAccessibleInterface *iface = event->accessibleInterface();
        current()->events.append(
            {event->object(), event->type(), iface ? iface->text(QAccessible::Name) : QString()});
    }
};

// What a screen reader reads as the name of `widget`.
inline QString accessibleNameOf(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QString();
}
inline QString accessibleDescriptionOf(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Description) : QString();
}
