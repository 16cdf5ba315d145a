#pragma once

#include "platform/net/ImageLoader.h"

#include <QCache>
#include <QDeadlineTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class ImageTransfer;
class QNetworkAccessManager;

// The ImageLoader behind ImageLoader::shared().
//
// - http and https go through one QNetworkAccessManager (made on first use)
//   with an HTTP disk cache under the cache location + "/images" that honours
//   the server's cache headers; file URLs are read on a worker thread.
// - Every transfer is bounded: an inactivity timeout, an overall deadline, a
//   size cap and a redirect limit.
// - Bytes are decoded on a worker thread. The header size is checked before
//   decoding; absurd dimensions are refused and large images are decoded
//   scaled down to fit maxDecodeSize.
// - Requests for the same URL share one transfer; decoded images are kept in
//   a small in-memory cache, and failures are remembered for a short while so
//   a list full of one dead URL asks the network once.
// - At most maxConcurrentTransfers run at a time; the rest wait in a queue.
//   A request whose every context has been destroyed leaves the queue, or is
//   aborted if it is already running.
//
// Lives on, and must be used from, the thread that created it (the main
// thread). A null context means "no owner": that completion always runs.
// Destroying the loader ends its transfers and never waits for its workers:
// their results are simply dropped.
class NetworkImageLoader : public QObject, public ImageLoader {
    Q_OBJECT
public:
    struct Limits {
        int transferTimeoutMs = 10'000; // no bytes for this long ends a transfer
        int totalTimeoutMs = 30'000;    // a transfer never runs longer than this
        int maxRedirects = 5;
        qint64 maxBytes = 4 * 1024 * 1024; // encoded size, network or file
        int maxConcurrentTransfers = 6;
        QSize maxDecodeSize{512, 512};      // larger images are decoded scaled to fit
        int maxImageDimension = 20'000;     // header width or height above this: refused
        qint64 maxImagePixels = 16'000'000; // header width × height above this: refused
        int decoderAllocationLimitMb = 128; // QImageReader allocation limit
        qint64 memoryCacheBytes = 16 * 1024 * 1024;
        int failureMemoryMs = 30'000; // a failed URL is not asked again for this long
        qint64 diskCacheBytes = 50 * 1024 * 1024;
        QString diskCacheDirectory; // empty: QStandardPaths::CacheLocation + "/images"
    };

    explicit NetworkImageLoader(QObject *parent = nullptr);
    explicit NetworkImageLoader(const Limits &limits, QObject *parent = nullptr);
    ~NetworkImageLoader() override;

    void load(const QUrl &url, QObject *context,
              std::function<void(const QImage &image)> completion) override;

    const Limits &limits() const { return m_limits; }

    // Introspection, for diagnostics and tests.
    int transfersInFlight() const { return m_inFlight; }
    int queuedRequests() const;
    int pendingRequests() const { return int(m_requests.size()); }
    qint64 memoryCacheCost() const { return m_memory.totalCost(); }
    bool hasNetworkManager() const { return m_nam != nullptr; }

    // Decodes encoded image bytes within the limits, as the worker threads
    // do. Safe to call from any thread.
    static QImage decode(const QByteArray &bytes, const Limits &limits);

private:
    struct Waiter {
        QPointer<QObject> context;
        bool owned = false; // had a context when it was registered
        std::function<void(const QImage &)> completion;
        bool alive() const { return !owned || !context.isNull(); }
    };
    enum class Stage { Queued, Transferring, Working };
    struct Request {
        quint64 id = 0;
        QUrl url;
        Stage stage = Stage::Queued;
        std::vector<Waiter> waiters;
        ImageTransfer *transfer = nullptr; // while Transferring
    };

    QNetworkAccessManager *nam();
    void post(Waiter waiter, const QImage &image);
    void watch(QObject *context);
    void schedulePrune();
    void prune();
    void pump();
    // A picture the disk cache holds is decoded from there; false if none.
    bool startFromDiskCache(const QString &key, Request &request);
    void startTransfer(const QString &key, Request &request);
    void releaseTransfer(Request &request);
    void onTransferred(const QString &key, quint64 id, const QByteArray &bytes);
    void startWork(const QString &key, Request &request, QByteArray bytes);
    void startFileWork(const QString &key, Request &request);
    void onDecoded(const QString &key, quint64 id, const QImage &image, const QString &failure);
    void fail(const QString &key, quint64 id, const QString &why);
    void deliver(const std::shared_ptr<Request> &request, const QImage &image);
    Request *find(const QString &key, quint64 id);

    Limits m_limits;
    QNetworkAccessManager *m_nam = nullptr;
    QHash<QString, std::shared_ptr<Request>> m_requests;
    std::deque<QString> m_queue;
    int m_inFlight = 0;
    quint64 m_nextId = 1;
    QCache<QString, QImage> m_memory;
    QCache<QString, QDeadlineTimer> m_failures; // key -> when it may be asked again
    QHash<QObject *, QMetaObject::Connection> m_watched;
    bool m_pruneScheduled = false;
};
