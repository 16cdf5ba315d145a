#pragma once

class QWidget;

// For start-up measurements: when ORBITUNE_REPORT_EXPOSED is set, prints
// "exposed <CLOCK_MONOTONIC ns>" on stdout the first time `window` is
// exposed on screen. Does nothing otherwise.
namespace orbitune {
void reportFirstExpose(QWidget *window);
}
