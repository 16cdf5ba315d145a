#pragma once

#include "platform/ui/TrayMenu.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QAction;
class QKeySequence;
class QLabel;
class QMenu;
class QToolButton;
class StatusItem;

// What the main window offers the features that live in it, and nothing
// more: items in the tray menu's sections, lines of the tray tooltip,
// window-wide keys, the recording indicator, the heart button, and the
// window to put dialogs and sheets on. Raising the window and quitting are
// asked for by signal; the window and the application decide.
class WindowHost : public QObject {
    Q_OBJECT
public:
    struct Parts {
        QWidget *window = nullptr;
        StatusItem *statusItem = nullptr;
        TrayMenu *trayMenu = nullptr;
        QLabel *indicator = nullptr;
        QToolButton *loveButton = nullptr;
        QToolButton *playOnButton = nullptr;
        QWidget *timeShiftBar = nullptr; // under the title, with a box layout
    };
    explicit WindowHost(const Parts &parts, QObject *parent = nullptr);

    // Where dialogs and sheets go.
    QWidget *window() const { return m_parts.window; }
    // The window while the listener sees it, else null: what a window opened
    // from the tray is placed near.
    QWidget *shownWindow() const;

    // A new item at the end of `section` of the tray menu, named `name`.
    QAction *addTrayAction(TrayMenu::Section section, const QString &text, const char *name);
    QMenu *addTrayMenu(TrayMenu::Section section, const QString &title, const char *name);
    // A key of the window (see ShortcutRegistry); false when it is taken.
    bool addShortcut(const QKeySequence &keys, const char *name, QObject *receiver,
                     std::function<void()> action);

    // The line of the tray tooltip kept under `key`; empty hides it. Lines
    // show in the order their keys were first set.
    void setToolTipLine(const QString &key, const QString &line);
    // The indicator line under the window's title; empty text hides it.
    void showIndicator(const QString &text, const QString &description);
    // Stars the song playing; wired by whoever keeps the song history.
    QToolButton *loveButton() const { return m_parts.loveButton; }
    // Where the sound plays; its menu is filled by whoever finds speakers.
    QToolButton *playOnButton() const { return m_parts.playOnButton; }
    // The row under the title where the time-shift controls go.
    QWidget *timeShiftBar() const { return m_parts.timeShiftBar; }

Q_SIGNALS:
    void trayMenuAboutToShow();
    // Whole wheel notches on the tray icon, positive away from the user.
    void trayScrolled(int steps);
    void raiseRequested();
    void quitRequested();

private:
    Parts m_parts;
    QStringList m_keys; // in the order first set
    QMap<QString, QString> m_lines;
};
