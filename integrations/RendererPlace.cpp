#include "integrations/RendererPlace.h"

#include "platform/upnp/PlayForm.h"
#include "platform/upnp/Renderer.h"

RendererPlace::RendererPlace(std::unique_ptr<Renderer> renderer, QObject *parent)
    : PlayOnPlace(parent), m_renderer(std::move(renderer))
{
    connect(m_renderer.get(), &Renderer::polled, this, &PlayOnPlace::polled);
    connect(m_renderer.get(), &Renderer::lost, this, &PlayOnPlace::lost);
}

RendererPlace::~RendererPlace() = default;

QString RendererPlace::name() const
{
    return m_renderer->info().name;
}

QString RendererPlace::localAddress() const
{
    return m_renderer->info().localAddress;
}

bool RendererPlace::offer(const Stream &stream, Done done)
{
    const PlayForm form = PlayForm::choose(m_renderer->info().protocols, stream.mime, stream.url);
    if (!form.playable)
        return false;
    m_renderer->playUri(
        form.uri, Renderer::metadata(stream.title, stream.pictureUrl, form.uri, form.protocolInfo),
        std::move(done));
    return true;
}

QString RendererPlace::transportState() const
{
    return m_renderer->transportState();
}

QString RendererPlace::currentUri() const
{
    return m_renderer->currentUri();
}

void RendererPlace::stop()
{
    m_renderer->stop();
}

void RendererPlace::stopThenDelete()
{
    // The renderer goes once it answered; this handle at once.
    Renderer *leaving = m_renderer.release();
    leaving->setParent(parent());
    leaving->stopThenDelete();
    deleteLater();
}

void RendererPlace::setVolume(int volume)
{
    m_renderer->setVolume(volume);
}

void RendererPlace::setMute(bool mute)
{
    m_renderer->setMute(mute);
}
