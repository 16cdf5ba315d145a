#include "platform/ui/FirstFrame.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

constexpr int kLatestMs = 1000;

// Waits for the first paint of one window, then runs the work once.
class FirstFrameWatch : public QObject {
public:
    FirstFrameWatch(QWidget *window, QObject *context, std::function<void()> work)
        : QObject(context), m_window(window), m_work(std::move(work))
    {
        window->installEventFilter(this);
        if (window->isVisible())
            QTimer::singleShot(kLatestMs, this, &FirstFrameWatch::runSoon);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window)
            return false;
        if (event->type() == QEvent::Show) {
            QTimer::singleShot(kLatestMs, this, &FirstFrameWatch::runSoon);
        } else if (event->type() == QEvent::Paint) {
            m_window->removeEventFilter(this);
            // Queued: the rest of the frame is painted and flushed first.
            runSoon();
        }
        return false;
    }

private:
    void runSoon()
    {
        if (m_scheduled)
            return;
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] {
            const std::function<void()> work = std::move(m_work);
            deleteLater();
            if (work)
                work();
        });
    }

    QPointer<QWidget> m_window;
    std::function<void()> m_work;
    bool m_scheduled = false;
};

} // namespace

void runAfterFirstFrame(QWidget *window, QObject *context, std::function<void()> work)
{
    QWidget *top = window ? window->window() : nullptr;
    const QWindow *handle = top ? top->windowHandle() : nullptr;
    if (!top || (handle && handle->isExposed())) {
        QTimer::singleShot(0, context, std::move(work));
        return;
    }
    new FirstFrameWatch(top, context, std::move(work));
}
