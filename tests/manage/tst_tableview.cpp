// The pooled table on its own, with a delegate whose rows are a label and a
// button: only visible rows get views, views are reused and rebound while
// scrolling, clicks and keys reach the delegate with the right row.
#include "support/TestEnv.h"

#include "platform/ui/TableView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

namespace {

class Rows : public TableViewDataSource, public TableViewDelegate {
public:
    long count = 0;
    int height = 20;
    QList<long> built;      // rows handed a view, in order
    QList<long> selections; // selectedRow at each selection change
    QList<long> deletes;
    QList<long> activations;

    long numberOfRowsInTableView(TableView *) override { return count; }
    int heightOfRow(TableView *, long) override { return height; }
    QWidget *viewForRow(TableView *table, long row) override
    {
        QWidget *view = table->makeViewWithIdentifier(QStringLiteral("row"), nullptr);
        view->findChild<QLabel *>(QStringLiteral("label"))->setText(QString::number(row));
        built << row;
        return view;
    }
    void tableViewSelectionDidChange(TableView *table) override
    {
        selections << table->selectedRow();
    }
    void tableViewDeleteRow(TableView *, long row) override { deletes << row; }
    void tableViewActivateRow(TableView *, long row) override { activations << row; }
};

QWidget *makeRow()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel;
    label->setObjectName(QStringLiteral("label"));
    auto *button = new QPushButton(QStringLiteral("x"));
    button->setObjectName(QStringLiteral("button"));
    layout->addWidget(label, 1);
    layout->addWidget(button);
    return row;
}

QString labelOf(QWidget *view)
{
    return view ? view->findChild<QLabel *>(QStringLiteral("label"))->text() : QString();
}

} // namespace

class TableViewTest : public QObject {
    Q_OBJECT

    Rows rows;
    TableView *table = nullptr;

    // Rows that can be seen, counting a partly visible one.
    int visibleRows() const
    {
        return (table->viewport()->height() + rows.height - 1) / rows.height + 1;
    }

    void checkPlacedRowsShowTheirIndex()
    {
        const int first = table->verticalScrollBar()->value() / rows.height;
        const int last = std::min<int>(
            int(rows.count) - 1,
            (table->verticalScrollBar()->value() + table->viewport()->height() - 1) / rows.height);
        for (int r = first; r <= last; ++r) {
            QWidget *view = table->viewAtRow(r);
            QVERIFY2(view, qPrintable(QStringLiteral("no view at row %1").arg(r)));
            QVERIFY(view->isVisible());
            QCOMPARE(labelOf(view), QString::number(r));
            QCOMPARE(view->geometry().top(), r * rows.height - table->verticalScrollBar()->value());
        }
        QVERIFY(!table->viewAtRow(first - 1));
        QVERIFY(!table->viewAtRow(last + 1));
    }

private Q_SLOTS:
    void init()
    {
        rows = Rows();
        table = new TableView;
        table->registerViewFactory(QStringLiteral("row"), makeRow);
        table->setDataSource(&rows);
        table->setDelegate(&rows);
        table->resize(200, 100);
    }

    void cleanup()
    {
        delete table;
        table = nullptr;
    }

    void buildsOnlyVisibleRowsAndReusesThemWhileScrolling()
    {
        rows.count = 1000;
        table->reloadData();
        QCOMPARE(table->rowViewCount(), 0); // nothing is built while hidden
        table->show();
        QVERIFY(QTest::qWaitForWindowExposed(table));
        QCOMPARE(table->viewport()->height(), 100);
        QCOMPARE(rows.built, (QList<long>{0, 1, 2, 3, 4}));
        checkPlacedRowsShowTheirIndex();

        // Scroll through the whole list in uneven steps, then back.
        QScrollBar *bar = table->verticalScrollBar();
        QCOMPARE(bar->maximum(), 1000 * 20 - 100);
        int maxViews = 0;
        for (int y = 0; y <= bar->maximum(); y += 37) {
            bar->setValue(y);
            maxViews = std::max(maxViews, table->rowViewCount());
            checkPlacedRowsShowTheirIndex();
        }
        bar->setValue(bar->maximum());
        checkPlacedRowsShowTheirIndex();
        QCOMPARE(labelOf(table->viewAtRow(999)), QStringLiteral("999"));
        bar->setValue(0);
        checkPlacedRowsShowTheirIndex();
        QVERIFY2(maxViews <= visibleRows() + 2, qPrintable(QString::number(maxViews)));
        // Every row was handed a view at some point, each time it came into view.
        QVERIFY(rows.built.contains(500));
        QVERIFY(rows.built.contains(999));
    }

    void reloadAsksAgainForEveryVisibleRowAndKeepsTheirViews()
    {
        rows.count = 10;
        table->show();
        table->reloadData();
        QVERIFY(QTest::qWaitForWindowExposed(table));
        QWidget *second = table->viewAtRow(1);
        rows.built.clear();
        table->reloadData();
        QCOMPARE(rows.built, (QList<long>{0, 1, 2, 3, 4}));
        QCOMPARE(table->viewAtRow(1), second);
        QCOMPARE(table->rowViewCount(), 5);
    }

    void shrinkingListDropsRowsAndSelection()
    {
        rows.count = 50;
        table->show();
        table->reloadData();
        QVERIFY(QTest::qWaitForWindowExposed(table));
        table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum());
        table->selectRow(49);
        rows.selections.clear();

        rows.count = 2;
        table->reloadData();
        QCOMPARE(table->selectedRow(), -1);
        QCOMPARE(rows.selections, (QList<long>{-1}));
        QCOMPARE(table->verticalScrollBar()->maximum(), 0);
        checkPlacedRowsShowTheirIndex();
        QVERIFY(table->rowViewCount() <= 2 + 2);

        rows.count = 0;
        table->reloadData();
        QVERIFY(!table->viewAtRow(0));
        const auto children = table->viewport()->findChildren<QLabel *>(QStringLiteral("label"));
        for (QLabel *label : children)
            QVERIFY(!label->isVisible());
    }

    void clickSelectsRowButNotThroughItsControls()
    {
        rows.count = 10;
        table->show();
        table->reloadData();
        QVERIFY(QTest::qWaitForWindowExposed(table));

        QWidget *third = table->viewAtRow(2);
        QTest::mouseClick(third->findChild<QLabel *>(QStringLiteral("label")), Qt::LeftButton);
        QCOMPARE(table->selectedRow(), 2L);
        QCOMPARE(rows.selections, (QList<long>{2}));
        // The same row again is no change.
        QTest::mouseClick(third, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(rows.selections, (QList<long>{2}));

        QTest::mouseClick(table->viewAtRow(4)->findChild<QPushButton *>(), Qt::LeftButton);
        QCOMPARE(table->selectedRow(), 2L);
        QCOMPARE(rows.selections, (QList<long>{2}));
    }

    void keysMoveTheFocusedRowAndReachTheDelegate()
    {
        rows.count = 30;
        table->show();
        table->reloadData();
        QVERIFY(QTest::qWaitForWindowExposed(table));
        table->setFocus();

        QTest::keyClick(table, Qt::Key_Down);
        QCOMPARE(table->selectedRow(), 0L);
        QTest::keyClick(table, Qt::Key_Down);
        QTest::keyClick(table, Qt::Key_Down);
        QTest::keyClick(table, Qt::Key_Up);
        QCOMPARE(table->selectedRow(), 1L);
        QTest::keyClick(table, Qt::Key_Delete);
        QTest::keyClick(table, Qt::Key_Return);
        QCOMPARE(rows.deletes, (QList<long>{1}));
        QCOMPARE(rows.activations, (QList<long>{1}));

        // End scrolls the last row into view.
        QTest::keyClick(table, Qt::Key_End);
        QCOMPARE(table->selectedRow(), 29L);
        QVERIFY(table->viewAtRow(29));
        QCOMPARE(labelOf(table->viewAtRow(29)), QStringLiteral("29"));
        QTest::keyClick(table, Qt::Key_Down);
        QCOMPARE(table->selectedRow(), 29L);
        QTest::keyClick(table, Qt::Key_Home);
        QVERIFY(table->viewAtRow(0));
        QCOMPARE(rows.selections, (QList<long>{0, 1, 2, 1, 29, 0}));
    }

    void rowHeightComesFromTheDelegate()
    {
        rows.count = 10;
        rows.height = 36;
        table->show();
        table->reloadData();
        QVERIFY(QTest::qWaitForWindowExposed(table));
        QCOMPARE(table->rowHeight(), 36);
        QCOMPARE(table->viewAtRow(1)->geometry(), QRect(0, 36, table->viewport()->width(), 36));
        QCOMPARE(table->rowAtPoint(QPoint(5, 80)), 2L);
    }
};

ORBITUNE_TEST_MAIN(TableViewTest)
#include "tst_tableview.moc"
