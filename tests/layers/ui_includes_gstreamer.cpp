// Widgets never talk to GStreamer.
#include <gst/gst.h>
