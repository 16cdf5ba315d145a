// Linked into the start-up benchmark's builds only (the probed copy of the
// app and the minimal window). When ORBITUNE_REPORT_EXPOSED is set, prints
// "exposed <CLOCK_MONOTONIC ns>" on stdout the first time a top-level
// window is exposed on screen.
#include <QCoreApplication>
#include <QEvent>
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
        if (event->type() == QEvent::Expose && window && window->isTopLevel() &&
            window->isExposed()) {
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            std::printf("exposed %lld\n", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
            std::fflush(stdout);
            qApp->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }
};

void installExposeProbe()
{
    if (!qEnvironmentVariableIsEmpty("ORBITUNE_REPORT_EXPOSED"))
        qApp->installEventFilter(new ExposeFilter(qApp));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installExposeProbe)
