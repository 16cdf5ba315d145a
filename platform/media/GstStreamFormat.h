#pragma once

class MediaItem;
typedef struct _GstElement GstElement;
typedef struct _GstTagList GstTagList;

// What the stream is, technically (codec, bitrate, sample rate), told to
// the item from the stream's tags and the decoded audio's caps. Runs on the
// main thread (bus messages come through the pump).
namespace gstformat {

// The codec and bitrate the tags tell, and what is decoded when that leaves
// something unknown. `nominalBitrate` is set once the stream told its
// nominal bitrate, which then wins over momentary ones.
void readTags(MediaItem &item, const GstTagList *tags, GstElement *pipeline, bool *nominalBitrate);
// The codec (while unknown) and the sample rate of what `pipeline` decodes.
void readDecoded(MediaItem &item, GstElement *pipeline);

} // namespace gstformat
