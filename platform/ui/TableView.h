#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <vector>

class TableView;

// Supplies the number of rows.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual long numberOfRowsInTableView(TableView *tableView) = 0;
};

// Supplies row heights and row views and hears about the user's actions.
class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    // Rows share one height: the table asks for row 0 when it reloads.
    virtual int heightOfRow(TableView *tableView, long row) = 0;
    // The view for `row`, normally from makeViewWithIdentifier(). Called
    // each time a view is placed at a row, also when a view is reused, so
    // the delegate hands the view its content anew every time.
    virtual QWidget *viewForRow(TableView *tableView, long row) = 0;
    virtual void tableViewSelectionDidChange(TableView *) {}
    // Keyboard: Delete/Backspace and Return/Enter on the focused row.
    virtual void tableViewDeleteRow(TableView *, long) {}
    virtual void tableViewActivateRow(TableView *, long) {}
    // Moving a row, when the table's rows are movable (a drag with the
    // mouse, or Alt+Up/Alt+Down): the row at `from` is to end up at index
    // `to`. Returns whether it moved; the delegate reloads the table.
    virtual bool tableViewMoveRow(TableView *, long, long) { return false; }
    // The row's menu: a right click on it, or the Menu key or Shift+F10 on
    // the chosen row. `at` is where the menu goes, in global coordinates.
    virtual void tableViewMenuForRow(TableView *, long, const QPoint &) {}
};

// A view-based table of one column. Row views are created only for the rows
// that can be seen (plus at most two spare ones) and are reused while
// scrolling. Clicking a row outside its controls selects it; the keyboard
// moves the focused (and selected) row. Movable rows are dragged to another
// place (a line shows where they will land), or moved a place up or down
// with Alt+Up and Alt+Down; the moved row stays selected.
class TableView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum SelectionHighlightStyle {
        SelectionHighlightStyleNone = -1,
        SelectionHighlightStyleRegular = 0
    };

    explicit TableView(QWidget *parent = nullptr);
    ~TableView() override;

    void setDataSource(TableViewDataSource *dataSource);
    void setDelegate(TableViewDelegate *delegate);
    TableViewDataSource *dataSource() const { return m_dataSource; }
    TableViewDelegate *delegate() const { return m_delegate; }

    void setSelectionHighlightStyle(SelectionHighlightStyle style);
    SelectionHighlightStyle selectionHighlightStyle() const { return m_highlightStyle; }

    // Row views for `identifier` are made by `factory` when no spare one is
    // left.
    void registerViewFactory(const QString &identifier, std::function<QWidget *()> factory);
    // A spare view for `identifier` (preferably the one that showed the row
    // being asked for), or a new one; nullptr for an unknown identifier.
    // `owner` is accepted for symmetry with the factory's users and not read.
    QWidget *makeViewWithIdentifier(const QString &identifier, QObject *owner);

    // Asks the data source for the row count again and every visible row
    // for its view again.
    void reloadData();

    long numberOfRows() const { return m_rowCount; }
    int rowHeight() const { return m_rowHeight; }
    long selectedRow() const { return m_selectedRow; }
    void selectRow(long row);
    void scrollRowToVisible(long row);
    long rowAtPoint(const QPoint &viewportPos) const;

    void setRowsMovable(bool movable) { m_rowsMovable = movable; }
    bool rowsMovable() const { return m_rowsMovable; }
    // While a row is dragged: the gap between rows it would land in (0 is
    // above the first row, numberOfRows() below the last); -1 otherwise.
    long dropGap() const { return m_dropGap; }

    // The view currently placed at `row`, or nullptr when the row is not
    // visible.
    QWidget *viewAtRow(long row) const;
    // Row shown by `view`, or -1.
    long rowForView(const QWidget *view) const;
    // Row views created so far and still alive (placed or spare).
    int rowViewCount() const;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    struct Spare {
        QPointer<QWidget> view;
        QString identifier;
        long lastRow;
    };

    void updateScrollBar();
    void layoutRows();
    void recycle(long row);
    void trimSpares(int keep);
    void setSelection(long row, bool notify);
    QRect rowRect(long row) const;
    void moveRow(long from, long to);
    void dragTo(const QPoint &viewportPos);
    void endDrag();

    TableViewDataSource *m_dataSource = nullptr;
    TableViewDelegate *m_delegate = nullptr;
    SelectionHighlightStyle m_highlightStyle = SelectionHighlightStyleRegular;
    QHash<QString, std::function<QWidget *()>> m_factories;
    std::vector<QPointer<QWidget>> m_allViews;
    std::map<long, QPointer<QWidget>> m_placed;
    std::vector<Spare> m_spares;
    long m_rowCount = 0;
    int m_rowHeight = 24;
    long m_selectedRow = -1;
    long m_requestedRow = -1;
    bool m_inLayout = false;
    bool m_keyboardFocusVisible = false;
    bool m_rowsMovable = false;
    long m_pressRow = -1;
    QPoint m_pressPos;
    bool m_dragging = false;
    long m_dropGap = -1;
    QWidget *m_dropIndicator = nullptr;
};
