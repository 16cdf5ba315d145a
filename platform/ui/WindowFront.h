#pragma once

class QRect;
class QWidget;

// Shows `window` in its normal state (a minimised window is restored), puts
// it above the others and gives it the keyboard.
void bringToFront(QWidget *window);

// Whether the user can see `window`: shown and not minimised. Qt counts a
// minimised window as visible, so isVisible() alone does not tell.
bool isShownToUser(const QWidget *window);

// `frame` moved as little as needed to lie inside `available` (a screen's
// available geometry); a frame larger than it keeps its top-left corner in.
QRect keptInside(QRect frame, const QRect &available);

// Moves a window that is not shown yet to the centre of `near`'s window
// (or of the screen when there is none, or it is hidden), kept on screen.
void placeNear(QWidget *window, QWidget *near);
