// The song history window stars and lists songs through the history, never
// through the main window.
#include "mainwindow/HomeViewController.h"
