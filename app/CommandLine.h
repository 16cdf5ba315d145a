#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Orbitune driven from a terminal or a script: `orbitune --play NAME`,
// `--status`, ... Each such command goes to the running instance, which
// answers with a code and a text; the command-line process prints the text
// and exits with the code.
namespace commandline {

enum class Action {
    Play,
    Pause,
    Toggle,
    Stop,
    Next,
    Previous,
    Volume,
    Mute,
    Record,
    SaveLastSong,
    Back,
    Live,
    Status,
    List,
    Add,
};

// What the process exits with.
enum Code { Done = 0, Refused = 1, NotRunning = 2 };

struct Command {
    Action action = Action::Status;
    // The program (--play), the volume ("40", "+5", "-5"), the seconds
    // (--back) or the address (--add).
    QString value;
    QString name;  // --add --name
    QString group; // --add --group
    bool json = false;
};

// The arguments (without the program's own name) hold a command: one of the
// options above is among them.
bool isCommand(const QStringList &args);
// The command the arguments say, or the reason they do not make one.
struct Parsed {
    std::optional<Command> command;
    QString error;
};
Parsed parse(const QStringList &args);
// The arguments that say `command` again, for the running instance.
QStringList arguments(const Command &command);
// What --help prints.
QString usage();
// Whether the command may start an instance when none runs.
bool startsInstance(Action action);

} // namespace commandline
