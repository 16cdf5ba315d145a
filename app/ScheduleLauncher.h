#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class ProgramStore;
class ScheduleViewController;
class Scheduler;
class QWidget;
class WindowHost;

// Opens the Schedules window: Ctrl+T in the main window, "Schedules…" in
// the tray. The window is made when opened and let go once closed; the
// scheduler runs on without it. What went wrong with the schedules' file
// while the window was closed is logged and shown when it opens.
class ScheduleLauncher : public QObject {
    Q_OBJECT
public:
    ScheduleLauncher(Scheduler *scheduler, ProgramStore *programs, QObject *parent = nullptr);
    ~ScheduleLauncher() override;

    void attachHome(WindowHost *home);
    void open(QWidget *near = nullptr);
    // Null while the window is closed.
    ScheduleViewController *controller() const { return m_window.get(); }

private:
    Scheduler *m_scheduler;
    ProgramStore *m_programs;
    std::unique_ptr<ScheduleViewController> m_window;
    QPointer<WindowHost> m_home;
    QString m_lastFailure;
};
