#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QUrl>

// One policy for every request the stream layer makes for a station, by
// whichever client: the ICY client and its probe on sockets of their own,
// the HLS client and the playlist resolver through Qt's network access.
// Where a redirect may lead and how many are followed, how long an answer
// may stay silent, how large its head may be. Each client adds the deadline
// its own work needs (opening a stream, a segment, a playlist).
namespace httppolicy {

inline constexpr int kMaxRedirects = 5;
// No byte for this long ends a request, a stream that stalls included.
inline constexpr int kIdleTimeoutMs = 10'000;
// An answer's status line and headers.
inline constexpr qsizetype kMaxHeadBytes = 16 * 1024;

bool isHttpOrHttps(const QUrl &url);
// Where a redirect from `from` to `location` (its Location header) leads;
// invalid when it is not followed: no address, not HTTP(S), or from HTTPS
// to plain HTTP.
QUrl redirectTarget(const QUrl &from, const QByteArray &location);
// A request for `url` through Qt's network access under this policy: our
// User-Agent, at most kMaxRedirects redirects and none from HTTPS to HTTP
// (Qt's "no less safe" rule is redirectTarget's), silent for at most
// `idleMs`.
QNetworkRequest request(const QUrl &url, int idleMs = kIdleTimeoutMs);

} // namespace httppolicy
