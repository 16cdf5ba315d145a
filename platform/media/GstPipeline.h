#pragma once

#include "platform/media/GstHandles.h"
#include "platform/stream/StreamTap.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

// Building and querying the playbin that plays one stream.
namespace gstpipeline {

struct Settings {
    qint64 bufferDurationMs = 2000; // network buffer kept filled
    double startWatermark = 0.25;   // share of it needed to start
    // Gets the compressed stream as it enters the parser or demuxer.
    std::shared_ptr<StreamTap> tap;
};

// Loads GStreamer on first use; safe to call more than once.
bool ensureInitialized();

// Loads GStreamer and the plugins a network radio stream needs on a worker
// thread, so that the first play does not wait for them. Returns at once.
void warmUpInBackground();

// An audio-only playbin for `url` in the NULL state, or null with `error`
// set when GStreamer or playbin is missing.
gsthandle::Pipeline makePlaybin(const QUrl &url, const Settings &settings, QString *error);

// Whether the stream has no end: neither a duration in time nor a length in
// bytes (a file served with its length counts as finite).
bool isLive(GstElement *pipeline);

// The factory names of every element in the pipeline, nested ones too.
QStringList elementFactories(GstElement *pipeline);

// Whether the audio sink fell back to discarding samples (no sound device).
bool playsSilently(GstElement *pipeline);

} // namespace gstpipeline
