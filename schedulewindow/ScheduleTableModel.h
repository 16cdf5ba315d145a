#pragma once

#include "schedule/Schedule.h"

#include <QAbstractTableModel>
#include <QList>

class Scheduler;

// The schedules as the Schedules window lists them, one row each, in the
// scheduler's order: whether it is on (a check box), its program, what it
// does, when it runs and when it runs next. Follows the scheduler's
// changed(); checking or unchecking a row enables or disables the schedule.
class ScheduleTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        EnabledColumn,
        ProgramColumn,
        ActionColumn,
        WhenColumn,
        NextRunColumn,
        ColumnCount
    };

    explicit ScheduleTableModel(Scheduler *scheduler, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    schedule::Schedule schedule(int row) const { return m_rows.at(row); }
    int rowOf(qint64 id) const;
    void reload();

    // "Record" or "Play".
    static QString actionText(schedule::Action action);
    // "2027-03-28 06:30", or "06:30 every day", "06:30 on Mon, Wed".
    static QString whenText(const schedule::Schedule &s);

private:
    QString nextRunText(const schedule::Schedule &s) const;

    Scheduler *m_scheduler;
    QList<schedule::Schedule> m_rows;
};
