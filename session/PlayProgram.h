#pragma once

#include <QString>
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

// What became of a program chosen by its key or by stepping through the
// list; `name` is the program's.
struct Choice {
    enum Outcome { Playing, NotListed, NotSaved } outcome = NotListed;
    QString name;
};
// Plays the program `step` places after (before, when negative) the current
// one among the programs of its group, wrapping around; by position, so that a list holding the
// same entry twice reaches every row. The first (or last) when the current program is not listed;
// NotListed when the list holds no program.
Choice playNeighbour(ProgramStore *store, int step);
// Plays the listed program whose key is `key` (see programindex).
Choice playKey(ProgramStore *store, const QString &key);

// `session` reads the current program now and again whenever `store` says
// it changed.
void followStore(PlaybackSession *session, ProgramStore *store);

} // namespace session
