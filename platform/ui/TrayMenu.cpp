#include "platform/ui/TrayMenu.h"

#include <QAction>
#include <QMenu>

TrayMenu::TrayMenu(QWidget *parent) : QObject(parent), m_menu(new QMenu(parent))
{
    m_menu->setObjectName(QStringLiteral("statusMenu"));
    m_separator = m_menu->addSeparator();
}

QAction *TrayMenu::firstAfter(Section section) const
{
    for (int s = int(section) + 1; s < int(m_sections.size()); ++s) {
        if (Section(s) == Section::Application)
            return m_separator;
        if (!m_sections[s].isEmpty())
            return m_sections[s].first();
    }
    return nullptr;
}

void TrayMenu::addAction(Section section, QAction *action)
{
    if (!action->parent())
        action->setParent(m_menu);
    QList<QAction *> &items = m_sections[size_t(section)];
    const bool beforeQuit = section == Section::Application && !items.isEmpty();
    m_menu->insertAction(beforeQuit ? items.first() : firstAfter(section), action);
    items << action;
}

void TrayMenu::addMenu(Section section, QMenu *submenu)
{
    submenu->setParent(m_menu, submenu->windowFlags());
    addAction(section, submenu->menuAction());
}

#include "moc_TrayMenu.cpp"
