// Renders the Find Stations window to find-window.png for the user's guide,
// with its first list (the most listened stations) from the directory that
// ORBITUNE_DIRECTORY_URL names (tests/find/fake_directory.py serves one on
// loopback). Run it with a private XDG_DATA_HOME on a display (Xvfb is fine):
//   render_find_window OUTPUT_DIR
#include "app/FindLauncher.h"
#include "find/FindViewController.h"
#include "mainwindow/HomeViewController.h"
#include "platform/base/Resources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    orbitune::initResources();
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    HomeViewController home;
    home.view()->show();
    FindLauncher launcher;
    launcher.attachHome(home.host());
    launcher.open(home.view());
    FindViewController *find = launcher.controller();
    find->view()
        ->findChild<QLineEdit *>(QStringLiteral("searchField"))
        ->setText(QStringLiteral("a"));
    find->searchNow();
    QElapsedTimer waited;
    waited.start();
    while ((find->client()->isBusy() || waited.elapsed() < 1500) && waited.elapsed() < 15000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return find->view()->grab().save(outDir + QStringLiteral("/find-window.png")) ? 0 : 1;
}
