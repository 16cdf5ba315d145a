#pragma once

#include "platform/base/Log.h"

// Google Cast devices: finding them, the connection to one, what it is told.
Q_DECLARE_LOGGING_CATEGORY(lcGoogleCast) // orbitune.googlecast
