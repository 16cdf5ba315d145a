#include "platform/ViewController.h"

#include <QKeySequence>
#include <QScreen>
#include <QShortcut>

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
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), sheet);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, child, [child] { child->dismissController(); });

    sheet->adjustSize();
    const QRect parentFrame = parentWindow->frameGeometry();
    QRect frame(QPoint(0, 0), sheet->size());
    frame.moveCenter(parentFrame.center());
    if (const QScreen *screen = parentWindow->screen()) {
        const QRect avail = screen->availableGeometry();
        frame.moveLeft(qBound(avail.left(), frame.left(), qMax(avail.left(), avail.right() - frame.width())));
        frame.moveTop(qBound(avail.top(), frame.top(), qMax(avail.top(), avail.bottom() - frame.height())));
    }
    sheet->move(frame.topLeft());
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
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
