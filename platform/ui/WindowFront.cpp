#include "platform/ui/WindowFront.h"

#include <QWidget>

void bringToFront(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
