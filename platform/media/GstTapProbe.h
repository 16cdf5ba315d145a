#pragma once

#include "platform/media/StreamTap.h"

#include <memory>

typedef struct _GstElement GstElement;

// Hands a playbin's compressed audio to a StreamTap: a probe on the sink pad
// of the first parser or demuxer the playbin plugs in (mpegaudioparse,
// aacparse or oggdemux), which sees the stream once ICY metadata is taken
// out and before anything is decoded.
namespace gsttap {

// Remembers the tap on the playbin; nothing happens until a parser appears.
void install(GstElement *playbin, std::shared_ptr<StreamTap> tap);

// Called for every element added anywhere in the playbin (on a streaming
// thread): attaches the probe to the first parser of a known format.
void elementAdded(GstElement *playbin, GstElement *element);

} // namespace gsttap
