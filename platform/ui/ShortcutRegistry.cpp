#include "platform/ui/ShortcutRegistry.h"

#include "platform/base/Log.h"

#include <QShortcut>
#include <QWidget>

QShortcut *ShortcutRegistry::taken(const QWidget *widget, const QKeySequence &keys)
{
    const QWidget *window = widget->window();
    // Dialogs and sheets are children of the window but answer their own keys.
    const QList<QShortcut *> shortcuts = window->findChildren<QShortcut *>();
    for (QShortcut *shortcut : shortcuts) {
        const auto *owner = qobject_cast<const QWidget *>(shortcut->parent());
        if (owner && owner->window() == window && shortcut->keys().contains(keys))
            return shortcut;
    }
    return nullptr;
}

bool ShortcutRegistry::add(QWidget *widget, const QKeySequence &keys, const QString &name,
                           QObject *receiver, std::function<void()> action)
{
    if (const QShortcut *holder = taken(widget, keys)) {
        NSLog(lcGeneral(), QtWarningMsg, "key %@ for %@ refused: %@ has it",
              keys.toString(QKeySequence::PortableText), name, holder->objectName());
        return false;
    }
    auto *shortcut = new QShortcut(keys, widget);
    shortcut->setObjectName(name);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, receiver, std::move(action));
    return true;
}
