#include "session/PlayProgram.h"

#include "platform/base/NotificationCenter.h"
#include "store/CacheManager.h"
#include "store/Notifications.h"

namespace session {

bool playProgram(const QVariantMap &program)
{
    if (!CacheManager::shareIntance()->saveLiveData(program))
        return false;
    playCurrentProgram();
    return true;
}

void playCurrentProgram()
{
    NotificationCenter::defaultCenter()->postNotificationName(kLivePlayNotification);
}

void playNonProgram()
{
    NotificationCenter::defaultCenter()->postNotificationName(kLivePlayFailedNotification);
}

} // namespace session
