#include "platform/ui/WindowFront.h"

#include <QRect>
#include <QScreen>
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

QRect keptInside(QRect frame, const QRect &available)
{
    frame.moveLeft(qBound(available.left(), frame.left(),
                          qMax(available.left(), available.right() - frame.width())));
    frame.moveTop(qBound(available.top(), frame.top(),
                         qMax(available.top(), available.bottom() - frame.height())));
    return frame;
}

void placeNear(QWidget *window, QWidget *near)
{
    QWidget *anchor = near ? near->window() : nullptr;
    const QScreen *screen = anchor ? anchor->screen() : window->screen();
    QRect frame(QPoint(0, 0), window->size());
    frame.moveCenter(anchor && anchor->isVisible() ? anchor->frameGeometry().center()
                                                   : screen->availableGeometry().center());
    window->move(keptInside(frame, screen->availableGeometry()).topLeft());
}
