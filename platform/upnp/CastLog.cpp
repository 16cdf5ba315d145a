#include "platform/upnp/CastLog.h"

Q_LOGGING_CATEGORY(lcCast, "orbitune.cast", QtInfoMsg)
