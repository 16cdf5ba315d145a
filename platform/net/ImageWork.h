#pragma once

#include "platform/net/NetworkImageLoader.h"

#include <QByteArray>
#include <QImage>
#include <QString>

class QThreadPool;

// What the image loader does off the main thread: reading local files and
// decoding. Both functions run on worker threads and touch no loader state.
namespace imagework {

// What a worker hands back: the image, or a null one and why.
struct Decoded {
    QImage image;
    QString why;
};

// Reads a local file of at most maxBytes; empty with `why` set on failure.
QByteArray readLocalFile(const QString &path, qint64 maxBytes, QString *why);
// Decodes within the loader's limits; a null image with `why` set on failure.
QImage decodeBytes(const QByteArray &bytes, const NetworkImageLoader::Limits &limits, QString *why);

// Worker threads, shared by every loader and never destroyed, so that
// neither a loader going away nor the process quitting waits on a slow file.
// Decoding is CPU and memory heavy: two at a time bounds the transient
// memory. File reads get their own threads so a slow disk never holds up
// decoding. Both run below the main thread, which must stay responsive.
QThreadPool *decodePool();
QThreadPool *filePool();

} // namespace imagework
