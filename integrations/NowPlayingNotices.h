#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class DesktopNotifier;
class PlaybackSession;

// What the desktop hears from the playback session besides MPRIS: a
// notification when the title changes (or playing fails) while the main
// window is hidden, with the program's picture. The listener can turn them
// off; that is remembered. With a love handler, a title's notice offers
// "Love" where the notification service shows actions.
class NowPlayingNotices : public QObject {
    Q_OBJECT
public:
    NowPlayingNotices(PlaybackSession *session, DesktopNotifier *notifier,
                      QObject *parent = nullptr);

    bool isEnabled() const;
    void setEnabled(bool enabled);
    // Notices are shown only while the main window is hidden; whoever holds
    // the window says when that changes. Hidden until told otherwise.
    bool isWindowHidden() const { return m_windowHidden; }
    void setWindowHidden(bool hidden) { m_windowHidden = hidden; }
    // Called with the title of the notice whose "Love" was chosen.
    void setLoveHandler(std::function<void(const QString &title)> love);

Q_SIGNALS:
    void enabledChanged(bool enabled);

private:
    void playbackChanged();
    void titleChanged();
    void programChanged();
    // Loads the program's picture once it plays.
    void askForPicture();
    QString programName() const;

    PlaybackSession *m_session;
    DesktopNotifier *m_notifier;
    bool m_windowHidden = true;
    QString m_lastTitle;
    QString m_noticeTitle; // of the title notice shown last
    std::function<void(const QString &)> m_love;
    QUrl m_pictureUrl; // the current program's picture
    QImage m_picture;
    bool m_pictureAsked = false;
};
