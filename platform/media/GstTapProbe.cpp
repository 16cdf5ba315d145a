#include "platform/media/GstTapProbe.h"

#include "platform/base/Log.h"
#include "platform/media/GstHandles.h"
#include "platform/stream/Adts.h"
#include "platform/stream/StreamTitle.h"

#include <QByteArray>

#include <array>
#include <atomic>
#include <cstring>
#include <optional>

namespace {

constexpr const char *kTapKey = "orbitune-stream-tap";

// What the playbin holds: the tap, and whether a pad has it already (each
// connection is a new playbin, so one probe per playbin is one per stream).
// The rest is the probe's, on the streaming thread.
struct TapState {
    std::shared_ptr<StreamTap> tap;
    std::atomic_bool attached = false;
    bool started = false;             // the stream's caps were seen
    bool recordable = false;          // its bytes are handed on
    std::optional<adts::Header> adts; // raw AAC frames are given this header
};
using SharedState = std::shared_ptr<TapState>;

// Where the stream is taken: at an Ogg demuxer (Ogg is kept as sent), or at
// the first audio parser or decoder, behind any other demuxer.
bool tapsHere(GstElement *element)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    if (!factory)
        return false;
    if (std::strcmp(GST_OBJECT_NAME(factory), "oggdemux") == 0)
        return true;
    const char *klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass && std::strstr(klass, "Audio") &&
           (std::strstr(klass, "Parser") || std::strstr(klass, "Decoder") ||
            std::strstr(klass, "Demuxer"));
}

// The ADTS header of the frames of raw AAC from its AudioSpecificConfig
// (MP4's "codec_data").
std::optional<adts::Header> adtsHeaderFor(GstBuffer *config)
{
    GstMapInfo map;
    if (!config || !gst_buffer_map(config, &map, GST_MAP_READ))
        return {};
    auto header = adts::headerFor(map.data, qsizetype(map.size));
    gst_buffer_unmap(config, &map);
    return header;
}

// The format the stream of `caps` is recorded in; Unknown when it cannot be
// recorded as sent.
StreamTap::Format formatOf(const GstCaps *caps, TapState &state)
{
    const GstStructure *s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
    if (!s)
        return StreamTap::Format::Unknown;
    const char *name = gst_structure_get_name(s);
    if (g_str_equal(name, "application/ogg") || g_str_equal(name, "audio/ogg"))
        return StreamTap::Format::Ogg;
    int version = 0;
    if (!g_str_equal(name, "audio/mpeg") || !gst_structure_get_int(s, "mpegversion", &version))
        return StreamTap::Format::Unknown;
    if (version == 1)
        return StreamTap::Format::Mp3;
    const char *framing = gst_structure_get_string(s, "stream-format");
    if (version != 2 && version != 4)
        return StreamTap::Format::Unknown;
    if (!framing || g_str_equal(framing, "adts"))
        return StreamTap::Format::Aac;
    if (g_str_equal(framing, "raw")) {
        const GValue *config = gst_structure_get_value(s, "codec_data");
        state.adts = config && GST_VALUE_HOLDS_BUFFER(config)
                         ? adtsHeaderFor(gst_value_get_buffer(config))
                         : std::nullopt;
        if (state.adts)
            return StreamTap::Format::Aac;
    }
    return StreamTap::Format::Unknown;
}

void started(TapState &state, const GstCaps *caps)
{
    const StreamTap::Format format = formatOf(caps, state);
    state.started = true;
    state.recordable = format != StreamTap::Format::Unknown;
    state.tap->streamStarted(format);
    if (!state.recordable) {
        const gsthandle::Chars text(caps ? gst_caps_to_string(caps) : nullptr);
        NSLog(lcMedia(), QtInfoMsg, "stream tap: %@ cannot be recorded as sent",
              QString::fromUtf8(text ? text.get() : "a file read at random"));
    }
}

void deliverBuffer(TapState &state, GstBuffer *buffer)
{
    GstMapInfo map;
    if (!state.recordable || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const auto *data = reinterpret_cast<const char *>(map.data);
    if (!state.adts) {
        state.tap->streamData(data, qsizetype(map.size));
    } else {
        QByteArray frame;
        adts::appendFrame(*state.adts, data, qsizetype(map.size), &frame);
        if (!frame.isEmpty())
            state.tap->streamData(frame.constData(), frame.size());
    }
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
    TapState &state = **static_cast<SharedState *>(data);
    // A local file is pulled at random (its length, its tags), not played
    // through in order: what passes is not the stream as heard.
    if (!state.started && (info->type & GST_PAD_PROBE_TYPE_PULL))
        started(state, nullptr);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        deliverBuffer(state, GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0; i < gst_buffer_list_length(list); ++i)
            deliverBuffer(state, gst_buffer_list_get(list, i));
    } else if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS && !state.started) {
            GstCaps *caps = nullptr; // owned by the event
            gst_event_parse_caps(event, &caps);
            started(state, caps);
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_TAG) {
            const QString title = titleOf(event);
            if (!title.isEmpty())
                state.tap->streamTitle(title);
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
    if (!state || !tapsHere(element))
        return;
    const gsthandle::Object<GstPad> pad(gst_element_get_static_pad(element, "sink"));
    if (!pad || (*state)->attached.exchange(true))
        return;
    // The probe keeps the state alive for as long as the pad lives; the
    // stream's format is known from its caps, before its first bytes.
    gst_pad_add_probe(pad.get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      onProbe, new SharedState(*state),
                      [](gpointer p) { delete static_cast<SharedState *>(p); });
    NSLog(lcMedia(), QtDebugMsg, "stream tap on %@",
          QString::fromUtf8(GST_OBJECT_NAME(gst_element_get_factory(element))));
}

} // namespace gsttap
