// The program list window with 10,000 programs whose pictures come from a
// local HTTP server that answers only after five seconds.
//
// Measures: time from opening the window to the first painted row (also
// with the programs in 100 groups, each under its heading), a scroll
// through the whole list, how many row views were built, the longest single
// event the main thread handled, and resident memory against an empty list.
// Prints a table; exits 1 when a target is missed.
//
//     list_bench [programs] [server delay ms]      (defaults 10000 5000)
#include "manage/ListCell.h"
#include "manage/ListViewController.h"
#include "platform/base/Log.h"
#include "platform/base/Resources.h"
#include "platform/plist/PropertyList.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QApplication>
#include <QBuffer>
#include <QChildEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QScrollBar>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Times every event the main thread handles at the top level.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth > 0)
            return QApplication::notify(receiver, event);
        ++m_depth;
        QElapsedTimer t;
        t.start();
        const bool result = QApplication::notify(receiver, event);
        const qint64 ns = t.nsecsElapsed();
        --m_depth;
        if (ns > worstNs) {
            worstNs = ns;
            worstType = event->type();
        }
        return result;
    }

    void resetWorst()
    {
        worstNs = 0;
        worstType = QEvent::None;
    }

    qint64 worstNs = 0;
    QEvent::Type worstType = QEvent::None;

private:
    int m_depth = 0;
};

// Answers every request with a small PNG after a delay, on its own thread so
// it never shows up in the main thread's timings.
class SlowImageServer : public QObject {
public:
    explicit SlowImageServer(int delayMs) : m_delayMs(delayMs)
    {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QBuffer buffer(&m_png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }

    quint16 start()
    {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                serve(socket);
        });
        m_server->listen(QHostAddress::LocalHost, 0);
        return m_server->serverPort();
    }

    std::atomic<int> requests{0};

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto *buffer = new QByteArray;
        connect(socket, &QObject::destroyed, [buffer] { delete buffer; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            while (buffer->contains("\r\n\r\n")) {
                buffer->remove(0, buffer->indexOf("\r\n\r\n") + 4);
                ++requests;
                QTimer::singleShot(m_delayMs, socket, [this, socket] {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                                  "Cache-Control: no-store\r\nContent-Length: " +
                                  QByteArray::number(m_png.size()) + "\r\n\r\n" + m_png);
                });
            }
        });
    }

    int m_delayMs;
    QByteArray m_png;
    QTcpServer *m_server = nullptr;
};

// A bare window to present the list over, as the main window does.
class Host : public ViewController {
protected:
    QWidget *loadView() override { return new QWidget; }
};

// Sees the first paint of a row and every row view the table makes.
class RowWatcher : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !firstRowPainted &&
            qobject_cast<ListCell *>(watched)) {
            firstRowPainted = true;
            firstRowNs = clock.nsecsElapsed();
        } else if (event->type() == QEvent::ChildAdded) {
            if (auto *cell = qobject_cast<ListCell *>(static_cast<QChildEvent *>(event)->child()))
                cells.insert(cell);
        }
        return false;
    }

    void restart()
    {
        firstRowPainted = false;
        firstRowNs = 0;
        cells.clear();
        clock.start();
    }

    QElapsedTimer clock;
    bool firstRowPainted = false;
    qint64 firstRowNs = 0;
    QSet<const QObject *> cells;
};

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// With `groups`, the programs take turns in that many groups.
void writePrograms(int count, quint16 port, int groups = 0)
{
    QVariantList list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        list << program::withGroup(
            program::make(QStringLiteral("Program %1").arg(i),
                          QStringLiteral("http://127.0.0.1:%1/img/%2.png").arg(port).arg(i),
                          QStringLiteral("http://127.0.0.1:9/stream/%1").arg(i)),
            groups > 0 ? QStringLiteral("Group %1").arg(i % groups) : QString());
    }
    QVariantMap top;
    top.insert(QStringLiteral("data"), list);
    top.insert(QStringLiteral("live"), list.value(0));
    propertylist::writeFile(CacheManager::shareIntance()->getDataPath(), top);
}

struct Opened {
    QPointer<ListViewController> list;
    double openMs = 0;      // present() returned
    double firstRowMs = -1; // first row painted
};

Opened openList(Host &host, RowWatcher &watcher)
{
    Opened result;
    watcher.restart();
    // Opened from an event, as a click on the main window would.
    QTimer::singleShot(0, &host, [&] {
        watcher.restart();
        result.list = new ListViewController;
        host.presentViewControllerAsSheet(result.list);
        result.openMs = watcher.clock.nsecsElapsed() / 1e6;
    });
    waitFor([&] { return result.list && result.list->view()->isVisible(); }, 5000);
    waitFor([&] { return watcher.firstRowPainted; }, 5000);
    if (watcher.firstRowPainted)
        result.firstRowMs = watcher.firstRowNs / 1e6;
    return result;
}

void closeList(Opened &opened)
{
    if (opened.list)
        opened.list->closeClick();
    waitFor([&] { return opened.list.isNull(); }, 2000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void row(const char *what, const QString &value, const QString &target, bool ok)
{
    std::printf("| %-40s | %14s | %-14s | %-4s |\n", what, qPrintable(value), qPrintable(target),
                ok ? "ok" : "MISS");
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir root;
    for (const char *sub : {"data", "cache", "config", "runtime"})
        QDir(root.path()).mkpath(QString::fromLatin1(sub));
    qputenv("XDG_DATA_HOME", (root.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (root.path() + QStringLiteral("/cache")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root.path() + QStringLiteral("/config")).toUtf8());
    qputenv("ORBITUNE_NO_SYSLOG", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    TimedApplication app(argc, argv);
    orbitune::initResources();
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QApplication::arguments();
    const int programs = args.size() > 1 ? args.at(1).toInt() : 10000;
    const int delayMs = args.size() > 2 ? args.at(2).toInt() : 5000;

    QThread serverThread;
    SlowImageServer server(delayMs);
    server.moveToThread(&serverThread);
    serverThread.start();
    quint16 port = 0;
    QMetaObject::invokeMethod(
        &server, [&] { return server.start(); }, Qt::BlockingQueuedConnection, &port);

    Host host;
    host.view()->resize(480, 400);
    host.view()->show();
    RowWatcher watcher;
    app.installEventFilter(&watcher);
    spin(200);

    // Baseline: an empty list, opened and closed once.
    writePrograms(0, port);
    Opened empty = openList(host, watcher);
    spin(200);
    const long emptyRss = rssKb();
    closeList(empty);

    // The same window with 10 programs and with the full list, each opened
    // several times from a file the program has read already (as when the
    // main window is up), and once right after the file changed, which
    // pays for reading it afresh.
    constexpr int kRuns = 7;
    std::vector<double> smallMs, bigMs;
    double smallChangedMs = -1, bigChangedMs = -1;
    for (const int count : {10, programs}) {
        writePrograms(count, port);
        spin(50);
        Opened changed = openList(host, watcher);
        (count == 10 ? smallChangedMs : bigChangedMs) = changed.firstRowMs;
        closeList(changed);
        for (int run = 0; run < kRuns; ++run) {
            spin(50);
            Opened o = openList(host, watcher);
            (count == 10 ? smallMs : bigMs).push_back(o.firstRowMs);
            closeList(o);
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? -1.0 : v[v.size() / 2];
    };
    const double smallMedian = median(smallMs);
    const double bigMedian = median(bigMs);

    // The full list.
    writePrograms(programs, port);
    spin(100);
    // What the store alone costs: one read of the list, log line included.
    QElapsedTimer readClock;
    readClock.start();
    const qsizetype readCount = CacheManager::shareIntance()->getData().size();
    const double readMs = readClock.nsecsElapsed() / 1e6;
    if (qEnvironmentVariableIsSet("LIST_BENCH_DETAIL")) {
        QElapsedTimer t;
        t.start();
        const auto r = propertylist::readFile(CacheManager::shareIntance()->getDataPath());
        std::printf("parse %.1f ms\n", t.nsecsElapsed() / 1e6);
        t.restart();
        const QString text = orbitune::log::describe(r.value);
        std::printf("describe %.1f ms (%lld chars)\n", t.nsecsElapsed() / 1e6,
                    (long long)text.size());
        t.restart();
        orbitune::log::write(text);
        std::printf("write %.1f ms\n", t.nsecsElapsed() / 1e6);
    }
    app.resetWorst();
    // The store's own log lines mark its read: "filePath:" as it starts,
    // "dataDic:" once the file is parsed and the line formatted.
    qint64 storeStartNs = -1;
    qint64 storeEndNs = -1;
    orbitune::log::setSink([&](const QString &line) {
        if (storeStartNs < 0 && line.startsWith(QLatin1String("filePath:")))
            storeStartNs = watcher.clock.nsecsElapsed();
        else if (storeEndNs < 0 && line.startsWith(QLatin1String("dataDic:")))
            storeEndNs = watcher.clock.nsecsElapsed();
    });
    Opened full = openList(host, watcher);
    orbitune::log::setSink({});
    const qint64 openWorstNs = app.worstNs;
    const double storeInOpenMs =
        storeEndNs >= storeStartNs && storeStartNs >= 0 ? (storeEndNs - storeStartNs) / 1e6 : -1;
    if (!full.list) {
        std::fprintf(stderr, "list window did not open\n");
        return 2;
    }
    TableView *table = full.list->listTableView();
    // LIST_BENCH_SNAPSHOT=file.png keeps a picture of the opened window.
    if (const QString shot = qEnvironmentVariable("LIST_BENCH_SNAPSHOT"); !shot.isEmpty()) {
        if (auto *cell = qobject_cast<ListCell *>(table->viewAtRow(1))) {
            waitFor([cell] { return cell->isTrackingPointer(); }, 2000);
            cell->mouseEntered();
        }
        full.list->view()->grab().save(shot);
    }
    const int visible = table->viewport()->height() / table->rowHeight() + 1;

    // Scroll through the whole list a page at a time, letting each page
    // paint, as fast as the event loop goes.
    app.resetWorst();
    QElapsedTimer scrollClock;
    scrollClock.start();
    int maxAlive = table->rowViewCount();
    int pages = 0;
    QScrollBar *bar = table->verticalScrollBar();
    QEventLoop scrolling;
    QTimer stepper;
    stepper.setInterval(0);
    QObject::connect(&stepper, &QTimer::timeout, [&] {
        if (bar->value() >= bar->maximum()) {
            stepper.stop();
            scrolling.quit();
            return;
        }
        bar->setValue(bar->value() + bar->pageStep());
        table->viewport()->repaint();
        maxAlive = std::max(maxAlive, table->rowViewCount());
        ++pages;
    });
    stepper.start();
    scrolling.exec();
    const double scrollMs = scrollClock.nsecsElapsed() / 1e6;
    const qint64 scrollWorstNs = app.worstNs;
    const QEvent::Type scrollWorstType = app.worstType;

    // Let the delayed pictures arrive (or be dropped) while the list sits at
    // its end.
    app.resetWorst();
    spin(delayMs + 1500);
    const qint64 repliesWorstNs = app.worstNs;
    const QEvent::Type repliesWorstType = app.worstType;
    const long fullRss = rssKb();
    const int built = int(watcher.cells.size());
    closeList(full);

    // The full list in 100 groups, after the figures above.
    constexpr int kGroups = 100;
    std::vector<double> groupedMs;
    writePrograms(programs, port, kGroups);
    spin(50);
    Opened regrouped = openList(host, watcher); // the file changed: read afresh
    closeList(regrouped);
    for (int run = 0; run < kRuns; ++run) {
        spin(50);
        Opened o = openList(host, watcher);
        groupedMs.push_back(o.firstRowMs);
        closeList(o);
    }
    const double groupedMedian = median(groupedMs);
    const double worstMs = std::max(scrollWorstNs, repliesWorstNs) / 1e6;
    const double rssDeltaMb = (fullRss - emptyRss) / 1024.0;

    std::printf("\nProgram list: %d programs, pictures answered after %d ms\n\n", programs,
                delayMs);
    std::printf("| %-40s | %14s | %-14s | %-4s |\n", "measure", "value", "target", "");
    std::printf("|%s|%s|%s|%s|\n", QByteArray(42, '-').constData(), QByteArray(16, '-').constData(),
                QByteArray(16, '-').constData(), QByteArray(6, '-').constData());
    bool ok = true;
    auto check = [&](const char *what, const QString &value, const QString &target, bool pass) {
        row(what, value, target, pass);
        ok = ok && pass;
    };
    check("store: one read of the list (getData)", QString::number(readMs, 'f', 1) + " ms",
          QStringLiteral("(info)"), readCount == programs);
    check("open: presenting the window", QString::number(full.openMs, 'f', 1) + " ms",
          QStringLiteral("-"), true);
    check("open: to the first painted row", QString::number(full.firstRowMs, 'f', 1) + " ms",
          QStringLiteral("< 150 ms"), full.firstRowMs >= 0 && full.firstRowMs < 150);
    check("open: of which the store's read", QString::number(storeInOpenMs, 'f', 1) + " ms",
          QStringLiteral("(info)"), true);
    check("open: of which window and rows",
          QString::number(full.firstRowMs - storeInOpenMs, 'f', 1) + " ms",
          QStringLiteral("(info)"), true);
    check("open: longest event", QString::number(openWorstNs / 1e6, 'f', 1) + " ms",
          QStringLiteral("(info)"), true);
    check("scroll: whole list, page by page",
          QString::number(scrollMs, 'f', 0) + " ms / " + QString::number(pages) + " pg",
          QStringLiteral("-"), true);
    check("longest event while scrolling",
          QString::number(scrollWorstNs / 1e6, 'f', 1) + " ms (" +
              QString::number(int(scrollWorstType)) + ")",
          QStringLiteral("< 50 ms"), scrollWorstNs / 1e6 < 50);
    check("longest event while pictures arrive",
          QString::number(repliesWorstNs / 1e6, 'f', 1) + " ms (" +
              QString::number(int(repliesWorstType)) + ")",
          QStringLiteral("< 50 ms"), repliesWorstNs / 1e6 < 50);
    check("row views built (visible rows)",
          QString::number(built) + " (" + QString::number(visible) + ")",
          QStringLiteral("<= visible + 2"), built <= visible + 2);
    check("row views alive at most", QString::number(maxAlive), QStringLiteral("<= visible + 2"),
          maxAlive <= visible + 2);
    check("picture requests reaching the server", QString::number(server.requests.load()),
          QStringLiteral("-"), true);
    check("RSS: empty list", QString::number(emptyRss / 1024.0, 'f', 1) + " MB",
          QStringLiteral("-"), true);
    check("RSS: full list, after scrolling", QString::number(fullRss / 1024.0, 'f', 1) + " MB",
          QStringLiteral("-"), true);
    check("RSS: difference", QString::number(rssDeltaMb, 'f', 1) + " MB", QStringLiteral("< 30 MB"),
          rssDeltaMb < 30);
    std::printf("\n(worst of scroll and replies: %.1f ms)\n", worstMs);
    std::printf("\nOpen to first row, medians of %d runs: 10 programs %.1f ms, %d programs %.1f "
                "ms, ratio %.2fx (goal <= 2x)\n",
                kRuns, smallMedian, programs, bigMedian, bigMedian / smallMedian);
    std::printf("Right after the file changed: 10 programs %.1f ms, %d programs %.1f ms\n",
                smallChangedMs, programs, bigChangedMs);
    std::printf("figure|list window, %d programs vs 10|%.2f|%.2f|ms|<= 2x\n", programs, bigMedian,
                smallMedian);
    std::printf("In %d groups: %d programs %.1f ms, ratio %.2fx (goal <= 2x)\n", kGroups, programs,
                groupedMedian, groupedMedian / smallMedian);
    std::printf("figure|list window, %d programs in %d groups vs 10|%.2f|%.2f|ms|<= 2x\n", programs,
                kGroups, groupedMedian, smallMedian);

    serverThread.quit();
    serverThread.wait();
    return ok ? 0 : 1;
}
