#include "app/AppDelegate.h"
#include "platform/base/Resources.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/ui/AppIcon.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    orbitune::initResources();
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orbitune"));
    QApplication::setApplicationVersion(QStringLiteral(ORBITUNE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("orbitune"));

    SingleInstance instance;
    if (instance.start(5000) == SingleInstance::Role::Secondary)
        return 0;

    AppDelegate delegate;
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     &AppDelegate::reopenRequested);
    QApplication::setWindowIcon(AppIcon::application());
    delegate.loadMainInterface();
    return app.exec();
}
