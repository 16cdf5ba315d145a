#pragma once

#include <QKeySequence>
#include <QString>

#include <functional>

class QObject;
class QShortcut;
class QWidget;

// The one way a key is taken in Orbitune. A feature asks for a key on a
// window, with an object name tests find the shortcut by; a key the window
// already answers is refused, so two features never fight over one key.
// What is taken is read from the window's own shortcuts: a shortcut that
// goes away frees its key.
class ShortcutRegistry {
public:
    // Makes a window-wide shortcut for `keys` on `widget`'s window that runs
    // `action` while `receiver` lives. False, with a warning in the log, when
    // that window already has a shortcut for `keys`.
    static bool add(QWidget *widget, const QKeySequence &keys, const QString &name,
                    QObject *receiver, std::function<void()> action);
    // The shortcut `widget`'s window has for `keys`; null when the key is free.
    static QShortcut *taken(const QWidget *widget, const QKeySequence &keys);
};
