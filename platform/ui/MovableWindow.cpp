#include "platform/ui/MovableWindow.h"

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
