#include "platform/ui/WindowHost.h"

#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/StatusItem.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QWidget>

WindowHost::WindowHost(const Parts &parts, QObject *parent) : QObject(parent), m_parts(parts)
{
    connect(parts.trayMenu->menu(), &QMenu::aboutToShow, this, &WindowHost::trayMenuAboutToShow);
    connect(parts.statusItem, &StatusItem::scrolled, this, &WindowHost::trayScrolled);
}

QWidget *WindowHost::shownWindow() const
{
    QWidget *window = m_parts.window->window();
    return window->isVisible() ? window : nullptr;
}

QAction *WindowHost::addTrayAction(TrayMenu::Section section, const QString &text, const char *name)
{
    auto *action = new QAction(text, m_parts.trayMenu->menu());
    action->setObjectName(QString::fromLatin1(name));
    m_parts.trayMenu->addAction(section, action);
    return action;
}

QMenu *WindowHost::addTrayMenu(TrayMenu::Section section, const QString &title, const char *name)
{
    auto *menu = new QMenu(title, m_parts.trayMenu->menu());
    menu->setObjectName(QString::fromLatin1(name));
    m_parts.trayMenu->addMenu(section, menu);
    return menu;
}

bool WindowHost::addShortcut(const QKeySequence &keys, const char *name, QObject *receiver,
                             std::function<void()> action)
{
    return ShortcutRegistry::add(m_parts.window, keys, QString::fromLatin1(name), receiver,
                                 std::move(action));
}

void WindowHost::setToolTipLine(const QString &key, const QString &line)
{
    if (!m_keys.contains(key))
        m_keys << key;
    else if (m_lines.value(key) == line)
        return;
    m_lines.insert(key, line);
    QStringList lines;
    for (const QString &k : std::as_const(m_keys)) {
        if (!m_lines.value(k).isEmpty())
            lines << m_lines.value(k);
    }
    m_parts.statusItem->setToolTip(lines.join(QLatin1Char('\n')));
}

void WindowHost::showIndicator(const QString &text, const QString &description)
{
    QLabel *label = m_parts.indicator;
    label->setText(text);
    label->setAccessibleDescription(description);
    label->setVisible(!text.isEmpty());
}

#include "moc_WindowHost.cpp"
