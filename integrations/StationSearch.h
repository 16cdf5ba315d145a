#pragma once

#include <QObject>
#include <QPointer>

class DesktopSearch;
class HomeViewController;
class ProgramStore;

// The listener's programs in the desktop's search (GNOME Shell and KRunner):
// typing part of a name lists the matching programs with their pictures,
// choosing one plays it as choosing its row in the list window does, and
// "search in the application" brings the main window to the front.
class StationSearch : public QObject {
    Q_OBJECT
public:
    StationSearch(HomeViewController *home, ProgramStore *store, QObject *parent = nullptr);

    // Offers the search on the session bus; false without one.
    bool start();
    DesktopSearch *service() const { return m_service; }

private:
    QPointer<HomeViewController> m_home;
    DesktopSearch *m_service;
};
