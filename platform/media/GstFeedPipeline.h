#pragma once

#include "platform/media/GstHandles.h"

#include <QByteArray>
#include <QString>

#include <functional>

// The pipeline that plays what we hand it ourselves: the bytes of a stream
// our own client reads, pushed into an appsrc and decoded after it
// (appsrc ! decodebin ! audioconvert ! audioresample ! levelling ! volume !
// sink; the levelling is GstLoudness's bin).
// Starting over at another byte flushes what the elements hold and keeps the
// elements, the decoder included.
namespace gstfeed {

// In the NULL state, or null with `error` set. `wantsData` is called on a
// streaming thread when the source runs low.
gsthandle::Pipeline make(std::function<void()> wantsData, QString *error);

// The element whose GstStreamVolume sets the volume.
GstElement *volumeElement(GstElement *pipeline);
// The decoded audio's pad (a reference), or null.
GstPad *decodedPad(GstElement *pipeline);
// Whether the sink fell back to discarding samples (no sound device).
bool playsSilently(GstElement *pipeline);
// Whether `pipeline` is one of these.
bool isFeed(GstElement *pipeline);
// Bytes handed over and not taken by the decoder yet.
qint64 queuedBytes(GstElement *pipeline);
void push(GstElement *pipeline, const QByteArray &bytes);
// Drops everything held in the pipeline; what is pushed next plays as a
// new start of the same stream, with the timing started afresh. With
// `freshDecoder`, it is decoded as a stream of its own from the start (a
// demuxer that had an Ogg chain takes no other after a flush).
bool restart(GstElement *pipeline, qint64 offset, bool freshDecoder = false);

} // namespace gstfeed
