#pragma once

#include <QObject>

class ProgramStore;
class QMenu;
class WindowHost;

// The programs in the tray: a "Programs" menu with the programs of no group
// first and a submenu per group, the current program checked; choosing one
// plays it as its row in the list window would. "Next Program" and
// "Previous Program" (also Ctrl+Page Down and Ctrl+Page Up in the window)
// step through the current program's group. A long list is cut short: at
// most kShown programs of no group, kShown groups and kShown programs in
// each, and "All Programs…" after those cut, which asks for the list window.
class TrayPrograms : public QObject {
    Q_OBJECT
public:
    static constexpr int kShown = 50;

    // Both outlive this.
    TrayPrograms(ProgramStore *store, WindowHost *host, QObject *parent = nullptr);

    QMenu *menu() const { return m_menu; }
    void step(int by);

Q_SIGNALS:
    // "All Programs…" was chosen.
    void allProgramsRequested();

private:
    void addAllPrograms(QMenu *menu);
    void fill();

    ProgramStore *m_store;
    QMenu *m_menu;
    bool m_stale = true;
};
