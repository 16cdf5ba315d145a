#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "platform/base/Resources.h"
#include "platform/desktop/SingleInstance.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <cstring>

namespace {

bool hasDisplay()
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    return false;
}

// Qt aborts (and dumps core) when it finds no display to open. Without an
// explicit platform choice, say what is missing instead.
bool hasDisplayOrPlatformChoice(int argc, char *argv[])
{
    if (hasDisplay())
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

void print(std::FILE *to, const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), to);
}

// A command for the running instance: sent, answered, printed; needs no
// display and opens no window. --play and --add start Orbitune in the tray
// when none runs and a display is there.
int runCommand(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const commandline::Parsed parsed = commandline::parse(args);
    if (!parsed.command) {
        print(stderr, QStringLiteral("orbitune: %1 (see --help)\n").arg(parsed.error).toUtf8());
        return commandline::Refused;
    }
    const QStringList sent = commandline::arguments(*parsed.command);
    std::optional<SingleInstance::Answer> answer = SingleInstance::sendCommand(sent);
    if (!answer && commandline::startsInstance(parsed.command->action) && hasDisplay() &&
        QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                {QStringLiteral("--hidden")})) {
        const QDeadlineTimer deadline(20000);
        while (!answer && !deadline.hasExpired()) {
            QThread::msleep(200);
            answer = SingleInstance::sendCommand(sent);
        }
    }
    if (!answer) {
        print(stderr, "orbitune: not running\n");
        return commandline::NotRunning;
    }
    print(answer->code == commandline::Done ? stdout : stderr, answer->text);
    return answer->code;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        print(stdout, commandline::usage().toUtf8());
        return 0;
    }
    if (commandline::isCommand(args))
        return runCommand(argc, argv);
    if (!hasDisplayOrPlatformChoice(argc, argv)) {
        std::fputs("orbitune: needs a graphical session (no X11 or Wayland display found)\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    orbitune::initResources();
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orbitune"));
    QApplication::setApplicationVersion(QStringLiteral(ORBITUNE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("orbitune"));

    // --hidden: started by the desktop (at login, or for its search) into the
    // tray; a running instance is then left as it is.
    const bool hidden = QApplication::arguments().contains(QStringLiteral("--hidden"));
    SingleInstance instance;
    if (instance.start(5000, !hidden) == SingleInstance::Role::Secondary)
        return 0;

    AppDelegate delegate;
    delegate.setStartsHidden(hidden);
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     &AppDelegate::reopenRequested);
    delegate.loadMainInterface();
    delegate.answerCommands(&instance);
    return app.exec();
}
