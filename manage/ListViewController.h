#pragma once

#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

#include <QHash>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class ProgramStore;

namespace Ui {
class ListView;
}

// The program list window: one row per program of the store. A row's play
// button makes its program the current one, posts "LIVE_PLAY" and closes the
// window; its delete button removes the program after a confirmation; the
// restore button brings back the default list after a confirmation. Rows
// are reordered by dragging or with Alt+Up/Alt+Down; the list is imported
// from and exported to other players' playlist files.
//
// Programs in groups are shown under a heading row per group, after the
// programs of no group; a heading folds and unfolds its group (its button,
// or Return on it). A row's menu (right click, Menu key, Shift+F10) moves a
// program into a group, and a heading's renames or removes the group;
// moving a row past a heading moves it into that group.
class ListViewController : public ViewController,
                           public TableViewDataSource,
                           public TableViewDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 36;
    static inline const QString kCellIdentifier = QStringLiteral("customCellView");
    static inline const QString kHeaderIdentifier = QStringLiteral("groupHeaderView");

    explicit ListViewController(QObject *parent = nullptr);
    ~ListViewController() override;

    TableView *listTableView() const;
    // The program list as last read from the store; the table's only source
    // of rows.
    QVariantList dataArr;

    void loadData();
    // The shown list follows `store`: a program added in another window
    // (Find Stations) or by another process shows without asking.
    void followStore(ProgramStore *store);

    long numberOfRowsInTableView(TableView *tableView) override;
    int heightOfRow(TableView *tableView, long row) override;
    QWidget *viewForRow(TableView *tableView, long row) override;
    void tableViewSelectionDidChange(TableView *tableView) override;
    void tableViewDeleteRow(TableView *tableView, long row) override;
    void tableViewActivateRow(TableView *tableView, long row) override;
    bool tableViewMoveRow(TableView *tableView, long from, long to) override;
    void tableViewMenuForRow(TableView *tableView, long row, const QPoint &at) override;

    // Groups: what the heading and row menus and the New Group button do.
    void newGroupClick(QObject *sender = nullptr);
    void toggleGroup(const QString &group);
    // Puts the program at list index `item` into `group` (empty: none).
    void moveToGroup(qsizetype item, const QString &group);

    // `entry` is a list item as read: a program, or anything a hand-edited
    // file holds in its place.
    void showDelAlert(const QVariant &entry);
    void redoClick(QObject *sender = nullptr);
    void showRedoAlert();
    void closeClick(QObject *sender = nullptr);

Q_SIGNALS:
    // "Find Stations" (button or Ctrl+F): whoever assembles the app opens it.
    void findRequested();

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;

private:
    // A row of the table: a program (its index in dataArr) or, with item
    // -1, the heading of `group`.
    struct ShownRow {
        QString group;
        qsizetype item = -1;
    };
    QWidget *headerView(TableView *tableView, long row);
    void askGroupName(const QString &title, const QString &initial,
                      std::function<void(const QString &)> done);
    void showRemoveGroupAlert(const QString &group);
    void announceGroup(const QVariant &item, const QString &group);
    long rowOfHeader(const QString &group) const;

    void playEntry(const QVariant &item, long row);
    void deleteEntry(const QVariant &item, long row);
    void showConfirmation(const QString &question, std::function<void()> onOK);
    void showSaveFailure(const QString &message);

    std::unique_ptr<Ui::ListView> m_ui;
    QList<ShownRow> m_rows;
    QStringList m_groups;
    QHash<QString, qsizetype> m_groupSizes;
};
