#include "app/CommandLine.h"

#include <array>
#include <utility>

namespace commandline {

namespace {

using commandline::Action;

struct Option {
    const char *name;
    Action action;
    bool takesValue;
};

constexpr std::array kOptions{
    Option{"--play", Action::Play, true},
    Option{"--pause", Action::Pause, false},
    Option{"--toggle", Action::Toggle, false},
    Option{"--stop", Action::Stop, false},
    Option{"--next", Action::Next, false},
    Option{"--previous", Action::Previous, false},
    Option{"--volume", Action::Volume, true},
    Option{"--mute", Action::Mute, false},
    Option{"--record", Action::Record, false},
    Option{"--save-last-song", Action::SaveLastSong, false},
    Option{"--back", Action::Back, true},
    Option{"--live", Action::Live, false},
    Option{"--status", Action::Status, false},
    Option{"--list", Action::List, false},
    Option{"--add", Action::Add, true},
};

const Option *optionNamed(const QString &arg)
{
    for (const Option &option : kOptions) {
        if (arg == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

bool isVolume(const QString &value)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    return ok && n >= -100 && n <= 100 && (n >= 0 || value.startsWith(QLatin1Char('-')));
}

} // namespace

bool isCommand(const QStringList &args)
{
    for (const QString &arg : args) {
        if (optionNamed(arg))
            return true;
    }
    return false;
}

Parsed parse(const QStringList &args)
{
    Command command;
    const Option *chosen = nullptr;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const auto valueOf = [&](QString &into) {
            if (i + 1 >= args.size())
                return false;
            into = args.at(++i);
            return true;
        };
        if (const Option *option = optionNamed(arg)) {
            if (chosen)
                return {std::nullopt, QStringLiteral("one command at a time: %1 and %2")
                                          .arg(QLatin1String(chosen->name), arg)};
            chosen = option;
            command.action = option->action;
            if (option->takesValue && !valueOf(command.value))
                return {std::nullopt, QStringLiteral("%1 needs a value").arg(arg)};
        } else if (arg == QLatin1String("--json")) {
            command.json = true;
        } else if (arg == QLatin1String("--name")) {
            if (!valueOf(command.name))
                return {std::nullopt, QStringLiteral("--name needs a value")};
        } else if (arg == QLatin1String("--group")) {
            if (!valueOf(command.group))
                return {std::nullopt, QStringLiteral("--group needs a value")};
        } else {
            return {std::nullopt, QStringLiteral("unknown option: %1").arg(arg)};
        }
    }
    if (!chosen)
        return {std::nullopt, QStringLiteral("no command given")};
    if ((!command.name.isEmpty() || !command.group.isEmpty()) && command.action != Action::Add)
        return {std::nullopt, QStringLiteral("--name and --group go with --add")};
    if (command.json && command.action != Action::Status && command.action != Action::List)
        return {std::nullopt, QStringLiteral("--json goes with --status or --list")};
    if (command.action == Action::Volume && !isVolume(command.value))
        return {std::nullopt,
                QStringLiteral("--volume takes 0 to 100, or +N or -N to change it by N")};
    if (command.action == Action::Back) {
        bool ok = false;
        const int seconds = command.value.toInt(&ok);
        if (!ok || seconds <= 0)
            return {std::nullopt, QStringLiteral("--back takes a number of seconds")};
    }
    if (command.value.size() > 4096 || command.name.size() > 1024 || command.group.size() > 1024)
        return {std::nullopt, QStringLiteral("too long")};
    return {command, QString()};
}

QStringList arguments(const Command &command)
{
    QStringList args;
    for (const Option &option : kOptions) {
        if (option.action != command.action)
            continue;
        args << QLatin1String(option.name);
        if (option.takesValue)
            args << command.value;
    }
    if (!command.name.isEmpty())
        args << QStringLiteral("--name") << command.name;
    if (!command.group.isEmpty())
        args << QStringLiteral("--group") << command.group;
    if (command.json)
        args << QStringLiteral("--json");
    return args;
}

bool startsInstance(Action action)
{
    return action == Action::Play || action == Action::Add;
}

QString usage()
{
    return QStringLiteral(
        "Usage: orbitune [--hidden]\n"
        "       orbitune COMMAND\n"
        "\n"
        "Without a command, starts Orbitune (or brings its window back).\n"
        "  --hidden                  start in the tray, the window hidden\n"
        "\n"
        "Commands, sent to the running Orbitune:\n"
        "  --play NAME               play a program: its name, a part of it that\n"
        "                            names one program only, or its position\n"
        "  --pause, --toggle, --stop pause, play or pause, stop\n"
        "  --next, --previous        the next or previous program in its group\n"
        "  --volume N|+N|-N          volume in percent, or up or down by N\n"
        "  --mute                    mute, or unmute when muted\n"
        "  --record                  start recording, or stop it\n"
        "  --save-last-song          save the last song heard\n"
        "  --back SECONDS            go back in what was kept of the station\n"
        "  --live                    back to live\n"
        "  --status [--json]         the program, the title, playing or paused,\n"
        "                            how far behind live, the volume\n"
        "  --list [--json]           the programs with their groups\n"
        "  --add URL [--name NAME] [--group GROUP]\n"
        "                            add a program to the list\n"
        "\n"
        "Exit status: 0 done, 1 refused (no such program, ...), 2 Orbitune is not\n"
        "running (--play and --add start it, in the tray).\n");
}

} // namespace commandline
