#include "app/ManageLauncher.h"

#include "mainwindow/HomeViewController.h"
#include "platform/ui/WindowHost.h"

ManageLauncher::ManageLauncher(HomeViewController *home, QObject *parent)
    : QObject(parent), m_home(home)
{
    connect(home, &HomeViewController::listRequested, this, &ManageLauncher::listClick);
    connect(home, &HomeViewController::addRequested, this, &ManageLauncher::addClick);
    WindowHost *host = home->host();
    host->addShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), "listShortcut", this,
                      [this] { listClick(); });
    host->addShortcut(QKeySequence(Qt::CTRL | Qt::Key_N), "addShortcut", this,
                      [this] { addClick(); });
}

void ManageLauncher::setListControllerFactory(std::function<ViewController *()> make)
{
    m_makeList = std::move(make);
}

void ManageLauncher::setAddControllerFactory(std::function<ViewController *()> make)
{
    m_makeAdd = std::move(make);
}

void ManageLauncher::listClick()
{
    present(m_makeList);
}

void ManageLauncher::addClick()
{
    present(m_makeAdd);
}

void ManageLauncher::present(const std::function<ViewController *()> &make)
{
    if (m_home && make && !m_home->presentedViewController())
        m_home->presentViewControllerAsSheet(make());
}

#include "moc_ManageLauncher.cpp"
