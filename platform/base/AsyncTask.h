#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

class QThreadPool;

// Work done off the main thread, and the way its result comes back. A
// result meant for an object is delivered on that object's thread, through
// its event loop, and only while the object lives: an object destroyed
// before its result came never hears of it, and no worker touches it.
namespace asynctask {

// The way back to `receiver`'s thread. Made on that thread while the
// receiver lives; copied and used from any thread.
class ReplyTo {
public:
    explicit ReplyTo(QObject *receiver);

    // Whether the receiver still lives (it may go right after).
    bool alive() const;
    // Queues `call` on the receiver's thread. It runs there only if the
    // receiver still lives; what was queued for a receiver that goes is
    // dropped with it.
    void post(std::function<void()> call) const;
    // Runs `work` here, then hands its result to `then` on the receiver's
    // thread.
    template <typename Work, typename Then> void runThen(Work work, Then then) const
    {
        if constexpr (std::is_void_v<std::invoke_result_t<Work &>>) {
            work();
            post(std::move(then));
        } else {
            post([then = std::move(then), result = work()]() mutable { then(std::move(result)); });
        }
    }
    // On the receiver's thread: runs now what was queued back to it (for a
    // receiver that waits for its work in its destructor and takes the
    // outcome itself).
    void deliverQueued() const;

private:
    struct Link;
    class Anchor;
    std::shared_ptr<Link> m_link;
};

// Runs `work` on `pool` (Qt's global pool when null); nothing comes back.
// For work that touches no object of ours.
void run(std::function<void()> work, QThreadPool *pool = nullptr);

// Runs `work` on `pool` (Qt's global pool when null), then `then(result)`
// on `receiver`'s thread if the receiver still lives. Called on the
// receiver's thread.
template <typename Work, typename Then>
void run(QObject *receiver, Work work, Then then, QThreadPool *pool = nullptr)
{
    run([back = ReplyTo(receiver), work = std::move(work),
         then = std::move(then)]() mutable { back.runThen(std::move(work), std::move(then)); },
        pool);
}

} // namespace asynctask
