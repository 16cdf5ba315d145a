#pragma once

#include <QString>

// Posted on NotificationCenter::defaultCenter() right after a window has made
// a program the current one (saveLiveData) to have it played now.
inline const QString kLivePlayNotification = QStringLiteral("LIVE_PLAY");

// Posted instead of kLivePlayNotification when the program chosen to play is
// not a program at all (a list item that is not a dictionary): the current
// program stays as it was and the player shows that playing failed.
inline const QString kLivePlayFailedNotification = QStringLiteral("LIVE_PLAY_FAILED");
