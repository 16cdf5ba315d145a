// The Schedules window changes schedules through the scheduler; it never
// plays or records, so the session is out of its reach.
#include "session/PlaybackSession.h"
