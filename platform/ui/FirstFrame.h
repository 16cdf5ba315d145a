#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Runs work once, on the main thread, right after the first frame of
// window's top-level window is painted, so that start-up work the first frame
// does not need waits behind it. For a window already on screen, work runs on
// the next turn of the event loop; for one shown but never painted, a second
// after it was shown. Nothing runs once context is gone.
void runAfterFirstFrame(QWidget *window, QObject *context, std::function<void()> work);
