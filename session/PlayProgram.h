#pragma once

#include <QVariantMap>

class PlaybackSession;
class ProgramStore;

// "Play this program", from whichever window the listener chose it in: the
// program becomes the store's current program, then "LIVE_PLAY" tells the
// playback session to play it. Windows that use these see neither the
// session nor the player.
namespace session {

// False when the program could not be saved as the current one; then
// nothing is played (the player would otherwise start the old program).
bool playProgram(const QVariantMap &program);
// Plays the store's current program afresh (after it changed underneath,
// as when the defaults were restored).
void playCurrentProgram();
// The chosen item is not a program at all: the current program stays as it
// is and the player shows that playing failed.
void playNonProgram();

// `session` re-reads the current program whenever `store` says it changed.
void followStore(PlaybackSession *session, ProgramStore *store);

} // namespace session
