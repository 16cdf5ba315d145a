#pragma once

#include <QObject>

class PlaybackSession;
class SleepInhibitor;

// Keeps the computer from suspending while the listener wants sound: while
// the session's stream is opening or playing.
class ListeningInhibitor : public QObject {
    Q_OBJECT
public:
    ListeningInhibitor(PlaybackSession *session, SleepInhibitor *inhibitor,
                       QObject *parent = nullptr);
};
