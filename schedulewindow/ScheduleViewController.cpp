#include "schedulewindow/ScheduleViewController.h"

#include "platform/ui/Alert.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/WindowFront.h"
#include "schedule/Scheduler.h"
#include "schedulewindow/ScheduleForm.h"
#include "schedulewindow/ScheduleTableModel.h"
#include "store/ProgramStore.h"
#include "ui_ScheduleView.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace {

QString quoted(const QString &text)
{
    return QStringLiteral("“%1”").arg(text);
}

} // namespace

ScheduleViewController::ScheduleViewController(Scheduler *scheduler, ProgramStore *programs,
                                               QObject *parent)
    : ViewController(parent), m_scheduler(scheduler), m_programs(programs),
      m_model(new ScheduleTableModel(scheduler, this))
{
    connect(scheduler, &Scheduler::fileFailed, this, &ScheduleViewController::setStatus);
    connect(scheduler, &Scheduler::refused, this, [this](const QList<schedule::Problem> &rows) {
        if (!rows.isEmpty())
            setStatus(QStringLiteral("%1 saved schedule(s) could not be read: %2")
                          .arg(rows.size())
                          .arg(rows.first().message));
    });
    connect(scheduler, &Scheduler::keptAside, this, [this](const QString &path) {
        setStatus(QStringLiteral("The schedules could not be read. They were kept as %1 and new "
                                 "ones were started.")
                      .arg(path));
    });
    connect(programs, &ProgramStore::listChanged, this, &ScheduleViewController::programsChanged);
}

ScheduleViewController::~ScheduleViewController()
{
    if (isViewLoaded())
        delete view();
}

QWidget *ScheduleViewController::loadView()
{
    auto *root = new QWidget;
    m_ui = std::make_unique<Ui::ScheduleView>();
    m_ui->setupUi(root);
    QTableView *table = m_ui->scheduleTable;
    table->setModel(m_model);
    // The chosen row stays chosen while the schedules change under it
    // (after the view and its selection have taken the reset).
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_chosen = chosenId(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { choose(m_chosen); });
    table->verticalHeader()->hide();
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(ScheduleTableModel::EnabledColumn, QHeaderView::Fixed);
    header->resizeSection(ScheduleTableModel::EnabledColumn, 36);
    header->resizeSection(ScheduleTableModel::ProgramColumn, 180);
    header->resizeSection(ScheduleTableModel::WhenColumn, 170);
    table->installEventFilter(this);
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &ScheduleViewController::updateControls);
    connect(table, &QAbstractItemView::doubleClicked, this, &ScheduleViewController::editClick);

    connect(m_ui->addButton, &QPushButton::clicked, this, &ScheduleViewController::addClick);
    connect(m_ui->editButton, &QPushButton::clicked, this, &ScheduleViewController::editClick);
    connect(m_ui->deleteButton, &QPushButton::clicked, this, &ScheduleViewController::deleteClick);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &ScheduleViewController::closeClick);
    connect(m_ui->saveButton, &QPushButton::clicked, this, &ScheduleViewController::saveClick);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &ScheduleViewController::cancelClick);
    for (QAbstractButton *button : {static_cast<QAbstractButton *>(m_ui->recordRadio),
                                    static_cast<QAbstractButton *>(m_ui->onceRadio)})
        connect(button, &QAbstractButton::toggled, this,
                [this] { scheduleform::updateFields(*m_ui); });

    ShortcutRegistry::add(root, QKeySequence(Qt::Key_Escape), QStringLiteral("closeShortcut"), this,
                          [this] { closeClick(); });
    return root;
}

void ScheduleViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    setBackgroundColor(view(), Qt::white);
    const QList<programindex::Program> programs = m_programs->programs();
    scheduleform::fillPrograms(*m_ui, programs);
    startForm(scheduleform::blank(programs), 0);
    if (!m_scheduler->keptAsideAs().isEmpty())
        setStatus(QStringLiteral("The schedules could not be read. They were kept as %1 and new "
                                 "ones were started.")
                      .arg(m_scheduler->keptAsideAs()));
    else if (!m_scheduler->refusedRows().isEmpty())
        setStatus(QStringLiteral("%1 saved schedule(s) could not be read: %2")
                      .arg(m_scheduler->refusedRows().size())
                      .arg(m_scheduler->refusedRows().first().message));
    if (m_model->rowCount() > 0)
        choose(m_model->schedule(0).id);
    updateControls();
}

void ScheduleViewController::showWindow(QWidget *near)
{
    QWidget *window = view();
    if (!window->isVisible())
        placeNear(window, near);
    bringToFront(window);
    (m_model->rowCount() > 0 ? static_cast<QWidget *>(m_ui->scheduleTable)
                             : static_cast<QWidget *>(m_ui->addButton))
        ->setFocus();
}

qint64 ScheduleViewController::chosenId() const
{
    if (!m_ui)
        return 0;
    const QModelIndex current = m_ui->scheduleTable->currentIndex();
    return current.isValid() && current.row() < m_model->rowCount()
               ? m_model->schedule(current.row()).id
               : 0;
}

void ScheduleViewController::choose(qint64 id)
{
    if (!m_ui)
        return;
    const int row = m_model->rowOf(id);
    if (row >= 0)
        m_ui->scheduleTable->selectionModel()->setCurrentIndex(
            m_model->index(row, ScheduleTableModel::ProgramColumn),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    updateControls();
}

void ScheduleViewController::startForm(const schedule::Schedule &s, qint64 editing)
{
    m_editing = editing;
    scheduleform::fillPrograms(*m_ui, m_programs->programs(), s.program);
    scheduleform::show(*m_ui, s);
    m_ui->formBox->setTitle(editing ? QStringLiteral("Edit Schedule")
                                    : QStringLiteral("New Schedule"));
    m_ui->cancelButton->setVisible(editing != 0);
}

void ScheduleViewController::addClick()
{
    view();
    startForm(scheduleform::blank(m_programs->programs()), 0);
    if (m_ui->programCombo->count() == 0)
        setStatus(QStringLiteral("The program list is empty: add a program first."));
    m_ui->programCombo->setFocus();
}

void ScheduleViewController::editClick()
{
    const std::optional<schedule::Schedule> s = m_scheduler->find(chosenId());
    if (!s) {
        setStatus(QStringLiteral("Choose a schedule first."));
        return;
    }
    startForm(*s, s->id);
    m_ui->programCombo->setFocus();
}

void ScheduleViewController::saveClick()
{
    view();
    schedule::Schedule s = scheduleform::read(*m_ui);
    if (s.program.isEmpty()) {
        setStatus(QStringLiteral("Choose a program first."));
        return;
    }
    if (m_editing) {
        s.id = m_editing;
        if (!m_scheduler->update(s)) {
            setStatus(m_scheduler->lastError());
            return;
        }
        setStatus(QStringLiteral("Saved %1.").arg(quoted(s.name())));
    } else {
        s.id = m_scheduler->add(s);
        if (!s.id) {
            setStatus(m_scheduler->lastError());
            return;
        }
        setStatus(QStringLiteral("Added %1.").arg(quoted(s.name())));
    }
    choose(s.id);
    // The form stays on the schedule saved, for the next change.
    m_editing = s.id;
    startForm(*m_scheduler->find(s.id), s.id);
    m_ui->scheduleTable->setFocus();
}

void ScheduleViewController::cancelClick()
{
    view();
    startForm(scheduleform::blank(m_programs->programs()), 0);
    m_ui->scheduleTable->setFocus();
}

void ScheduleViewController::deleteClick()
{
    const std::optional<schedule::Schedule> s = m_scheduler->find(chosenId());
    if (!s) {
        setStatus(QStringLiteral("Choose a schedule first."));
        return;
    }
    Alert alert;
    alert.setMessageText(QStringLiteral("Tip："));
    alert.setInformativeText(QStringLiteral("Delete the schedule to %1 %2 at %3?")
                                 .arg(ScheduleTableModel::actionText(s->action).toLower(),
                                      quoted(s->name()), ScheduleTableModel::whenText(*s)));
    alert.setAlertStyle(Alert::WarningStyle);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.addButtonWithTitle(QStringLiteral("Cancel"));
    QPointer<ScheduleViewController> self(this);
    alert.beginSheetModalForWindow(view()->window(), [self, s](long response) {
        if (!self || response != Alert::FirstButtonReturn)
            return;
        if (!self->m_scheduler->remove(s->id)) {
            self->setStatus(self->m_scheduler->lastError());
            return;
        }
        if (self->m_editing == s->id)
            self->startForm(scheduleform::blank(self->m_programs->programs()), 0);
        self->setStatus(QStringLiteral("Deleted %1.").arg(quoted(s->name())));
    });
}

void ScheduleViewController::toggleChosen()
{
    const std::optional<schedule::Schedule> s = m_scheduler->find(chosenId());
    if (!s) {
        setStatus(QStringLiteral("Choose a schedule first."));
        return;
    }
    if (!m_scheduler->setEnabled(s->id, !s->enabled)) {
        setStatus(m_scheduler->lastError());
        return;
    }
    if (m_editing == s->id)
        m_ui->enabledBox->setChecked(!s->enabled);
    setStatus(QStringLiteral("%1 %2.").arg(
        s->enabled ? QStringLiteral("Disabled") : QStringLiteral("Enabled"), quoted(s->name())));
}

void ScheduleViewController::closeClick()
{
    if (isViewLoaded())
        view()->close();
}

void ScheduleViewController::programsChanged()
{
    if (m_ui)
        scheduleform::fillPrograms(*m_ui, m_programs->programs(),
                                   m_ui->programCombo->currentData().toMap());
}

bool ScheduleViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_ui || watched != m_ui->scheduleTable ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return ViewController::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() != Qt::NoModifier && key->modifiers() != Qt::KeypadModifier)
        return ViewController::eventFilter(watched, event);
    // Space turns the schedule on or off (not just choose the row), Enter
    // edits it, Delete removes it.
    const int k = key->key();
    if (k != Qt::Key_Space && k != Qt::Key_Return && k != Qt::Key_Enter && k != Qt::Key_Delete)
        return ViewController::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return false;
    }
    if (k == Qt::Key_Space)
        toggleChosen();
    else if (k == Qt::Key_Delete)
        deleteClick();
    else
        editClick();
    return true;
}

void ScheduleViewController::setStatus(const QString &text)
{
    view();
    m_ui->statusLabel->setText(text);
}

void ScheduleViewController::updateControls()
{
    if (!m_ui)
        return;
    const bool chosen = chosenId() != 0;
    m_ui->editButton->setEnabled(chosen);
    m_ui->deleteButton->setEnabled(chosen);
    if (m_model->rowCount() == 0 && m_ui->statusLabel->text().isEmpty())
        setStatus(QStringLiteral("No schedules yet: fill in the form below and press Save."));
}

#include "moc_ScheduleViewController.cpp"
