#pragma once

#include "platform/net/ImageLoader.h"

#include <QList>
#include <QPointer>

// Holds every request until the test answers it.
class FakeImageLoader : public ImageLoader {
public:
    struct Request {
        QUrl url;
        QPointer<QObject> context;
        std::function<void(const QImage &)> completion;
    };

    FakeImageLoader() { ImageLoader::setShared(this); }
    ~FakeImageLoader() override { ImageLoader::setShared(nullptr); }

    void load(const QUrl &url, QObject *context,
              std::function<void(const QImage &)> completion) override
    {
        requests << Request{url, context, std::move(completion)};
    }

    // Answers the request at `index` (as the real loader would: never after
    // its context died).
    void answer(int index, const QImage &image)
    {
        Request &r = requests[index];
        if (r.context && r.completion)
            r.completion(image);
        r.completion = nullptr;
    }

    static QImage solid(QColor color, int size = 64)
    {
        QImage img(size, size, QImage::Format_ARGB32);
        img.fill(color);
        return img;
    }

    QList<Request> requests;
};
