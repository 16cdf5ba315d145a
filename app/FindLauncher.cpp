#include "app/FindLauncher.h"

#include "find/FindViewController.h"
#include "manage/ListViewController.h"
#include "platform/ui/WindowHost.h"

#include <QAction>

FindLauncher::FindLauncher(QObject *parent) : QObject(parent) {}

FindLauncher::~FindLauncher() = default;

void FindLauncher::attachHome(WindowHost *home)
{
    m_home = home;
    home->addShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), "findShortcut", this,
                      [this] { open(m_home ? m_home->window() : nullptr); });
    QAction *find = home->addTrayAction(TrayMenu::Section::Stations,
                                        QStringLiteral("Find Stations"), "findAction");
    connect(find, &QAction::triggered, this,
            [this] { open(m_home ? m_home->shownWindow() : nullptr); });
}

void FindLauncher::attachList(ListViewController *list)
{
    m_list = list;
    connect(list, &ListViewController::findRequested, this,
            [this, list] { open(list->isViewLoaded() ? list->view() : nullptr); });
}

void FindLauncher::open(QWidget *near)
{
    if (!m_find)
        m_find = std::make_unique<FindViewController>();
    m_find->showWindow(near);
}

#include "moc_FindLauncher.cpp"
