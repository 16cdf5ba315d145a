#include "platform/ui/WindowFront.h"

#include <QWidget>

void bringToFront(QWidget *window)
{
    // show() keeps a minimised window minimised; clear that state first so
    // the window comes back as it was before it was minimised.
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

bool isShownToUser(const QWidget *window)
{
    return window->isVisible() && !window->isMinimized();
}
