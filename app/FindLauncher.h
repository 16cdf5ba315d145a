#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class FindViewController;
class ListViewController;
class QWidget;
class WindowHost;

// Opens the one Find Stations window from wherever the user asks for it:
// the tray menu and Ctrl+F in the main window, the list window's "Find
// Stations" button and Ctrl+F there. The window is a window of its own (not
// a sheet), so the player stays usable while it is open; it keeps its
// results between openings.
class FindLauncher : public QObject {
    Q_OBJECT
public:
    explicit FindLauncher(QObject *parent = nullptr);
    ~FindLauncher() override;

    // Adds "Find Stations" to the tray menu and Ctrl+F to the main window.
    void attachHome(WindowHost *home);
    // Opens the window on the list's request; the list shows what was added.
    void attachList(ListViewController *list);

    void open(QWidget *near = nullptr);
    // Null until first opened.
    FindViewController *controller() const { return m_find.get(); }

private:
    std::unique_ptr<FindViewController> m_find;
    QPointer<WindowHost> m_home;
    QPointer<ListViewController> m_list;
};
