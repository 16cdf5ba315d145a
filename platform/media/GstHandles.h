#pragma once

// Owning holders for the GLib and GStreamer handles the player uses, so that
// every early return releases what it took.

#include <gst/gst.h>

#include <memory>

namespace gsthandle {

struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
template <typename T> using Object = std::unique_ptr<T, ObjectUnref>;

// A pipeline is stopped before its last reference goes, so that its threads
// are joined and its connections closed.
struct PipelineRelease {
    void operator()(GstElement *pipeline) const
    {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
using Pipeline = std::unique_ptr<GstElement, PipelineRelease>;

struct ErrorFree {
    void operator()(GError *error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

struct CharFree {
    void operator()(gchar *text) const { g_free(text); }
};
using Chars = std::unique_ptr<gchar, CharFree>;

struct TagListUnref {
    void operator()(GstTagList *tags) const { gst_tag_list_unref(tags); }
};
using TagList = std::unique_ptr<GstTagList, TagListUnref>;

struct CapsUnref {
    void operator()(GstCaps *caps) const { gst_caps_unref(caps); }
};
using Caps = std::unique_ptr<GstCaps, CapsUnref>;

struct MessageUnref {
    void operator()(GstMessage *message) const { gst_message_unref(message); }
};
using Message = std::unique_ptr<GstMessage, MessageUnref>;

struct IteratorFree {
    void operator()(GstIterator *it) const { gst_iterator_free(it); }
};
using Iterator = std::unique_ptr<GstIterator, IteratorFree>;

// Fills a holder through a C out-parameter: parse(&out(holder)).
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

} // namespace gsthandle
