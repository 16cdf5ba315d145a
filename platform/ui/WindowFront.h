#pragma once

class QWidget;

// Shows `window` in its normal state (a minimised window is restored), puts
// it above the others and gives it the keyboard.
void bringToFront(QWidget *window);

// Whether the user can see `window`: shown and not minimised. Qt counts a
// minimised window as visible, so isVisible() alone does not tell.
bool isShownToUser(const QWidget *window);
