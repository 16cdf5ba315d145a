#pragma once

#include "history/HistoryStore.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class HistoryRecorder;
class LoveSong;
class NowPlayingNotices;
class QAction;
class SongHistoryViewController;
class WindowHost;

// The song history's ways in: the Song History window (Ctrl+H in the main
// window, "Song History…" in the tray) and starring the song that plays
// (the main window's heart and key L, "Love This Song" in the tray, "Love"
// on the title notification). The window is made when opened and let go
// once closed, so a closed window holds no memory.
class SongHistoryLauncher : public QObject {
    Q_OBJECT
public:
    SongHistoryLauncher(HistoryStore *store, HistoryRecorder *recorder, QObject *parent = nullptr);
    ~SongHistoryLauncher() override;

    void attachHome(WindowHost *home);
    void attachNotices(NowPlayingNotices *notices);
    // Passed on to the window (see SongHistoryViewController).
    void setSaveSongHandler(std::function<bool(const HistoryStore::Song &)> canSave,
                            std::function<void(const HistoryStore::Song &)> save);

    void open(QWidget *near = nullptr);
    LoveSong *love() const { return m_love; }
    // Null while the window is closed.
    SongHistoryViewController *controller() const { return m_window.get(); }

private:
    void showLove();

    HistoryStore *m_store;
    LoveSong *m_love;
    std::unique_ptr<SongHistoryViewController> m_window;
    QPointer<WindowHost> m_home;
    QPointer<QAction> m_loveAction;
    std::function<bool(const HistoryStore::Song &)> m_canSave;
    std::function<void(const HistoryStore::Song &)> m_save;
};
