// The stream layer reads bytes; playing them is the media layer's.
#include <gst/gst.h>
