#include "platform/net/ArtFiles.h"

#include "platform/base/Log.h"
#include "platform/net/ImageLoader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace artfiles {

QString pathFor(const QUrl &url)
{
    if (url.isEmpty() || !url.isValid())
        return {};
    if (url.isLocalFile())
        return url.toLocalFile();
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return {};
    const QByteArray hash =
        QCryptographicHash::hash(url.toEncoded(), QCryptographicHash::Sha1).toHex();
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/orbitune/art/") + QString::fromLatin1(hash) + QStringLiteral(".png");
}

QString existing(const QUrl &url)
{
    const QString path = pathFor(url);
    return !path.isEmpty() && QFileInfo(path).isFile() ? path : QString();
}

bool store(const QUrl &url, const QImage &image)
{
    const QString path = pathFor(url);
    if (path.isEmpty() || url.isLocalFile() || image.isNull())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        NSLog(lcNet(), QtWarningMsg, "Cannot keep a picture as %@ (%@)", path, file.errorString());
        return false;
    }
    return true;
}

void fetch(const QUrl &url, QObject *context, std::function<void(const QString &path)> done)
{
    const QString path = existing(url);
    if (!path.isEmpty() || pathFor(url).isEmpty() || url.isLocalFile()) {
        done(path);
        return;
    }
    ImageLoader::shared()->load(url, context, [url, done = std::move(done)](const QImage &image) {
        done(store(url, image) ? pathFor(url) : QString());
    });
}

} // namespace artfiles
