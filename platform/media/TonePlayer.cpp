#include "platform/media/TonePlayer.h"

#include "platform/base/Log.h"
#include "platform/media/GstHandles.h"

#include <gst/audio/streamvolume.h>

namespace {
// Half a second of tone, then half a second of quiet.
constexpr int kBeatMs = 500;
} // namespace

struct TonePlayer::Pipeline {
    gsthandle::Pipeline pipeline;
    GstElement *gain = nullptr; // owned by the pipeline
};

TonePlayer::TonePlayer(QObject *parent) : QObject(parent)
{
    m_beat.setInterval(kBeatMs);
    connect(&m_beat, &QTimer::timeout, this, &TonePlayer::beat);
}

TonePlayer::~TonePlayer()
{
    stop();
}

bool TonePlayer::start(double volume)
{
    m_volume = qBound(0.0, volume, 1.0);
    if (m_pipeline) {
        m_on = !m_on;
        beat();
        return true;
    }
    gst_init(nullptr, nullptr);
    const QByteArray description =
        QByteArrayLiteral("audiotestsrc is-live=true wave=sine freq=") + QByteArray::number(kHz) +
        " ! audioconvert ! volume name=gain volume=0 ! audioconvert ! audioresample ! "
        "autoaudiosink";
    gsthandle::Error error;
    auto p = std::make_unique<Pipeline>();
    p->pipeline.reset(gst_parse_launch(description.constData(), gsthandle::out(error)));
    if (!p->pipeline || error) {
        NSLog(lcMedia(), QtWarningMsg, "no tone: %@",
              QString::fromUtf8(error ? error->message : "no pipeline"));
        return false;
    }
    p->gain = gst_bin_get_by_name(GST_BIN(p->pipeline.get()), "gain");
    gst_object_unref(p->gain); // the pipeline keeps it alive
    if (gst_element_set_state(p->pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        NSLog(lcMedia(), QtWarningMsg, "no tone: the sound output refused to start");
        return false;
    }
    m_pipeline = std::move(p);
    m_on = false;
    beat();
    m_beat.start();
    return true;
}

void TonePlayer::stop()
{
    m_beat.stop();
    m_pipeline.reset();
}

void TonePlayer::beat()
{
    m_on = !m_on;
    // The same perceptual scale as the player's volume.
    gst_stream_volume_set_volume(GST_STREAM_VOLUME(m_pipeline->gain),
                                 GST_STREAM_VOLUME_FORMAT_CUBIC, m_on ? m_volume : 0.0);
}

#include "moc_TonePlayer.cpp"
