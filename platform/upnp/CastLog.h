#pragma once

#include "platform/base/Log.h"

// Playing on the network's renderers: discovery, control, the local server.
Q_DECLARE_LOGGING_CATEGORY(lcCast) // orbitune.cast
