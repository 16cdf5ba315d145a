#include "platform/upnp/Renderer.h"

#include "platform/upnp/CastLog.h"
#include "platform/upnp/SoapCall.h"

#include <libgupnp-av/gupnp-av.h>

namespace {
const char *const kAVTransport = "urn:schemas-upnp-org:service:AVTransport:1";
const char *const kRenderingControl = "urn:schemas-upnp-org:service:RenderingControl:1";
constexpr int kPollMs = 1000;
constexpr int kMissedPollsLost = 2;

GUPnPServiceProxy *proxy(const upnphandle::Object<GUPnPServiceInfo> &service)
{
    return GUPNP_SERVICE_PROXY(service.get());
}
} // namespace

Renderer::Renderer(const RendererInfo &info, GUPnPDeviceProxy *device, QObject *parent)
    : QObject(parent), m_info(info), m_device(upnphandle::ref(device))
{
    m_transport.reset(gupnp_device_info_get_service(GUPNP_DEVICE_INFO(device), kAVTransport));
    m_rendering.reset(gupnp_device_info_get_service(GUPNP_DEVICE_INFO(device), kRenderingControl));
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &Renderer::poll);
    m_poll.start();
    poll();
}

Renderer::~Renderer() = default;

void Renderer::playUri(const QString &uri, const QString &metadata, Done done)
{
    if (!m_transport) {
        done(QStringLiteral("it has no AVTransport"));
        return;
    }
    const QByteArray u = uri.toUtf8();
    const QByteArray m = metadata.toUtf8();
    upnphandle::Action action(gupnp_service_proxy_action_new(
        "SetAVTransportURI", "InstanceID", G_TYPE_UINT, 0u, "CurrentURI", G_TYPE_STRING,
        u.constData(), "CurrentURIMetaData", G_TYPE_STRING, m.constData(), nullptr));
    soap::call(proxy(m_transport), std::move(action), this,
               [this, done](GUPnPServiceProxyAction *action, const QString &error) {
                   // Let go meanwhile: it is stopped, not played, and the
                   // caller has moved on.
                   if (m_leaving)
                       return;
                   QStringList none;
                   QString fault = error;
                   if (!action || !soap::strings(action, {}, &none, &fault)) {
                       done(fault);
                       return;
                   }
                   transport("Play", done);
               });
}

void Renderer::play()
{
    transport("Play");
}

void Renderer::pause()
{
    transport("Pause");
}

void Renderer::stop()
{
    transport("Stop");
}

void Renderer::stopThenDelete()
{
    m_leaving = true;
    m_poll.stop();
    disconnect();
    if (!m_transport) {
        deleteLater();
        return;
    }
    transport("Stop", [this](const QString &) { deleteLater(); });
}

void Renderer::transport(const char *name, Done done)
{
    if (!m_transport)
        return;
    upnphandle::Action action =
        QByteArray(name) == "Play"
            ? upnphandle::Action(gupnp_service_proxy_action_new(
                  name, "InstanceID", G_TYPE_UINT, 0u, "Speed", G_TYPE_STRING, "1", nullptr))
            : upnphandle::Action(
                  gupnp_service_proxy_action_new(name, "InstanceID", G_TYPE_UINT, 0u, nullptr));
    const QString actionName = QString::fromLatin1(name);
    soap::call(proxy(m_transport), std::move(action), this,
               [this, actionName, done](GUPnPServiceProxyAction *action, const QString &error) {
                   QStringList none;
                   QString fault = error;
                   const bool ok = action && soap::strings(action, {}, &none, &fault);
                   if (!ok) {
                       NSLog(lcCast(), QtWarningMsg, "%@ refused %@: %@", m_info.name, actionName,
                             fault);
                       Q_EMIT actionFailed(actionName, fault);
                   }
                   if (done)
                       done(ok ? QString() : fault);
               });
}

void Renderer::setVolume(int volume)
{
    if (!m_rendering)
        return;
    upnphandle::Action action(gupnp_service_proxy_action_new(
        "SetVolume", "InstanceID", G_TYPE_UINT, 0u, "Channel", G_TYPE_STRING, "Master",
        "DesiredVolume", G_TYPE_UINT, guint(qBound(0, volume, 100)), nullptr));
    soap::call(proxy(m_rendering), std::move(action), this,
               [this](GUPnPServiceProxyAction *action, const QString &error) {
                   if (!action)
                       Q_EMIT actionFailed(QStringLiteral("SetVolume"), error);
               });
}

void Renderer::setMute(bool mute)
{
    if (!m_rendering)
        return;
    upnphandle::Action action(gupnp_service_proxy_action_new(
        "SetMute", "InstanceID", G_TYPE_UINT, 0u, "Channel", G_TYPE_STRING, "Master", "DesiredMute",
        G_TYPE_BOOLEAN, gboolean(mute), nullptr));
    soap::call(proxy(m_rendering), std::move(action), this,
               [this](GUPnPServiceProxyAction *action, const QString &error) {
                   if (!action)
                       Q_EMIT actionFailed(QStringLiteral("SetMute"), error);
               });
}

void Renderer::poll()
{
    pollUri();
    if (!m_transport || m_polling)
        return;
    m_polling = true;
    upnphandle::Action action(
        gupnp_service_proxy_action_new("GetTransportInfo", "InstanceID", G_TYPE_UINT, 0u, nullptr));
    soap::call(
        proxy(m_transport), std::move(action), this,
        [this](GUPnPServiceProxyAction *action, const QString &error) {
            m_polling = false;
            QStringList values;
            QString fault = error;
            if (!action || !soap::strings(action, {"CurrentTransportState"}, &values, &fault)) {
                NSLog(lcCast(), QtWarningMsg, "%@: no transport state: %@", m_info.name, fault);
                if (++m_missed == kMissedPollsLost)
                    Q_EMIT lost();
                return;
            }
            m_missed = 0;
            if (values.value(0) != m_state) {
                m_state = values.value(0);
                Q_EMIT transportStateChanged(m_state);
            }
            Q_EMIT polled();
        },
        kPollMs - 100);
}

// Asked beside the transport state; a renderer that does not answer it is
// judged by its transport state alone.
void Renderer::pollUri()
{
    if (!m_transport || m_pollingUri)
        return;
    m_pollingUri = true;
    upnphandle::Action action(
        gupnp_service_proxy_action_new("GetMediaInfo", "InstanceID", G_TYPE_UINT, 0u, nullptr));
    soap::call(
        proxy(m_transport), std::move(action), this,
        [this](GUPnPServiceProxyAction *action, const QString &error) {
            m_pollingUri = false;
            QStringList values;
            QString fault = error;
            if (!action || !soap::strings(action, {"CurrentURI"}, &values, &fault) ||
                values.value(0) == m_uri)
                return;
            m_uri = values.value(0);
            Q_EMIT currentUriChanged(m_uri);
        },
        kPollMs - 100);
}

QString Renderer::metadata(const QString &title, const QString &pictureUrl, const QString &uri,
                           const QString &protocolInfo)
{
    upnphandle::Object<GUPnPDIDLLiteWriter> writer(gupnp_didl_lite_writer_new(nullptr));
    upnphandle::Object<GUPnPDIDLLiteItem> item(gupnp_didl_lite_writer_add_item(writer.get()));
    auto *object = GUPNP_DIDL_LITE_OBJECT(item.get());
    gupnp_didl_lite_object_set_id(object, "0");
    gupnp_didl_lite_object_set_parent_id(object, "-1");
    gupnp_didl_lite_object_set_restricted(object, TRUE);
    gupnp_didl_lite_object_set_title(object, title.toUtf8().constData());
    gupnp_didl_lite_object_set_upnp_class(object, "object.item.audioItem.audioBroadcast");
    if (!pictureUrl.isEmpty())
        gupnp_didl_lite_object_set_album_art(object, pictureUrl.toUtf8().constData());
    upnphandle::Object<GUPnPDIDLLiteResource> resource(gupnp_didl_lite_object_add_resource(object));
    gupnp_didl_lite_resource_set_uri(resource.get(), uri.toUtf8().constData());
    upnphandle::Error error;
    upnphandle::Object<GUPnPProtocolInfo> info(gupnp_protocol_info_new_from_string(
        protocolInfo.toUtf8().constData(), upnphandle::out(error)));
    if (info)
        gupnp_didl_lite_resource_set_protocol_info(resource.get(), info.get());
    upnphandle::Chars xml(gupnp_didl_lite_writer_get_string(writer.get()));
    return QString::fromUtf8(xml.get());
}

#include "moc_Renderer.cpp"
