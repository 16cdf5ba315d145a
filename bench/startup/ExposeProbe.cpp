#include "bench/startup/ExposeProbe.h"

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <ctime>

namespace {

class ExposeFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = qobject_cast<QWindow *>(watched);
        if (event->type() == QEvent::Expose && window && window->isExposed()) {
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            std::printf("exposed %lld\n", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
            std::fflush(stdout);
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }
};

} // namespace

namespace orbitune {

void reportFirstExpose(QWidget *window)
{
    if (qEnvironmentVariableIsEmpty("ORBITUNE_REPORT_EXPOSED") || !window)
        return;
    window->winId(); // creates the native window so it can be watched
    if (QWindow *handle = window->windowHandle())
        handle->installEventFilter(new ExposeFilter(handle));
}

} // namespace orbitune
