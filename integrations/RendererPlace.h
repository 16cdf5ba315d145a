#pragma once

#include "integrations/PlayOnPlace.h"

#include <memory>

class Renderer;

// A UPnP renderer as a Play On place: the stream offered in the form its
// protocol info allows, with DIDL-Lite metadata.
class RendererPlace : public PlayOnPlace {
    Q_OBJECT
public:
    explicit RendererPlace(std::unique_ptr<Renderer> renderer, QObject *parent = nullptr);
    ~RendererPlace() override;

    QString name() const override;
    QString localAddress() const override;
    bool offer(const Stream &stream, Done done) override;
    QString transportState() const override;
    QString currentUri() const override;
    void stop() override;
    void stopThenDelete() override;
    void setVolume(int volume) override;
    void setMute(bool mute) override;

private:
    std::unique_ptr<Renderer> m_renderer;
};
