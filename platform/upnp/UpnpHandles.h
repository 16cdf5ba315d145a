#pragma once

// Owning holders for the GLib and GUPnP handles of the renderer control
// point, in the style of the media layer's GstHandles.h: every early return
// releases what it took, and a signal handler goes with its holder.

#include <libgupnp/gupnp.h>

#include <memory>

namespace upnphandle {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using Object = std::unique_ptr<T, ObjectUnref>;

// Takes a new reference to an object someone else owns.
template <typename T> Object<T> ref(T *object)
{
    return Object<T>(object ? static_cast<T *>(g_object_ref(object)) : nullptr);
}

struct ErrorFree {
    void operator()(GError *error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

struct CharFree {
    void operator()(char *text) const { g_free(text); }
};
using Chars = std::unique_ptr<char, CharFree>;

struct ActionUnref {
    void operator()(GUPnPServiceProxyAction *action) const
    {
        gupnp_service_proxy_action_unref(action);
    }
};
using Action = std::unique_ptr<GUPnPServiceProxyAction, ActionUnref>;

// A handler connected to an object's signal; disconnected when the holder
// goes, so no callback reaches an object of ours after it is destroyed.
class Signal {
public:
    Signal() = default;
    Signal(gpointer instance, gulong id) : m_instance(instance), m_id(id) {}
    Signal(Signal &&other) noexcept : m_instance(other.m_instance), m_id(other.m_id)
    {
        other.m_instance = nullptr;
        other.m_id = 0;
    }
    Signal &operator=(Signal &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_instance = other.m_instance;
            m_id = other.m_id;
            other.m_instance = nullptr;
            other.m_id = 0;
        }
        return *this;
    }
    Signal(const Signal &) = delete;
    Signal &operator=(const Signal &) = delete;
    ~Signal() { reset(); }

    void reset()
    {
        if (m_instance && m_id && g_signal_handler_is_connected(m_instance, m_id))
            g_signal_handler_disconnect(m_instance, m_id);
        m_instance = nullptr;
        m_id = 0;
    }

private:
    gpointer m_instance = nullptr;
    gulong m_id = 0;
};

// Fills a holder through a C out-parameter: call(&out(holder)).
template <typename Holder> class Out {
public:
    explicit Out(Holder &holder) : m_holder(holder) {}
    ~Out() { m_holder.reset(m_raw); }
    operator typename Holder::pointer *() { return &m_raw; }

private:
    Holder &m_holder;
    typename Holder::pointer m_raw = nullptr;
};
template <typename Holder> Out<Holder> out(Holder &holder)
{
    return Out<Holder>(holder);
}

} // namespace upnphandle
