// Measures, in one run and on the same local Icecast MP3 stream, our
// GstMediaPlayer against a bare `gst-launch-1.0 playbin uri=...`:
//   - time to first audible audio at the null sink's monitor,
//   - CPU% and RSS over N seconds of playback (default 30), and CPU% with
//     "Even Out Loudness" off, side by side (the meter still learns then:
//     the difference is the gain's and the limiter's),
//   - CPU% while paused,
//   - RSS before and after 200 open/switch cycles.
// Usage: bench_playback [--seconds N] [--cycles N]
#include "mainwindow/HomeViewController.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/Resources.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include "platform/media/GstMediaPlayer.h"
#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/ProcessStats.h"
#include "support/StreamServers.h"
#include <QApplication>
#include <QTemporaryDir>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

using processstats::Usage;
using processstats::usageOf;

struct Load {
    double cpuPercent = 0;
    double rssMb = 0;
};

// CPU% of pid over ms of wall time (the event loop keeps running), and the
// RSS at the end.
Load measure(qint64 pid, int ms)
{
    const Usage before = usageOf(pid);
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(ms);
    const Usage after = usageOf(pid);
    return {100.0 * (after.cpuSeconds - before.cpuSeconds) / (wall.elapsed() / 1000.0),
            after.rssMb};
}

template <typename F> bool waitFor(F predicate, int ms)
{
    return QTest::qWaitFor(predicate, ms);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString ratio(double ours, double base)
{
    return base > 0 && ours >= 0 ? QString::number(ours / base, 'f', 2) : QStringLiteral("-");
}

void row(const char *what, double ours, double base, const char *unit, const char *target)
{
    std::printf("%-34s %10s %10s %7s  %s\n", what,
                qPrintable(ours >= 0 ? QString::number(ours, 'f', 2) + QLatin1String(unit)
                                     : QStringLiteral("n/a")),
                qPrintable(base >= 0 ? QString::number(base, 'f', 2) + QLatin1String(unit)
                                     : QStringLiteral("n/a")),
                qPrintable(ratio(ours, base)), target);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orbitune::initResources();
    int seconds = 30;
    int cycles = 200;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--cycles"))
            cycles = args[i + 1].toInt();
    }
    qputenv("ORBITUNE_NO_SYSLOG", "1");
    if (qEnvironmentVariableIsEmpty("ORBITUNE_SOURCE_DIR"))
        qputenv("ORBITUNE_SOURCE_DIR", ORBITUNE_SOURCE_DIR);

    AudioSession audio;
    StreamServers servers;
    if (!startLoopbackStation(audio, servers))
        return 1;
    const QUrl url = servers.mp3Url();
    constexpr int kRuns = 5;

    // 1. First audible audio: ours from play() once ready, and from opening;
    //    gst-launch from process start (it plays as soon as it can).
    std::vector<double> oursPlay, oursOpen, baseOpen;
    {
        LevelMeter meter(audio);
        meter.start();
        for (int run = 0; run < kRuns; ++run) {
            (void)waitFor([&] { return meter.recentRms(300) < 0.002; }, 3000);
            const qint64 opened = meter.elapsedMs();
            auto item = std::make_shared<MediaItem>(url);
            GstMediaPlayer player(item);
            if (!waitFor([&] { return item->status() == MediaItem::StatusReadyToPlay; }, 10000))
                continue;
            const qint64 played = meter.elapsedMs();
            player.play();
            (void)waitFor([&] { return meter.firstSoundAfter(played) >= 0; }, 5000);
            const qint64 sound = meter.firstSoundAfter(played);
            if (sound >= 0) {
                oursPlay.push_back((sound - played) / 1000.0);
                oursOpen.push_back((sound - opened) / 1000.0);
            }
        }
        for (int run = 0; run < kRuns; ++run) {
            (void)waitFor([&] { return meter.recentRms(300) < 0.002; }, 3000);
            const qint64 started = meter.elapsedMs();
            auto gst = childprocess::start(QStringLiteral("gst-launch-1.0"),
                                           {QStringLiteral("-q"), QStringLiteral("playbin"),
                                            QStringLiteral("uri=") + url.toString()});
            (void)waitFor([&] { return meter.firstSoundAfter(started) >= 0; }, 8000);
            const qint64 sound = meter.firstSoundAfter(started);
            if (sound >= 0)
                baseOpen.push_back((sound - started) / 1000.0);
            childprocess::stop(gst.get());
        }
    }

    // 2. Steady playback and pause.
    Load oursPlaying, oursUnlevelled, oursPaused, basePlaying;
    // What this process costs with no player at all (event loop polling).
    const Load idle = measure(QCoreApplication::applicationPid(), 5000);
    {
        auto item = std::make_shared<MediaItem>(url);
        GstMediaPlayer player(item);
        (void)waitFor([&] { return item->status() == MediaItem::StatusReadyToPlay; }, 10000);
        player.play();
        QTest::qWait(1000);
        oursPlaying = measure(QCoreApplication::applicationPid(), seconds * 1000);
        player.setLevelling(false, -18);
        QTest::qWait(500);
        oursUnlevelled = measure(QCoreApplication::applicationPid(), seconds * 1000);
        player.pause();
        QTest::qWait(500);
        oursPaused = measure(QCoreApplication::applicationPid(), std::max(5, seconds / 3) * 1000);
    }
    {
        auto gst = childprocess::start(QStringLiteral("gst-launch-1.0"),
                                       {QStringLiteral("-q"), QStringLiteral("playbin"),
                                        QStringLiteral("uri=") + url.toString()});
        QTest::qWait(1000);
        basePlaying = measure(gst->processId(), seconds * 1000);
        childprocess::stop(gst.get());
    }

    // 3. Open/switch cycles: every player is replaced by the next one, some
    //    after they reached ready and played.
    double rssBefore = 0, rssAfter = 0;
    {
        auto cycle = [&](int i) {
            auto item = std::make_shared<MediaItem>(url);
            auto player = std::make_unique<GstMediaPlayer>(item);
            if (i % 10 == 0) {
                (void)waitFor([&] { return item->status() == MediaItem::StatusReadyToPlay; },
                              10000);
                player->play();
            }
            player.reset();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        };
        for (int i = 0; i < 20; ++i)
            cycle(i);
        QTest::qWait(500);
        rssBefore = usageOf(QCoreApplication::applicationPid()).rssMb;
        for (int i = 0; i < cycles; ++i)
            cycle(i);
        QTest::qWait(500);
        rssAfter = usageOf(QCoreApplication::applicationPid()).rssMb;
    }

    // 4. The whole main window: press play, preview turning while playing,
    //    paused, and LIVE_PLAY switches through the controller.
    std::vector<double> appPressToSound;
    Load appPlaying, appPaused;
    double appRssBefore = 0, appRssAfter = 0;
    {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        GstMediaPlayerFactory factory;
        MediaPlayerFactory::setShared(&factory);
        // Only the local stream: no defaults, nothing off this machine.
        CacheManager::setDefaultListPath(data.path() + QStringLiteral("/none.plist"));
        const QVariantMap bench = program::make(QStringLiteral("Bench"), QString(), url.toString());
        CacheManager::shareIntance()->saveData(bench);
        CacheManager::shareIntance()->saveLiveData(bench);
        HomeViewController home;
        home.view()->show();
        {
            // The meter reads the monitor in this process; it is gone before
            // CPU is measured.
            LevelMeter meter(audio);
            meter.start();
            for (int run = 0; run < kRuns; ++run) {
                (void)waitFor([&] { return meter.recentRms(300) < 0.002; }, 3000);
                const qint64 pressed = meter.elapsedMs();
                home.playClick();
                (void)waitFor([&] { return meter.firstSoundAfter(pressed) >= 0; }, 10000);
                const qint64 sound = meter.firstSoundAfter(pressed);
                if (sound >= 0)
                    appPressToSound.push_back((sound - pressed) / 1000.0);
                home.playClick();
            }
        }
        home.playClick();
        (void)waitFor(
            [&] { return home.playbackState() == HomeViewController::PlaybackState::Playing; },
            10000);
        QTest::qWait(1000);
        appPlaying = measure(QCoreApplication::applicationPid(), seconds * 1000);
        home.playClick();
        QTest::qWait(500);
        appPaused = measure(QCoreApplication::applicationPid(), std::max(5, seconds / 3) * 1000);
        auto livePlay = [&](int i) {
            NotificationCenter::defaultCenter()->postNotificationName(QStringLiteral("LIVE_PLAY"));
            if (i % 10 == 0)
                (void)waitFor(
                    [&] {
                        return home.playbackState() == HomeViewController::PlaybackState::Playing;
                    },
                    10000);
            QCoreApplication::processEvents();
        };
        for (int i = 0; i < 20; ++i)
            livePlay(i);
        QTest::qWait(500);
        appRssBefore = usageOf(QCoreApplication::applicationPid()).rssMb;
        for (int i = 0; i < cycles; ++i)
            livePlay(i);
        QTest::qWait(500);
        appRssAfter = usageOf(QCoreApplication::applicationPid()).rssMb;
        MediaPlayerFactory::setShared(nullptr);
    }

    std::printf("\nPlayback benchmark: local Icecast MP3 128 kbit/s, %d s windows, %d runs\n",
                seconds, kRuns);
    std::printf("%-34s %10s %10s %7s  %s\n", "", "ours", "gst-launch", "ratio", "target");
    row("first audio after play()", median(oursPlay), -1, " s", "< 0.5 s");
    row("first audio after open", median(oursOpen), median(baseOpen), " s", "");
    row("CPU while playing", oursPlaying.cpuPercent, basePlaying.cpuPercent, " %", "");
    row("CPU, Even Out Loudness off", oursUnlevelled.cpuPercent, -1, " %", "");
    row("gain and limiter (points)", oursPlaying.cpuPercent - oursUnlevelled.cpuPercent, -1, "",
        "<= 0.2");
    row("RSS while playing", oursPlaying.rssMb, basePlaying.rssMb, " MB", "< 80 MB");
    row("CPU while paused", oursPaused.cpuPercent, -1, " %", "");
    row("CPU idle, no player (harness)", idle.cpuPercent, -1, " %", "");
    row("RSS before switches", rssBefore, -1, " MB", "");
    row(qPrintable(QStringLiteral("RSS after %1 switches").arg(cycles)), rssAfter, -1, " MB", "");
    row("RSS growth over switches", rssAfter - rssBefore, -1, " MB", "< 2 MB");
    std::printf(
        "\nThe main window (controller, preview turning) against bare gst-launch playbin\n");
    std::printf("%-34s %10s %10s %7s  %s\n", "", "app", "gst-launch", "ratio", "target");
    row("first audio after pressing play", median(appPressToSound), median(baseOpen), " s",
        "< 0.5 s");
    row("CPU while playing, preview turning", appPlaying.cpuPercent, basePlaying.cpuPercent, " %",
        "<= 1.3x");
    row("RSS while playing", appPlaying.rssMb, basePlaying.rssMb, " MB", "< 80 MB");
    row("CPU while paused", appPaused.cpuPercent, -1, " %", "");
    row(qPrintable(QStringLiteral("RSS growth over %1 LIVE_PLAY").arg(cycles)),
        appRssAfter - appRssBefore, -1, " MB", "< 2 MB");
    std::fflush(stdout);
    return 0;
}
