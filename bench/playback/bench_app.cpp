// The app as shipped against a bare `gst-launch-1.0 playbin`, in one run and
// on the same loopback Icecast MP3 stream (128 kbit/s), under a private Xvfb,
// PulseAudio null sink and D-Bus session bus:
//   - play pressed -> first sound at the null sink's monitor. Play is pressed
//     over MPRIS once the app has settled; gst-launch counts from its process
//     start, since it plays as soon as it can;
//   - CPU% and RSS while playing, main window shown and the preview turning,
//     against gst-launch playing the same stream. The X server's own CPU over
//     the same window is shown beside both, since repaints cost it too.
// Every figure is the median of --runs runs (default 5) of --seconds
// seconds (default 20). Prints a table, then one "figure|..." line per row
// for scripts/bench.sh.
//
//     bench_app [--runs N] [--seconds S] [--app PATH] [--app-log PREFIX]
//
// --app-log keeps each app run's log as PREFIX.<run>, and the moment play
// was pressed is printed on stderr in the log's clock.
#include "platform/plist/PropertyList.h"
#include "store/ProgramEntry.h"

#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/ProcessStats.h"
#include "support/StreamServers.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

using processstats::median;

using processstats::Usage;
using processstats::usageOf;

struct Load {
    double cpuPercent = -1;
    double xCpuPercent = -1;
    double rssMb = -1;
};

// CPU% of pid and of the X server over ms of wall time, and pid's RSS at
// the end.
Load measure(qint64 pid, qint64 xPid, int ms)
{
    const Usage before = usageOf(pid);
    const Usage xBefore = usageOf(xPid);
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(ms);
    const Usage after = usageOf(pid);
    const Usage xAfter = usageOf(xPid);
    const double seconds = wall.elapsed() / 1000.0;
    return {100.0 * (after.cpuSeconds - before.cpuSeconds) / seconds,
            100.0 * (xAfter.cpuSeconds - xBefore.cpuSeconds) / seconds, after.rssMb};
}

// A private X server on the first free display number.
std::unique_ptr<QProcess> startXvfb(QString *display)
{
    for (int n = 90; n < 140; ++n) {
        if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
            QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            continue;
        auto xvfb = childprocess::start(
            QStringLiteral("Xvfb"),
            {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
             QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")},
            QProcessEnvironment::systemEnvironment(), QStringLiteral("/dev/null"));
        if (!xvfb)
            return nullptr;
        if (QTest::qWaitFor(
                [&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)); }, 5000)) {
            *display = QStringLiteral(":%1").arg(n);
            return xvfb;
        }
        childprocess::stop(xvfb.get());
    }
    return nullptr;
}

bool mprisUp()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(QStringLiteral("org.mpris.MediaPlayer2.orbitune"));
}

void mprisCall(const QString &method)
{
    QDBusConnection::sessionBus().asyncCall(
        QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.orbitune"),
                                       QStringLiteral("/org/mpris/MediaPlayer2"),
                                       QStringLiteral("org.mpris.MediaPlayer2.Player"), method));
}

struct Run {
    double soundMs = -1;
    Load playing;
};

void printRow(const char *what, double ours, double base, const char *unit, const char *goal)
{
    auto cell = [unit](double v) {
        return v >= 0 ? QString::number(v, 'f', v < 10 ? 2 : 1) + QLatin1String(unit)
                      : QStringLiteral("n/a");
    };
    const QString ratio =
        ours >= 0 && base > 0 ? QString::number(ours / base, 'f', 2) + "x" : QStringLiteral("-");
    std::printf("| %-40s | %11s | %11s | %6s | %-14s |\n", what, qPrintable(cell(ours)),
                qPrintable(cell(base)), qPrintable(ratio), goal);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 5;
    int seconds = 20;
    QString appPath = QCoreApplication::applicationDirPath() + QStringLiteral("/../../orbitune");
    QString appLog;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--seconds"))
            seconds = std::max(2, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--app"))
            appPath = args[i + 1];
        else if (args[i] == QLatin1String("--app-log"))
            appLog = args[i + 1];
    }
    if (!QFile::exists(appPath)) {
        std::fprintf(stderr, "no app at %s (use --app)\n", qPrintable(appPath));
        return 1;
    }
    qputenv("ORBITUNE_SOURCE_DIR", qgetenv("ORBITUNE_SOURCE_DIR").isEmpty()
                                       ? QByteArray(ORBITUNE_SOURCE_DIR)
                                       : qgetenv("ORBITUNE_SOURCE_DIR"));
    childprocess::shareGstRegistry();

    QTemporaryDir root;
    for (const char *sub : {"data/orbitune", "cache", "config", "runtime"})
        QDir(root.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    AudioSession audio;
    StreamServers servers;
    if (!startLoopbackStation(audio, servers))
        return 1;
    SessionBus bus;
    if (!bus.start()) {
        std::fprintf(stderr, "no private D-Bus session bus\n");
        return 1;
    }
    QString display;
    auto xvfb = startXvfb(&display);
    if (!xvfb) {
        std::fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
    const QUrl url = servers.mp3Url();

    // The only program, and the current one: nothing leaves this machine.
    const QVariantMap station = program::make(QStringLiteral("Bench"), QString(), url.toString());
    QVariantMap top;
    top.insert(QStringLiteral("data"), QVariantList{station});
    top.insert(QStringLiteral("live"), station);
    if (!propertylist::writeFile(root.path() + QStringLiteral("/data/orbitune/data.plist"), top)) {
        std::fprintf(stderr, "could not write the data file\n");
        return 1;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("ORBITUNE_NO_SYSLOG"), QStringLiteral("1"));
    for (const char *name : {"data", "cache", "config", "runtime"})
        env.insert(QStringLiteral("XDG_%1_%2")
                       .arg(QString::fromLatin1(name).toUpper(),
                            QLatin1String(qstrcmp(name, "runtime") ? "HOME" : "DIR")),
                   root.path() + QLatin1Char('/') + QLatin1String(name));

    LevelMeter meter(audio);
    if (!meter.start()) {
        std::fprintf(stderr, "cannot record the null sink's monitor\n");
        return 1;
    }
    const qint64 xPid = xvfb->processId();
    auto quiet = [&] { (void)QTest::qWaitFor([&] { return meter.recentRms(300) < 0.002; }, 3000); };

    auto baselineRun = [&] {
        Run r;
        quiet();
        const qint64 started = meter.elapsedMs();
        auto gst = childprocess::start(QStringLiteral("gst-launch-1.0"),
                                       {QStringLiteral("-q"), QStringLiteral("playbin"),
                                        QStringLiteral("uri=") + url.toString()},
                                       env, QStringLiteral("/dev/null"));
        if (!gst)
            return r;
        (void)QTest::qWaitFor([&] { return meter.firstSoundAfter(started) >= 0; }, 8000);
        const qint64 sound = meter.firstSoundAfter(started);
        if (sound >= 0) {
            r.soundMs = double(sound - started);
            QTest::qWait(1000);
            r.playing = measure(gst->processId(), xPid, seconds * 1000);
        }
        childprocess::stop(gst.get());
        return r;
    };
    int appRuns = 0;
    auto appRun = [&] {
        Run r;
        const QString log = appLog.isEmpty() ? QStringLiteral("/dev/null")
                                             : appLog + QStringLiteral(".%1").arg(appRuns);
        ++appRuns;
        auto orbitune = childprocess::start(appPath, {}, env, log);
        if (!orbitune)
            return r;
        // Settled: the window is up and the desktop services are registered.
        if (!QTest::qWaitFor(mprisUp, 10000)) {
            std::fprintf(stderr, "the app did not register on the bus\n");
            childprocess::stop(orbitune.get());
            return r;
        }
        QTest::qWait(1500);
        quiet();
        const qint64 pressed = meter.elapsedMs();
        mprisCall(QStringLiteral("Play"));
        if (!appLog.isEmpty())
            std::fprintf(stderr, "play pressed at %s\n",
                         qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))));
        (void)QTest::qWaitFor([&] { return meter.firstSoundAfter(pressed) >= 0; }, 8000);
        const qint64 sound = meter.firstSoundAfter(pressed);
        if (sound >= 0) {
            r.soundMs = double(sound - pressed);
            QTest::qWait(1000);
            r.playing = measure(orbitune->processId(), xPid, seconds * 1000);
        }
        childprocess::stop(orbitune.get());
        (void)QTest::qWaitFor([] { return !mprisUp(); }, 3000);
        return r;
    };

    // One unmeasured run of each fills the plugin registry and the page cache.
    (void)baselineRun();
    (void)appRun();
    std::vector<double> bSound, bCpu, bX, bRss, oSound, oCpu, oX, oRss;
    for (int i = 0; i < runs; ++i) {
        const Run b = baselineRun();
        const Run o = appRun();
        std::fprintf(stderr,
                     "run %d: gst-launch %.0f ms %.2f %% %.1f MB | app %.0f ms %.2f %% %.1f MB\n",
                     i + 1, b.soundMs, b.playing.cpuPercent, b.playing.rssMb, o.soundMs,
                     o.playing.cpuPercent, o.playing.rssMb);
        auto keep = [](const Run &r, auto &sound, auto &cpu, auto &x, auto &rss) {
            if (r.soundMs < 0)
                return;
            sound.push_back(r.soundMs);
            cpu.push_back(r.playing.cpuPercent);
            x.push_back(r.playing.xCpuPercent);
            rss.push_back(r.playing.rssMb);
        };
        keep(b, bSound, bCpu, bX, bRss);
        keep(o, oSound, oCpu, oX, oRss);
    }

    std::printf("\nThe app against bare gst-launch-1.0 playbin: local Icecast MP3 128 kbit/s,\n"
                "medians of %d runs, %d s of playing each\n\n",
                runs, seconds);
    std::printf("| %-40s | %11s | %11s | %6s | %-14s |\n", "figure", "Orbitune", "gst-launch",
                "ratio", "goal");
    std::printf("|%s|%s|%s|%s|%s|\n", QByteArray(42, '-').constData(),
                QByteArray(13, '-').constData(), QByteArray(13, '-').constData(),
                QByteArray(8, '-').constData(), QByteArray(16, '-').constData());
    printRow("CPU while playing (window, preview)", median(oCpu), median(bCpu), " %", "<= 1.1x");
    printRow("X server CPU meanwhile", median(oX), median(bX), " %", "");
    printRow("RSS while playing", median(oRss), median(bRss), " MB", "<= 72 MB");
    printRow("play pressed -> first sound", median(oSound), median(bSound), " ms", "<= 250 ms");
    std::printf("(gst-launch's time to sound counts from its process start)\n");
    auto figure = [](const char *name, double ours, double base, const char *unit,
                     const char *goal) {
        std::printf("figure|%s|%.2f|%.2f|%s|%s\n", name, ours, base, unit, goal);
    };
    figure("CPU while playing", median(oCpu), median(bCpu), "%", "<= 1.1x");
    figure("RSS while playing", median(oRss), median(bRss), "MB", "<= 72 MB");
    figure("play pressed -> first sound", median(oSound), median(bSound), "ms", "<= 250 ms");
    std::fflush(stdout);
    childprocess::stop(xvfb.get());
    return oSound.empty() || bSound.empty() ? 1 : 0;
}
