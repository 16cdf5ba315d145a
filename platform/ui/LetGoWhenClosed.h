#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Calls `closed` whenever `window` is closed; lives as long as the window.
class CloseWatcher : public QObject {
public:
    CloseWatcher(QWidget *window, std::function<void()> closed)
        : QObject(window), m_closed(std::move(closed))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close && watched == parent())
            m_closed();
        return false;
    }

private:
    std::function<void()> m_closed;
};

// A window opened now and then costs nothing while closed: once `holder`'s
// window has closed, the controller is let go, unless the window was shown
// again since. `context` owns `holder`.
template <typename Controller>
void letGoWhenClosed(std::unique_ptr<Controller> &holder, QObject *context)
{
    new CloseWatcher(holder->view(), [&holder, context] {
        QTimer::singleShot(0, context, [&holder] {
            if (holder && !holder->view()->isVisible())
                holder.reset();
        });
    });
}
