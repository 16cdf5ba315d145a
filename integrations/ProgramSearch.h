#pragma once

#include <QObject>

class DesktopSearch;
class ProgramStore;

// The listener's programs in the desktop's search (GNOME Shell and KRunner):
// typing part of a name lists the matching programs with their pictures,
// choosing one plays it as choosing its row in the list window does, and
// "search in the application" asks for the main window.
class ProgramSearch : public QObject {
    Q_OBJECT
public:
    explicit ProgramSearch(ProgramStore *store, QObject *parent = nullptr);

    // Offers the search on the session bus; false without one.
    bool start();
    DesktopSearch *service() const { return m_service; }

Q_SIGNALS:
    void raiseRequested();

private:
    DesktopSearch *m_service;
};
