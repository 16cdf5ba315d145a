#include "mainwindow/TrayPrograms.h"

#include "platform/base/Log.h"
#include "platform/ui/WindowHost.h"
#include "session/PlayProgram.h"
#include "store/ProgramEntry.h"
#include "store/ProgramGroups.h"
#include "store/ProgramIndex.h"
#include "store/ProgramStore.h"

#include <QMenu>

namespace {

// A name as menu text: an '&' is no shortcut letter.
QString menuText(const QString &text)
{
    return QString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

TrayPrograms::TrayPrograms(ProgramStore *store, WindowHost *host, QObject *parent)
    : QObject(parent), m_store(store),
      m_menu(host->addTrayMenu(TrayMenu::Section::Stations, QStringLiteral("Programs"),
                               "trayProgramsMenu"))
{
    QAction *next = host->addTrayAction(TrayMenu::Section::Playback, QStringLiteral("Next Program"),
                                        "nextProgram");
    QAction *previous = host->addTrayAction(TrayMenu::Section::Playback,
                                            QStringLiteral("Previous Program"), "previousProgram");
    connect(next, &QAction::triggered, this, [this] { step(1); });
    connect(previous, &QAction::triggered, this, [this] { step(-1); });
    host->addShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown), "nextProgramShortcut", this,
                      [this] { step(1); });
    host->addShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp), "previousProgramShortcut", this,
                      [this] { step(-1); });
    // Filled when the tray menu opens, and only after the list changed.
    connect(store, &ProgramStore::listChanged, this, [this] { m_stale = true; });
    connect(store, &ProgramStore::currentProgramChanged, this, [this] { m_stale = true; });
    connect(host, &WindowHost::trayMenuAboutToShow, this, [this] {
        if (m_stale)
            fill();
    });
}

void TrayPrograms::step(int by)
{
    const session::Choice choice = session::playNeighbour(m_store, by);
    if (choice.outcome == session::Choice::NotSaved)
        NSLog(lcPlayer(), QtWarningMsg, "tray: %@ could not be made the current program",
              choice.name);
}

void TrayPrograms::fill()
{
    m_stale = false;
    m_menu->clear();
    for (QMenu *old : m_menu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    const QList<programindex::Program> programs = m_store->programs();
    const QString current = programindex::keyOf(m_store->currentProgram(), programs);
    QVariantList entries;
    entries.reserve(programs.size());
    for (const programindex::Program &p : programs)
        entries << p.entry;
    int groupsShown = 0;
    bool cut = false;
    for (const programgroups::Section &section :
         programgroups::sections(entries, m_store->groups())) {
        if (section.items.isEmpty())
            continue;
        QMenu *into = m_menu;
        if (!section.group.isEmpty()) {
            if (++groupsShown > kShown) {
                cut = true;
                break;
            }
            into = m_menu->addMenu(menuText(section.group));
            into->setObjectName(QStringLiteral("trayGroupMenu"));
        }
        for (qsizetype i : section.items.mid(0, kShown)) {
            const QString key = programs.at(i).key;
            QAction *action = into->addAction(menuText(program::name(programs.at(i).entry)));
            action->setCheckable(true);
            action->setChecked(key == current);
            connect(action, &QAction::triggered, this, [this, key] {
                if (session::playKey(m_store, key).outcome == session::Choice::NotSaved)
                    NSLog(lcPlayer(), QtWarningMsg, "tray: the program could not be made current");
            });
        }
        if (section.items.size() > kShown) {
            if (into == m_menu)
                cut = true;
            else
                addAllPrograms(into);
        }
    }
    if (cut)
        addAllPrograms(m_menu);
    m_menu->setEnabled(!programs.isEmpty());
}

void TrayPrograms::addAllPrograms(QMenu *menu)
{
    menu->addSeparator();
    QAction *all = menu->addAction(QStringLiteral("All Programs…"));
    all->setObjectName(QStringLiteral("trayAllPrograms"));
    connect(all, &QAction::triggered, this, &TrayPrograms::allProgramsRequested);
}
