// Schedules only say when a run is due; what plays is wired on top of them.
#include "session/PlaybackSession.h"
