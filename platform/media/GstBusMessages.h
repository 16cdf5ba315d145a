#pragma once

#include <QString>

#include <memory>

class MediaItem;
typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

// A playing pipeline's bus messages, one small handler each. What a message
// means for the stream (it prerolled, failed, ended, buffers, lost its
// clock) is told to the listener; warnings are logged, latency is worked
// out again, and titles and the stream's format go to the item. Runs on the
// main thread, delivered by the pipeline's GstBusPump.
class GstBusMessages {
public:
    class Listener {
    public:
        virtual void pipelinePrerolled() = 0;
        virtual void pipelineFailed(const QString &error) = 0;
        virtual void pipelineEnded() = 0;
        virtual void pipelineBuffering(int percent) = 0;
        virtual void pipelineLostClock() = 0;

    protected:
        ~Listener() = default;
    };

    GstBusMessages(Listener &listener, std::shared_ptr<MediaItem> item);

    // `message` was posted on `pipeline`'s bus.
    void handle(GstMessage *message, GstElement *pipeline);

private:
    void onError(GstMessage *message);
    void onWarning(GstMessage *message);
    void onBuffering(GstMessage *message);
    void onLatency(GstElement *pipeline);
    void onTag(GstMessage *message, GstElement *pipeline);

    Listener &m_listener;
    std::shared_ptr<MediaItem> m_item;
    bool m_nominalBitrate = false; // the stream told its nominal bitrate
};
