#pragma once

#include "support/FakeImageLoader.h"
#include "support/FakeMedia.h"

#include "platform/base/NotificationCenter.h"
#include "session/PlayProgram.h"
#include "session/PlaybackSession.h"
#include "store/Notifications.h"
#include "store/ProgramStore.h"

// The playback session over fake media and pictures, following the program
// store, and playing what "LIVE_PLAY" asks for as the main window has it
// played: what the desktop's integrations are built on, without a window.
struct SessionFixture {
    FakeMediaFactory media;
    FakeImageLoader images;
    ProgramStore store;
    PlaybackSession session;
    QObject observer;

    SessionFixture()
    {
        session::followStore(&session, &store);
        NotificationCenter *center = NotificationCenter::defaultCenter();
        center->addObserver(&observer, kLivePlayNotification, [this] { session.playCurrent(); });
        center->addObserver(&observer, kLivePlayFailedNotification,
                            [this] { session.currentProgramFailed(); });
    }
    ~SessionFixture() { NotificationCenter::defaultCenter()->removeObserver(&observer); }

    void ready() { media.lastItem()->setStatus(MediaItem::StatusReadyToPlay); }
};
