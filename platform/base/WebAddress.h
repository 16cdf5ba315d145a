#pragma once

#include <QString>
#include <QUrl>

// Whether `url` is an address Orbitune opens in a browser or keeps as a
// stream: http or https, well formed, with a host.
inline bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}
