#include "integrations/ListeningInhibitor.h"

#include "platform/desktop/SleepInhibitor.h"
#include "session/PlaybackSession.h"

ListeningInhibitor::ListeningInhibitor(PlaybackSession *session, SleepInhibitor *inhibitor,
                                       QObject *parent)
    : QObject(parent)
{
    auto follow = [session, inhibitor] { inhibitor->setInhibited(session->isPlaying()); };
    connect(session, &PlaybackSession::stateChanged, this, follow);
    follow();
}

#include "moc_ListeningInhibitor.cpp"
