#include "app/FindLauncher.h"

#include "find/FindViewController.h"
#include "manage/ListViewController.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/TrayMenu.h"
#include "player/HomeViewController.h"

#include <QAction>
#include <QMenu>

FindLauncher::FindLauncher(QObject *parent) : QObject(parent) {}

FindLauncher::~FindLauncher() = default;

void FindLauncher::attachHome(HomeViewController *home)
{
    m_home = home;
    QWidget *window = home->view();
    ShortcutRegistry::add(window, QKeySequence(Qt::CTRL | Qt::Key_F),
                          QStringLiteral("findShortcut"), this, [this, window] { open(window); });

    TrayMenu *menu = home->trayMenu();
    if (!menu)
        return;
    auto *find = new QAction(QStringLiteral("Find Stations"), menu->menu());
    find->setObjectName(QStringLiteral("findAction"));
    connect(find, &QAction::triggered, this, [this] {
        QWidget *window = m_home ? m_home->view() : nullptr;
        open(window && window->isVisible() ? window : nullptr);
    });
    menu->addAction(TrayMenu::Section::Stations, find);
}

void FindLauncher::attachList(ListViewController *list)
{
    m_list = list;
    connect(list, &ListViewController::findRequested, this,
            [this, list] { open(list->isViewLoaded() ? list->view() : nullptr); });
}

void FindLauncher::open(QWidget *near)
{
    if (!m_find) {
        m_find = std::make_unique<FindViewController>();
        connect(m_find.get(), &FindViewController::stationAdded, this, [this] {
            if (m_list && m_list->isViewLoaded())
                m_list->loadData();
        });
    }
    m_find->showWindow(near);
}

#include "moc_FindLauncher.cpp"
