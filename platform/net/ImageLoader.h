#pragma once

#include <QImage>
#include <QObject>
#include <QUrl>

#include <functional>

// Loads images from URLs (http, https, file) without ever blocking the main
// thread. The completion runs later on the main thread with the image, or a
// null image when the URL is empty or malformed, the transfer fails, times
// out, is too large, or does not decode. It never runs after `context` is
// destroyed.
class ImageLoader {
public:
    virtual ~ImageLoader() = default;
    virtual void load(const QUrl &url, QObject *context,
                      std::function<void(const QImage &image)> completion) = 0;

    static ImageLoader *shared();
    // Does not take ownership. Passing nullptr restores the network loader.
    static void setShared(ImageLoader *loader);
};
