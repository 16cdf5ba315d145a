#include "platform/media/GstBusPump.h"

#include <QSocketNotifier>

GstBusPump::GstBusPump(GstBus *bus, Handler handler, QObject *parent)
    : QObject(parent), m_bus(GST_BUS(gst_object_ref(bus))), m_handler(std::move(handler)),
      m_alive(std::make_shared<bool>(true))
{
    GPollFD pollFd{};
    gst_bus_get_pollfd(m_bus.get(), &pollFd);
    m_notifier = new QSocketNotifier(pollFd.fd, QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &GstBusPump::drain);
}

GstBusPump::~GstBusPump()
{
    *m_alive = false;
    // We may be inside the notifier's own activation; let Qt delete it once
    // it has returned. Disabled, it no longer watches the descriptor.
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    gst_bus_set_flushing(m_bus.get(), TRUE);
}

void GstBusPump::drain()
{
    // The handler may destroy this pump; keep what the loop needs locally.
    const std::shared_ptr<bool> alive = m_alive;
    const Handler handler = m_handler;
    const gsthandle::Object<GstBus> bus(GST_BUS(gst_object_ref(m_bus.get())));
    while (*alive) {
        const gsthandle::Message message(gst_bus_pop(bus.get()));
        if (!message)
            break;
        handler(message.get());
    }
}

#include "moc_GstBusPump.cpp"
