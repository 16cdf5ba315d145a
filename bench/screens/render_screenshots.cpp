// Renders the list window (with the pointer over a row) and the add form
// (with its validation alert) to PNG files, for the user's guide. Run it
// with a private XDG_DATA_HOME on a display (Xvfb is fine):
//   render_screenshots OUTPUT_DIR
#include "app/ManageLauncher.h"
#include "mainwindow/HomeViewController.h"
#include "manage/AddViewController.h"
#include "manage/ListCell.h"
#include "manage/ListViewController.h"
#include "platform/base/Resources.h"
#include "platform/net/ImageLoader.h"
#include "store/CacheManager.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Draws each top-level window of `windows` where it sits on screen.
QImage compose(const QList<QWidget *> &windows)
{
    QRect bounds;
    for (QWidget *w : windows)
        bounds |= w->frameGeometry();
    QImage out(bounds.size(), QImage::Format_ARGB32);
    out.fill(QColor(0xe8, 0xe8, 0xe8));
    QPainter p(&out);
    for (QWidget *w : windows)
        p.drawPixmap(w->geometry().topLeft() - bounds.topLeft(), w->grab());
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    orbitune::initResources();
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    HomeViewController home;
    ManageLauncher sheets(&home);
    sheets.setListControllerFactory([] { return new ListViewController; });
    sheets.setAddControllerFactory([] { return new AddViewController; });
    home.view()->show();
    settle(1500);

    sheets.listClick();
    auto *list = qobject_cast<ListViewController *>(home.presentedViewController());
    if (!list)
        return 1;
    list->view()->activateWindow();
    settle(1500);
    const QList<ListCell *> cells = list->view()->findChildren<ListCell *>();
    for (ListCell *cell : cells) {
        if (cell->isVisible() && cell->row() == 1) {
            cell->mouseEntered();
            break;
        }
    }
    if (!cells.isEmpty() && !cells.at(0)->isTrackingPointer())
        qWarning("rows are not tracking the pointer yet");
    settle(300);
    list->view()->grab().save(outDir + QStringLiteral("/list-window.png"));
    list->dismissController();
    settle(300);

    sheets.addClick();
    auto *add = qobject_cast<AddViewController *>(home.presentedViewController());
    if (!add)
        return 1;
    settle(500);
    add->saveClick();
    settle(800);
    QList<QWidget *> windows{add->view()};
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(w) && w->isVisible())
            windows << w;
    compose(windows).save(outDir + QStringLiteral("/add-form-alert.png"));
    return 0;
}
