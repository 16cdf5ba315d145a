#pragma once

#include <QObject>
#include <QPointer>

class PlaybackSession;
class PlayOn;
class QMenu;
class CastFinder;
class RendererFinder;
class WindowHost;

// "Play On" in the tray menu (Playback) and on the main window's
// `playOnBtn`: "This Computer" and the renderers found, the chosen one
// checked. Looks on every network the computer has, or only on those
// named in ORBITUNE_UPNP_PLACES (interfaces or addresses, comma-separated).
class PlayOnLauncher : public QObject {
    Q_OBJECT
public:
    PlayOnLauncher(PlaybackSession *session, QObject *parent = nullptr);
    ~PlayOnLauncher() override;

    void attachHome(WindowHost *home);
    PlayOn *playOn() const { return m_playOn; }

private:
    void fill(QMenu *menu);
    void refresh();

    RendererFinder *m_finder = nullptr;
    CastFinder *m_castFinder = nullptr;
    PlayOn *m_playOn = nullptr;
    QPointer<WindowHost> m_home;
    QPointer<QMenu> m_trayMenu;
    QPointer<QMenu> m_buttonMenu;
};
