#pragma once

#include "platform/media/GstBusPump.h"
#include "platform/media/GstHandles.h"
#include "platform/media/GstPipeline.h"

#include <QStringList>
#include <QUrl>

#include <memory>

// What GStreamer's own playbin plays, reading the network itself: a file
// served with a length, HLS that ends or needs decrypting, a local file. It
// keeps nothing to seek in.
class PlaybinEngine {
public:
    explicit PlaybinEngine(GstBusPump::Handler onMessage);
    ~PlaybinEngine();

    // A playbin for `url`, at the volume set, its bus pumped, set to PAUSED;
    // false with `error` set when none could be made.
    bool open(const QUrl &url, const gstpipeline::Settings &settings, QString *error);
    void close();
    GstElement *pipeline() const { return m_pipeline.get(); }
    // A live source: nothing to preroll, it is as ready as it gets.
    bool hasNoPreroll() const { return m_noPreroll; }
    // A live source, or a stream with neither a duration nor a length.
    bool playsLive() const;
    bool playsSilently() const;
    void setVolume(double volume, bool muted);

private:
    GstBusPump::Handler m_onMessage;
    gsthandle::Pipeline m_pipeline;
    std::unique_ptr<GstBusPump> m_pump;
    bool m_noPreroll = false;
    double m_volume = 1.0;
    bool m_muted = false;
};
