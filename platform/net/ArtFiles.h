#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

// Pictures as local files, for desktop services that show a picture by path
// (media controls, the desktop's search): each picture address is loaded
// once through ImageLoader::shared() and written as PNG to
// $XDG_CACHE_HOME/orbitune/art/<hash>.png. A file: address is its own file.
namespace artfiles {

// Where the picture of `url` is (or will be) kept; empty for an empty or
// unusable address.
QString pathFor(const QUrl &url);
// The local file of `url` if it is there already, else empty.
QString existing(const QUrl &url);
// Calls `done` with the local file once it exists, or with an empty string
// when the picture could not be loaded or written. Runs on the main
// thread, never after `context` is destroyed; at once when the file exists
// (or, empty, when that picture is on its way already). The PNG is encoded
// on a pool thread.
void fetch(const QUrl &url, QObject *context, std::function<void(const QString &path)> done);
// Writes `image` where pathFor(url) says, replacing the file atomically.
// Safe on any thread.
bool store(const QUrl &url, const QImage &image);

} // namespace artfiles
