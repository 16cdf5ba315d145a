#include "app/AppDelegate.h"

#include "platform/StatusItem.h"
#include "player/HomeViewController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::loadMainInterface()
{
    QApplication::setQuitOnLastWindowClosed(false);
    m_home = std::make_unique<HomeViewController>();
    QWidget *window = m_home->view();
    window->installEventFilter(this);
    connect(m_home.get(), &HomeViewController::quitRequested, qApp, &QApplication::quit,
            Qt::QueuedConnection);
    connect(qApp, &QApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    window->show();
    applicationDidFinishLaunching();
}

void AppDelegate::applicationDidFinishLaunching() {}

void AppDelegate::applicationWillTerminate() {}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() const
{
    return !StatusItem::isTrayAvailable();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (!hasVisibleWindows && m_home) {
        QWidget *window = m_home->view()->window();
        window->show();
        window->raise();
        window->activateWindow();
    }
    return true;
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (m_home && watched == m_home->view() && event->type() == QEvent::Close &&
        applicationShouldTerminateAfterLastWindowClosed()) {
        QTimer::singleShot(0, qApp, &QApplication::quit);
    }
    return QObject::eventFilter(watched, event);
}
