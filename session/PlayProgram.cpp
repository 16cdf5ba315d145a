#include "session/PlayProgram.h"

#include "platform/base/NotificationCenter.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/Notifications.h"
#include "store/ProgramStore.h"

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

void followStore(PlaybackSession *session, ProgramStore *store)
{
    QObject::connect(store, &ProgramStore::currentProgramChanged, session,
                     &PlaybackSession::refreshProgram);
}

} // namespace session
