#include "schedulewindow/ScheduleTableModel.h"

#include "schedule/Scheduler.h"

#include <QLocale>

namespace {

const char *const kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

} // namespace

ScheduleTableModel::ScheduleTableModel(Scheduler *scheduler, QObject *parent)
    : QAbstractTableModel(parent), m_scheduler(scheduler)
{
    connect(scheduler, &Scheduler::changed, this, &ScheduleTableModel::reload);
    m_rows = scheduler->schedules();
}

void ScheduleTableModel::reload()
{
    beginResetModel();
    m_rows = m_scheduler->schedules();
    endResetModel();
}

int ScheduleTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ScheduleTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

int ScheduleTableModel::rowOf(qint64 id) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).id == id)
            return row;
    }
    return -1;
}

QString ScheduleTableModel::actionText(schedule::Action action)
{
    return action == schedule::Action::Record ? QStringLiteral("Record") : QStringLiteral("Play");
}

QString ScheduleTableModel::whenText(const schedule::Schedule &s)
{
    const QString time = s.time.toString(QStringLiteral("HH:mm"));
    if (!s.repeats())
        return s.date.toString(Qt::ISODate) + QLatin1Char(' ') + time;
    if ((s.weekdays & schedule::kAllWeekdays) == schedule::kAllWeekdays)
        return QStringLiteral("%1 every day").arg(time);
    QStringList days;
    for (int day = 0; day < 7; ++day) {
        if (s.weekdays & (1 << day))
            days << QString::fromLatin1(kDayNames[day]);
    }
    return QStringLiteral("%1 on %2").arg(time, days.join(QStringLiteral(", ")));
}

QString ScheduleTableModel::nextRunText(const schedule::Schedule &s) const
{
    switch (m_scheduler->standing(s.id)) {
    case Scheduler::Standing::ProgramGone: return QStringLiteral("Program removed");
    case Scheduler::Standing::Disabled: return QStringLiteral("Off");
    case Scheduler::Standing::Done: return QStringLiteral("Done");
    case Scheduler::Standing::Running: return QStringLiteral("Running now");
    case Scheduler::Standing::Waiting: break;
    }
    const QDateTime next = m_scheduler->nextRun(s.id);
    if (!next.isValid())
        return QString();
    // Weekday names in English, as the rest of the window.
    return QLocale::c().toString(next.toLocalTime(), QStringLiteral("ddd yyyy-MM-dd HH:mm"));
}

QVariant ScheduleTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const schedule::Schedule &s = m_rows.at(index.row());
    if (index.column() == EnabledColumn) {
        if (role == Qt::CheckStateRole)
            return s.enabled ? Qt::Checked : Qt::Unchecked;
        if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
            return s.enabled ? QStringLiteral("Enabled") : QStringLiteral("Disabled");
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case ProgramColumn: return s.name();
    case ActionColumn: return actionText(s.action);
    case WhenColumn: return whenText(s);
    case NextRunColumn: return nextRunText(s);
    default: return {};
    }
}

QVariant ScheduleTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const titles[] = {"On", "Program", "Does", "When", "Next run"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section])
                                                 : QVariant();
}

Qt::ItemFlags ScheduleTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == EnabledColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool ScheduleTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != EnabledColumn || !index.isValid() ||
        index.row() >= m_rows.size())
        return false;
    // The scheduler's changed() reloads the rows.
    return m_scheduler->setEnabled(m_rows.at(index.row()).id,
                                   value.value<Qt::CheckState>() == Qt::Checked);
}

#include "moc_ScheduleTableModel.cpp"
