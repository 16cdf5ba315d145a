#include "platform/ui/TableView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {
constexpr int kMaxSpareViews = 2;
constexpr char kIdentifierProperty[] = "tableViewIdentifier";

QString identifierOf(const QWidget *view)
{
    return view->property(kIdentifierProperty).toString();
}
} // namespace

TableView::TableView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(pal);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);

    // Above the rows, where a dragged row would land.
    m_dropIndicator = new QWidget(viewport());
    m_dropIndicator->setObjectName(QStringLiteral("dropIndicator"));
    m_dropIndicator->setAccessibleName(QStringLiteral("Drop position"));
    m_dropIndicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dropIndicator->setAutoFillBackground(true);
    m_dropIndicator->setBackgroundRole(QPalette::Highlight);
    m_dropIndicator->hide();
}

TableView::~TableView()
{
    // Row views may still call back into the delegate while they go; they
    // must not find a delegate that is being destroyed too.
    m_dataSource = nullptr;
    m_delegate = nullptr;
}

void TableView::setDataSource(TableViewDataSource *dataSource)
{
    m_dataSource = dataSource;
}

void TableView::setDelegate(TableViewDelegate *delegate)
{
    m_delegate = delegate;
}

void TableView::setSelectionHighlightStyle(SelectionHighlightStyle style)
{
    m_highlightStyle = style;
    viewport()->update();
}

void TableView::registerViewFactory(const QString &identifier, std::function<QWidget *()> factory)
{
    m_factories.insert(identifier, std::move(factory));
}

QWidget *TableView::makeViewWithIdentifier(const QString &identifier, QObject *owner)
{
    Q_UNUSED(owner);
    std::erase_if(m_spares, [](const Spare &s) { return s.view.isNull(); });
    auto pick = m_spares.end();
    for (auto it = m_spares.begin(); it != m_spares.end(); ++it) {
        if (it->identifier != identifier)
            continue;
        pick = it;
        if (it->lastRow == m_requestedRow)
            break;
    }
    if (pick != m_spares.end()) {
        QWidget *view = pick->view;
        m_spares.erase(pick);
        return view;
    }
    const auto factory = m_factories.constFind(identifier);
    if (factory == m_factories.constEnd() || !*factory)
        return nullptr;
    QWidget *view = (*factory)();
    if (!view)
        return nullptr;
    view->setParent(viewport());
    view->hide();
    view->setProperty(kIdentifierProperty, identifier);
    m_allViews.emplace_back(view);
    return view;
}

void TableView::reloadData()
{
    const long count = m_dataSource ? m_dataSource->numberOfRowsInTableView(this) : 0;
    m_rowCount = std::max(0L, count);
    if (m_delegate && m_rowCount > 0)
        m_rowHeight = std::max(1, m_delegate->heightOfRow(this, 0));
    std::vector<long> rows;
    for (const auto &[row, view] : m_placed)
        rows.push_back(row);
    for (long row : rows)
        recycle(row);
    if (m_selectedRow >= m_rowCount)
        setSelection(-1, true);
    updateScrollBar();
    layoutRows();
    viewport()->update();
}

void TableView::selectRow(long row)
{
    setSelection(row >= 0 && row < m_rowCount ? row : -1, true);
}

void TableView::scrollRowToVisible(long row)
{
    if (row < 0 || row >= m_rowCount)
        return;
    const long top = row * m_rowHeight;
    const long bottom = top + m_rowHeight;
    QScrollBar *bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(int(top));
    else if (bottom > bar->value() + viewport()->height())
        bar->setValue(int(std::min<long>(INT_MAX, bottom - viewport()->height())));
}

long TableView::rowAtPoint(const QPoint &viewportPos) const
{
    if (viewportPos.y() < 0 || viewportPos.y() >= viewport()->height())
        return -1;
    const long row = (long(viewportPos.y()) + verticalScrollBar()->value()) / m_rowHeight;
    return row < m_rowCount ? row : -1;
}

QWidget *TableView::viewAtRow(long row) const
{
    const auto it = m_placed.find(row);
    return it == m_placed.end() ? nullptr : it->second.data();
}

long TableView::rowForView(const QWidget *view) const
{
    for (const auto &[row, placed] : m_placed) {
        if (placed == view)
            return row;
    }
    return -1;
}

int TableView::rowViewCount() const
{
    return int(std::count_if(m_allViews.begin(), m_allViews.end(),
                             [](const QPointer<QWidget> &v) { return !v.isNull(); }));
}

bool TableView::event(QEvent *event)
{
    // Escape during a drag ends the drag, not the window it is in; Alt+Up
    // and Alt+Down move rows rather than reaching a shortcut.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool moveKey = m_rowsMovable && (key->modifiers() & Qt::AltModifier) &&
                             (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down);
        if ((m_dragging && key->key() == Qt::Key_Escape) || moveKey) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TableView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
    layoutRows();
}

void TableView::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    updateScrollBar();
    layoutRows();
}

void TableView::scrollContentsBy(int, int)
{
    layoutRows();
}

void TableView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QRect selected = rowRect(m_selectedRow);
    if (m_selectedRow >= 0 && m_highlightStyle == SelectionHighlightStyleRegular)
        painter.fillRect(selected, palette().color(QPalette::Highlight));
    // Keyboard users need to see which row their keys act on, whatever the
    // selection style; a mouse click selects without drawing anything.
    if (m_selectedRow >= 0 && m_keyboardFocusVisible && hasFocus()) {
        QPen pen(palette().color(QPalette::Highlight));
        pen.setWidth(2);
        painter.setPen(pen);
        painter.drawRect(selected.adjusted(1, 1, -1, -1));
    }
}

void TableView::mousePressEvent(QMouseEvent *event)
{
    m_keyboardFocusVisible = false;
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton) {
        m_pressPos = event->position().toPoint();
        m_pressRow = rowAtPoint(m_pressPos);
        setSelection(m_pressRow, true);
    }
    event->accept();
}

void TableView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (!m_rowsMovable || m_pressRow < 0 || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    if (!m_dragging && (pos - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        m_dragging = true;
        viewport()->setCursor(Qt::ClosedHandCursor);
    }
    if (m_dragging)
        dragTo(pos);
    event->accept();
}

void TableView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    const long from = m_pressRow;
    const long gap = m_dragging ? m_dropGap : -1;
    endDrag();
    if (from >= 0 && gap >= 0) {
        // Landing below itself takes the row out of the gap's count first.
        const long to = gap > from ? gap - 1 : gap;
        if (to != from)
            moveRow(from, to);
    }
    event->accept();
}

void TableView::dragTo(const QPoint &viewportPos)
{
    // Near the edges the list scrolls, so a row can travel the whole list.
    QScrollBar *bar = verticalScrollBar();
    if (viewportPos.y() < m_rowHeight / 2)
        bar->setValue(bar->value() - m_rowHeight / 2);
    else if (viewportPos.y() > viewport()->height() - m_rowHeight / 2)
        bar->setValue(bar->value() + m_rowHeight / 2);
    const long y = long(viewportPos.y()) + bar->value() + m_rowHeight / 2;
    m_dropGap = std::clamp<long>(y / m_rowHeight, 0, m_rowCount);
    const long lineY = m_dropGap * m_rowHeight - bar->value();
    m_dropIndicator->setGeometry(
        0, int(std::clamp<long>(lineY - 1, 0, std::max(0, viewport()->height() - 2))),
        viewport()->width(), 2);
    m_dropIndicator->show();
    m_dropIndicator->raise();
}

void TableView::endDrag()
{
    if (m_dragging)
        viewport()->unsetCursor();
    m_dragging = false;
    m_dropGap = -1;
    m_pressRow = -1;
    m_dropIndicator->hide();
}

void TableView::moveRow(long from, long to)
{
    if (!m_delegate || !m_delegate->tableViewMoveRow(this, from, to))
        return;
    setSelection(to < m_rowCount ? to : -1, true);
    scrollRowToVisible(to);
    viewport()->update();
}

void TableView::keyPressEvent(QKeyEvent *event)
{
    if (m_dragging && event->key() == Qt::Key_Escape) {
        endDrag(); // the row stays where it was
        event->accept();
        return;
    }
    if (m_rowCount == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const long visibleRows = std::max(1, viewport()->height() / m_rowHeight);
    const long current = m_selectedRow;
    if (m_rowsMovable && (event->modifiers() & Qt::AltModifier) &&
        (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        const long to = event->key() == Qt::Key_Up ? current - 1 : current + 1;
        m_keyboardFocusVisible = true;
        if (current >= 0 && to >= 0 && to < m_rowCount)
            moveRow(current, to);
        event->accept();
        return;
    }
    long target = -2;
    switch (event->key()) {
    case Qt::Key_Down: target = current < 0 ? 0 : std::min(m_rowCount - 1, current + 1); break;
    case Qt::Key_Up: target = current < 0 ? 0 : std::max(0L, current - 1); break;
    case Qt::Key_PageDown:
        target = std::min(m_rowCount - 1, std::max(0L, current) + visibleRows);
        break;
    case Qt::Key_PageUp: target = std::max(0L, current - visibleRows); break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = m_rowCount - 1; break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (current >= 0 && m_delegate)
            m_delegate->tableViewDeleteRow(this, current);
        event->accept();
        return;
    case Qt::Key_F10:
        if (!(event->modifiers() & Qt::ShiftModifier)) {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        [[fallthrough]];
    case Qt::Key_Menu:
        if (current >= 0 && m_delegate)
            m_delegate->tableViewMenuForRow(this, current,
                                            viewport()->mapToGlobal(rowRect(current).center()));
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (current >= 0 && m_delegate)
            m_delegate->tableViewActivateRow(this, current);
        event->accept();
        return;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    m_keyboardFocusVisible = true;
    if (target != current)
        setSelection(target, true);
    scrollRowToVisible(target);
    viewport()->update();
    event->accept();
}

void TableView::contextMenuEvent(QContextMenuEvent *event)
{
    // From the keyboard the chosen row's; from the mouse the row under it,
    // which becomes the chosen one.
    long row = m_selectedRow;
    QPoint at = row >= 0 ? viewport()->mapToGlobal(rowRect(row).center()) : event->globalPos();
    if (event->reason() != QContextMenuEvent::Keyboard) {
        row = rowAtPoint(viewport()->mapFromGlobal(event->globalPos()));
        at = event->globalPos();
        if (row >= 0 && row != m_selectedRow)
            setSelection(row, true);
    }
    if (row >= 0 && m_delegate)
        m_delegate->tableViewMenuForRow(this, row, at);
    event->accept();
}

void TableView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        m_keyboardFocusVisible = true;
    viewport()->update();
}

void TableView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TableView::updateScrollBar()
{
    const long total = std::min<long>(INT_MAX, m_rowCount * long(m_rowHeight));
    QScrollBar *bar = verticalScrollBar();
    bar->setSingleStep(m_rowHeight);
    bar->setPageStep(std::max(1, viewport()->height()));
    bar->setRange(0, int(std::max<long>(0, total - viewport()->height())));
}

QRect TableView::rowRect(long row) const
{
    if (row < 0)
        return {};
    const long y = row * m_rowHeight - verticalScrollBar()->value();
    return QRect(0, int(std::clamp<long>(y, INT_MIN / 2, INT_MAX / 2)), viewport()->width(),
                 m_rowHeight);
}

void TableView::recycle(long row)
{
    const auto it = m_placed.find(row);
    if (it == m_placed.end())
        return;
    QPointer<QWidget> view = it->second;
    m_placed.erase(it);
    if (!view)
        return;
    view->hide();
    m_spares.push_back(Spare{view, identifierOf(view), row});
}

void TableView::trimSpares(int keep)
{
    std::erase_if(m_spares, [](const Spare &s) { return s.view.isNull(); });
    while (int(m_spares.size()) > keep) {
        QWidget *view = m_spares.front().view;
        m_spares.erase(m_spares.begin());
        std::erase(m_allViews, QPointer<QWidget>(view));
        // The view may be the sender of the event that led here.
        view->deleteLater();
    }
}

void TableView::layoutRows()
{
    if (m_inLayout || !isVisible())
        return;
    m_inLayout = true;
    long first = 0;
    long last = -1;
    if (m_rowCount > 0 && viewport()->height() > 0) {
        const long top = verticalScrollBar()->value();
        first = std::min(m_rowCount - 1, top / m_rowHeight);
        last = std::min(m_rowCount - 1, (top + viewport()->height() - 1) / m_rowHeight);
    }

    std::vector<long> gone;
    for (const auto &[row, view] : m_placed) {
        if (row < first || row > last || view.isNull())
            gone.push_back(row);
    }
    for (long row : gone)
        recycle(row);

    for (long row = first; row <= last && m_delegate; ++row) {
        if (m_placed.count(row)) {
            m_placed[row]->setGeometry(rowRect(row));
            continue;
        }
        m_requestedRow = row;
        QWidget *view = m_delegate->viewForRow(this, row);
        m_requestedRow = -1;
        if (!view || rowForView(view) >= 0)
            continue;
        if (view->parentWidget() != viewport()) {
            view->setParent(viewport());
            m_allViews.emplace_back(view);
        }
        // The delegate may have taken a spare without going through
        // makeViewWithIdentifier.
        std::erase_if(m_spares, [view](const Spare &s) { return s.view == view; });
        m_placed[row] = view;
        view->setGeometry(rowRect(row));
        view->show();
    }
    trimSpares(kMaxSpareViews);
    m_inLayout = false;
}

void TableView::setSelection(long row, bool notify)
{
    if (row == m_selectedRow)
        return;
    m_selectedRow = row;
    viewport()->update();
    if (notify && m_delegate)
        m_delegate->tableViewSelectionDidChange(this);
}

#include "moc_TableView.cpp"
