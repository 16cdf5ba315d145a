#pragma once

#include <QObject>

class QAction;
class WindowHost;

// How Orbitune starts: "Start at Login" (an autostart entry that starts it
// into the tray, the window hidden) and "Resume Playing at Start" (off until
// the listener turns it on; kept in the settings file). Both are checkable
// items of the tray menu.
class StartupOptions : public QObject {
    Q_OBJECT
public:
    explicit StartupOptions(QObject *parent = nullptr);

    // Adds the two items to the tray menu, before Quit.
    void attachHome(WindowHost *home);

    static bool resumesPlaying();
    static void setResumesPlaying(bool on);
    // The command line the autostart entry runs.
    static QStringList startArguments();

    QAction *loginAction() const { return m_login; }
    QAction *resumeAction() const { return m_resume; }

private:
    QAction *m_login = nullptr;
    QAction *m_resume = nullptr;
};
