#include "platform/upnp/DescriptionBound.h"

#include "platform/base/Clock.h"
#include "platform/upnp/CastLog.h"
#include "platform/upnp/UpnpHandles.h"

#include <QHash>
#include <QTimer>

#include <memory>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace descriptionbound {
namespace {

const char *const kWatchKey = "orbitune-description-bound";
const char *const kSessionKey = "orbitune-description-watched";
constexpr int kCheckMs = 20;

// The addresses fetched now, per session.
using InFlight = QHash<QString, int>;

// One fetch under way: its socket once connected, checked every kCheckMs.
struct Fetch {
    upnphandle::Object<GSocket> socket;
    qint64 started = 0;
    QTimer check;
    bool cut = false;
    // Another fetch of the same address is under way (a device's answers
    // to a search come in twos and threes): this one ends at its connection,
    // before it asks for anything.
    bool again = false;
    QString url;
    std::shared_ptr<InFlight> inFlight; // outlives the session if need be
    ~Fetch()
    {
        if (inFlight && !again && --(*inFlight)[url] <= 0)
            inFlight->remove(url);
    }
};

qint64 bytesReceived(GSocket *socket)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(g_socket_get_fd(socket), IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        size < socklen_t(offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received))
        return 0;
    return qint64(info.tcpi_bytes_received);
}

// Ends the fetch as a connection the other side closed mid-answer would,
// and resets it once it is closed. An orderly close alone would leave a
// sender held up by our full window waiting on it, and the kernel keeping
// the connection and what it had taken in after we let go of it.
void cut(Fetch *fetch, const char *why)
{
    if (fetch->cut || !fetch->socket)
        return;
    fetch->cut = true;
    fetch->check.stop();
    NSLog(lcCast(), QtWarningMsg, "device description cut off: %@", QString::fromLatin1(why));
    const linger abort{1, 0};
    setsockopt(g_socket_get_fd(fetch->socket.get()), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    g_socket_shutdown(fetch->socket.get(), TRUE, TRUE, nullptr);
}

void onNetworkEvent(SoupMessage *message, GSocketClientEvent event, GIOStream *connection, gpointer)
{
    auto *fetch = static_cast<Fetch *>(g_object_get_data(G_OBJECT(message), kWatchKey));
    if (!fetch || event != G_SOCKET_CLIENT_CONNECTED || !G_IS_SOCKET_CONNECTION(connection))
        return;
    fetch->socket =
        upnphandle::ref(g_socket_connection_get_socket(G_SOCKET_CONNECTION(connection)));
    if (fetch->again)
        cut(fetch, "fetched already");
}

void onGotHeaders(SoupMessage *message, gpointer)
{
    auto *fetch = static_cast<Fetch *>(g_object_get_data(G_OBJECT(message), kWatchKey));
    SoupMessageHeaders *headers = soup_message_get_response_headers(message);
    if (fetch && headers &&
        soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        soup_message_headers_get_content_length(headers) > kMaxBytes)
        cut(fetch, "announced too large");
}

void onFinished(SoupMessage *message, gpointer)
{
    g_object_set_data(G_OBJECT(message), kWatchKey, nullptr);
}

void onRequestQueued(SoupSession *session, SoupMessage *message, gpointer)
{
    if (g_strcmp0(soup_message_get_method(message), SOUP_METHOD_GET) != 0)
        return;
    // A connection of its own: its socket is known, and its bytes are its own.
    soup_message_add_flags(message, SOUP_MESSAGE_NEW_CONNECTION);
    auto *fetch = new Fetch;
    fetch->started = Clock::shared()->steadyMs();
    if (auto *shared = static_cast<std::shared_ptr<InFlight> *>(
            g_object_get_data(G_OBJECT(session), kSessionKey)))
        fetch->inFlight = *shared;
    gchar *uri = g_uri_to_string(soup_message_get_uri(message));
    fetch->url = QString::fromUtf8(uri);
    g_free(uri);
    if (fetch->inFlight) {
        fetch->again = fetch->inFlight->contains(fetch->url);
        if (!fetch->again)
            ++(*fetch->inFlight)[fetch->url];
    }
    fetch->check.setInterval(kCheckMs);
    QObject::connect(&fetch->check, &QTimer::timeout, [fetch] {
        if (!fetch->socket)
            return;
        if (bytesReceived(fetch->socket.get()) > kMaxBytes)
            cut(fetch, "too large");
        else if (Clock::shared()->steadyMs() - fetch->started > kMaxMs)
            cut(fetch, "too slow");
    });
    fetch->check.start();
    g_object_set_data_full(G_OBJECT(message), kWatchKey, fetch,
                           [](gpointer data) { delete static_cast<Fetch *>(data); });
    g_signal_connect(message, "network-event", G_CALLBACK(onNetworkEvent), nullptr);
    g_signal_connect(message, "got-headers", G_CALLBACK(onGotHeaders), nullptr);
    g_signal_connect(message, "finished", G_CALLBACK(onFinished), nullptr);
}

} // namespace

void watch(SoupSession *session)
{
    if (!session || g_object_get_data(G_OBJECT(session), kSessionKey))
        return;
    g_object_set_data_full(
        G_OBJECT(session), kSessionKey, new std::shared_ptr<InFlight>(std::make_shared<InFlight>()),
        [](gpointer data) { delete static_cast<std::shared_ptr<InFlight> *>(data); });
    g_signal_connect(session, "request-queued", G_CALLBACK(onRequestQueued), nullptr);
}

} // namespace descriptionbound
