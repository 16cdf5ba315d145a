#pragma once

#include "platform/base/AsyncTask.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// A thread of its own that runs the tasks posted to it one at a time, in the
// order posted: for work whose order matters (the writes to one file), or
// that needs state made and used on one thread (a database connection,
// made by a first task). When no task waits, it does its idle work a step
// at a time, so that a task posted meanwhile waits at most for the step
// under way.
class SerialWorker {
public:
    using Task = std::function<void()>;
    // One step of the idle work, on the worker's thread; returns whether
    // more is left. Asked again after every task.
    using IdleStep = std::function<bool()>;

    // `name` names the thread (for debuggers and `top -H`), which starts
    // with the first task.
    explicit SerialWorker(const QString &name, IdleStep idle = {});
    // Runs every task posted, then ends the thread; the idle work stops
    // after the step under way.
    ~SerialWorker();

    SerialWorker(const SerialWorker &) = delete;
    SerialWorker &operator=(const SerialWorker &) = delete;

    void post(Task task);
    // Runs `work` after the tasks posted before, then `then(result)` on
    // `receiver`'s thread if the receiver still lives. Called on the
    // receiver's thread.
    template <typename Work, typename Then> void post(QObject *receiver, Work work, Then then)
    {
        post(
            [back = asynctask::ReplyTo(receiver), work = std::move(work),
             then = std::move(then)]() mutable { back.runThen(std::move(work), std::move(then)); });
    }
    // Waits until every task posted so far has run.
    void wait();
    // Waits until no task is left and the idle work has nothing more to do.
    void waitUntilIdle();
    // On the worker's thread, for a task that tries again after a pause:
    // waits up to `ms`, and returns false at once once the worker is ending.
    bool pause(int ms);

private:
    void run();

    IdleStep m_idle;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Task> m_tasks;
    quint64 m_posted = 0;
    quint64 m_done = 0;
    bool m_idleLeft = false;
    bool m_ending = false;
    bool m_started = false;
    std::unique_ptr<QThread> m_thread;
};
