#pragma once

#include <QString>

// Posted on NotificationCenter::defaultCenter() right after a window has made
// a program the current one (saveLiveData) to have it played now.
inline const QString kLivePlayNotification = QStringLiteral("LIVE_PLAY");
