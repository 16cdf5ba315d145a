#include "platform/ui/ViewController.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/WindowFront.h"

#include <QEvent>
#include <QKeySequence>
#include <QPalette>
#include <QScreen>

namespace {
// Closing a presented window by other means than dismissController (the
// title bar's close button, the window manager) dismisses its controller too;
// otherwise the presenter would still consider it presented.
class SheetCloseWatcher : public QObject {
public:
    explicit SheetCloseWatcher(ViewController *controller) : QObject(controller) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            static_cast<ViewController *>(parent())->dismissController();
        return false;
    }
};
} // namespace

ViewController::ViewController(QObject *parent) : QObject(parent) {}

ViewController::~ViewController()
{
    if (m_presented)
        delete m_presented.data();
    if (m_view && !m_view->parent())
        delete m_view.data();
}

QWidget *ViewController::view()
{
    if (!m_view) {
        m_view = loadView();
        viewDidLoad();
    }
    return m_view;
}

void ViewController::setBackgroundColor(QWidget *view, const QColor &color)
{
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, color);
    // Keep text readable whatever the desktop's colour scheme.
    palette.setColor(QPalette::WindowText,
                     color.lightness() > 128 ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white));
    view->setPalette(palette);
    view->setAutoFillBackground(true);
}

void ViewController::presentViewControllerAsSheet(ViewController *child)
{
    if (!child)
        return;
    if (m_presented)
        m_presented->dismissController();
    QWidget *parentWindow = view()->window();
    child->setParent(this);
    child->m_presenting = this;
    m_presented = child;

    QWidget *sheet = child->view();
    sheet->setParent(parentWindow, Qt::Dialog);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose, false);
    ShortcutRegistry::add(sheet, QKeySequence(Qt::Key_Escape), QStringLiteral("dismissShortcut"),
                          child, [child] { child->dismissController(); });
    sheet->installEventFilter(new SheetCloseWatcher(child));

    sheet->adjustSize();
    const QRect parentFrame = parentWindow->frameGeometry();
    QRect frame(QPoint(0, 0), sheet->size());
    frame.moveCenter(parentFrame.center());
    if (const QScreen *screen = parentWindow->screen())
        frame = keptInside(frame, screen->availableGeometry());
    sheet->move(frame.topLeft());
    bringToFront(sheet);
}

void ViewController::dismissController(QObject *)
{
    ViewController *presenting = m_presenting;
    if (!presenting)
        return;
    if (m_view)
        m_view->hide();
    m_presenting = nullptr;
    if (presenting->m_presented == this)
        presenting->m_presented = nullptr;
    Q_EMIT dismissed();
    deleteLater();
}

#include "moc_ViewController.cpp"
