// The station search adds and plays through the store, never through the
// list window.
#include "manage/ListViewController.h"
