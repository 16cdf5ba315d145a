#include "session/PlayProgram.h"

#include "platform/base/NotificationCenter.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/Notifications.h"
#include "store/ProgramEntry.h"
#include "store/ProgramStore.h"

namespace session {

namespace {

// Played as choosing its row in the list window plays it: that row stands
// for the current program from now on.
Choice playChosen(const programindex::Program &chosen)
{
    if (chosen.entry.isEmpty())
        return {};
    programindex::chosen(chosen);
    const QString name = program::name(chosen.entry);
    return {playProgram(chosen.entry) ? Choice::Playing : Choice::NotSaved, name};
}

} // namespace

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

Choice playNeighbour(ProgramStore *store, int step)
{
    return playChosen(programindex::neighbour(store->currentProgram(), step, store->programs()));
}

Choice playKey(ProgramStore *store, const QString &key)
{
    return playChosen(store->program(key));
}

void followStore(PlaybackSession *session, ProgramStore *store)
{
    QObject::connect(store, &ProgramStore::currentProgramChanged, session,
                     &PlaybackSession::refreshProgram);
    session->refreshProgram();
}

} // namespace session
