#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class DesktopNotifier;
class HomeViewController;
class PlaybackSession;
class QAction;
class SleepInhibitor;

// What the desktop hears from the playback session besides MPRIS: a
// notification when the title changes (or playing fails) while the main
// window is hidden, with the program's picture, and the suspend inhibitor
// while the listener wants sound. The tray menu's "Notifications" item turns
// the notifications off; it is remembered. With a love handler, a title's
// notice offers "Love" where the notification service shows actions.
class NowPlayingNotices : public QObject {
    Q_OBJECT
public:
    NowPlayingNotices(HomeViewController *home, DesktopNotifier *notifier,
                      SleepInhibitor *inhibitor, QObject *parent = nullptr);

    bool isEnabled() const;
    void setEnabled(bool enabled);
    // Called with the title of the notice whose "Love" was chosen.
    void setLoveHandler(std::function<void(const QString &title)> love);

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
    QString m_noticeTitle; // of the title notice shown last
    std::function<void(const QString &)> m_love;
    QUrl m_pictureUrl; // the current program's picture, once loaded
    QImage m_picture;
};
