#pragma once

#include "platform/upnp/RendererFinder.h"
#include "platform/upnp/UpnpHandles.h"

#include <QObject>
#include <QTimer>

#include <functional>

// Controls one renderer: what it plays (AVTransport), its volume and mute
// (RenderingControl), and its own transport state, asked for every second
// with what it plays, so that a stop pressed on the speaker or another
// controller taking it over shows here within two seconds. Every action has a deadline; two polls
// in a row without an answer mean the renderer is gone.
class Renderer : public QObject {
    Q_OBJECT
public:
    Renderer(const RendererInfo &info, GUPnPDeviceProxy *device, QObject *parent = nullptr);
    ~Renderer() override;

    const RendererInfo &info() const { return m_info; }
    // "PLAYING", "STOPPED", "PAUSED_PLAYBACK", "TRANSITIONING", ...; empty
    // until its first answer.
    QString transportState() const { return m_state; }
    // What it was last told to play, by us or anyone (GetMediaInfo's
    // CurrentURI); empty until it said.
    QString currentUri() const { return m_uri; }

    // `done` hears the fault, empty when the renderer took it.
    using Done = std::function<void(const QString &error)>;
    // Sets what to play (with DIDL-Lite metadata) and plays it.
    void playUri(const QString &uri, const QString &metadata, Done done);
    void play();
    void pause();
    void stop();
    // Stops the renderer and lets go of this handle once it answered (or
    // its deadline passed): a stop sent as the handle goes still arrives,
    // and an offer still unanswered is neither played nor reported.
    void stopThenDelete();
    // 0..100, the renderer's own scale.
    void setVolume(int volume);
    void setMute(bool mute);

    // DIDL-Lite for a live audio broadcast item named `title` with a picture.
    static QString metadata(const QString &title, const QString &pictureUrl, const QString &uri,
                            const QString &protocolInfo);

Q_SIGNALS:
    void transportStateChanged(const QString &state);
    void currentUriChanged(const QString &uri);
    // Its transport state was read (changed or not).
    void polled();
    // A control action was refused or not answered.
    void actionFailed(const QString &action, const QString &error);
    void lost();

private:
    void transport(const char *action, Done done = {});
    void poll();
    void pollUri();

    RendererInfo m_info;
    upnphandle::Object<GUPnPDeviceProxy> m_device;
    upnphandle::Object<GUPnPServiceInfo> m_transport;
    upnphandle::Object<GUPnPServiceInfo> m_rendering;
    QTimer m_poll;
    QString m_state;
    QString m_uri;
    bool m_polling = false;
    bool m_pollingUri = false;
    bool m_leaving = false;
    int m_missed = 0;
};
