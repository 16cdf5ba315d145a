// The store does not reach into the window layer.
#include "platform/ui/Alert.h"
