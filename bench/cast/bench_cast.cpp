// Measures, in one run, against a real renderer (gmediarender) on loopback
// playing into a null sink of its own, fed by the loopback Icecast MP3:
//   - from choosing the renderer (the station already playing here) to its
//     first sound, against the same renderer given the station's URL
//     directly (median of the runs, each alternating);
//   - CPU% of this process while the station plays there (served, and the
//     sound here muted) against while it plays here alone;
//   - the bytes served to the renderer against the station's audio bytes
//     handed to the server (ICY blocks removed by our client);
//   - the same station cast to the tests' Cast receiver double (TLS on
//     loopback, playing what it is given into a null sink of its own): from
//     choosing it to its first request to the relay and to its first sound,
//     and CPU% while it plays there.
// Usage: bench_cast [--runs N] [--seconds N]
#include "integrations/PlayOn.h"
#include "platform/cast/CastFinder.h"
#include "platform/media/GstMediaPlayer.h"
#include "platform/upnp/Renderer.h"
#include "platform/upnp/RendererFinder.h"
#include "platform/upnp/StreamServer.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/ProcessStats.h"
#include "support/StreamServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using processstats::median;

const QString kSpeaker = QStringLiteral("Bench Speaker");

// Seconds on a processor so far, by thread name.
std::map<QString, double> threadSeconds()
{
    std::map<QString, double> seconds;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(QCoreApplication::applicationPid());
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        QFile comm(tasks + QLatin1Char('/') + task + QStringLiteral("/comm"));
        if (stat.open(QIODevice::ReadOnly) && comm.open(QIODevice::ReadOnly))
            seconds[QString::fromUtf8(comm.readAll().trimmed())] +=
                stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return seconds;
}

double cpuSeconds()
{
    double total = 0;
    for (const auto &[name, seconds] : threadSeconds())
        total += seconds;
    return total;
}

// CPU% of this process over `seconds`.
double cpuPercent(int seconds)
{
    const auto threads = threadSeconds();
    const double before = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    // Waits without polling: QTest::qWait's own wake-ups would be counted.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    // Where it went, for a profile's first look.
    for (const auto &[name, seconds] : threadSeconds()) {
        const double percent = (seconds - (threads.count(name) ? threads.at(name) : 0.0)) *
                               100'000.0 / double(clock.elapsed());
        if (percent >= 0.05)
            std::printf("  %-16s %.2f %%\n", qPrintable(name), percent);
    }
    return (cpuSeconds() - before) * 100'000.0 / double(clock.elapsed());
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(10);
    }
    return true;
}

std::unique_ptr<QProcess> startRenderer(AudioSession &audio, const QString &logDir)
{
    const quint16 port = childprocess::freePort(61000, 4500);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LOOPBACK_UPNP_SHIM));
    env.insert(QStringLiteral("PULSE_SERVER"), audio.serverAddress());
    auto renderer = childprocess::start(
        QStringLiteral("gmediarender"),
        {QStringLiteral("-I"), QStringLiteral("lo"), QStringLiteral("-p"), QString::number(port),
         QStringLiteral("-f"), kSpeaker, QStringLiteral("-u"),
         QUuid::createUuid().toString(QUuid::WithoutBraces), QStringLiteral("--gstout-audiosink"),
         QStringLiteral("pulsesink"), QStringLiteral("--gstout-audiodevice"),
         QStringLiteral("renderer_out"), QStringLiteral("--logfile"),
         logDir + QStringLiteral("/gmediarender.log")},
        env);
    if (renderer &&
        childprocess::waitForLine(renderer.get(), "Ready for rendering", 15000).isNull())
        renderer.reset();
    return renderer;
}

// The tests' Cast receiver double, playing into the sink `sink`, with a
// certificate made in `dir`; its port in `port`.
std::unique_ptr<QProcess> startCastDouble(const QString &dir, const QString &sink, quint16 *port)
{
    const QString key = dir + QStringLiteral("/key.pem");
    const QString cert = dir + QStringLiteral("/cert.pem");
    if (QProcess::execute(QStringLiteral("openssl"),
                          {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                           "/CN=bench-cast", "-keyout", key, "-out", cert}) != 0)
        return nullptr;
    auto process = childprocess::start(QStringLiteral("python3"),
                                       {qEnvironmentVariable("ORBITUNE_SOURCE_DIR") +
                                            QStringLiteral("/tests/cast/standin_cast.py"),
                                        QStringLiteral("--cert"), cert, QStringLiteral("--key"),
                                        key, QStringLiteral("--sink"), sink});
    const QString ready =
        process ? childprocess::waitForLine(process.get(), "READY", 10000) : QString();
    *port = quint16(ready.trimmed().toUInt());
    if (*port == 0)
        process.reset();
    return process;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int runs = 5;
    int seconds = 10;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
    }
    if (qEnvironmentVariableIsEmpty("ORBITUNE_SOURCE_DIR"))
        qputenv("ORBITUNE_SOURCE_DIR", ORBITUNE_SOURCE_DIR);

    AudioSession audio;
    StreamServers servers;
    if (!startLoopbackStation(audio, servers) || !audio.addSink(QStringLiteral("renderer_out")) ||
        !audio.addSink(QStringLiteral("cast_out")))
        return 1;
    QTemporaryDir castDir;
    quint16 castPort = 0;
    std::unique_ptr<QProcess> castDouble =
        startCastDouble(castDir.path(), QStringLiteral("cast_out"), &castPort);
    if (!castDouble) {
        std::fprintf(stderr, "no Cast receiver double\n");
        return 1;
    }
    qputenv("ORBITUNE_CAST_DEVICES", QByteArray("127.0.0.1:") + QByteArray::number(castPort));
    CastFinder castFinder;
    const QString castId = PlayOn::castPrefix() + QStringLiteral("127.0.0.1:%1").arg(castPort);
    auto meter = std::make_unique<LevelMeter>(audio, QStringLiteral("renderer_out.monitor"));
    LevelMeter &there = *meter;
    std::unique_ptr<QProcess> renderer = startRenderer(audio, servers.dir());
    if (!there.start() || !renderer) {
        std::fprintf(stderr, "no renderer\n");
        return 1;
    }
    GstMediaPlayerFactory factory;
    MediaPlayerFactory::setShared(&factory);
    CacheManager::shareIntance()->saveLiveData(
        program::make(QStringLiteral("Bench"), {}, servers.mp3Url().toString()));
    PlaybackSession session;
    RendererFinder finder({QStringLiteral("lo")});
    PlayOn playOn(&session, &finder, &castFinder);
    QString udn;
    if (!waitFor(
            [&] {
                for (const RendererInfo &info : finder.renderers()) {
                    if (info.name == kSpeaker)
                        udn = info.udn;
                }
                return !udn.isEmpty();
            },
            15000)) {
        std::fprintf(stderr, "renderer not found\n");
        return 1;
    }
    std::unique_ptr<Renderer> direct = finder.open(udn);
    auto quietThere = [&] { return waitFor([&] { return there.recentRms(300) < 0.002; }, 10000); };
    // From `start` to the renderer's first sound, in ms; -1 without one.
    auto firstSound = [&](const std::function<void()> &start) {
        if (!quietThere())
            return -1.0;
        const qint64 from = there.elapsedMs();
        start();
        if (!waitFor([&] { return there.firstSoundAfter(from) >= 0; }, 15000))
            return -1.0;
        return double(there.firstSoundAfter(from) - from);
    };

    session.playCurrent();
    waitFor([&] { return session.state() == PlaybackSession::State::Playing; }, 20000);
    std::vector<double> ours;
    std::vector<double> baseline;
    for (int run = 0; run < runs; ++run) {
        baseline.push_back(firstSound([&] {
            direct->playUri(servers.mp3Url().toString(), QString(), [](const QString &) {});
        }));
        direct->stop();
        ours.push_back(firstSound([&] { playOn.choose(udn); }));
        playOn.choose(QString());
        std::printf("run %d: direct %.0f ms, Play On %.0f ms\n", run + 1, baseline.back(),
                    ours.back());
    }

    // CPU and bytes: here alone, then there. The meter listening at the
    // renderer is in this process and busy only while the renderer sounds:
    // it goes first, and the bytes served tell that the renderer plays.
    meter.reset();
    QTest::qWait(2000);
    const double playingHere = cpuPercent(seconds);
    playOn.choose(udn);
    waitFor([&] { return playOn.server() && playOn.server()->bytesServed() > 32 * 1024; }, 15000);
    QTest::qWait(2000);
    StreamServer *server = playOn.server();
    const qint64 fedBefore = server ? server->bytesFed() : 0;
    const qint64 servedBefore = server ? server->bytesServed() : 0;
    const double playingThere = cpuPercent(seconds);
    const qint64 fed = server ? server->bytesFed() - fedBefore : 0;
    const qint64 served = server ? server->bytesServed() - servedBefore : 0;
    const qint64 dropped = server ? server->bytesDropped() : 0;
    playOn.choose(QString());
    std::printf("served %lld bytes of %lld taken from the station (%lld dropped)\n", served, fed,
                dropped);

    // Cast: choosing the device, its first request to the relay, its first
    // sound; then CPU while it plays there.
    std::vector<double> castRequest, castSound;
    {
        LevelMeter cast(audio, QStringLiteral("cast_out.monitor"));
        cast.start();
        for (int run = 0; run < runs; ++run) {
            if (!waitFor([&] { return cast.recentRms(300) < 0.002; }, 10000))
                break;
            const qint64 from = cast.elapsedMs();
            playOn.choose(castId);
            if (!waitFor([&] { return playOn.server() && playOn.server()->bytesServed() > 0; },
                         15000))
                break;
            castRequest.push_back(double(cast.elapsedMs() - from));
            if (!waitFor([&] { return cast.firstSoundAfter(from) >= 0; }, 15000))
                break;
            castSound.push_back(double(cast.firstSoundAfter(from) - from));
            playOn.choose(QString());
            std::printf("run %d: Cast first request %.0f ms, first sound %.0f ms\n", run + 1,
                        castRequest.back(), castSound.back());
        }
    }
    playOn.choose(castId);
    waitFor([&] { return playOn.server() && playOn.server()->bytesServed() > 32 * 1024; }, 15000);
    QTest::qWait(2000);
    const double playingOnCast = cpuPercent(seconds);
    playOn.choose(QString());
    childprocess::stop(castDouble.get());

    std::printf("figure|play on: choosing to first sound there|%.0f|%.0f|ms|<= +1000 ms\n",
                median(ours), median(baseline));
    std::printf("figure|cast: choosing to first sound there (first request)|%.0f|%.0f|ms|<= "
                "+1000 ms\n",
                median(castSound), median(castRequest));
    std::printf("figure|cast: CPU while it plays there|%.2f|%.2f|%%|<= +0.5 pt\n", playingOnCast,
                playingHere);
    std::printf("figure|play on: CPU while it plays there|%.2f|%.2f|%%|<= +0.5 pt\n", playingThere,
                playingHere);
    std::printf("figure|play on: bytes served per station byte|%lld|%lld|B|equal\n", served, fed);
    direct.reset();
    childprocess::stop(renderer.get());
    const bool ok = median(ours) >= 0 && median(ours) <= median(baseline) + 1000 &&
                    playingThere <= playingHere + 0.5 && !castSound.empty() &&
                    median(castSound) <= median(castRequest) + 1000 &&
                    playingOnCast <= playingHere + 0.5;
    return ok ? 0 : 1;
}
