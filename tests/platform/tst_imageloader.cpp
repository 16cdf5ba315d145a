// The image loader against a loopback server that misbehaves on purpose
// (tests/support/hostile_image_server.py) and against awkward local files.
// Every test runs under an event-loop probe: a 10 ms timer whose worst gap
// shows how long the main thread was ever blocked.

#include "platform/base/Log.h"
#include "platform/net/NetworkImageLoader.h"
#include "support/LogRecorder.h"
#include "support/SchedStat.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

// Ticks every 10 ms on the main thread and looks at each gap between ticks,
// less the interval and less the time the thread waited for a CPU (other
// processes building on a busy machine):
// - a busy stall is such a gap in which the thread mostly ran: work done on
//   the main thread. The worst must stay within 50 ms.
// - an idle gap is one in which it mostly slept. On a loaded virtual machine
//   a wake-up can come late; a blocking call would also show here, so these
//   get a looser bound.
// Also tracks the peak resident size.
class LoopProbe : public QObject {
public:
    LoopProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kIntervalMs);
        connect(&m_timer, &QTimer::timeout, this, [this]() {
            const qint64 gapMs = m_clock.restart();
            const SchedStat now = threadSchedStat();
            const qint64 ranMs = (now.runNs - m_last.runNs) / 1'000'000;
            const qint64 waitedMs = (now.waitNs - m_last.waitNs) / 1'000'000;
            m_last = now;
            const qint64 stallMs = gapMs - kIntervalMs - waitedMs;
            m_worstGap = std::max(m_worstGap, gapMs);
            if (ranMs * 2 >= stallMs)
                m_worstBusy = std::max(m_worstBusy, stallMs);
            else
                m_worstIdle = std::max(m_worstIdle, stallMs);
            m_peakRss = std::max(m_peakRss, residentBytes());
        });
    }
    void start()
    {
        m_worstGap = m_worstBusy = m_worstIdle = 0;
        m_baseRss = m_peakRss = residentBytes();
        m_last = threadSchedStat();
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    qint64 worstBusyStallMs() const { return m_worstBusy; }
    qint64 worstIdleGapMs() const { return m_worstIdle; }
    qint64 worstGapMs() const { return m_worstGap; }
    qint64 rssGrowth() const { return m_peakRss - m_baseRss; }

    static constexpr int kIntervalMs = 10;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    SchedStat m_last;
    qint64 m_worstGap = 0;
    qint64 m_worstBusy = 0;
    qint64 m_worstIdle = 0;
    qint64 m_baseRss = 0;
    qint64 m_peakRss = 0;
};

// One completion's outcome.
struct Outcome {
    int calls = 0;
    QImage image;
    bool done() const { return calls > 0; }
    std::function<void(const QImage &)> sink()
    {
        return [this](const QImage &image) {
            ++calls;
            this->image = image;
        };
    }
};

// NetworkImageLoader::decode as the loader's workers run it: on another
// thread, so the probe keeps measuring the main thread alone.
QImage decodeElsewhere(const QByteArray &bytes, const NetworkImageLoader::Limits &limits)
{
    QImage image;
    std::unique_ptr<QThread> worker(
        QThread::create([&]() { image = NetworkImageLoader::decode(bytes, limits); }));
    worker->start();
    if (!QTest::qWaitFor([&]() { return worker->isFinished(); }, 20000))
        qFatal("decoding did not end");
    worker->wait();
    return image;
}

} // namespace

class TestImageLoader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void decodesRealImagesOverHttp();
    void unusableUrlsCompleteLaterWithNull_data();
    void unusableUrlsCompleteLaterWithNull();
    void hostileServersEndWithNullInTime_data();
    void hostileServersEndWithNullInTime();
    void followsShortRedirectChains();
    void diskCacheHonoursCacheHeaders();
    void coalescesRequestsForOneUrl();
    void failuresAreRememberedBriefly();
    void boundsTransfersAndDropsAbandonedRequests();
    void completionNeverOutlivesItsContext();
    void destroyingTheLoaderEndsEverything();
    void memoryCacheStaysUnderItsCap();
    void loadsFileUrlsOffTheMainThread();
    void decodeGuardsAgainstBombs();
    void sharedLoaderIsLazyAndReplaceable();

private:
    QUrl url(const QString &pathAndQuery) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery));
    }
    QByteArray ask(const QString &pathAndQuery);
    int requestCount(const QString &pathAndQuery);
    void serverStats(int *active, int *max);
    NetworkImageLoader::Limits quickLimits() const;
    static void writeImage(const QString &path, QSize size, const char *format);

    QTemporaryDir m_files;
    QProcess m_server;
    int m_port = 0;
    LoopProbe m_probe;
    QNetworkAccessManager m_control; // talks to the server's bookkeeping paths
    std::unique_ptr<LogRecorder> m_recorder;
    QStringList &m_log() { return m_recorder->lines; }
};

void TestImageLoader::writeImage(const QString &path, QSize size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, Qt::red);
    gradient.setColorAt(1, Qt::blue);
    p.fillRect(image.rect(), gradient);
    p.end();
    QVERIFY(image.save(path, format));
}

void TestImageLoader::initTestCase()
{
    QVERIFY(m_files.isValid());
    const QString dir = m_files.path();
    {
        QImage small(64, 48, QImage::Format_RGB32);
        small.fill(QColor(200, 30, 40));
        QVERIFY(small.save(dir + "/small.png", "PNG"));
    }
    writeImage(dir + "/photo.jpg", QSize(1600, 1200), "JPEG");
    writeImage(dir + "/wide.png", QSize(2000, 1000), "PNG");
    writeImage(dir + "/tile.png", QSize(512, 512), "PNG");
    {
        // 12 megapixels: within the header limits, 48 MB once decoded full size.
        QImage big(4000, 3000, QImage::Format_RGB32);
        big.fill(QColor(10, 120, 200));
        QVERIFY(big.save(dir + "/big.png", "PNG"));
    }
    {
        QFile text(dir + "/notes.txt");
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("<html>this is not an image</html>\n");
    }

    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    QVERIFY2(!python.isEmpty(), "python3 is needed for the test server");
    const QString script = qEnvironmentVariable("ORBITUNE_SOURCE_DIR") +
                           QStringLiteral("/tests/support/hostile_image_server.py");
    m_server.setProgram(python);
    m_server.setArguments({script, dir});
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start();
    QVERIFY(m_server.waitForStarted(5000));
    QVERIFY(m_server.waitForReadyRead(10000));
    const QByteArray line = m_server.readLine().trimmed();
    QVERIFY2(line.startsWith("PORT "), line.constData());
    m_port = line.mid(5).toInt();
    QVERIFY(m_port > 0);

    m_recorder = std::make_unique<LogRecorder>();
}

void TestImageLoader::cleanupTestCase()
{
    m_recorder.reset();
    // The server exits when its stdin closes; kill it by its handle if not.
    m_server.closeWriteChannel();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

void TestImageLoader::init()
{
    m_log().clear();
    m_probe.start();
}

void TestImageLoader::cleanup()
{
    m_probe.stop();
    qInfo("%s: worst main-thread stall %lld ms busy, %lld ms idle (longest tick gap %lld ms, "
          "waits for a CPU excluded); peak resident growth %lld KiB",
          QTest::currentTestFunction(), m_probe.worstBusyStallMs(), m_probe.worstIdleGapMs(),
          m_probe.worstGapMs(), m_probe.rssGrowth() / 1024);
#ifdef ORBITUNE_ASAN
    // Under the sanitizers every allocation is slow, and on a machine as busy
    // as that pass makes it a stall of the main thread was seen at 103 ms
    // (2 ms alone): the figures are printed, the bounds are the plain build's.
    return;
#endif
    QVERIFY2(
        m_probe.worstBusyStallMs() <= 50,
        qPrintable(QStringLiteral("main thread busy for %1 ms").arg(m_probe.worstBusyStallMs())));
    QVERIFY2(m_probe.worstIdleGapMs() <= 250,
             qPrintable(QStringLiteral("main thread blocked %1 ms").arg(m_probe.worstIdleGapMs())));
}

QByteArray TestImageLoader::ask(const QString &pathAndQuery)
{
    QNetworkRequest request(url(pathAndQuery));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    std::unique_ptr<QNetworkReply> reply(m_control.get(request));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(5000))
        return {};
    return reply->readAll();
}

int TestImageLoader::requestCount(const QString &pathAndQuery)
{
    const QByteArray answer = ask(QStringLiteral("/__count?p=") +
                                  QString::fromLatin1(QUrl::toPercentEncoding(pathAndQuery)));
    bool ok = false;
    const int n = answer.toInt(&ok);
    return ok ? n : -1;
}

void TestImageLoader::serverStats(int *active, int *max)
{
    const QString answer = QString::fromLatin1(ask(QStringLiteral("/__stats")));
    static const QRegularExpression re(QStringLiteral("active=(\\d+) max=(\\d+)"));
    const auto match = re.match(answer);
    *active = match.hasMatch() ? match.captured(1).toInt() : -1;
    *max = match.hasMatch() ? match.captured(2).toInt() : -1;
}

NetworkImageLoader::Limits TestImageLoader::quickLimits() const
{
    NetworkImageLoader::Limits limits;
    limits.transferTimeoutMs = 1500;
    limits.totalTimeoutMs = 4000;
    // A cache of its own for every test, so none sees another's entries.
    limits.diskCacheDirectory =
        TestEnv::instance()->root() + QStringLiteral("/cache/") + QTest::currentTestFunction();
    return limits;
}

// ---------------------------------------------------------------------------

void TestImageLoader::decodesRealImagesOverHttp()
{
    NetworkImageLoader loader(quickLimits());
    Outcome png, jpeg, wide, big;
    loader.load(url("/img/small.png"), this, png.sink());
    loader.load(url("/img/photo.jpg"), this, jpeg.sink());
    loader.load(url("/img/wide.png"), this, wide.sink());
    loader.load(url("/img/big.png"), this, big.sink());
    QTRY_VERIFY_WITH_TIMEOUT(png.done() && jpeg.done() && wide.done() && big.done(), 10000);

    QCOMPARE(png.image.size(), QSize(64, 48));
    QCOMPARE(QColor(png.image.pixel(10, 10)), QColor(200, 30, 40));
    // Larger images arrive scaled to fit 512x512, aspect kept.
    QCOMPARE(jpeg.image.size(), QSize(512, 384));
    QCOMPARE(wide.image.size(), QSize(512, 256));
    QCOMPARE(big.image.size(), QSize(512, 384));
    const QColor left = wide.image.pixelColor(2, 128), right = wide.image.pixelColor(509, 128);
    QVERIFY2(left.red() > 200 && right.blue() > 200, "gradient survives scaling");
    QCOMPARE(png.calls, 1);
    QCOMPARE(loader.pendingRequests(), 0);
    QCOMPARE(loader.transfersInFlight(), 0);
}

void TestImageLoader::unusableUrlsCompleteLaterWithNull_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::newRow("empty") << QUrl();
    QTest::newRow("relative") << QUrl(QStringLiteral("images/a.png"));
    QTest::newRow("malformed") << QUrl(QStringLiteral("http://[::1/broken"));
    QTest::newRow("no host") << QUrl(QStringLiteral("http:///a.png"));
    QTest::newRow("ftp") << QUrl(QStringLiteral("ftp://127.0.0.1/a.png"));
    QTest::newRow("data") << QUrl(QStringLiteral("data:image/png;base64,iVBORw0KGgo="));
    QTest::newRow("qrc") << QUrl(QStringLiteral("qrc:/images/play.png"));
    QTest::newRow("bare words") << QUrl(QStringLiteral("not a url at all"));
}

void TestImageLoader::unusableUrlsCompleteLaterWithNull()
{
    QFETCH(QUrl, url);
    NetworkImageLoader loader(quickLimits());
    Outcome outcome;
    loader.load(url, this, outcome.sink());
    QCOMPARE(outcome.calls, 0); // never inside load()
    QTRY_VERIFY(outcome.done());
    QVERIFY(outcome.image.isNull());
    QCOMPARE(outcome.calls, 1);
    QVERIFY2(!loader.hasNetworkManager(), "nothing worth a network manager was asked");
}

void TestImageLoader::hostileServersEndWithNullInTime_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("transferTimeoutMs");
    QTest::addColumn<int>("totalTimeoutMs");
    QTest::addColumn<int>("mustEndWithinMs");
    QTest::addColumn<QString>("reason"); // in the log line
    // path, inactivity timeout, overall deadline, must end within, why
    QTest::newRow("stalls before answering") << "/stall" << 1000 << 60000 << 4000 << "no data";
    QTest::newRow("stalls mid-body") << "/stall-body" << 1000 << 60000 << 4000 << "no data";
    QTest::newRow("trickles a byte a second")
        << "/trickle" << 2500 << 3000 << 6000 << "no complete answer within 3000 ms";
    QTest::newRow("200 MB announced") << "/huge?length=1" << 1500 << 60000 << 4000 << "too large";
    QTest::newRow("200 MB unannounced") << "/huge" << 1500 << 60000 << 4000 << "too large";
    QTest::newRow("decompression bomb") << "/bomb.png" << 1500 << 60000 << 4000 << "refused";
    QTest::newRow("html as image/png") << "/html" << 1500 << 60000 << 4000 << "not an image";
    QTest::newRow("redirect loop") << "/loop/a" << 1500 << 60000 << 4000 << "edirect";
    QTest::newRow("404 with an image body") << "/missing.png" << 1500 << 60000 << 4000 << "";
}

void TestImageLoader::hostileServersEndWithNullInTime()
{
    QFETCH(QString, path);
    QFETCH(int, transferTimeoutMs);
    QFETCH(int, totalTimeoutMs);
    QFETCH(int, mustEndWithinMs);
    QFETCH(QString, reason);

    NetworkImageLoader::Limits limits = quickLimits();
    limits.transferTimeoutMs = transferTimeoutMs;
    limits.totalTimeoutMs = totalTimeoutMs;
    NetworkImageLoader loader(limits);
    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    loader.load(url(path), this, outcome.sink());
    QTRY_VERIFY_WITH_TIMEOUT(outcome.done(), mustEndWithinMs);
    qInfo("%s ended after %lld ms", qPrintable(path), clock.elapsed());
    QVERIFY(outcome.image.isNull());
    QCOMPARE(outcome.calls, 1);
    QCOMPARE(loader.transfersInFlight(), 0);
    QCOMPARE(loader.pendingRequests(), 0);
    QCOMPARE(m_log().size(), 1);
    QVERIFY2(m_log().first().contains(reason), qPrintable(m_log().first()));
    // Only the first few megabytes of a huge body are ever held.
    QVERIFY2(
        m_probe.rssGrowth() < 48 * 1024 * 1024,
        qPrintable(QStringLiteral("resident size grew %1 KiB").arg(m_probe.rssGrowth() / 1024)));
    // The connection is closed, not left hanging on the server.
    int active = -1, max = -1;
    QTRY_VERIFY_WITH_TIMEOUT((serverStats(&active, &max), active == 0), 5000);
}

void TestImageLoader::followsShortRedirectChains()
{
    NetworkImageLoader loader(quickLimits());
    Outcome viaThree, viaTen;
    loader.load(url("/redirect/3/small.png"), this, viaThree.sink());
    loader.load(url("/redirect/10/small.png"), this, viaTen.sink()); // more than five
    QTRY_VERIFY(viaThree.done() && viaTen.done());
    QCOMPARE(viaThree.image.size(), QSize(64, 48));
    QVERIFY(viaTen.image.isNull());
}

void TestImageLoader::diskCacheHonoursCacheHeaders()
{
    const NetworkImageLoader::Limits limits = quickLimits();
    const QString fresh = QStringLiteral("/img/small.png?cc=max-age=3600");
    const QString noStore = QStringLiteral("/img/small.png?cc=no-store");
    const QString revalidate = QStringLiteral("/img/small.png?cc=no-cache&etag=v1");

    // Each pass is a new loader, as after a restart: nothing in memory.
    for (int pass = 1; pass <= 2; ++pass) {
        NetworkImageLoader loader(limits);
        Outcome a, b, c;
        loader.load(url(fresh), this, a.sink());
        loader.load(url(noStore), this, b.sink());
        loader.load(url(revalidate), this, c.sink());
        QTRY_VERIFY(a.done() && b.done() && c.done());
        QCOMPARE(a.image.size(), QSize(64, 48));
        QCOMPARE(b.image.size(), QSize(64, 48));
        QCOMPARE(c.image.size(), QSize(64, 48)); // a 304 answers from the cached copy
    }
    QCOMPARE(requestCount(fresh), 1); // the second came from the disk cache
    QCOMPARE(requestCount(noStore), 2);
    QCOMPARE(requestCount(revalidate), 2);
    QVERIFY(QDir(limits.diskCacheDirectory).exists());
}

void TestImageLoader::coalescesRequestsForOneUrl()
{
    NetworkImageLoader loader(quickLimits());
    const QString path = QStringLiteral("/img/small.png?delay=300&t=coalesce");
    std::vector<Outcome> outcomes(20);
    for (Outcome &o : outcomes)
        loader.load(url(path), this, o.sink());
    QCOMPARE(loader.pendingRequests(), 1);
    QTRY_VERIFY(std::all_of(outcomes.begin(), outcomes.end(), [](auto &o) { return o.done(); }));
    for (const Outcome &o : outcomes) {
        QCOMPARE(o.calls, 1);
        QCOMPARE(o.image.size(), QSize(64, 48));
        QCOMPARE(o.image, outcomes.front().image);
    }
    QCOMPARE(requestCount(path), 1);

    // Later loads come from memory: not asked again, and still asynchronous.
    Outcome again;
    loader.load(url(path), this, again.sink());
    QCOMPARE(again.calls, 0);
    QTRY_VERIFY(again.done());
    QCOMPARE(again.image.size(), QSize(64, 48));
    QCOMPARE(requestCount(path), 1);

    // A fragment does not make another image.
    Outcome fragment;
    loader.load(url(path + "#top"), this, fragment.sink());
    QTRY_VERIFY(fragment.done());
    QCOMPARE(fragment.image.size(), QSize(64, 48));
    QCOMPARE(requestCount(path), 1);
}

void TestImageLoader::failuresAreRememberedBriefly()
{
    NetworkImageLoader::Limits limits = quickLimits();
    limits.failureMemoryMs = 600;
    NetworkImageLoader loader(limits);
    const QString path = QStringLiteral("/missing.png?t=remember");
    Outcome first, second, third;
    loader.load(url(path), this, first.sink());
    QTRY_VERIFY(first.done());
    loader.load(url(path), this, second.sink());
    QTRY_VERIFY(second.done());
    QVERIFY(first.image.isNull() && second.image.isNull());
    QCOMPARE(requestCount(path), 1);
    QCOMPARE(m_log().size(), 1);

    QTest::qWait(700); // let the memory of the failure lapse
    loader.load(url(path), this, third.sink());
    QTRY_VERIFY(third.done());
    QCOMPARE(requestCount(path), 2);
}

void TestImageLoader::boundsTransfersAndDropsAbandonedRequests()
{
    // A long list scrolling past a dead host: many rows, a few dozen URLs.
    NetworkImageLoader::Limits limits = quickLimits();
    limits.transferTimeoutMs = 60000;
    limits.totalTimeoutMs = 60000;
    NetworkImageLoader loader(limits);
    ask(QStringLiteral("/__reset"));

    constexpr int kRows = 10000, kUrls = 40;
    std::vector<std::unique_ptr<QObject>> rows;
    rows.reserve(kRows);
    int calls = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kRows; ++i) {
        rows.push_back(std::make_unique<QObject>());
        loader.load(url(QStringLiteral("/stall?n=%1").arg(i % kUrls)), rows.back().get(),
                    [&calls](const QImage &) { ++calls; });
        if (i % 1000 == 999)
            QCoreApplication::processEvents(); // a list builds rows a screenful at a time
    }
    qInfo("%d loads took %lld ms on the main thread", kRows, clock.elapsed());
    QCOMPARE(loader.pendingRequests(), kUrls);

    int active = -1, max = -1;
    QTRY_VERIFY_WITH_TIMEOUT((serverStats(&active, &max), active == 6), 5000);
    QCOMPARE(loader.transfersInFlight(), 6);
    QCOMPARE(loader.queuedRequests(), kUrls - 6);
    QTest::qWait(200);
    serverStats(&active, &max);
    QCOMPARE(max, 6);

    // The list closes: every row goes. Queued requests are dropped, running
    // ones aborted, and nothing is called back.
    rows.clear();
    QTRY_COMPARE(loader.pendingRequests(), 0);
    QCOMPARE(loader.transfersInFlight(), 0);
    QTRY_VERIFY_WITH_TIMEOUT((serverStats(&active, &max), active == 0), 5000);
    QCOMPARE(max, 6);
    QCOMPARE(calls, 0);
    QVERIFY(m_log().isEmpty()); // abandoning is not a failure
}

void TestImageLoader::completionNeverOutlivesItsContext()
{
    NetworkImageLoader loader(quickLimits());
    const QString slow = QStringLiteral("/img/small.png?delay=400&t=context");

    // Two rows share a transfer; the first is destroyed while it runs.
    auto gone = std::make_unique<QObject>();
    auto stays = std::make_unique<QObject>();
    Outcome goneOutcome, staysOutcome;
    loader.load(url(slow), gone.get(), goneOutcome.sink());
    loader.load(url(slow), stays.get(), staysOutcome.sink());
    QTest::qWait(100);
    gone.reset();
    QTRY_VERIFY(staysOutcome.done());
    QCOMPARE(staysOutcome.image.size(), QSize(64, 48));
    QCOMPARE(goneOutcome.calls, 0);
    QCOMPARE(requestCount(slow), 1); // the survivor kept the transfer going

    // A completion that destroys another waiter's context (a window closing
    // its rows): the other is not called.
    const QString shared = QStringLiteral("/img/small.png?delay=100&t=teardown");
    auto firstRow = std::make_unique<QObject>();
    auto secondRow = std::make_unique<QObject>();
    int secondCalls = 0;
    bool firstCalled = false;
    loader.load(url(shared), firstRow.get(), [&](const QImage &) {
        firstCalled = true;
        secondRow.reset();
    });
    loader.load(url(shared), secondRow.get(), [&](const QImage &) { ++secondCalls; });
    QTRY_VERIFY(firstCalled);
    QCOMPARE(secondCalls, 0);

    // A memory-cache answer is posted; a context destroyed before it is
    // delivered never hears of it.
    auto brief = std::make_unique<QObject>();
    Outcome briefOutcome, sentinel;
    loader.load(url(slow), brief.get(), briefOutcome.sink());
    brief.reset();
    loader.load(url(slow), this, sentinel.sink());
    QTRY_VERIFY(sentinel.done());
    QCOMPARE(briefOutcome.calls, 0);

    // Destroyed while its file is read and decoded on a worker thread: the
    // work cannot have posted back before control returns to the event loop.
    auto decoding = std::make_unique<QObject>();
    Outcome decodingOutcome, after;
    const QUrl big = QUrl::fromLocalFile(m_files.path() + "/big.png");
    loader.load(big, decoding.get(), decodingOutcome.sink());
    decoding.reset();
    QTRY_COMPARE(loader.pendingRequests(), 0);
    loader.load(big, this, after.sink());
    QTRY_VERIFY_WITH_TIMEOUT(after.done(), 10000);
    QCOMPARE(after.image.size(), QSize(512, 384)); // decoded once, kept in memory
    QTest::qWait(100);
    QCOMPARE(decodingOutcome.calls, 0);

    // No context at all: always called.
    Outcome unowned;
    loader.load(url(slow), nullptr, unowned.sink());
    QTRY_VERIFY(unowned.done());
}

void TestImageLoader::destroyingTheLoaderEndsEverything()
{
    // Transfers running and queued, a file being decoded, an answer posted:
    // the loader goes (the application quitting) and none of them calls
    // back, crashes, or leaves a connection open.
    NetworkImageLoader::Limits limits = quickLimits();
    limits.maxConcurrentTransfers = 2;
    auto loader = std::make_unique<NetworkImageLoader>(limits);
    ask(QStringLiteral("/__reset"));
    int calls = 0;
    auto count = [&calls](const QImage &) { ++calls; };
    for (int i = 0; i < 4; ++i)
        loader->load(url(QStringLiteral("/stall?t=quit%1").arg(i)), this, count);
    int active = -1, max = -1;
    QTRY_VERIFY_WITH_TIMEOUT((serverStats(&active, &max), active == 2), 5000);
    loader->load(QUrl::fromLocalFile(m_files.path() + "/big.png"), this, count);
    loader->load(QUrl(), this, count);
    QCOMPARE(loader->queuedRequests(), 2);

    loader.reset();
    QTest::qWait(300);
    QCOMPARE(calls, 0);
    QTRY_VERIFY_WITH_TIMEOUT((serverStats(&active, &max), active == 0), 5000);
    QCOMPARE(max, 2);
}

void TestImageLoader::memoryCacheStaysUnderItsCap()
{
    NetworkImageLoader::Limits limits = quickLimits();
    limits.memoryCacheBytes = 4 * 1024 * 1024; // four 512x512 tiles
    NetworkImageLoader loader(limits);
    constexpr int kTiles = 12;
    std::vector<Outcome> outcomes(kTiles);
    for (int i = 0; i < kTiles; ++i)
        loader.load(url(QStringLiteral("/img/tile.png?n=%1").arg(i)), this, outcomes[i].sink());
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(outcomes.begin(), outcomes.end(), [](auto &o) { return o.done(); }), 10000);
    for (const Outcome &o : outcomes)
        QCOMPARE(o.image.size(), QSize(512, 512));
    QVERIFY(loader.memoryCacheCost() > 0);
    QVERIFY2(loader.memoryCacheCost() <= limits.memoryCacheBytes,
             qPrintable(QString::number(loader.memoryCacheCost())));

    // The most recent tile is still in memory; the first was evicted and
    // comes back over the network (or its disk cache), still correct.
    Outcome last, first;
    loader.load(url(QStringLiteral("/img/tile.png?n=%1").arg(kTiles - 1)), this, last.sink());
    loader.load(url(QStringLiteral("/img/tile.png?n=0")), this, first.sink());
    QCOMPARE(loader.pendingRequests(), 1);
    QTRY_VERIFY(last.done() && first.done());
    QCOMPARE(first.image.size(), QSize(512, 512));
}

void TestImageLoader::loadsFileUrlsOffTheMainThread()
{
    const QString dir = m_files.path();
    // A gigabyte that is mostly holes, a FIFO nobody writes to, a directory.
    const QString huge = dir + "/huge.png";
    {
        QFile f(huge);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(1) << 30));
    }
    const QString fifo = dir + "/fifo.png";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    NetworkImageLoader loader(quickLimits());
    Outcome png, jpeg, large, missing, big, pipe, folder, text;
    loader.load(QUrl::fromLocalFile(dir + "/small.png"), this, png.sink());
    loader.load(QUrl::fromLocalFile(dir + "/big.png"), this, large.sink());
    loader.load(QUrl::fromLocalFile(dir + "/photo.jpg"), this, jpeg.sink());
    loader.load(QUrl::fromLocalFile(dir + "/absent.png"), this, missing.sink());
    loader.load(QUrl::fromLocalFile(huge), this, big.sink());
    loader.load(QUrl::fromLocalFile(fifo), this, pipe.sink());
    loader.load(QUrl::fromLocalFile(dir), this, folder.sink());
    loader.load(QUrl::fromLocalFile(dir + "/notes.txt"), this, text.sink());
    QCOMPARE(png.calls + jpeg.calls + missing.calls + big.calls, 0);
    QTRY_VERIFY_WITH_TIMEOUT(png.done() && jpeg.done() && large.done() && missing.done() &&
                                 big.done() && pipe.done() && folder.done() && text.done(),
                             5000);
    QCOMPARE(png.image.size(), QSize(64, 48));
    QCOMPARE(large.image.size(), QSize(512, 384));
    QCOMPARE(jpeg.image.size(), QSize(512, 384));
    QVERIFY(missing.image.isNull());
    QVERIFY(big.image.isNull());
    QVERIFY(pipe.image.isNull());
    QVERIFY(folder.image.isNull());
    QVERIFY(text.image.isNull());
    QVERIFY2(!loader.hasNetworkManager(), "files need no network");
    QVERIFY(m_log().join('\n').contains("too large"));
}

void TestImageLoader::decodeGuardsAgainstBombs()
{
    const NetworkImageLoader::Limits limits;
    // A real PNG header declaring 50000x50000 pixels: refused before decoding.
    QByteArray bomb = ask(QStringLiteral("/bomb.png"));
    QVERIFY(bomb.startsWith("\x89PNG"));
    QVERIFY(decodeElsewhere(bomb, limits).isNull());
    // Complete, valid images of a few kilobytes: one over the pixel budget
    // (yet small enough for the decoder's own allocation limit), one over
    // the dimension limit. Each decodes once its limit is raised, so it is
    // the guard that refuses them.
    const QByteArray manyPixels = ask(QStringLiteral("/bomb.png?w=8000&h=4000&full=1"));
    QVERIFY(manyPixels.startsWith("\x89PNG") && manyPixels.size() < 100 * 1024);
    QVERIFY(decodeElsewhere(manyPixels, limits).isNull());
    NetworkImageLoader::Limits generous = limits;
    generous.maxImagePixels = 40'000'000;
    QCOMPARE(decodeElsewhere(manyPixels, generous).size(), QSize(512, 256));

    const QByteArray tooWide = ask(QStringLiteral("/bomb.png?w=30000&h=2&full=1"));
    QVERIFY(decodeElsewhere(tooWide, limits).isNull());
    generous.maxImageDimension = 40'000;
    QCOMPARE(decodeElsewhere(tooWide, generous).size(), QSize(512, 1));

    // Truncated data of a real image, and the empty case.
    QFile file(m_files.path() + "/small.png");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    QCOMPARE(decodeElsewhere(whole, limits).size(), QSize(64, 48));
    QVERIFY(decodeElsewhere(whole.left(40), limits).isNull());
    QVERIFY(decodeElsewhere(QByteArray(), limits).isNull());

    // A smaller box for tighter callers.
    NetworkImageLoader::Limits small = limits;
    small.maxDecodeSize = QSize(32, 32);
    QCOMPARE(decodeElsewhere(whole, small).size(), QSize(32, 24));
}

namespace {
class FakeLoader : public ImageLoader {
public:
    void load(const QUrl &, QObject *, std::function<void(const QImage &)>) override { ++loads; }
    int loads = 0;
};
} // namespace

void TestImageLoader::sharedLoaderIsLazyAndReplaceable()
{
    FakeLoader fake;
    ImageLoader::setShared(&fake);
    QCOMPARE(ImageLoader::shared(), static_cast<ImageLoader *>(&fake));
    ImageLoader::shared()->load(QUrl(), this, [](const QImage &) {});
    QCOMPARE(fake.loads, 1);

    ImageLoader::setShared(nullptr);
    ImageLoader *real = ImageLoader::shared();
    auto *network = dynamic_cast<NetworkImageLoader *>(real);
    QVERIFY(network);
    QCOMPARE(ImageLoader::shared(), real); // one per process
    QVERIFY2(!network->hasNetworkManager(), "no network manager before the first transfer");
    QCOMPARE(network->parent(), QCoreApplication::instance());
    QCOMPARE(network->limits().transferTimeoutMs, 10000);

    // The default disk cache lives under the application's cache location.
    Outcome outcome;
    real->load(url(QStringLiteral("/img/small.png?cc=max-age=60&t=shared")), this, outcome.sink());
    QTRY_VERIFY(outcome.done());
    QCOMPARE(outcome.image.size(), QSize(64, 48));
    QVERIFY(network->hasNetworkManager());
    const QString cacheDir =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/images");
    QVERIFY2(cacheDir.startsWith(TestEnv::instance()->root()), qPrintable(cacheDir));
    QVERIFY2(QDir(cacheDir).exists(), qPrintable(cacheDir));
}

ORBITUNE_TEST_MAIN(TestImageLoader)
#include "tst_imageloader.moc"
