#pragma once

#include "platform/upnp/UpnpHandles.h"

#include <QObject>
#include <QString>

#include <functional>

// One SOAP action sent to a service, answered on the main thread (GUPnP's
// sources run on Qt's GLib event dispatcher). Every call has a deadline: a
// service that answers slowly is cancelled then, and the caller hears
// "no answer" instead of waiting; a reply announcing more than
// kMaxReplyBytes is cancelled as its headers come in ("reply too large"),
// and one without a length is bounded by the deadline. Nothing blocks.
namespace soap {

// Called once, unless `receiver` went first: with the finished action (its
// results are read inside the call) or, on failure, a null action and why.
using Done = std::function<void(GUPnPServiceProxyAction *action, const QString &error)>;

inline constexpr int kDeadlineMs = 1500;
inline constexpr goffset kMaxReplyBytes = 512 * 1024;

void call(GUPnPServiceProxy *proxy, upnphandle::Action action, QObject *receiver, Done done,
          int deadlineMs = kDeadlineMs);

// The string results named, in order; false and `error` set when the
// service answered with a fault or without them.
bool strings(GUPnPServiceProxyAction *action, std::initializer_list<const char *> names,
             QStringList *values, QString *error);

} // namespace soap
