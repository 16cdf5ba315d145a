// Importing station lists at and beyond the limits: files of 16 MB (the
// largest read) in each text format, 100,000 entries, binary junk, and the
// one store write that appends 10,000 programs.
//
// Measures for each file: the time to read and parse it, against the time
// to read the same bytes and count their lines (the baseline: what any
// reader of the file must do), the entries taken, and the growth of the
// peak resident memory over the memory in use before (the peak is reset
// for each file). Prints a table; exits 1 when a target is missed (each
// file within 3 s and 50 times the baseline, peak memory within 256 MB more
// than before, the store write within 3 s).
//
//     import_bench
#include "platform/base/Log.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "store/ProgramImport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

// The process's resident memory now, or at its peak, in kB.
long statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Starts the peak afresh from the memory in use now.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// Up to `limit` bytes of `entry(i)` for i = 0, 1, ...
QByteArray fill(const QByteArray &head, const std::function<QByteArray(int)> &entry, qint64 limit,
                const QByteArray &tail = {})
{
    QByteArray bytes = head;
    for (int i = 0;; ++i) {
        const QByteArray next = entry(i);
        if (bytes.size() + next.size() + tail.size() > limit)
            break;
        bytes += next;
    }
    return bytes + tail;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orbitune"));
    orbitune::log::setSink([](const QString &) {});

    const qint64 max = programimport::kMaxFileBytes;
    const QByteArray longName(180, 'n');
    struct Case {
        const char *what;
        QByteArray bytes;
    };
    std::vector<Case> cases; // made all at once; each is freed once on disk
    {
        QByteArray m3u = "#EXTM3U\n";
        for (int i = 0; i < 100'000; ++i)
            m3u += "#EXTINF:-1,Station " + QByteArray::number(i) + "\nhttp://127.0.0.1:9/" +
                   QByteArray::number(i) + "\n";
        cases.push_back({"M3U, 100,000 entries", m3u});
    }
    cases.push_back({"M3U, 16 MB of long entries",
                     fill(
                         "#EXTM3U\n",
                         [&](int i) {
                             return "#EXTINF:-1 tvg-logo=\"http://127.0.0.1:9/" +
                                    QByteArray::number(i) + ".png\"," + longName +
                                    "\nhttp://127.0.0.1:9/" + QByteArray::number(i) + "\n";
                         },
                         max)});
    cases.push_back(
        {"M3U, 16 MB of file:// entries",
         fill(
             "#EXTM3U\n", [](int i) { return "file:///x/" + QByteArray::number(i) + "\n"; }, max)});
    cases.push_back({"PLS, 16 MB", fill(
                                       "[playlist]\n",
                                       [](int i) {
                                           const QByteArray n = QByteArray::number(i + 1);
                                           return "File" + n + "=http://127.0.0.1:9/" + n +
                                                  "\nTitle" + n + "=Station " + n + "\n";
                                       },
                                       max)});
    cases.push_back({"XSPF, 16 MB", fill(
                                        "<playlist><trackList>",
                                        [](int i) {
                                            return "<track><title>S " + QByteArray::number(i) +
                                                   "</title><location>http://127.0.0.1:9/" +
                                                   QByteArray::number(i) + "</location></track>";
                                        },
                                        max, "</trackList></playlist>")});
    cases.push_back({"Radiotray-NG JSON, 16 MB", fill(
                                                     "[{\"group\":\"g\",\"stations\":[",
                                                     [](int i) {
                                                         return QByteArray(i ? "," : "") +
                                                                "{\"name\":\"S " +
                                                                QByteArray::number(i) +
                                                                "\",\"url\":\"http://127.0.0.1:9/" +
                                                                QByteArray::number(i) + "\"}";
                                                     },
                                                     max, "]}]")});
    {
        QByteArray junk(max, Qt::Uninitialized);
        QRandomGenerator rng(7);
        rng.fillRange(reinterpret_cast<quint32 *>(junk.data()), junk.size() / 4);
        cases.push_back({"binary junk, 16 MB", junk});
        QByteArray line(max, 'a');
        line.prepend("http://");
        line.truncate(max);
        cases.push_back({"one 16 MB line", line});
    }

    bool ok = true;
    double worstMs = 0;
    double worstBaseMs = 0;
    std::printf("%-32s %10s %10s %7s %9s %12s\n", "file", "import ms", "base ms", "ratio",
                "entries", "peak +MB");
    const QString biggestPath = dir.filePath(QStringLiteral("big.m3u"));
    if (!writeFile(biggestPath, cases.at(1).bytes))
        return 2;
    for (Case &c : cases) {
        const QString path = dir.filePath(QStringLiteral("list"));
        if (!writeFile(path, c.bytes))
            return 2;
        c.bytes = QByteArray();
        QElapsedTimer t;
        t.start();
        qsizetype lines = 0;
        {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                lines = f.read(max + 1).count('\n');
        }
        const double baseMs = std::max<double>(t.nsecsElapsed() / 1e6, 0.01);
        const long rssBefore = statusKb("VmRSS:");
        resetPeak();
        t.restart();
        const programimport::FileResult r = programimport::readFile(path);
        const double ms = t.nsecsElapsed() / 1e6;
        const double growMb = (statusKb("VmHWM:") - rssBefore) / 1024.0;
        const bool met = ms < 3000 && ms / baseMs < 50 && growMb < 256 &&
                         r.parsed.entries.size() <= programimport::kMaxEntries;
        ok = ok && met;
        if (ms > worstMs) {
            worstMs = ms;
            worstBaseMs = baseMs;
        }
        std::printf("%-32s %10.1f %10.1f %7.1f %9lld %12.1f%s\n", c.what, ms, baseMs, ms / baseMs,
                    qlonglong(r.parsed.entries.size()), growMb, met ? "" : "  MISSED");
        Q_UNUSED(lines);
    }

    // The most one import takes, into a list of ten, in one write.
    QVariantList ten;
    for (int i = 0; i < 10; ++i)
        ten << program::make(QStringLiteral("Mine %1").arg(i), QString(),
                             QStringLiteral("http://127.0.0.1:9/mine/%1").arg(i));
    CacheManager::shareIntance()->appendData(ten);
    const programimport::FileResult biggest = programimport::readFile(biggestPath);
    QElapsedTimer t;
    t.start();
    const programimport::Outcome outcome = programimport::importInto(biggest.parsed);
    const double writeMs = t.nsecsElapsed() / 1e6;
    t.restart();
    const qsizetype stored = CacheManager::shareIntance()->getData().size();
    const double readMs = t.nsecsElapsed() / 1e6;
    const bool met = outcome.saved && stored == 10 + outcome.added && writeMs < 3000;
    ok = ok && met;
    std::printf("\nstore: %d programs appended in one write in %.1f ms (the list then reads in "
                "%.1f ms, %lld programs)%s\n",
                outcome.added, writeMs, readMs, qlonglong(stored), met ? "" : "  MISSED");
    std::printf("figure|import: slowest 16 MB station list|%.1f|%.1f|ms|<= 3 s\n", worstMs,
                worstBaseMs);
    return ok ? 0 : 1;
}
