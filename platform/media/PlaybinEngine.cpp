#include "platform/media/PlaybinEngine.h"

#include "platform/media/GstVolume.h"

PlaybinEngine::PlaybinEngine(GstBusPump::Handler onMessage) : m_onMessage(std::move(onMessage)) {}

PlaybinEngine::~PlaybinEngine()
{
    close();
}

bool PlaybinEngine::open(const QUrl &url, const gstpipeline::Settings &settings, QString *error)
{
    close();
    m_pipeline = gstpipeline::makePlaybin(url, settings, error);
    if (!m_pipeline)
        return false;
    gstvolume::apply(m_pipeline.get(), m_volume, m_muted);
    const gsthandle::Object<GstBus> bus(gst_element_get_bus(m_pipeline.get()));
    m_pump = std::make_unique<GstBusPump>(bus.get(), m_onMessage);
    // A failure posts an error message, which the pump delivers.
    m_noPreroll =
        gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_NO_PREROLL;
    return true;
}

void PlaybinEngine::close()
{
    m_pump.reset(); // flushes the bus: nothing of this pipeline is delivered any more
    m_pipeline.reset();
    m_noPreroll = false;
}

bool PlaybinEngine::playsLive() const
{
    return m_noPreroll || gstpipeline::isLive(m_pipeline.get());
}

bool PlaybinEngine::playsSilently() const
{
    return gstpipeline::playsSilently(m_pipeline.get());
}

void PlaybinEngine::setVolume(double volume, bool muted)
{
    m_volume = volume;
    m_muted = muted;
    gstvolume::apply(m_pipeline.get(), m_volume, m_muted);
}
