#pragma once

#include <QObject>
#include <QString>

class DesktopNotifier;
class HomeViewController;
class QAction;
class SleepInhibitor;

// What the desktop hears from playback besides MPRIS: a notification when
// the title changes (or playing fails) while the main window is hidden, and
// the suspend inhibitor while the listener wants sound. The tray menu's
// "Notifications" item turns the notifications off; it is remembered.
class NowPlayingNotices : public QObject {
    Q_OBJECT
public:
    NowPlayingNotices(HomeViewController *home, DesktopNotifier *notifier,
                      SleepInhibitor *inhibitor, QObject *parent = nullptr);

    bool isEnabled() const;
    void setEnabled(bool enabled);

private:
    void playbackChanged();
    void titleChanged();
    bool windowHidden() const;
    QString programName() const;

    HomeViewController *m_home;
    DesktopNotifier *m_notifier;
    SleepInhibitor *m_inhibitor;
    QAction *m_toggle = nullptr;
    QString m_lastTitle;
};
