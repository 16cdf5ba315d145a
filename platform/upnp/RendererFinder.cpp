#include "platform/upnp/RendererFinder.h"

#include "platform/base/Clock.h"
#include "platform/upnp/CastLog.h"
#include "platform/upnp/DescriptionBound.h"
#include "platform/upnp/Renderer.h"
#include "platform/upnp/SoapCall.h"

#include <QUrl>

namespace {
const char *const kRendererType = "urn:schemas-upnp-org:device:MediaRenderer:1";
const char *const kConnectionManager = "urn:schemas-upnp-org:service:ConnectionManager:1";
constexpr int kRescanMs = 10000;
constexpr guint kFetchTimeoutS = 3;
constexpr int kAdmitCheckMs = 1000;

QString take(char *text)
{
    upnphandle::Chars held(text);
    return QString::fromUtf8(text ? text : "");
}

// Whether every service of the device is controlled on the host and port
// its description came from: a description cannot send our requests to
// another machine, or to another server of the same one.
bool controlledWhereDescribed(GUPnPDeviceInfo *info, QString *stray)
{
    const QUrl location(QString::fromUtf8(gupnp_device_info_get_location(info)));
    if (location.scheme() != QLatin1String("http") || location.host().isEmpty()) {
        *stray = location.toString();
        return false;
    }
    GList *services = gupnp_device_info_list_services(info);
    bool home = true;
    for (GList *l = services; l && home; l = l->next) {
        const QUrl control(take(gupnp_service_info_get_control_url(GUPNP_SERVICE_INFO(l->data))));
        home = control.scheme() == QLatin1String("http") && control.host() == location.host() &&
               control.port(80) == location.port(80);
        if (!home)
            *stray = control.toString();
    }
    g_list_free_full(services, g_object_unref);
    return home;
}
} // namespace

struct RendererFinder::Place {
    upnphandle::Object<GUPnPContext> context;
    upnphandle::Object<GUPnPControlPoint> controlPoint;
    upnphandle::Signal available;
    upnphandle::Signal unavailable;
};

struct RendererFinder::Device {
    upnphandle::Object<GUPnPDeviceProxy> proxy;
    GUPnPContext *context = nullptr;
    RendererInfo info;
    bool listed = false;
    // Receives the protocol info's answer; goes with the device.
    std::unique_ptr<QObject> calls = std::make_unique<QObject>();
};

RendererFinder::RendererFinder(const QStringList &places, QObject *parent) : QObject(parent)
{
    m_rescan.setInterval(kRescanMs);
    connect(&m_rescan, &QTimer::timeout, this, [this] {
        for (const auto &place : m_places)
            gssdp_resource_browser_rescan(GSSDP_RESOURCE_BROWSER(place->controlPoint.get()));
    });
    m_rescan.start();
    m_admit.setInterval(kAdmitCheckMs);
    connect(&m_admit, &QTimer::timeout, this, &RendererFinder::admitWaiting);
    if (places.isEmpty()) {
        m_manager.reset(
            gupnp_context_manager_create_full(GSSDP_UDA_VERSION_1_0, G_SOCKET_FAMILY_IPV4, 0));
        m_contextAvailable = {m_manager.get(),
                              g_signal_connect(m_manager.get(), "context-available",
                                               G_CALLBACK(onContextAvailable), this)};
        m_contextUnavailable = {m_manager.get(),
                                g_signal_connect(m_manager.get(), "context-unavailable",
                                                 G_CALLBACK(onContextUnavailable), this)};
        return;
    }
    for (const QString &place : places) {
        upnphandle::Object<GInetAddress> address(
            g_inet_address_new_from_string(place.toUtf8().constData()));
        upnphandle::Error error;
        upnphandle::Object<GUPnPContext> context(
            gupnp_context_new_full(address ? nullptr : place.toUtf8().constData(), address.get(), 0,
                                   GSSDP_UDA_VERSION_1_0, upnphandle::out(error)));
        if (!context) {
            NSLog(lcCast(), QtWarningMsg, "no UPnP on %@: %@", place,
                  QString::fromUtf8(error ? error->message : "?"));
            continue;
        }
        addContext(context.get());
    }
}

RendererFinder::~RendererFinder()
{
    m_contextAvailable.reset();
    m_contextUnavailable.reset();
    m_waiting.clear();
    m_devices.clear();
    m_places.clear();
}

void RendererFinder::onContextAvailable(GUPnPContextManager *, GUPnPContext *context, gpointer self)
{
    static_cast<RendererFinder *>(self)->addContext(context);
}

void RendererFinder::onContextUnavailable(GUPnPContextManager *, GUPnPContext *context,
                                          gpointer self)
{
    static_cast<RendererFinder *>(self)->removeContext(context);
}

void RendererFinder::onDeviceAvailable(GUPnPControlPoint *cp, GUPnPDeviceProxy *proxy,
                                       gpointer self)
{
    static_cast<RendererFinder *>(self)->deviceAvailable(gupnp_control_point_get_context(cp),
                                                         proxy);
}

void RendererFinder::onDeviceUnavailable(GUPnPControlPoint *, GUPnPDeviceProxy *proxy,
                                         gpointer self)
{
    static_cast<RendererFinder *>(self)->deviceUnavailable(proxy);
}

void RendererFinder::addContext(GUPnPContext *context)
{
    // The device descriptions GUPnP fetches itself get a deadline too: a
    // device that stops sending mid-answer is given up.
    soup_session_set_timeout(gupnp_context_get_session(context), kFetchTimeoutS);
    // ... and a bound on their size and their whole time.
    descriptionbound::watch(gupnp_context_get_session(context));
    auto place = std::make_unique<Place>();
    place->context = upnphandle::ref(context);
    place->controlPoint.reset(gupnp_control_point_new(context, kRendererType));
    GUPnPControlPoint *cp = place->controlPoint.get();
    place->available = {
        cp, g_signal_connect(cp, "device-proxy-available", G_CALLBACK(onDeviceAvailable), this)};
    place->unavailable = {cp, g_signal_connect(cp, "device-proxy-unavailable",
                                               G_CALLBACK(onDeviceUnavailable), this)};
    // A network that comes back (its interface up again) is announced again
    // with the client it had, still passive from when it went away: it would
    // send nothing, and its renderers would be found only as they announce
    // themselves. Announced, it is ours to search.
    if (!gssdp_client_get_active(GSSDP_CLIENT(context)))
        g_object_set(context, "active", TRUE, nullptr);
    gssdp_resource_browser_set_active(GSSDP_RESOURCE_BROWSER(cp), TRUE);
    NSLog(lcCast(), QtInfoMsg, "looking for renderers on %@",
          QString::fromUtf8(gssdp_client_get_host_ip(GSSDP_CLIENT(context))));
    m_places.push_back(std::move(place));
}

void RendererFinder::removeContext(GUPnPContext *context)
{
    QStringList gone;
    for (auto it = m_devices.begin(); it != m_devices.end();) {
        if (it->second->context == context) {
            if (it->second->listed)
                gone << it->first;
            it = m_devices.erase(it);
        } else {
            ++it;
        }
    }
    std::erase_if(m_waiting, [context](const Waiting &w) { return w.context == context; });
    std::erase_if(m_places, [context](const auto &p) { return p->context.get() == context; });
    for (const QString &udn : std::as_const(gone))
        Q_EMIT rendererGone(udn);
    if (!gone.isEmpty())
        Q_EMIT renderersChanged();
}

void RendererFinder::deviceAvailable(GUPnPContext *context, GUPnPDeviceProxy *proxy)
{
    auto *info = GUPNP_DEVICE_INFO(proxy);
    const QString udn = QString::fromUtf8(gupnp_device_info_get_udn(info));
    if (udn.isEmpty() || m_devices.count(udn))
        return;
    QString stray;
    if (!controlledWhereDescribed(info, &stray)) {
        NSLog(lcCast(), QtWarningMsg, "renderer %@ left out: controlled at %@, not where described",
              udn, stray);
        return;
    }
    if (!admit(context, proxy))
        return;
    auto device = std::make_unique<Device>();
    device->proxy = upnphandle::ref(proxy);
    device->context = context;
    device->info.udn = udn;
    device->info.name = take(gupnp_device_info_get_friendly_name(info));
    device->info.iconUrl = take(gupnp_device_info_get_icon_url(info, nullptr, -1, -1, -1, FALSE,
                                                               nullptr, nullptr, nullptr, nullptr));
    device->info.localAddress = QString::fromUtf8(gssdp_client_get_host_ip(GSSDP_CLIENT(context)));
    if (device->info.name.isEmpty())
        device->info.name = udn;
    upnphandle::Object<GUPnPServiceInfo> manager(
        gupnp_device_info_get_service(info, kConnectionManager));
    QObject *receiver = device->calls.get();
    m_devices.emplace(udn, std::move(device));
    if (!manager) {
        list(udn, {});
        return;
    }
    upnphandle::Action action(gupnp_service_proxy_action_new("GetProtocolInfo", nullptr));
    soap::call(GUPNP_SERVICE_PROXY(manager.get()), std::move(action), receiver,
               [this, udn](GUPnPServiceProxyAction *done, const QString &error) {
                   QStringList values;
                   QString fault = error;
                   if (done && soap::strings(done, {"Source", "Sink"}, &values, &fault)) {
                       list(udn, values.value(1).split(QLatin1Char(','), Qt::SkipEmptyParts));
                       return;
                   }
                   NSLog(lcCast(), QtWarningMsg, "renderer %@ did not say what it plays: %@", udn,
                         fault);
                   list(udn, {});
               });
}

// Each new device costs a request and a menu entry: a host inventing
// devices gets a few at a time, not thousands.
bool RendererFinder::admit(GUPnPContext *context, GUPnPDeviceProxy *proxy)
{
    const qint64 now = Clock::shared()->steadyMs();
    while (!m_arrivals.empty() && now - m_arrivals.front() > kArrivalWindowMs)
        m_arrivals.pop_front();
    if (m_devices.size() < kMaxRenderers && m_arrivals.size() < kMaxArrivals) {
        m_arrivals.push_back(now);
        return true;
    }
    const bool queued = std::any_of(m_waiting.cbegin(), m_waiting.cend(),
                                    [proxy](const Waiting &w) { return w.proxy.get() == proxy; });
    if (!queued) {
        NSLog(lcCast(), QtInfoMsg, "renderer %@ waits: too many new ones at once",
              QString::fromUtf8(gupnp_device_info_get_udn(GUPNP_DEVICE_INFO(proxy))));
        if (m_waiting.size() >= kMaxRenderers)
            m_waiting.pop_front();
        m_waiting.push_back({upnphandle::ref(proxy), context});
    }
    if (!m_admit.isActive())
        m_admit.start();
    return false;
}

void RendererFinder::admitWaiting()
{
    while (!m_waiting.empty()) {
        const qsizetype before = qsizetype(m_waiting.size());
        Waiting next = std::move(m_waiting.front());
        m_waiting.pop_front();
        deviceAvailable(next.context, next.proxy.get());
        // Put back: no room yet.
        if (qsizetype(m_waiting.size()) >= before)
            break;
    }
    if (m_waiting.empty())
        m_admit.stop();
}

void RendererFinder::list(const QString &udn, const QStringList &protocols)
{
    auto it = m_devices.find(udn);
    if (it == m_devices.end())
        return;
    it->second->info.protocols = protocols;
    it->second->listed = true;
    NSLog(lcCast(), QtInfoMsg, "renderer found: %@ (%@)", it->second->info.name, udn);
    Q_EMIT renderersChanged();
}

void RendererFinder::deviceUnavailable(GUPnPDeviceProxy *proxy)
{
    std::erase_if(m_waiting, [proxy](const Waiting &w) { return w.proxy.get() == proxy; });
    const QString udn = QString::fromUtf8(gupnp_device_info_get_udn(GUPNP_DEVICE_INFO(proxy)));
    auto it = m_devices.find(udn);
    if (it == m_devices.end() || it->second->proxy.get() != proxy)
        return;
    const bool listed = it->second->listed;
    m_devices.erase(it);
    NSLog(lcCast(), QtInfoMsg, "renderer gone: %@", udn);
    if (!listed)
        return;
    Q_EMIT rendererGone(udn);
    Q_EMIT renderersChanged();
}

QList<RendererInfo> RendererFinder::renderers() const
{
    QList<RendererInfo> found;
    for (const auto &[udn, device] : m_devices) {
        if (device->listed)
            found << device->info;
    }
    std::sort(found.begin(), found.end(), [](const RendererInfo &a, const RendererInfo &b) {
        return a.name.localeAwareCompare(b.name) < 0;
    });
    return found;
}

std::unique_ptr<Renderer> RendererFinder::open(const QString &udn) const
{
    auto it = m_devices.find(udn);
    if (it == m_devices.end() || !it->second->listed)
        return nullptr;
    return std::make_unique<Renderer>(it->second->info, it->second->proxy.get());
}

#include "moc_RendererFinder.cpp"
