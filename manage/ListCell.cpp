#include "manage/ListCell.h"

#include "platform/base/Log.h"
#include "platform/ui/PreviewView.h"
#include "ui_ListCell.h"

#include <QEnterEvent>
#include <QPainter>

namespace {
const QColor kOverlayColor = QColor::fromRgbF(0.2f, 0.2f, 0.2f, 0.6f);
constexpr double kPreviewCornerRadius = 8;
} // namespace

ListCell::ListCell(QWidget *parent) : QWidget(parent), m_ui(std::make_unique<Ui::ListCell>())
{
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("customCellView"));
    // The overlay darkens the name and address, the buttons stay on top of
    // it, and it never takes a click meant for the row.
    m_ui->listView->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_ui->listView->stackUnder(m_ui->listPlayBtn);
    m_ui->listView->setGeometry(rect());
    applyAppearance();
    connect(m_ui->listPlayBtn, &QPushButton::clicked, this,
            [this] { listPlayClick(m_ui->listPlayBtn); });
    connect(m_ui->listDelBtn, &QPushButton::clicked, this,
            [this] { listDelClick(m_ui->listDelBtn); });
}

ListCell::~ListCell() = default;

PreviewView *ListCell::previewImageView() const
{
    return m_ui->previewImageView;
}
QLabel *ListCell::nameTF() const
{
    return m_ui->nameTF;
}
QLabel *ListCell::urlTF() const
{
    return m_ui->urlTF;
}
QWidget *ListCell::listView() const
{
    return m_ui->listView;
}
QPushButton *ListCell::listPlayBtn() const
{
    return m_ui->listPlayBtn;
}
QPushButton *ListCell::listDelBtn() const
{
    return m_ui->listDelBtn;
}

void ListCell::setRow(long row)
{
    m_row = row;
    setNeedsDisplay();
}

void ListCell::run(const Block &block)
{
    // Work on a copy: the callback may lead to this row being handed a new
    // entry, which replaces the callback while it runs.
    const Block copy = block;
    if (copy)
        copy();
}

void ListCell::listPlayClick(QObject *)
{
    run(m_playBlock);
}

void ListCell::listDelClick(QObject *)
{
    run(m_delBlock);
}

void ListCell::mouseEntered()
{
    m_pointerInside = true;
    NSLog(lcManage(), QtDebugMsg, "鼠标进入cell范围:%ld", m_row);
    run(m_mouseBlock);
    m_ui->listView->show();
}

void ListCell::mouseExited()
{
    m_pointerInside = false;
    NSLog(lcManage(), QtDebugMsg, "鼠标移出cell范围:%ld", m_row);
    m_ui->listView->hide();
}

void ListCell::setNeedsDisplay()
{
    m_needsDisplay = true;
    update();
}

QObject *ListCell::beginImageRequest()
{
    delete m_imageRequest.data();
    m_imageRequest = new QObject(this);
    m_ui->previewImageView->setImage(QImage());
    return m_imageRequest;
}

// Painting hides the overlay, but only when the row itself was asked to
// repaint as a whole: when it shows another entry (setRow), changes size,
// style or palette, or setNeedsDisplay() is called. Qt also repaints a row
// underneath any of its children that repaint, above all under the overlay
// when it is shown and under a button when the pointer moves onto it; those
// paints leave the overlay alone, otherwise showing the overlay would hide it
// again at once and the row would flicker.
void ListCell::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);

    if (m_needsDisplay) {
        m_needsDisplay = false;
        m_ui->listView->hide();
    }
    applyAppearance();

    // From now on the row follows the pointer.
    m_tracking = true;
}

// Rounded, clipped preview and the translucent dark overlay. Cheap when
// nothing changes, so painting can apply it every time without causing
// another paint.
void ListCell::applyAppearance()
{
    PreviewView *preview = m_ui->previewImageView;
    if (preview->cornerRadius() != kPreviewCornerRadius)
        preview->setCornerRadius(kPreviewCornerRadius);
    if (!preview->masksToBounds())
        preview->setMasksToBounds(true);

    // The role is set explicitly: a row placed in a table would otherwise
    // inherit the table's (white) base role.
    QWidget *overlay = m_ui->listView;
    if (overlay->backgroundRole() != QPalette::Window)
        overlay->setBackgroundRole(QPalette::Window);
    if (overlay->palette().color(QPalette::Window) != kOverlayColor) {
        QPalette pal = overlay->palette();
        pal.setColor(QPalette::Window, kOverlayColor);
        overlay->setPalette(pal);
        overlay->setAutoFillBackground(true);
    }
}

void ListCell::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    if (!m_tracking || m_pointerInside || !window()->isActiveWindow())
        return;
    mouseEntered();
}

void ListCell::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (m_pointerInside)
        mouseExited();
}

void ListCell::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_ui->listView->setGeometry(rect());
    setNeedsDisplay();
}

bool ListCell::event(QEvent *event)
{
    // Pointer events count only while the window is active; when it stops
    // being active the pointer is taken to have left.
    if (event->type() == QEvent::WindowDeactivate && m_pointerInside)
        mouseExited();
    return QWidget::event(event);
}

void ListCell::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::FontChange: setNeedsDisplay(); break;
    default: break;
    }
}

#include "moc_ListCell.cpp"
