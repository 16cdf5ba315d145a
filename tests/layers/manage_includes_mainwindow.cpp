// The list window and the main window meet only through the store and the
// LIVE_PLAY notification.
#include "mainwindow/HomeViewController.h"
