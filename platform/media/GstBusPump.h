#pragma once

#include "platform/media/GstHandles.h"

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Carries the messages of one pipeline bus to the Qt main thread. A socket
// notifier watches the bus's poll descriptor and drains it with gst_bus_pop,
// so no GStreamer thread ever runs our code. Destroying the pump (even from
// inside its own handler) flushes the bus and stops delivery at once: no
// message of this bus reaches the handler afterwards.
class GstBusPump : public QObject {
    Q_OBJECT
public:
    // The handler does not own the message; the pump unrefs it afterwards.
    using Handler = std::function<void(GstMessage *message)>;

    GstBusPump(GstBus *bus, Handler handler, QObject *parent = nullptr);
    ~GstBusPump() override;

    // Delivers whatever is already queued, as the notifier would.
    void drain();

private:
    gsthandle::Object<GstBus> m_bus;
    Handler m_handler;
    QSocketNotifier *m_notifier = nullptr;
    std::shared_ptr<bool> m_alive;
};
