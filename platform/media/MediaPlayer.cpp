#include "platform/media/MediaPlayer.h"

namespace {
MediaPlayerFactory *g_factory = nullptr;
}

MediaPlayerFactory *MediaPlayerFactory::shared()
{
    return g_factory;
}

void MediaPlayerFactory::setShared(MediaPlayerFactory *factory)
{
    g_factory = factory;
}

#include "moc_MediaPlayer.cpp"
