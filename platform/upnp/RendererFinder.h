#pragma once

#include "platform/upnp/UpnpHandles.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <vector>

class Renderer;

// A media renderer found on the local network.
struct RendererInfo {
    QString udn;
    QString name;
    QString iconUrl;
    // What its ConnectionManager says it plays (GetProtocolInfo's Sink);
    // empty when it did not say in time.
    QStringList protocols;
    // The address of our interface that faces it: what a server for it
    // listens on.
    QString localAddress;
};

// A UPnP control point that keeps the list of the MediaRenderer:1 devices
// on the local network current as they come and go, and as networks come
// and go. Runs on the main thread's GLib sources; nothing blocks. A device
// is listed once its protocol info is known (or did not come in time).
// Besides listening to the renderers' announcements it asks again every
// ten seconds, so that a renderer whose announcement was lost is found.
// What any host on the network says is bounded: descriptions in size and
// time, the renderers kept and the rate of new ones, and control goes only
// to the host and port a renderer was described from.
class RendererFinder : public QObject {
    Q_OBJECT
public:
    // At most this many renderers are kept, and this many new ones taken
    // within kArrivalWindowMs; others wait (as many as are kept, the
    // oldest let go first) and are taken as room comes.
    static constexpr std::size_t kMaxRenderers = 32;
    static constexpr std::size_t kMaxArrivals = 8;
    static constexpr qint64 kArrivalWindowMs = 10000;

    // `places`: interface names or local addresses to look on ("lo",
    // "127.0.0.1"); empty for every network the computer has.
    explicit RendererFinder(const QStringList &places = {}, QObject *parent = nullptr);
    ~RendererFinder() override;

    QList<RendererInfo> renderers() const;
    // A handle controlling the renderer `udn`; null when it is not listed.
    std::unique_ptr<Renderer> open(const QString &udn) const;

Q_SIGNALS:
    void renderersChanged();
    // A listed renderer said goodbye or its network went away.
    void rendererGone(const QString &udn);

private:
    struct Place;
    struct Device;

    void addContext(GUPnPContext *context);
    void removeContext(GUPnPContext *context);
    void deviceAvailable(GUPnPContext *context, GUPnPDeviceProxy *proxy);
    void deviceUnavailable(GUPnPDeviceProxy *proxy);
    void list(const QString &udn, const QStringList &protocols);
    // Whether a new device may be taken now; if not, it waits.
    bool admit(GUPnPContext *context, GUPnPDeviceProxy *proxy);
    void admitWaiting();

    static void onContextAvailable(GUPnPContextManager *, GUPnPContext *context, gpointer self);
    static void onContextUnavailable(GUPnPContextManager *, GUPnPContext *context, gpointer self);
    static void onDeviceAvailable(GUPnPControlPoint *cp, GUPnPDeviceProxy *proxy, gpointer self);
    static void onDeviceUnavailable(GUPnPControlPoint *, GUPnPDeviceProxy *proxy, gpointer self);

    std::vector<std::unique_ptr<Place>> m_places;
    std::map<QString, std::unique_ptr<Device>> m_devices;
    upnphandle::Object<GUPnPContextManager> m_manager;
    upnphandle::Signal m_contextAvailable;
    upnphandle::Signal m_contextUnavailable;
    QTimer m_rescan;
    // When the latest new devices were taken (steady ms).
    std::deque<qint64> m_arrivals;
    struct Waiting {
        upnphandle::Object<GUPnPDeviceProxy> proxy;
        GUPnPContext *context = nullptr;
    };
    std::deque<Waiting> m_waiting;
    QTimer m_admit;
};
