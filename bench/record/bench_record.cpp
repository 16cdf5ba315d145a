// Measures, in one run and on the same loopback Icecast MP3 stream, two
// copies of the player side by side: one playing, one playing and
// recording (its buffer kept small so that it fills during the run):
//   - CPU% of each over the same seconds (five windows, median),
//   - RSS of each at the end, the recorder's against the player's plus its
//     buffer's cap,
// and, in this process, what a full 15 MB buffer costs in resident memory;
// then the same two on a station that sends its first 20 MB at once, with
// the 15 MB the setting keeps (time-shift and recording): what recording
// adds to resident memory once that is full.
// Usage: bench_record [--seconds N]
#include "platform/media/GstMediaPlayer.h"
#include "record/Recorder.h"
#include "record/StreamBuffer.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/ProcessStats.h"
#include "support/StreamServers.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using processstats::schedCpuSeconds;

constexpr qint64 kChildBufferBytes = 512 * 1024; // fills in about 33 s at 128 kbit/s

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// The child: plays `url`, and records it into `folder` unless that is empty;
// with ORBITUNE_BENCH_KEEP set, keeping that many bytes as the app does.
int runChild(const QString &url, const QString &folder)
{
    const qint64 keep = qEnvironmentVariableIntValue("ORBITUNE_BENCH_KEEP");
    GstMediaPlayer::Options media;
    if (keep > 0)
        media.timelineBytes = keep;
    GstMediaPlayerFactory factory(media);
    MediaPlayerFactory::setShared(&factory);
    CacheManager::shareIntance()->saveLiveData(program::make(QStringLiteral("Bench"), {}, url));
    PlaybackSession session;
    std::unique_ptr<Recorder> recorder;
    if (!folder.isEmpty()) {
        Recorder::Options options;
        options.folder = folder;
        options.bufferBytes = keep > 0 ? keep : kChildBufferBytes;
        recorder = std::make_unique<Recorder>(&session, options);
        QObject::connect(&session, &PlaybackSession::stateChanged, recorder.get(),
                         [&] { recorder->setRecording(true); });
    }
    session.playCurrent();
    return QCoreApplication::exec();
}

// Resident memory a full buffer of `cap` bytes adds, filled as a stream is.
double bufferCostMb(qint64 cap)
{
    const double before = processstats::residentMb();
    {
        StreamBuffer buffer(cap);
        buffer.streamStarted(StreamTap::Format::Mp3);
        const QByteArray chunk(4096, '\x55');
        for (qint64 sent = 0; sent < cap * 2; sent += chunk.size()) {
            buffer.streamData(chunk.constData(), chunk.size());
            if (sent % (16000 * 180) == 0)
                buffer.streamTitle(QStringLiteral("Song %1").arg(sent));
        }
        const double full = processstats::residentMb() - before;
        return full;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == QLatin1String("--child"))
        return runChild(args.at(2), args.value(3));
    int seconds = 30;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
    }
    if (qEnvironmentVariableIsEmpty("ORBITUNE_SOURCE_DIR"))
        qputenv("ORBITUNE_SOURCE_DIR", ORBITUNE_SOURCE_DIR);

    AudioSession audio;
    StreamServers servers;
    if (!startLoopbackStation(audio, servers))
        return 1;
    QTemporaryDir scratch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), audio.serverAddress());
    env.insert(QStringLiteral("ORBITUNE_NO_SYSLOG"), QStringLiteral("1"));
    // Each child its own settings and program list.
    auto childEnv = [&](const QString &name) {
        QProcessEnvironment e = env;
        const QString home = scratch.filePath(name);
        QDir().mkpath(home);
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        e.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        e.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        return e;
    };
    const QString self = QCoreApplication::applicationFilePath();
    const QString url = servers.mp3Url().toString();
    auto player = childprocess::start(self, {QStringLiteral("--child"), url}, childEnv("play"));
    auto recorder = childprocess::start(
        self, {QStringLiteral("--child"), url, scratch.filePath(QStringLiteral("music"))},
        childEnv("record"));
    if (!player || !recorder) {
        std::fprintf(stderr, "children did not start\n");
        return 1;
    }
    QTest::qWait(8000); // both open the stream and settle

    std::vector<double> playCpu, recordCpu;
    constexpr int kWindows = 5;
    const int windowMs = seconds * 1000 / kWindows;
    for (int w = 0; w < kWindows; ++w) {
        const double p0 = schedCpuSeconds(player->processId());
        const double r0 = schedCpuSeconds(recorder->processId());
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(windowMs);
        const double s = wall.elapsed() / 1000.0;
        playCpu.push_back(100.0 * (schedCpuSeconds(player->processId()) - p0) / s);
        recordCpu.push_back(100.0 * (schedCpuSeconds(recorder->processId()) - r0) / s);
    }
    const double playRss = processstats::usageOf(player->processId()).rssMb;
    const double recordRss = processstats::usageOf(recorder->processId()).rssMb;
    int files = 0;
    qint64 written = 0;
    QDirIterator it(scratch.filePath(QStringLiteral("music")), QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        written += QFileInfo(it.next()).size();
        ++files;
    }
    childprocess::stop(player.get());
    childprocess::stop(recorder.get());

    // A full 15 MB kept, playing and playing and recording.
    constexpr qint64 kFullBytes = 15'000'000;
    auto fullEnv = [&](const QString &name) {
        QProcessEnvironment e = childEnv(name);
        e.insert(QStringLiteral("ORBITUNE_BENCH_KEEP"), QString::number(kFullBytes));
        return e;
    };
    if (!servers.startHttp()) {
        std::fprintf(stderr, "servers: %s\n", qPrintable(servers.errorString()));
        return 1;
    }
    const QString burst = servers.httpUrl(QStringLiteral("/burst.mp3")).toString();
    player = childprocess::start(self, {QStringLiteral("--child"), burst}, fullEnv("full-play"));
    recorder = childprocess::start(
        self, {QStringLiteral("--child"), burst, scratch.filePath(QStringLiteral("full"))},
        fullEnv("full-record"));
    if (!player || !recorder) {
        std::fprintf(stderr, "children did not start\n");
        return 1;
    }
    QTest::qWait(20000); // both take in more than they keep, and play
    const double fullPlayRss = processstats::usageOf(player->processId()).rssMb;
    const double fullRecordRss = processstats::usageOf(recorder->processId()).rssMb;
    childprocess::stop(player.get());
    childprocess::stop(recorder.get());

    const double cap = kChildBufferBytes / 1048576.0;
    const double playC = median(playCpu);
    const double recordC = median(recordCpu);
    const double fullBuffer = bufferCostMb(15'000'000);
    std::printf("%-44s %10s %10s %7s  %s\n", "", "recording", "playing", "ratio", "target");
    std::printf("%-44s %9.2f%% %9.2f%% %7.2f  <= 1.1x\n", "CPU, median of five windows", recordC,
                playC, playC > 0 ? recordC / playC : 0.0);
    std::printf("%-44s %8.1f MB %7.1f MB %7s  <= playing + %.1f MB cap + 5 MB\n", "RSS at the end",
                recordRss, playRss, "", cap);
    std::printf("%-44s %8.1f MB %10s %7s  <= 15 MB cap + 5 MB\n", "a full 15 MB buffer, resident",
                fullBuffer, "", "");
    std::printf("%-44s %8.1f MB %7.1f MB %7s  <= playing + 5 MB\n",
                "RSS with 15 MB kept (time-shift)", fullRecordRss, fullPlayRss, "");
    std::printf("(the recording child wrote %d files, %lld bytes, with a %.1f MB buffer)\n", files,
                written, cap);
    std::printf("figure|recording: CPU while playing|%.2f|%.2f|%%|<= 1.1x\n", recordC, playC);
    std::printf("figure|recording: RSS while playing|%.1f|%.1f|MB|<= +%.1f MB\n", recordRss,
                playRss, cap + 5);
    std::printf("figure|recording: RSS with 15 MB kept|%.1f|%.1f|MB|<= +5 MB\n", fullRecordRss,
                fullPlayRss);
    std::printf("figure|recording: a full 15 MB buffer|%.1f|15.0|MB|<= +5 MB\n", fullBuffer);
    const bool ok = (playC <= 0 || recordC <= 1.1 * playC + 0.2) &&
                    recordRss <= playRss + cap + 5 && fullBuffer <= 15'000'000 / 1048576.0 + 5 &&
                    fullRecordRss <= fullPlayRss + 5;
    return ok ? 0 : 1;
}
