#include "platform/ui/MovableWindow.h"

#include <QApplication>
#include <QEvent>

#include <QMouseEvent>
#include <QWindow>

MovableWindow::MovableWindow(QWidget *parent) : QWidget(parent, Qt::Window) {}

void MovableWindow::hideZoomButton()
{
    Qt::WindowFlags flags = windowFlags();
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    flags &= ~Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
}

void MovableWindow::mousePressEvent(QMouseEvent *event)
{
    if (m_movable && event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MovableWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            m_deactivated.invalidate();
        else
            m_deactivated.start();
    }
    QWidget::changeEvent(event);
}

bool MovableWindow::wasActiveJustNow(int graceMs) const
{
    if (isActiveWindow())
        return true;
    return !QApplication::activeWindow() && m_deactivated.isValid() &&
           m_deactivated.elapsed() < graceMs;
}

#include "moc_MovableWindow.cpp"
