#pragma once

#include "platform/ui/ViewController.h"
#include "schedule/Schedule.h"

#include <memory>

class ProgramStore;
class ScheduleTableModel;
class Scheduler;

namespace Ui {
class ScheduleView;
}

// The Schedules window: every schedule with when it runs next, and a form
// for one. "Add" starts a new schedule in the form, "Edit" (Enter on a
// row) puts the chosen one there, "Save" adds or changes it; "Delete…"
// (Delete) asks first. A row's check box (Space) turns a schedule on or
// off. What the scheduler could not do, and what it says went wrong with
// its file, shows in the status line. A window of its own; Escape closes.
class ScheduleViewController : public ViewController {
    Q_OBJECT
public:
    ScheduleViewController(Scheduler *scheduler, ProgramStore *programs, QObject *parent = nullptr);
    ~ScheduleViewController() override;

    ScheduleTableModel *model() const { return m_model; }

    // Shows the window (or brings it to the front), centred over `near`'s
    // window when given, with the list focused.
    void showWindow(QWidget *near = nullptr);

    // What the window's controls ask for.
    void addClick();
    void editClick();
    void saveClick();
    void cancelClick();
    void deleteClick();
    void toggleChosen();
    void closeClick();
    void setStatus(const QString &text);

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The chosen schedule's id; 0 when none is chosen.
    qint64 chosenId() const;
    void choose(qint64 id);
    void startForm(const schedule::Schedule &s, qint64 editing);
    void programsChanged();
    void updateControls();

    Scheduler *m_scheduler;
    ProgramStore *m_programs;
    ScheduleTableModel *m_model;
    std::unique_ptr<Ui::ScheduleView> m_ui;
    qint64 m_editing = 0; // the schedule in the form; 0 for a new one
    qint64 m_chosen = 0;  // across a reload
};
