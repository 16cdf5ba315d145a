#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

class DesktopNotifier;
class HomeViewController;
class PlaybackSession;
class QAction;
class SleepInhibitor;

// What the desktop hears from the playback session besides MPRIS: a
// notification when the title changes (or playing fails) while the main
// window is hidden, with the program's picture, and the suspend inhibitor
// while the listener wants sound. The tray menu's "Notifications" item turns
// the notifications off; it is remembered.
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
    void programChanged();
    bool windowHidden() const;
    QString programName() const;

    HomeViewController *m_home;
    PlaybackSession *m_session;
    DesktopNotifier *m_notifier;
    SleepInhibitor *m_inhibitor;
    QAction *m_toggle = nullptr;
    QString m_lastTitle;
    QUrl m_pictureUrl; // the current program's picture, once loaded
    QImage m_picture;
};
