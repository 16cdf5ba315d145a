#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class HomeViewController;
class ViewController;

// Opens the program list and the add form as sheets over the main window:
// its list and add buttons, Ctrl+L and Ctrl+N (and the tray's "All
// Programs…", through whoever assembles the app). One sheet at a time; while
// one is open, asking for either does nothing. Whoever assembles the app
// says how each is made.
class ManageLauncher : public QObject {
    Q_OBJECT
public:
    // `home` presents the sheets and owns them while they are open.
    explicit ManageLauncher(HomeViewController *home, QObject *parent = nullptr);

    void setListControllerFactory(std::function<ViewController *()> make);
    void setAddControllerFactory(std::function<ViewController *()> make);
    void listClick();
    void addClick();

private:
    void present(const std::function<ViewController *()> &make);

    QPointer<HomeViewController> m_home;
    std::function<ViewController *()> m_makeList;
    std::function<ViewController *()> m_makeAdd;
};
