#pragma once

class QWidget;

// Shows `window`, puts it above the others and gives it the keyboard.
void bringToFront(QWidget *window);
