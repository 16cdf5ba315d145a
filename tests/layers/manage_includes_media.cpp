// The list window plays a program through the store and "LIVE_PLAY"; it
// never sees the media layer the playback session uses.
#include "platform/media/MediaPlayer.h"
