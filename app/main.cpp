#include "app/AppDelegate.h"
#include "platform/base/Resources.h"
#include "platform/desktop/SingleInstance.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// Qt aborts (and dumps core) when it finds no display to open. Without an
// explicit platform choice, say what is missing instead.
bool hasDisplayOrPlatformChoice(int argc, char *argv[])
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
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
    return app.exec();
}
