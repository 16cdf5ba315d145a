#include "platform/cast/CastLog.h"

Q_LOGGING_CATEGORY(lcGoogleCast, "orbitune.googlecast", QtInfoMsg)
