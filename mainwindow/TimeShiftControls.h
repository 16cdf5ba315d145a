#pragma once

#include <QObject>

class PlaybackSession;
class QAction;
class QLabel;
class QTimer;
class QToolButton;
class WindowHost;

// Time-shift in the main window and the tray: back 10 s (Left), back 60 s
// (Shift+Left), forward 10 s (Right), "Back to Live" (End), as buttons under
// the title while the stream keeps audio, with "−1:20" or "Live" beside
// them, in the tooltip and told to a screen reader when a seek moves it;
// the same steps in the tray's Playback section, and "Pause Holds the
// Station" in its Listening section.
class TimeShiftControls : public QObject {
    Q_OBJECT
public:
    // Both outlive the controls.
    TimeShiftControls(PlaybackSession *session, WindowHost *host, QObject *parent = nullptr);

private:
    QToolButton *addButton(const QString &text, const QString &accessible, const char *name);
    void update();
    void announce();

    PlaybackSession *m_session;
    WindowHost *m_host;
    QLabel *m_position = nullptr;
    QToolButton *m_forward = nullptr;
    QToolButton *m_live = nullptr;
    QList<QAction *> m_steps;
    QTimer *m_oldestNotice;
};
