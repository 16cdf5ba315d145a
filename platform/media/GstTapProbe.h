#pragma once

#include "platform/stream/StreamTap.h"

#include <memory>

typedef struct _GstElement GstElement;

// Hands a playbin's compressed audio to a StreamTap: a probe on the sink pad
// of oggdemux, or of the first audio parser or decoder the playbin plugs in
// (behind any other demuxer), which sees the stream once ICY metadata is
// taken out and before anything is decoded. The stream's caps say what it
// is: MP3, ADTS AAC and Ogg are handed on as sent, raw AAC (from MP4) with
// the ADTS header of each frame; anything else, and a local file (read at
// random, not in order), is started as Unknown and none of its bytes are
// handed on.
namespace gsttap {

// Remembers the tap on the playbin; nothing happens until a parser appears.
void install(GstElement *playbin, std::shared_ptr<StreamTap> tap);

// Called for every element added anywhere in the playbin (on a streaming
// thread): attaches the probe where the stream is taken.
void elementAdded(GstElement *playbin, GstElement *element);

} // namespace gsttap
