#include "platform/upnp/SoapCall.h"

#include <QPointer>
#include <QTimer>

#include <memory>

namespace soap {
namespace {

struct Pending {
    upnphandle::Object<GUPnPServiceProxy> proxy;
    upnphandle::Action action;
    upnphandle::Object<GCancellable> cancellable;
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
        const QString why = pending->timedOut
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
    pending->cancellable.reset(g_cancellable_new());
    pending->receiver = receiver;
    pending->done = std::move(done);
    pending->deadline = std::make_unique<QTimer>();
    pending->deadline->setSingleShot(true);
    GCancellable *cancellable = pending->cancellable.get();
    QObject::connect(pending->deadline.get(), &QTimer::timeout, [pending, cancellable] {
        pending->timedOut = true;
        g_cancellable_cancel(cancellable);
    });
    // The receiver's end cancels the call; the callback still frees it.
    QObject::connect(receiver, &QObject::destroyed, pending->deadline.get(),
                     [cancellable] { g_cancellable_cancel(cancellable); });
    pending->deadline->start(deadlineMs);
    gupnp_service_proxy_call_action_async(proxy, pending->action.get(), cancellable, finished,
                                          pending);
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
