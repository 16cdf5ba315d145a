#include "app/ScheduleLauncher.h"

#include "platform/base/Log.h"
#include "platform/ui/LetGoWhenClosed.h"
#include "platform/ui/WindowHost.h"
#include "schedule/Scheduler.h"
#include "schedulewindow/ScheduleViewController.h"

#include <QAction>

ScheduleLauncher::ScheduleLauncher(Scheduler *scheduler, ProgramStore *programs, QObject *parent)
    : QObject(parent), m_scheduler(scheduler), m_programs(programs)
{
    connect(scheduler, &Scheduler::fileFailed, this, [this](const QString &message) {
        NSLog(lcSchedule(), QtWarningMsg, "schedules: %@", message);
        m_lastFailure = message;
    });
    connect(scheduler, &Scheduler::refused, this, [](const QList<schedule::Problem> &rows) {
        for (const schedule::Problem &p : rows)
            NSLog(lcSchedule(), QtWarningMsg, "schedules: row %ld refused: %@", p.id, p.message);
    });
    connect(scheduler, &Scheduler::keptAside, this, [](const QString &path) {
        NSLog(lcSchedule(), QtWarningMsg, "schedules: unreadable file kept as %@", path);
    });
}

ScheduleLauncher::~ScheduleLauncher() = default;

void ScheduleLauncher::attachHome(WindowHost *home)
{
    m_home = home;
    home->addShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), "schedulesShortcut", this,
                      [this] { open(m_home ? m_home->window() : nullptr); });
    QAction *schedules = home->addTrayAction(TrayMenu::Section::Stations,
                                             QStringLiteral("Schedules…"), "schedulesAction");
    connect(schedules, &QAction::triggered, this,
            [this] { open(m_home ? m_home->shownWindow() : nullptr); });
}

void ScheduleLauncher::open(QWidget *near)
{
    if (!m_window) {
        m_window = std::make_unique<ScheduleViewController>(m_scheduler, m_programs);
        letGoWhenClosed(m_window, this);
        if (!m_lastFailure.isEmpty())
            m_window->setStatus(m_lastFailure);
    }
    m_window->showWindow(near);
}

#include "moc_ScheduleLauncher.cpp"
