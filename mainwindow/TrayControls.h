#pragma once

#include <QObject>

class PlaybackSession;
class QTimer;
class WindowHost;

// The listener's everyday controls around the tray: Play/Pause and Quit in
// its menu and on Space and Ctrl+Q, the volume keys (Up, Down, +, =, -, M),
// scrolling on the tray icon, the "Sleep Timer" menu, "Even Out Loudness", and the tooltip lines
// that show what changed
// ("Volume N%" or "Muted" for a moment after a change, "Sleep timer: N min left" while it runs).
// The volume and the timer themselves are the session's.
class TrayControls : public QObject {
    Q_OBJECT
public:
    // Both outlive the controls.
    TrayControls(PlaybackSession *session, WindowHost *host, QObject *parent = nullptr);

private:
    void buildSleepMenu();
    void updateToolTip();

    PlaybackSession *m_session;
    WindowHost *m_host;
    QTimer *m_volumeTip; // runs while the tooltip shows the volume
};
