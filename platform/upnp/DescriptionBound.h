#pragma once

#include <libsoup/soup.h>

// Bounds on what GUPnP fetches by itself through a context's session (device
// and service descriptions, named by whoever answers a search): each fetch
// on a connection of its own, cut off once kMaxBytes have come in or
// kMaxMs have passed since it was queued, whether or not bytes keep coming.
// SOAP calls (POST) are bounded by soap::call.
namespace descriptionbound {

inline constexpr qint64 kMaxBytes = 256 * 1024;
inline constexpr int kMaxMs = 5000;

// Every GET queued on `session` from now on is bounded; once per session.
void watch(SoupSession *session);

} // namespace descriptionbound
