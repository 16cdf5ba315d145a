#include "platform/net/NetworkImageLoader.h"

#include "platform/net/ImageTransfer.h"
#include "platform/net/ImageWork.h"

#include "platform/base/AppInfo.h"
#include "platform/base/AsyncTask.h"
#include "platform/base/Clock.h"
#include "platform/base/Log.h"

#include <QAbstractNetworkCache>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>

// ---------------------------------------------------------------------------
// The process-wide loader

namespace {
ImageLoader *g_installed = nullptr;
QPointer<NetworkImageLoader> g_default;
} // namespace

ImageLoader *ImageLoader::shared()
{
    if (g_installed)
        return g_installed;
    // Made on first use, owned by the application so it goes before the
    // application object does.
    if (!g_default)
        g_default = new NetworkImageLoader(QCoreApplication::instance());
    return g_default.data();
}

void ImageLoader::setShared(ImageLoader *loader)
{
    g_installed = loader;
}

QImage NetworkImageLoader::decode(const QByteArray &bytes, const Limits &limits)
{
    QString why;
    return imagework::decodeBytes(bytes, limits, &why);
}

// ---------------------------------------------------------------------------

NetworkImageLoader::NetworkImageLoader(QObject *parent) : NetworkImageLoader(Limits{}, parent) {}

NetworkImageLoader::NetworkImageLoader(const Limits &limits, QObject *parent)
    : QObject(parent), m_limits(limits)
{
    m_memory.setMaxCost(std::max<qint64>(0, limits.memoryCacheBytes));
    m_failures.setMaxCost(1024);
    // The reader's limit is process-wide; only ever tighten it.
    const int current = QImageReader::allocationLimit();
    if (limits.decoderAllocationLimitMb > 0 &&
        (current == 0 || current > limits.decoderAllocationLimitMb))
        QImageReader::setAllocationLimit(limits.decoderAllocationLimitMb);
}

NetworkImageLoader::~NetworkImageLoader()
{
    for (const auto &request : std::as_const(m_requests)) {
        if (request->transfer)
            releaseTransfer(*request);
    }
    m_requests.clear();
    m_queue.clear();
}

QNetworkAccessManager *NetworkImageLoader::nam()
{
    if (m_nam)
        return m_nam;
    m_nam = new QNetworkAccessManager(this);
    m_nam->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_nam->setTransferTimeout(m_limits.transferTimeoutMs);
    QString dir = m_limits.diskCacheDirectory;
    if (dir.isEmpty()) {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (!base.isEmpty())
            dir = base + QStringLiteral("/images");
    }
    if (!dir.isEmpty() && m_limits.diskCacheBytes > 0) {
        auto *cache = new QNetworkDiskCache(m_nam);
        cache->setCacheDirectory(dir);
        cache->setMaximumCacheSize(m_limits.diskCacheBytes);
        m_nam->setCache(cache);
    }
    return m_nam;
}

int NetworkImageLoader::queuedRequests() const
{
    int n = 0;
    for (const auto &request : m_requests)
        n += request->stage == Stage::Queued;
    return n;
}

void NetworkImageLoader::load(const QUrl &url, QObject *context,
                              std::function<void(const QImage &image)> completion)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!completion)
        return;
    Waiter waiter{context, context != nullptr, std::move(completion)};

    const QString scheme = url.scheme().toLower();
    bool usable = url.isValid() && !url.isRelative();
    if (usable && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
        usable = !url.host().isEmpty();
    else if (usable && scheme == QLatin1String("file"))
        usable = !url.toLocalFile().isEmpty();
    else
        usable = false;
    if (!usable) {
        post(std::move(waiter), QImage());
        return;
    }

    const QString key = url.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
    if (const QImage *image = m_memory.object(key)) {
        post(std::move(waiter), *image);
        return;
    }
    if (const QDeadlineTimer *until = m_failures.object(key)) {
        if (!until->hasExpired()) {
            post(std::move(waiter), QImage());
            return;
        }
        m_failures.remove(key);
    }

    watch(context);
    if (const auto it = m_requests.constFind(key); it != m_requests.cend()) {
        (*it)->waiters.push_back(std::move(waiter));
        return;
    }
    auto request = std::make_shared<Request>();
    request->id = m_nextId++;
    request->url = url;
    request->waiters.push_back(std::move(waiter));
    m_requests.insert(key, request);
    if (scheme == QLatin1String("file")) {
        startFileWork(key, *request);
    } else {
        m_queue.push_back(key);
        pump();
    }
}

void NetworkImageLoader::post(Waiter waiter, const QImage &image)
{
    // Always through the event loop: a caller never sees its completion run
    // inside load().
    QMetaObject::invokeMethod(
        this,
        [waiter = std::move(waiter), image]() {
            if (waiter.alive())
                waiter.completion(image);
        },
        Qt::QueuedConnection);
}

void NetworkImageLoader::watch(QObject *context)
{
    if (!context || m_watched.contains(context))
        return;
    m_watched.insert(context, connect(context, &QObject::destroyed, this, [this, context]() {
                         m_watched.remove(context);
                         schedulePrune();
                     }));
}

void NetworkImageLoader::schedulePrune()
{
    // Many contexts usually go together (a list closing): one pass for all.
    if (m_pruneScheduled)
        return;
    m_pruneScheduled = true;
    QMetaObject::invokeMethod(this, &NetworkImageLoader::prune, Qt::QueuedConnection);
}

void NetworkImageLoader::prune()
{
    m_pruneScheduled = false;
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        Request &request = **it;
        std::erase_if(request.waiters, [](const Waiter &w) { return !w.alive(); });
        if (!request.waiters.empty()) {
            ++it;
            continue;
        }
        // Nobody wants it any more. A running transfer is aborted; work on a
        // worker thread finishes and its result is dropped (it no longer
        // matches a request).
        if (request.stage == Stage::Transferring)
            releaseTransfer(request);
        it = m_requests.erase(it);
    }
    std::erase_if(m_queue, [this](const QString &key) {
        const auto request = m_requests.value(key);
        return !request || request->stage != Stage::Queued;
    });
    pump();
}

void NetworkImageLoader::pump()
{
    const int cap = std::max(1, m_limits.maxConcurrentTransfers);
    while (m_inFlight < cap && !m_queue.empty()) {
        const QString key = m_queue.front();
        m_queue.pop_front();
        const auto request = m_requests.value(key);
        if (!request || request->stage != Stage::Queued)
            continue;
        if (std::none_of(request->waiters.begin(), request->waiters.end(),
                         [](const Waiter &w) { return w.alive(); })) {
            m_requests.remove(key);
            continue;
        }
        if (!startFromDiskCache(key, *request))
            startTransfer(key, *request);
    }
}

bool NetworkImageLoader::startFromDiskCache(const QString &key, Request &request)
{
    // What the network stack would answer from its disk cache anyway (its
    // requests prefer the cache), read here: a request, even one the cache
    // answers, loads the TLS library (4 MB) to look at its settings.
    QAbstractNetworkCache *cache = nam()->cache();
    if (!cache)
        return false;
    // Only a copy that is still fresh: one to check with the server (or
    // of a redirect) goes the network stack's way, as before.
    const QNetworkCacheMetaData meta = cache->metaData(request.url);
    const QVariant status = meta.attributes().value(QNetworkRequest::HttpStatusCodeAttribute);
    if (!meta.isValid() || status.toInt() != 200 || !meta.expirationDate().isValid() ||
        meta.expirationDate() <= Clock::shared()->currentDateTimeUtc())
        return false;
    for (const auto &[name, value] : meta.rawHeaders()) {
        if (name.compare("cache-control", Qt::CaseInsensitive) == 0 &&
            (value.contains("no-cache") || value.contains("must-revalidate")))
            return false;
    }
    const std::unique_ptr<QIODevice> data(cache->data(request.url));
    if (!data)
        return false;
    const QByteArray bytes = data->read(m_limits.maxBytes + 1);
    if (bytes.isEmpty() || bytes.size() > m_limits.maxBytes)
        return false;
    startWork(key, request, bytes);
    return true;
}

NetworkImageLoader::Request *NetworkImageLoader::find(const QString &key, quint64 id)
{
    const auto it = m_requests.constFind(key);
    if (it == m_requests.cend() || (*it)->id != id)
        return nullptr;
    return it->get();
}

void NetworkImageLoader::startWork(const QString &key, Request &request, QByteArray bytes)
{
    request.stage = Stage::Working;
    const Limits limits = m_limits;
    asynctask::run(
        this,
        [bytes = std::move(bytes), limits] {
            imagework::Decoded out;
            out.image = imagework::decodeBytes(bytes, limits, &out.why);
            return out;
        },
        [this, key, id = request.id](const imagework::Decoded &out) {
            onDecoded(key, id, out.image, out.why);
        },
        imagework::decodePool());
}

void NetworkImageLoader::startFileWork(const QString &key, Request &request)
{
    request.stage = Stage::Working;
    const QString path = request.url.toLocalFile();
    const Limits limits = m_limits;
    asynctask::run(
        this,
        [path, limits] {
            imagework::Decoded out;
            const QByteArray bytes = imagework::readLocalFile(path, limits.maxBytes, &out.why);
            if (out.why.isEmpty())
                out.image = imagework::decodeBytes(bytes, limits, &out.why);
            return out;
        },
        [this, key, id = request.id](const imagework::Decoded &out) {
            onDecoded(key, id, out.image, out.why);
        },
        imagework::filePool());
}

void NetworkImageLoader::onDecoded(const QString &key, quint64 id, const QImage &image,
                                   const QString &failure)
{
    // Keep a good image even when nobody waits any more: a list scrolled
    // back shows it without decoding again.
    if (!image.isNull())
        m_memory.insert(key, new QImage(image), image.sizeInBytes());
    if (!find(key, id))
        return;
    if (image.isNull()) {
        fail(key, id, failure.isEmpty() ? QStringLiteral("not an image") : failure);
        return;
    }
    deliver(m_requests.take(key), image);
}

void NetworkImageLoader::fail(const QString &key, quint64 id, const QString &why)
{
    if (!find(key, id))
        return;
    const auto request = m_requests.take(key);
    const bool wasTransferring = request->transfer != nullptr;
    releaseTransfer(*request);
    NSLog(lcNet(), QtDebugMsg, "image load failed: %@ (%@)", request->url.toDisplayString(), why);
    if (m_limits.failureMemoryMs > 0)
        m_failures.insert(key, new QDeadlineTimer(m_limits.failureMemoryMs));
    deliver(request, QImage());
    if (wasTransferring)
        pump();
}

void NetworkImageLoader::startTransfer(const QString &key, Request &request)
{
    request.stage = Stage::Transferring;
    request.transfer = new ImageTransfer(nam(), request.url,
                                         {m_limits.transferTimeoutMs, m_limits.totalTimeoutMs,
                                          m_limits.maxRedirects, m_limits.maxBytes},
                                         this);
    ++m_inFlight;
    const quint64 id = request.id;
    connect(request.transfer, &ImageTransfer::finished, this,
            [this, key, id](const QByteArray &bytes) { onTransferred(key, id, bytes); });
    connect(request.transfer, &ImageTransfer::failed, this,
            [this, key, id](const QString &why) { fail(key, id, why); });
}

void NetworkImageLoader::releaseTransfer(Request &request)
{
    if (ImageTransfer *transfer = std::exchange(request.transfer, nullptr)) {
        disconnect(transfer, nullptr, this, nullptr);
        transfer->deleteLater(); // it may be the one telling us
        --m_inFlight;
    }
}

void NetworkImageLoader::onTransferred(const QString &key, quint64 id, const QByteArray &bytes)
{
    Request *request = find(key, id);
    if (!request)
        return;
    releaseTransfer(*request);
    startWork(key, *request, bytes);
    pump();
}

void NetworkImageLoader::deliver(const std::shared_ptr<Request> &request, const QImage &image)
{
    // A completion may load again or destroy other contexts; the request is
    // already out of the table and each waiter is checked just before its
    // turn.
    for (const Waiter &waiter : request->waiters) {
        if (waiter.alive())
            waiter.completion(image);
    }
}

#include "moc_NetworkImageLoader.cpp"
