#include "platform/base/SerialWorker.h"

#include <QThread>

SerialWorker::SerialWorker(const QString &name, IdleStep idle)
    : m_idle(std::move(idle)), m_thread(QThread::create([this] { run(); }))
{
    m_thread->setObjectName(name);
}

SerialWorker::~SerialWorker()
{
    Q_ASSERT(QThread::currentThread() != m_thread.get());
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread->wait();
}

void SerialWorker::post(Task task)
{
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        ++m_posted;
        first = !std::exchange(m_started, true);
    }
    if (first)
        m_thread->start();
    m_changed.notify_all();
}

void SerialWorker::wait()
{
    Q_ASSERT(QThread::currentThread() != m_thread.get());
    std::unique_lock lock(m_mutex);
    const quint64 posted = m_posted;
    m_changed.wait(lock, [&] { return m_done >= posted; });
}

void SerialWorker::waitUntilIdle()
{
    Q_ASSERT(QThread::currentThread() != m_thread.get());
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_done >= m_posted && !m_idleLeft; });
}

bool SerialWorker::pause(int ms)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_ending; });
}

void SerialWorker::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_tasks.empty() || m_ending || m_idleLeft; });
        if (!m_tasks.empty()) {
            Task task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            task = nullptr; // what it held goes before it counts as done
            lock.lock();
            ++m_done;
            m_idleLeft = bool(m_idle);
            m_changed.notify_all();
            continue;
        }
        if (m_ending)
            break;
        lock.unlock();
        const bool more = m_idle();
        lock.lock();
        m_idleLeft = more;
        if (!more)
            m_changed.notify_all();
    }
}
