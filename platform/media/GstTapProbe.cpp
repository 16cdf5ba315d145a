#include "platform/media/GstTapProbe.h"

#include "platform/base/Log.h"
#include "platform/media/GstHandles.h"
#include "platform/media/StreamTitle.h"

#include <atomic>
#include <cstring>

namespace {

constexpr const char *kTapKey = "orbitune-stream-tap";

// What the playbin holds: the tap, and whether a parser has it already (each
// connection is a new playbin, so one probe per playbin is one per stream).
struct TapState {
    std::shared_ptr<StreamTap> tap;
    std::atomic_bool attached = false;
};
using SharedState = std::shared_ptr<TapState>;

StreamTap::Format formatOf(const char *factory)
{
    if (std::strcmp(factory, "mpegaudioparse") == 0)
        return StreamTap::Format::Mp3;
    if (std::strcmp(factory, "aacparse") == 0)
        return StreamTap::Format::Aac;
    if (std::strcmp(factory, "oggdemux") == 0)
        return StreamTap::Format::Ogg;
    return StreamTap::Format::Unknown;
}

void deliverBuffer(StreamTap &tap, GstBuffer *buffer)
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    tap.streamData(reinterpret_cast<const char *>(map.data), qsizetype(map.size));
    gst_buffer_unmap(buffer, &map);
}

QString titleOf(GstEvent *event)
{
    GstTagList *tags = nullptr; // owned by the event
    gst_event_parse_tag(event, &tags);
    if (!tags)
        return {};
    gsthandle::Chars title;
    gsthandle::Chars artist;
    gst_tag_list_get_string(tags, GST_TAG_TITLE, gsthandle::out(title));
    gst_tag_list_get_string(tags, GST_TAG_ARTIST, gsthandle::out(artist));
    // Read as the player's bus handler reads it, so both name a song alike.
    return streamtitle::fromTags(QByteArray(title.get()), QByteArray(artist.get()));
}

// Runs on the streaming thread; touches only the tap.
GstPadProbeReturn onProbe(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    StreamTap &tap = *static_cast<SharedState *>(data)->get()->tap;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        deliverBuffer(tap, GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0; i < gst_buffer_list_length(list); ++i)
            deliverBuffer(tap, gst_buffer_list_get(list, i));
    } else if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_TAG) {
            const QString title = titleOf(event);
            if (!title.isEmpty())
                tap.streamTitle(title);
        }
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

namespace gsttap {

void install(GstElement *playbin, std::shared_ptr<StreamTap> tap)
{
    if (!tap)
        return;
    auto *state = new SharedState(std::make_shared<TapState>());
    (*state)->tap = std::move(tap);
    g_object_set_data_full(G_OBJECT(playbin), kTapKey, state,
                           [](gpointer p) { delete static_cast<SharedState *>(p); });
}

void elementAdded(GstElement *playbin, GstElement *element)
{
    auto *state = static_cast<SharedState *>(g_object_get_data(G_OBJECT(playbin), kTapKey));
    if (!state)
        return;
    GstElementFactory *factory = gst_element_get_factory(element);
    const StreamTap::Format format = formatOf(factory ? GST_OBJECT_NAME(factory) : "");
    if (format == StreamTap::Format::Unknown || (*state)->attached.exchange(true))
        return;
    const gsthandle::Object<GstPad> pad(gst_element_get_static_pad(element, "sink"));
    if (!pad)
        return;
    (*state)->tap->streamStarted(format);
    // The probe keeps the state alive for as long as the pad lives.
    gst_pad_add_probe(pad.get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      onProbe, new SharedState(*state),
                      [](gpointer p) { delete static_cast<SharedState *>(p); });
    NSLog(lcMedia(), QtDebugMsg, "stream tap on %@",
          QString::fromUtf8(GST_OBJECT_NAME(gst_element_get_factory(element))));
}

} // namespace gsttap
