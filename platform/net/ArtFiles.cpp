#include "platform/net/ArtFiles.h"

#include "platform/base/AsyncTask.h"
#include "platform/base/Log.h"
#include "platform/net/ImageLoader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <memory>

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

namespace {
// Addresses whose picture is being loaded or written (main thread only).
QSet<QString> &pending()
{
    static QSet<QString> set;
    return set;
}
} // namespace

void fetch(const QUrl &url, QObject *context, std::function<void(const QString &path)> done)
{
    const QString path = existing(url);
    const QString key = url.toString();
    if (!path.isEmpty() || pathFor(url).isEmpty() || url.isLocalFile() || pending().contains(key)) {
        done(path);
        return;
    }
    pending().insert(key);
    // A requester that goes before its picture came lets the next one ask.
    auto gone = std::make_shared<QMetaObject::Connection>(
        QObject::connect(context, &QObject::destroyed, QCoreApplication::instance(),
                         [key] { pending().remove(key); }));
    auto finish = [key, gone, done = std::move(done)](const QString &written) {
        QObject::disconnect(*gone);
        pending().remove(key);
        done(written);
    };
    ImageLoader::shared()->load(url, context, [url, context, finish](const QImage &image) {
        if (image.isNull()) {
            finish(QString());
            return;
        }
        // Encoding a PNG takes tens of milliseconds: not on the main thread.
        asynctask::run(
            context, [url, image] { return store(url, image) ? pathFor(url) : QString(); }, finish);
    });
}

} // namespace artfiles
