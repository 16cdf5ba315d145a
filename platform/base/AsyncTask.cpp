#include "platform/base/AsyncTask.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>
#include <QThreadPool>

namespace asynctask {

// What the workers hold of a receiver: its anchor while it lives.
struct ReplyTo::Link {
    QMutex mutex;
    QObject *anchor = nullptr;
};

// A child of the receiver, made on first use and shared by every way back to
// it; results are queued to the anchor, so the way back closes when the
// receiver's children go. A worker queueing a result at that moment holds
// the link's mutex, which the anchor waits for before it goes; what was
// queued to it is dropped with it.
class ReplyTo::Anchor : public QObject {
public:
    explicit Anchor(QObject *receiver) : QObject(receiver), link(std::make_shared<Link>())
    {
        link->anchor = this;
    }
    ~Anchor() override
    {
        QMutexLocker lock(&link->mutex);
        link->anchor = nullptr;
    }

    const std::shared_ptr<Link> link;
};

ReplyTo::ReplyTo(QObject *receiver)
{
    Q_ASSERT(receiver && QThread::currentThread() == receiver->thread());
    Anchor *anchor = nullptr;
    for (QObject *child : receiver->children()) {
        if ((anchor = dynamic_cast<Anchor *>(child)))
            break;
    }
    m_link = (anchor ? anchor : new Anchor(receiver))->link;
}

bool ReplyTo::alive() const
{
    QMutexLocker lock(&m_link->mutex);
    return m_link->anchor != nullptr;
}

void ReplyTo::post(std::function<void()> call) const
{
    QMutexLocker lock(&m_link->mutex);
    if (m_link->anchor)
        QMetaObject::invokeMethod(m_link->anchor, std::move(call), Qt::QueuedConnection);
}

void ReplyTo::deliverQueued() const
{
    QObject *anchor = nullptr;
    {
        QMutexLocker lock(&m_link->mutex);
        anchor = m_link->anchor;
    }
    // The anchor goes only on this thread, so it cannot go meanwhile.
    if (anchor)
        QCoreApplication::sendPostedEvents(anchor, QEvent::MetaCall);
}

void run(std::function<void()> work, QThreadPool *pool)
{
    (pool ? pool : QThreadPool::globalInstance())->start(std::move(work));
}

} // namespace asynctask
