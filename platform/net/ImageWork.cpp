#include "platform/net/ImageWork.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace imagework {

// Refuses anything that is not a regular file: a FIFO or a device would
// block the reader or never end.
QByteArray readLocalFile(const QString &path, qint64 maxBytes, QString *why)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *why = QStringLiteral("no such file");
        return {};
    }
    if (!info.isFile()) {
        *why = QStringLiteral("not a regular file");
        return {};
    }
    if (info.size() > maxBytes) {
        *why = QStringLiteral("file of %1 bytes is too large").arg(info.size());
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return {};
    }
    QByteArray data = file.read(maxBytes + 1);
    if (data.size() > maxBytes) {
        *why = QStringLiteral("file grew past the size limit");
        return {};
    }
    return data;
}

QImage decodeBytes(const QByteArray &bytes, const NetworkImageLoader::Limits &limits, QString *why)
{
    if (bytes.isEmpty()) {
        *why = QStringLiteral("no data");
        return {};
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        *why = QStringLiteral("not an image");
        return {};
    }
    // The header's size comes before any pixel is decoded: a few kilobytes
    // can declare gigabytes of pixels.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        *why = QStringLiteral("image without a size");
        return {};
    }
    if (size.width() > limits.maxImageDimension || size.height() > limits.maxImageDimension ||
        qint64(size.width()) * size.height() > limits.maxImagePixels) {
        *why = QStringLiteral("image of %1x%2 refused").arg(size.width()).arg(size.height());
        return {};
    }
    const QSize box = limits.maxDecodeSize;
    if (box.isValid() && (size.width() > box.width() || size.height() > box.height()))
        reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull()) {
        *why = reader.errorString();
        return {};
    }
    return image;
}

namespace {

// At quit: queued work is dropped and running work gets a moment to end, so
// that it does not race the teardown of the image plugins. A read stuck on a
// dead network file system does not hold the quit up for long.
void drainPools()
{
    for (QThreadPool *pool : {decodePool(), filePool()}) {
        pool->clear();
        pool->waitForDone(1000);
    }
}

QThreadPool *makePool()
{
    static const bool drained = (qAddPostRoutine(drainPools), true);
    Q_UNUSED(drained);
    auto *pool = new QThreadPool;
    pool->setMaxThreadCount(2);
    pool->setThreadPriority(QThread::LowPriority);
    return pool;
}

} // namespace

QThreadPool *decodePool()
{
    static QThreadPool *const pool = makePool();
    return pool;
}

QThreadPool *filePool()
{
    static QThreadPool *const pool = makePool();
    return pool;
}

} // namespace imagework
