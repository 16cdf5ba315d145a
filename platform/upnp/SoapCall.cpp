#include "platform/upnp/SoapCall.h"

#include <libsoup/soup.h>

#include <QPointer>
#include <QTimer>

#include <memory>

namespace soap {
namespace {

// What a reply's size check needs of its call; shared with the message,
// which may outlive the call by a little.
struct Bound {
    upnphandle::Object<GCancellable> cancellable;
    bool tooLarge = false;
};

// The call being handed to GUPnP on this thread: its message is queued on
// the session within that hand-over, and takes the call's bound along.
thread_local std::shared_ptr<Bound> *t_handingOver = nullptr;
const char *const kBoundKey = "orbitune-soap-bound";

void onGotHeaders(SoupMessage *message, gpointer)
{
    auto *bound =
        static_cast<std::shared_ptr<Bound> *>(g_object_get_data(G_OBJECT(message), kBoundKey));
    SoupMessageHeaders *headers = soup_message_get_response_headers(message);
    if (!bound || !headers ||
        soup_message_headers_get_encoding(headers) != SOUP_ENCODING_CONTENT_LENGTH ||
        soup_message_headers_get_content_length(headers) <= kMaxReplyBytes)
        return;
    (*bound)->tooLarge = true;
    g_cancellable_cancel((*bound)->cancellable.get());
}

void onRequestQueued(SoupSession *, SoupMessage *message, gpointer)
{
    if (!t_handingOver)
        return;
    g_object_set_data_full(
        G_OBJECT(message), kBoundKey, new std::shared_ptr<Bound>(*t_handingOver),
        [](gpointer data) { delete static_cast<std::shared_ptr<Bound> *>(data); });
    g_signal_connect(message, "got-headers", G_CALLBACK(onGotHeaders), nullptr);
}

// Every session SOAP goes through tells us of its messages, once.
void watch(SoupSession *session)
{
    const char *const key = "orbitune-soap-watched";
    if (!session || g_object_get_data(G_OBJECT(session), key))
        return;
    g_object_set_data(G_OBJECT(session), key, GINT_TO_POINTER(1));
    g_signal_connect(session, "request-queued", G_CALLBACK(onRequestQueued), nullptr);
}

struct Pending {
    upnphandle::Object<GUPnPServiceProxy> proxy;
    upnphandle::Action action;
    std::shared_ptr<Bound> bound = std::make_shared<Bound>();
    QPointer<QObject> receiver;
    Done done;
    std::unique_ptr<QTimer> deadline;
    bool timedOut = false;
};

void finished(GObject *source, GAsyncResult *result, gpointer data)
{
    std::unique_ptr<Pending> pending(static_cast<Pending *>(data));
    pending->deadline.reset();
    upnphandle::Error error;
    GUPnPServiceProxyAction *action = gupnp_service_proxy_call_action_finish(
        GUPNP_SERVICE_PROXY(source), result, upnphandle::out(error));
    if (!pending->receiver)
        return;
    if (!action) {
        const QString why = pending->bound->tooLarge ? QStringLiteral("reply too large")
                            : pending->timedOut
                                ? QStringLiteral("no answer in time")
                                : QString::fromUtf8(error ? error->message : "no answer");
        pending->done(nullptr, why);
        return;
    }
    pending->done(action, QString());
}

} // namespace

void call(GUPnPServiceProxy *proxy, upnphandle::Action action, QObject *receiver, Done done,
          int deadlineMs)
{
    auto *pending = new Pending;
    pending->proxy = upnphandle::ref(proxy);
    pending->action = std::move(action);
    pending->bound->cancellable.reset(g_cancellable_new());
    pending->receiver = receiver;
    pending->done = std::move(done);
    pending->deadline = std::make_unique<QTimer>();
    pending->deadline->setSingleShot(true);
    GCancellable *cancellable = pending->bound->cancellable.get();
    QObject::connect(pending->deadline.get(), &QTimer::timeout, [pending, cancellable] {
        pending->timedOut = true;
        g_cancellable_cancel(cancellable);
    });
    // The receiver's end cancels the call; the callback still frees it.
    QObject::connect(receiver, &QObject::destroyed, pending->deadline.get(),
                     [cancellable] { g_cancellable_cancel(cancellable); });
    pending->deadline->start(deadlineMs);
    GUPnPContext *context = gupnp_service_info_get_context(GUPNP_SERVICE_INFO(proxy));
    watch(context ? gupnp_context_get_session(context) : nullptr);
    std::shared_ptr<Bound> bound = pending->bound;
    t_handingOver = &bound;
    gupnp_service_proxy_call_action_async(proxy, pending->action.get(), cancellable, finished,
                                          pending);
    t_handingOver = nullptr;
}

bool strings(GUPnPServiceProxyAction *action, std::initializer_list<const char *> names,
             QStringList *values, QString *error)
{
    GList *nameList = nullptr;
    GList *types = nullptr;
    for (const char *name : names) {
        nameList = g_list_append(nameList, const_cast<char *>(name));
        types = g_list_append(types, GSIZE_TO_POINTER(G_TYPE_STRING));
    }
    GList *results = nullptr;
    upnphandle::Error fault;
    const bool ok = gupnp_service_proxy_action_get_result_list(action, nameList, types, &results,
                                                               upnphandle::out(fault));
    g_list_free(nameList);
    g_list_free(types);
    values->clear();
    for (GList *l = results; l; l = l->next) {
        auto *value = static_cast<GValue *>(l->data);
        values->append(QString::fromUtf8(g_value_get_string(value)));
        g_value_unset(value);
        g_free(value);
    }
    g_list_free(results);
    if (!ok) {
        *error = QString::fromUtf8(fault ? fault->message : "bad reply");
        return false;
    }
    return true;
}

} // namespace soap
