// Time-shift against baselines measured in the same run, on loopback Icecast
// MP3 streams (128 kbit/s) and a private PulseAudio null sink, with the
// player made as the app makes it (a PlaybackSession over the
// GstMediaPlayerFactory, the Recorder tapping it):
//   - CPU while playing live, ours and a bare `gst-launch-1.0 playbin` on
//     the same stream at the same time: the median of --windows windows of
//     --seconds seconds; resident memory of both, and what the timeline holds;
//   - what a full buffer adds to resident memory, the timeline's and the
//     recorder's copy of the same bytes, against the setting's size;
//   - play to first sound at the monitor, counted from the moment the
//     server's first audio byte passed a relay between us and Icecast, for
//     ours and for playbin through the same relay;
//   - back 10 s, forward 10 s and back to live: from the call to the moment
//     the "steps" tone (its pitch tells the second) is first heard at the
//     pitch it settles on, against unmuting the same pipeline (the sink's
//     own delay);
//   - a 30 s outage of the source: sound again after it is back, and how
//     many pipelines and decoders were made meanwhile.
// Prints a table, then one "figure|..." line per row for scripts/bench.sh.
//
//     bench_timeshift [--windows N] [--seconds S] [--runs N] [--outage S]
#include "platform/media/GstMediaPlayer.h"
#include "platform/stream/StreamTimeline.h"
#include "record/Recorder.h"
#include "record/StreamBuffer.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/ProcessStats.h"
#include "support/StreamServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

using processstats::median;
using processstats::schedCpuSeconds;

using processstats::usageOf;

// Passes listeners on to the server and notes when the first byte of audio
// after the answer's head went through (on the clock it is given).
class FirstByteRelay : public QObject {
public:
    FirstByteRelay(quint16 serverPort, std::function<qint64()> clock)
        : m_port(serverPort), m_clock(std::move(clock))
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, &FirstByteRelay::accept);
    }
    QUrl url(const QString &mount) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(mount));
    }
    void reset() { m_firstByteMs = -1; }
    qint64 firstByteMs() const { return m_firstByteMs; }

private:
    void accept()
    {
        while (QTcpSocket *client = m_server.nextPendingConnection()) {
            auto *server = new QTcpSocket(client);
            struct Answer {
                QByteArray head;
                bool headDone = false;
            };
            auto answer = std::make_shared<Answer>();
            server->connectToHost(QHostAddress::LocalHost, m_port);
            connect(client, &QTcpSocket::readyRead, server, [client, server] {
                if (server->state() == QAbstractSocket::ConnectedState)
                    server->write(client->readAll());
            });
            connect(server, &QTcpSocket::connected, client,
                    [client, server] { server->write(client->readAll()); });
            connect(server, &QTcpSocket::readyRead, client, [this, client, server, answer] {
                const QByteArray bytes = server->readAll();
                if (!answer->headDone) {
                    answer->head += bytes;
                    const qsizetype end = answer->head.indexOf("\r\n\r\n");
                    answer->headDone = end >= 0;
                    if (end >= 0 && answer->head.size() > end + 4 && m_firstByteMs < 0)
                        m_firstByteMs = m_clock();
                } else if (m_firstByteMs < 0 && !bytes.isEmpty()) {
                    m_firstByteMs = m_clock();
                }
                client->write(bytes);
            });
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        }
    }

    QTcpServer m_server;
    quint16 m_port;
    std::function<qint64()> m_clock;
    qint64 m_firstByteMs = -1;
};

// How many elements of this kind this process has made so far: GStreamer
// names each new one after its kind and a count (making this one counts).
int elementsMade(const char *factory)
{
    GstElement *e = gst_element_factory_make(factory, nullptr);
    if (!e)
        return -1;
    gst_object_ref_sink(e);
    const QByteArray name(GST_OBJECT_NAME(e));
    gst_object_unref(e);
    qsizetype digits = name.size();
    while (digits > 0 && name.at(digits - 1) >= '0' && name.at(digits - 1) <= '9')
        --digits;
    return name.mid(digits).toInt();
}

void row(const char *what, double ours, double base, const char *unit, const char *target)
{
    auto shown = [unit](double v) {
        return v >= 0 ? QString::number(v, 'f', 2) + QLatin1String(unit) : QStringLiteral("n/a");
    };
    const QString ratio =
        ours >= 0 && base > 0 ? QString::number(ours / base, 'f', 2) : QStringLiteral("-");
    std::printf("%-40s %11s %11s %6s  %s\n", what, qPrintable(shown(ours)), qPrintable(shown(base)),
                qPrintable(ratio), target);
    std::printf("figure|time-shift: %s|%.2f|%.2f|%s|%s\n", what, ours, base, unit, target);
}

// The event loop for ms, blocking between events: QTest::qWait polls and
// sleeps, which would be counted as ours.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()> &predicate, int ms)
{
    return QTest::qWaitFor(predicate, ms);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int windows = 6, seconds = 5, runs = 5, outageS = 30;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        const int value = args[i + 1].toInt();
        if (args[i] == QLatin1String("--windows"))
            windows = value;
        else if (args[i] == QLatin1String("--seconds"))
            seconds = value;
        else if (args[i] == QLatin1String("--runs"))
            runs = value;
        else if (args[i] == QLatin1String("--outage"))
            outageS = value;
    }
    qputenv("ORBITUNE_NO_SYSLOG", "1");
    if (qEnvironmentVariableIsEmpty("ORBITUNE_SOURCE_DIR"))
        qputenv("ORBITUNE_SOURCE_DIR", ORBITUNE_SOURCE_DIR);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toUtf8());

    AudioSession audio;
    StreamServers servers;
    if (!startLoopbackStation(audio, servers) || !servers.startSource(QStringLiteral("/steps.mp3")))
        return 1;
    const qint64 self = QCoreApplication::applicationPid();
    const double harnessRssMb = usageOf(self).rssMb;
    // What this process costs with no player (its event loop and children).
    const double idleFrom = schedCpuSeconds(self);
    runFor(seconds * 1000);
    const double harnessCpu = 100.0 * (schedCpuSeconds(self) - idleFrom) / seconds;

    GstMediaPlayer::Options media;
    media.timelineBytes = Recorder::savedOptions().bufferBytes;
    GstMediaPlayerFactory factory(media);
    MediaPlayerFactory::setShared(&factory);
    PlaybackSession session;
    Recorder recorder(&session);
    auto play = [&](const QUrl &url) {
        session.setOwnProgram(program::make(QStringLiteral("Bench"), QString(), url.toString()));
        session.playCurrent();
    };
    auto gstLaunch = [](const QUrl &url) {
        return childprocess::start(QStringLiteral("gst-launch-1.0"),
                                   {QStringLiteral("-q"), QStringLiteral("playbin"),
                                    QStringLiteral("uri=") + url.toString()});
    };

    // 1. CPU and memory while playing live, ours and playbin side by side.
    std::vector<double> cpuOurs, cpuBase;
    double rssOurs = 0, rssBase = 0, keptMb = 0;
    {
        play(servers.mp3Url());
        auto gst = gstLaunch(servers.mp3Url());
        (void)waitFor([&] { return session.state() == PlaybackSession::State::Playing; }, 10000);
        QTest::qWait(2000);
        for (int w = 0; w < windows; ++w) {
            const double ours = schedCpuSeconds(self), base = schedCpuSeconds(gst->processId());
            QElapsedTimer wall;
            wall.start();
            runFor(seconds * 1000);
            const double s = wall.elapsed() / 1000.0;
            cpuOurs.push_back(100.0 * (schedCpuSeconds(self) - ours) / s);
            cpuBase.push_back(100.0 * (schedCpuSeconds(gst->processId()) - base) / s);
        }
        rssOurs = usageOf(self).rssMb;
        rssBase = usageOf(gst->processId()).rssMb;
        keptMb = double(session.keptMs()) * 16 / 1e6; // 128 kbit/s: 16 bytes a millisecond
        childprocess::stop(gst.get());
        session.pause();
    }

    // What a full buffer costs: the timeline, and the recorder's own copy of
    // the same bytes for "Save Last Song", filled as a station fills them.
    auto fullCostMb = [&](const std::function<void(const QByteArray &)> &append) {
        const double before = usageOf(self).rssMb;
        const QByteArray frame(418, 'x'); // one MP3 frame at 128 kbit/s
        for (qint64 n = 0; n < media.timelineBytes; n += frame.size())
            append(frame);
        return usageOf(self).rssMb - before;
    };
    double timelineMb = 0, recorderCopyMb = 0;
    {
        StreamTimeline timeline(media.timelineBytes);
        timelineMb = fullCostMb([&](const QByteArray &b) { timeline.append(b); });
    }
    {
        StreamBuffer copy(media.timelineBytes);
        copy.streamStarted(StreamTap::Format::Mp3);
        recorderCopyMb =
            fullCostMb([&](const QByteArray &b) { copy.streamData(b.constData(), b.size()); });
    }

    LevelMeter meter(audio);
    meter.start();
    auto quiet = [&] { return waitFor([&] { return meter.recentRms(300) < 0.002; }, 5000); };

    // 2. Play to first sound, from the server's first audio byte.
    std::vector<double> firstOurs, firstBase;
    {
        FirstByteRelay relay(servers.icecastPort(), [&] { return meter.elapsedMs(); });
        const QUrl url = relay.url(QStringLiteral("/live.mp3"));
        for (int run = 0; run < runs; ++run) {
            quiet();
            relay.reset();
            const qint64 from = meter.elapsedMs();
            play(url);
            (void)waitFor([&] { return meter.firstSoundAfter(from) >= 0; }, 10000);
            if (meter.firstSoundAfter(from) >= 0 && relay.firstByteMs() >= 0)
                firstOurs.push_back(double(meter.firstSoundAfter(from) - relay.firstByteMs()));
            session.pause();
        }
        for (int run = 0; run < runs; ++run) {
            quiet();
            relay.reset();
            const qint64 from = meter.elapsedMs();
            auto gst = gstLaunch(url);
            (void)waitFor([&] { return meter.firstSoundAfter(from) >= 0; }, 10000);
            if (meter.firstSoundAfter(from) >= 0 && relay.firstByteMs() >= 0)
                firstBase.push_back(double(meter.firstSoundAfter(from) - relay.firstByteMs()));
            childprocess::stop(gst.get());
        }
    }

    // 3. Skips on the "steps" tone, and unmuting as the baseline.
    std::vector<double> back, forward, live, unmute;
    {
        quiet();
        play(servers.icecastUrl(QStringLiteral("/steps.mp3")));
        (void)waitFor([&] { return session.state() == PlaybackSession::State::Playing; }, 10000);
        QTest::qWait(24000); // keep 20 s and more
        // From the call to the moment the tone moved by 5 s or more.
        auto audible = [&](const char *what, const std::function<void()> &step,
                           std::vector<double> *into) {
            QTest::qWait(500);
            const double before = meter.recentPitchHz(300);
            const qint64 from = meter.elapsedMs();
            step();
            // The pitch it settled on, then when it was first heard.
            QTest::qWait(1000);
            const double after = meter.recentPitchHz(300);
            const qint64 at =
                std::abs(after - before) >= 50 ? meter.pitchReachedAfter(from, after, 30) : -1;
            std::fprintf(stderr, "%s: %lld ms, %.0f Hz before, %.0f Hz after\n", what,
                         static_cast<long long>(at - from), before, after);
            if (at >= 0)
                into->push_back(double(at - from));
        };
        for (int run = 0; run < runs; ++run) {
            audible(
                "back 10 s", [&] { session.seekBy(-10000); }, &back);
            audible(
                "back 10 s", [&] { session.seekBy(-10000); }, &back);
            audible(
                "forward 10 s", [&] { session.seekBy(10000); }, &forward);
            audible(
                "live", [&] { session.goLive(); }, &live);
            QTest::qWait(1500);
            session.volume()->setMuted(true);
            (void)waitFor([&] { return meter.recentRms(100) < 0.002; }, 3000);
            const qint64 from = meter.elapsedMs();
            session.volume()->setMuted(false);
            (void)waitFor([&] { return meter.firstSoundAfter(from) >= 0; }, 3000);
            if (meter.firstSoundAfter(from) >= 0)
                unmute.push_back(double(meter.firstSoundAfter(from) - from));
        }
    }

    // 4. The source gone for a while, and back.
    double backAfterOutage = -1;
    int pipelinesMade = -1, decodersMade = -1;
    {
        const QString mount = QStringLiteral("/steps.mp3");
        const int pipelines = elementsMade("pipeline");
        const int decoders = elementsMade("decodebin");
        servers.stopSource(mount);
        QTest::qWait(outageS * 1000);
        if (servers.startSource(mount)) {
            const qint64 from = meter.elapsedMs();
            (void)waitFor([&] { return meter.firstSoundAfter(from) >= 0; }, 30000);
            if (meter.firstSoundAfter(from) >= 0)
                backAfterOutage = double(meter.firstSoundAfter(from) - from) / 1000.0;
        }
        pipelinesMade = elementsMade("pipeline") - pipelines - 1;
        decodersMade = elementsMade("decodebin") - decoders - 1;
        std::fprintf(stderr, "made before the outage: %d pipelines, %d decodebins\n", pipelines,
                     decoders);
    }
    MediaPlayerFactory::setShared(nullptr);

    std::printf("\nTime-shift benchmark: loopback Icecast MP3 128 kbit/s; CPU: median of %d "
                "windows of %d s; times: median of %d runs\n",
                windows, seconds, runs);
    std::printf("%-40s %11s %11s %6s  %s\n", "", "ours", "baseline", "ratio", "target");
    row("CPU playing live (vs playbin)", median(cpuOurs), median(cpuBase), " %", "<= 1.1x");
    row("RSS playing live (vs playbin)", rssOurs, rssBase, " MB", "playbin + buffer");
    row("CPU of the harness, no player", harnessCpu, -1, " %", "");
    row("RSS of the harness before playing", harnessRssMb, -1, " MB", "");
    row("audio kept when RSS was read", keptMb, -1, " MB", "");
    row("a full time-shift buffer", timelineMb, media.timelineBytes / 1048576.0, " MB",
        "<= its size");
    row("the recorder's copy of it, full", recorderCopyMb, media.timelineBytes / 1048576.0, " MB",
        "");
    row("first sound after first byte (playbin)", median(firstOurs), median(firstBase), " ms",
        "<= base + 100");
    row("back 10 s audible (vs unmute)", median(back), median(unmute), " ms", "<= 150 ms");
    row("forward 10 s audible (vs unmute)", median(forward), median(unmute), " ms", "<= 150 ms");
    row("back to live audible (vs unmute)", median(live), median(unmute), " ms", "<= 150 ms");
    row(qPrintable(QStringLiteral("sound after a %1 s outage").arg(outageS)), backAfterOutage, -1,
        " s", "<= 5 s");
    row("pipelines made for the outage", pipelinesMade, -1, "", "0");
    row("decoders made for the outage", decodersMade, -1, "", "0");
    std::fflush(stdout);
    return 0;
}
