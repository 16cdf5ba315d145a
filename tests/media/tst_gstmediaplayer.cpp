#include "platform/base/Log.h"
#include "platform/media/GstMediaPlayer.h"
#include "platform/media/LoudnessMemory.h"
#include "platform/stream/PlaylistResolver.h"
#include "support/AudioSession.h"
#include "support/StreamServers.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

int countEntries(const char *dir)
{
    return int(QDir(QString::fromLatin1(dir))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Short delays so reconnect tests stay quick; the same logic as the defaults.
GstMediaPlayer::Options quickOptions()
{
    GstMediaPlayer::Options options;
    options.openTimeoutMs = 5000;
    options.reconnectDelaysMs = {200, 400, 800};
    options.reconnectSteadyMs = 1000;
    return options;
}

// Long waits between full attempts, watched by quick probes, at real time.
GstMediaPlayer::Options patientOptions()
{
    GstMediaPlayer::Options options;
    options.reconnectDelaysMs = {};
    options.reconnectRepeatMs = 60000;
    options.probeIntervalMs = 200;
    options.timeScale = 1;
    return options;
}

struct Opened {
    std::shared_ptr<MediaItem> item;
    std::unique_ptr<GstMediaPlayer> player;
};

Opened open(const QUrl &url, const GstMediaPlayer::Options &options = quickOptions())
{
    Opened o;
    o.item = std::make_shared<MediaItem>(url);
    o.player = std::make_unique<GstMediaPlayer>(o.item, options);
    return o;
}

} // namespace

class TestGstMediaPlayer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init() { ORBITUNE_SKIP_IF_RUN_ELSEWHERE(); }
    void liveStreamsPlayAndPause_data();
    void liveStreamsPlayAndPause();
    void finiteStreamPausesInPlace();
    void openFailuresAreNotRetried_data();
    void openFailuresAreNotRetried();
    void stalledServerTimesOut();
    void playlistsResolveToTheirFirstStream_data();
    void playlistsResolveToTheirFirstStream();
    void hugePlaylistKeepsTheUiResponsive();
    void audioUnderAVagueTypeStillPlays_data();
    void audioUnderAVagueTypeStillPlays();
    void resolverStopsReadingAPlaylistThatNeverEnds();
    void hlsPlays_data();
    void hlsPlays();
    void aacStreamPlays();
    void icyTitleBecomesNowPlaying_data();
    void icyTitleBecomesNowPlaying();
    void requestsIdentifyThePlayerAndAskForIcy();
    void plainStreamDoesNotWaitForThePlaylistCheck();
    void throttledLinkPlaysWithoutGaps();
    void chainedOggKeepsPlayingAcrossTitles();
    void reconnectBringsAnotherCodecOrChain_data();
    void reconnectBringsAnotherCodecOrChain();
    void droppedStreamReconnects();
    void droppedStreamBacksOffUntilTheBudgetIsSpent();
    void probeHearsAStationBehindRedirectsOrIcy_data();
    void probeHearsAStationBehindRedirectsOrIcy();
    void probeIsNotTrustedAgainWhenItsAnswerDidNotPlay();
    void flappingStationBacksOffUntilItStaysUp();
    void pauseDuringReconnectStopsTrying();
    void behindLiveADropIsHeardThrough();
    void heldLongerThanKeptGoesOnFromTheOldestOnce();
    void liveHlsHeldThroughAReopen();
    void networkBackReconnectsAtOnce();
    void finishedFileReportsItsEnd();
    void noStatusAfterDestroy();
    void volumeIsCubicAndSurvivesReopening();
    void loudnessEvenedOutAcrossStations_data();
    void loudnessEvenedOutAcrossStations();
    void missingAudioDeviceStillPlaysAndSaysSo();
    void manySwitchesAndSeeksLeakNothing();

private:
    void clearLog();
    // The log lines so far that contain text, with when each was written.
    QList<std::pair<qint64, QString>> logged(const QString &text);
    // The pauses of the "reconnecting in" lines so far, in order.
    QList<int> reconnectPauses();

    StreamServers *m_servers = nullptr;
    AudioSession *m_audio = nullptr;
    LevelMeter *m_meter = nullptr;
    QStringList m_log;
    QList<qint64> m_logTimes; // m_clock at each line of m_log
    QElapsedTimer m_clock;
    QMutex m_logMutex;
};

void TestGstMediaPlayer::initTestCase()
{
    m_clock.start();
    orbitune::log::setSink([this](const QString &line) {
        QMutexLocker lock(&m_logMutex);
        m_log.append(line);
        m_logTimes.append(m_clock.elapsed());
    });
    m_audio = new AudioSession;
    QVERIFY2(m_audio->start(), qPrintable(m_audio->errorString()));
    m_servers = new StreamServers;
    QVERIFY2(m_servers->start(), qPrintable(m_servers->errorString()));
    m_meter = new LevelMeter(*m_audio);
    QVERIFY(m_meter->start());
}

void TestGstMediaPlayer::cleanupTestCase()
{
    orbitune::log::setSink({});
    delete m_meter;
    delete m_servers;
    delete m_audio;
}

void TestGstMediaPlayer::clearLog()
{
    QMutexLocker lock(&m_logMutex);
    m_log.clear();
    m_logTimes.clear();
}

QList<std::pair<qint64, QString>> TestGstMediaPlayer::logged(const QString &text)
{
    QMutexLocker lock(&m_logMutex);
    QList<std::pair<qint64, QString>> lines;
    for (int i = 0; i < m_log.size(); ++i) {
        if (m_log.at(i).contains(text))
            lines.append({m_logTimes.at(i), m_log.at(i)});
    }
    return lines;
}

QList<int> TestGstMediaPlayer::reconnectPauses()
{
    QList<int> pauses;
    for (const auto &line : logged(QStringLiteral("reconnecting in ")))
        pauses << line.second.section(QStringLiteral("reconnecting in "), 1)
                      .section(' ', 0, 0)
                      .toInt();
    return pauses;
}

void TestGstMediaPlayer::liveStreamsPlayAndPause_data()
{
    QTest::addColumn<QString>("mount");
    QTest::addColumn<QString>("format"); // what the item says it is, as a pattern
    QTest::newRow("mp3") << QStringLiteral("/live.mp3")
                         << QStringLiteral("^MP3 · 128 kbit/s · 44\\.1 kHz$");
    QTest::newRow("ogg vorbis") << QStringLiteral("/live.ogg")
                                << QStringLiteral("^Vorbis( · \\d+ kbit/s)? · 44\\.1 kHz$");
}

void TestGstMediaPlayer::liveStreamsPlayAndPause()
{
    QFETCH(QString, mount);
    QFETCH(QString, format);
    auto o = open(m_servers->icecastUrl(mount));
    QSignalSpy status(o.item.get(), &MediaItem::statusChanged);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    QCOMPARE(status.count(), 1);
    // Codec and bitrate from the stream's tags, the rate from the decoder.
    const QRegularExpression described(format);
    QTRY_VERIFY2_WITH_TIMEOUT(described.match(o.item->format().text()).hasMatch(),
                              qPrintable(o.item->format().text()), 5000);
    // Prerolled but not told to play: nothing is heard.
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(300) < 0.002, 3000);

    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);

    o.player->pause();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(100) < 0.002, 1000);
    // A live stream lets go of its connection while paused...
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Released);

    // ...and opens it again on play, without the item noticing.
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 8000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
    QCOMPARE(status.count(), 1);

    o.player.reset();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(100) < 0.002, 1000);
}

void TestGstMediaPlayer::finiteStreamPausesInPlace()
{
    // A file with a known length keeps its pipeline and resumes where it was.
    // Playbin levels it too: a gain kept for it (-6 dB) is heard at once.
    loudnessmemory::remember(m_servers->httpUrl("/tone.mp3").toString(), -6);
    auto o = open(m_servers->httpUrl("/tone.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(300) > 0.05 &&
                                 qAbs(m_meter->recentRms(300) / m_meter->recentRms(100) - 1) < 0.1,
                             3000);
    QVERIFY2(qAbs(20 * std::log10(m_meter->recentRms(300) / 0.336) + 6) < 1.5,
             qPrintable(QString::number(m_meter->recentRms(300))));
    o.player->pause();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(100) < 0.002, 1000);
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Ready);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 3000);
}

void TestGstMediaPlayer::openFailuresAreNotRetried_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::newRow("connection refused") << m_servers->refusedUrl();
    QTest::newRow("404") << m_servers->httpUrl("/404");
    QTest::newRow("html page with 200") << m_servers->httpUrl("/html");
    QTest::newRow("redirect loop") << m_servers->httpUrl("/loop/a");
    QTest::newRow("playlist listing only itself") << m_servers->httpUrl("/self.m3u");
    QTest::newRow("mount without source") << m_servers->icecastUrl("/nothing.mp3");
    QTest::newRow("not a URL") << QUrl(QStringLiteral("::not a url"));
}

void TestGstMediaPlayer::openFailuresAreNotRetried()
{
    QFETCH(QUrl, url);
    auto o = open(url);
    QSignalSpy reconnecting(o.item.get(), &MediaItem::reconnectingChanged);
    QSignalSpy status(o.item.get(), &MediaItem::statusChanged);
    QVERIFY(status.wait(8000));
    QCOMPARE(o.item->status(), MediaItem::StatusFailed);
    QVERIFY(!o.item->errorString().isEmpty());
    // Failed stays failed: no reconnect, no second report.
    QVERIFY(!status.wait(1500));
    QCOMPARE(reconnecting.count(), 0);
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Failed);
}

void TestGstMediaPlayer::stalledServerTimesOut()
{
    // Headers, then nothing: the player's own watchdog gives up.
    GstMediaPlayer::Options options = quickOptions();
    options.openTimeoutMs = 1500;
    QElapsedTimer timer;
    timer.start();
    auto o = open(m_servers->httpUrl("/stall"), options);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusFailed, 6000);
    QVERIFY2(timer.elapsed() >= 1400, qPrintable(QString::number(timer.elapsed())));
}

void TestGstMediaPlayer::playlistsResolveToTheirFirstStream_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QUrl>("stream");
    const QUrl mp3 = m_servers->mp3Url();
    QTest::newRow("pls") << "/list.pls" << mp3;
    QTest::newRow("pls served as text/html") << "/list-wrongtype.pls" << mp3;
    QTest::newRow("m3u with query string") << "/list.m3u?sid=1&x=%20" << mp3;
    QTest::newRow("bare list as text/plain") << "/list-plain?format=txt" << mp3;
    QTest::newRow("xspf") << "/list.xspf" << mp3;
    QTest::newRow("xspf as octet-stream") << "/list-xspf.txt" << mp3;
    QTest::newRow("ogg first") << "/list.ogg.pls" << m_servers->oggUrl();
    // Redirects are followed by the pipeline, so reopening starts over at the
    // original address.
    QTest::newRow("redirect to stream") << "/redirect" << m_servers->httpUrl("/redirect");
    QTest::newRow("dead first entry falls back") << "/fallback.pls" << mp3;
    QTest::newRow("asx, dead first entry") << "/list.asx" << mp3;
    QTest::newRow("404 first entry falls back") << "/fallback404.m3u" << mp3;
    QTest::newRow("lists itself, then a stream") << "/self-then-stream.m3u" << mp3;
}

void TestGstMediaPlayer::playlistsResolveToTheirFirstStream()
{
    QFETCH(QString, path);
    QFETCH(QUrl, stream);
    auto o = open(m_servers->httpUrl(path));
    QSignalSpy status(o.item.get(), &MediaItem::statusChanged);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    QCOMPARE(o.player->streamUrl(), stream);
    QCOMPARE(status.count(), 1);
}

void TestGstMediaPlayer::audioUnderAVagueTypeStillPlays_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("text/plain") << "/typed.mp3?type=text/plain";
    QTest::newRow("application/octet-stream") << "/typed.mp3?type=application/octet-stream";
    QTest::newRow("no content type") << "/typed.mp3";
}

void TestGstMediaPlayer::audioUnderAVagueTypeStillPlays()
{
    // Old Shoutcast servers label their audio like this.
    QFETCH(QString, path);
    auto o = open(m_servers->httpUrl(path));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    QCOMPARE(o.player->streamUrl(), m_servers->httpUrl(path));
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 8000);
    o.player.reset();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(100) < 0.002, 1000);
}

void TestGstMediaPlayer::resolverStopsReadingAPlaylistThatNeverEnds()
{
    // A text answer that keeps trickling in: no single wait is long enough
    // for the transfer timeout, so only the resolver's own cap ends it.
    PlaylistResolver resolver(m_servers->httpUrl("/drip.txt"));
    QSignalSpy candidates(&resolver, &PlaylistResolver::candidate);
    QSignalSpy exhausted(&resolver, &PlaylistResolver::exhausted);
    QElapsedTimer timer;
    timer.start();
    resolver.next();
    QVERIFY(exhausted.wait(PlaylistResolver::kTimeoutMs + 5000));
    const qint64 took = timer.elapsed();
    QVERIFY2(took >= PlaylistResolver::kTimeoutMs - 500, qPrintable(QString::number(took)));
    QCOMPARE(candidates.count(), 0);
    QVERIFY2(exhausted.first().at(0).toString().startsWith(QLatin1String("Timed out")),
             qPrintable(exhausted.first().at(0).toString()));
}

void TestGstMediaPlayer::hugePlaylistKeepsTheUiResponsive()
{
    // 100,000 lines; the first entry is the live stream.
    QElapsedTimer sinceTick;
    qint64 worstGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    sinceTick.start();
    connect(&ticker, &QTimer::timeout, this,
            [&] { worstGap = qMax(worstGap, sinceTick.restart()); });
    ticker.start();
    auto o = open(m_servers->httpUrl("/huge.m3u"));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    ticker.stop();
    QCOMPARE(o.player->streamUrl(), m_servers->mp3Url());
    QVERIFY2(worstGap < 250, qPrintable(QStringLiteral("UI blocked %1 ms").arg(worstGap)));
}

void TestGstMediaPlayer::hlsPlays_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("timeShifted"); // read into the timeline, or by playbin
    QTest::newRow("live: segments into the timeline") << QStringLiteral("/hls/live.m3u8") << true;
    QTest::newRow("ended: playbin") << QStringLiteral("/hls/vod.m3u8") << false;
    QTest::newRow("live, encrypted: playbin") << QStringLiteral("/hls/live-aes.m3u8") << false;
}

void TestGstMediaPlayer::hlsPlays()
{
    QFETCH(QString, path);
    QFETCH(bool, timeShifted);
    auto o = open(m_servers->httpUrl(path));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    QCOMPARE(o.player->streamUrl(), m_servers->httpUrl(path));
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QCOMPARE(o.player->pipelineElements().contains(QStringLiteral("appsrc")), timeShifted);
    QCOMPARE(o.player->canSeek(), timeShifted);
}

void TestGstMediaPlayer::aacStreamPlays()
{
    auto o = open(m_servers->httpUrl("/live.aac"));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QVERIFY2(o.item->format().text().startsWith(QStringLiteral("AAC")),
             qPrintable(o.item->format().text()));
}

void TestGstMediaPlayer::icyTitleBecomesNowPlaying_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("Latin-1, through a playlist")
        << QStringLiteral("/list-icy.m3u") << StreamServers::icyTitle();
    QTest::newRow("Windows-1251, not announced")
        << QStringLiteral("/icy-1251.mp3") << QStringLiteral("Кино - Группа крови");
}

void TestGstMediaPlayer::icyTitleBecomesNowPlaying()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    auto o = open(m_servers->httpUrl(path));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_COMPARE_WITH_TIMEOUT(o.item->nowPlaying(), title, 8000);
}

void TestGstMediaPlayer::requestsIdentifyThePlayerAndAskForIcy()
{
    auto o = open(m_servers->httpUrl("/ua.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    QFile log(m_servers->dir() + QStringLiteral("/requests.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList requests = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!requests.isEmpty());
    const QString agent = QStringLiteral("Orbitune/" ORBITUNE_VERSION);
    for (const QString &request : requests)
        QCOMPARE(request.section('|', 0, 0), agent);
    // The pipeline's own request asks for ICY metadata.
    QVERIFY(requests.contains(agent + QStringLiteral("|1")));
}

void TestGstMediaPlayer::plainStreamDoesNotWaitForThePlaylistCheck()
{
    // The check of /slow-check.mp3 is answered after 5 s; the stream itself
    // at once, and it is opened at the same time as the check.
    QElapsedTimer clock;
    clock.start();
    auto o = open(m_servers->httpUrl("/slow-check.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(o.player->streamUrl(), m_servers->httpUrl("/slow-check.mp3"));
    // MP3 is decoded by libmpg123; FFmpeg is left for what needs it (AAC).
    const QStringList elements = o.player->pipelineElements();
    QVERIFY2(elements.contains(QStringLiteral("mpg123audiodec")), qPrintable(elements.join(' ')));
    QVERIFY(!elements.contains(QStringLiteral("avdec_mp3")));
}

void TestGstMediaPlayer::throttledLinkPlaysWithoutGaps()
{
    // Data arrives no faster than it plays, with stalls of up to 300 ms: the
    // buffer taken before starting has to carry every stall.
    auto o = open(m_servers->httpUrl("/throttled.mp3"));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    const qint64 pressed = m_meter->elapsedMs();
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->firstSoundAfter(pressed, 0.05) >= 0, 5000);
    const qint64 heard = m_meter->firstSoundAfter(pressed, 0.05);
    // Seven seconds, well inside the ten-second file, whose loop point
    // carries the encoder's own silence.
    QTest::qWait(7000);
    const double quietest = m_meter->quietestBlock(heard + 100, heard + 7000);
    qInfo("throttled link: quietest 20 ms block %.3f RMS", quietest);
    QVERIFY2(quietest > 0.05, "the sound stopped while data was held back");
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
}

void TestGstMediaPlayer::chainedOggKeepsPlayingAcrossTitles()
{
    auto o = open(m_servers->httpUrl("/chained.ogg"));
    QSignalSpy titles(o.item.get(), &MediaItem::nowPlayingChanged);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(o.item->nowPlaying() == QLatin1String("Fixture - Chain-One"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(o.item->nowPlaying() == QLatin1String("Fixture - Chain-Two"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 3000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
    QVERIFY(!o.item->isReconnecting());
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Ready);
}

// A station back after a drop with another codec, or (Ogg) new chains: it
// sounds again, and so does its stream from before the drop, in the
// middle of it, each with a decoder fit for it.
void TestGstMediaPlayer::reconnectBringsAnotherCodecOrChain_data()
{
    QTest::addColumn<QString>("mount");
    // The pitch 3 s into the stream before the drop, and of what follows
    // it; 0: not told apart.
    QTest::addColumn<double>("pitchBefore");
    QTest::addColumn<double>("pitchNext");
    QTest::newRow("MP3, then AAC") << QStringLiteral("/once/mp3-aac") << 0.0 << 0.0;
    QTest::newRow("Ogg, then new chains") << QStringLiteral("/once/ogg") << 440.0 << 660.0;
}

void TestGstMediaPlayer::reconnectBringsAnotherCodecOrChain()
{
    QFETCH(QString, mount);
    QFETCH(double, pitchBefore);
    QFETCH(double, pitchNext);
    auto o = open(m_servers->httpUrl(mount));
    // The station drops a second or so in and is back a quarter of a
    // second later: on a busy machine that can be over before the sound is
    // heard, so the drop is caught as it is told.
    QSignalSpy reconnecting(o.item.get(), &MediaItem::reconnectingChanged);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!reconnecting.isEmpty(), 15000);
    QCOMPARE(reconnecting.first().first().toBool(), true);
    QTRY_VERIFY_WITH_TIMEOUT(!o.item->isReconnecting(), 8000);
    const qint64 back = m_meter->elapsedMs();
    QTRY_VERIFY2_WITH_TIMEOUT(m_meter->firstSoundAfter(back + 500, 0.05) >= 0,
                              qPrintable(o.player->describeState()), 8000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);

    // Back to 3 s into the stream before the drop (past the Ogg chain's
    // headers, which count as time too), from the new stream's live edge
    // (where the play position is exactly once there).
    // Muted until the monitor hears silence, so that no sound from before
    // the seek reaches the meter after it, however late a busy machine
    // records it.
    QVERIFY(o.player->canSeek());
    o.player->setMuted(true);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(300) < 0.01, 8000);
    const qint64 seeked = m_meter->elapsedMs();
    o.player->goLive();
    o.player->seekBy(-(o.player->keptMs() - 3000));
    o.player->setMuted(false);
    if (pitchBefore > 0) {
        // Heard where it was sought, before the chain after it.
        QTRY_VERIFY2_WITH_TIMEOUT(m_meter->pitchReachedAfter(seeked, pitchBefore, 30) >= 0,
                                  qPrintable(o.player->describeState()), 8000);
        const qint64 next = m_meter->pitchReachedAfter(seeked, pitchNext, 30);
        QVERIFY(next < 0 || next > m_meter->pitchReachedAfter(seeked, pitchBefore, 30));
    } else {
        QTRY_VERIFY2_WITH_TIMEOUT(m_meter->firstSoundAfter(seeked + 300, 0.05) >= 0,
                                  qPrintable(o.player->describeState()), 8000);
    }
}

void TestGstMediaPlayer::droppedStreamReconnects()
{
    const QString mount = QStringLiteral("/drop.mp3");
    QVERIFY(m_servers->startSource(mount));
    auto o = open(m_servers->icecastUrl(mount));
    QSignalSpy status(o.item.get(), &MediaItem::statusChanged);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);

    clearLog();
    m_servers->stopSource(mount);
    QTRY_VERIFY_WITH_TIMEOUT(o.item->isReconnecting(), 5000);
    QVERIFY(m_servers->startSource(mount));
    QTRY_VERIFY_WITH_TIMEOUT(!o.item->isReconnecting(), 8000);
    // Back where it was: playing, still ready, no failure in between.
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
    QCOMPARE(status.count(), 1);

    // Once back and steady, the next outage has the whole budget and starts
    // at the first, shortest pause again.
    QTRY_VERIFY_WITH_TIMEOUT(!logged(QStringLiteral("stream steady")).isEmpty(), 5000);
    clearLog();
    m_servers->stopSource(mount);
    QTRY_VERIFY_WITH_TIMEOUT(o.item->isReconnecting(), 5000);
    {
        QMutexLocker lock(&m_logMutex);
        const QStringList lines = m_log.filter(QStringLiteral("reconnecting in"));
        QVERIFY(!lines.isEmpty());
        QVERIFY2(lines.first().endsWith(QStringLiteral("in 200 ms")), qPrintable(lines.first()));
    }
    QVERIFY(m_servers->startSource(mount));
    QTRY_VERIFY_WITH_TIMEOUT(!o.item->isReconnecting(), 8000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
    o.player.reset();

    // Between long waits the stream is probed: a station that returns is
    // heard again long before the next full attempt is due.
    GstMediaPlayer::Options patient;
    patient.reconnectDelaysMs = {};
    patient.reconnectRepeatMs = 60000;
    patient.probeIntervalMs = 200;
    patient.timeScale = 1;
    auto p = open(m_servers->icecastUrl(mount), patient);
    QTRY_COMPARE_WITH_TIMEOUT(p.item->status(), MediaItem::StatusReadyToPlay, 10000);
    p.player->play();
    m_servers->stopSource(mount);
    QTRY_VERIFY_WITH_TIMEOUT(p.item->isReconnecting(), 5000);
    const int asked = m_servers->mountRequests(mount);
    // A few probes that find the mount missing.
    QTRY_VERIFY_WITH_TIMEOUT(m_servers->mountRequests(mount) >= asked + 3, 5000);
    QVERIFY(p.item->isReconnecting());
    QVERIFY(m_servers->startSource(mount));
    QTRY_VERIFY_WITH_TIMEOUT(!p.item->isReconnecting(), 5000);
    QCOMPARE(p.item->status(), MediaItem::StatusReadyToPlay);
    {
        QMutexLocker lock(&m_logMutex);
        QCOMPARE(m_log.filter(QStringLiteral("stream answers again")).size(), 1);
    }
    p.player.reset();
    m_servers->stopSource(mount);
}

void TestGstMediaPlayer::droppedStreamBacksOffUntilTheBudgetIsSpent()
{
    // The real schedule (1, 2, 4, 8 s, then every 10 s for 10 minutes) at a
    // hundredth of the time.
    GstMediaPlayer::Options options;
    options.timeScale = 0.01;
    const QString mount = QStringLiteral("/drop2.mp3");
    QVERIFY(m_servers->startSource(mount));
    auto o = open(m_servers->icecastUrl(mount), options);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QStringList events;
    connect(o.item.get(), &MediaItem::reconnectingChanged, this,
            [&events](bool on) { events << (on ? "reconnecting" : "reconnected"); });
    connect(o.item.get(), &MediaItem::statusChanged, this,
            [&events](int status) { events << QStringLiteral("status %1").arg(status); });
    {
        QMutexLocker lock(&m_logMutex);
        m_log.clear();
        m_logTimes.clear();
    }
    const qint64 droppedAt = m_clock.elapsed();
    m_servers->stopSource(mount);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusFailed, 15000);
    const qint64 failedAfter = m_clock.elapsed() - droppedAt;
    QVERIFY(!o.item->isReconnecting());
    // Failed while still reconnecting: never ready in between.
    QCOMPARE(events, (QStringList{"reconnecting", "status 2", "reconnected"}));
    QVERIFY2(failedAfter >= 5900 && failedAfter < 9000, qPrintable(QString::number(failedAfter)));

    QMutexLocker lock(&m_logMutex);
    QList<int> delays;
    QList<qint64> times;
    for (int i = 0; i < m_log.size(); ++i) {
        const QString &line = m_log.at(i);
        if (!line.contains(QStringLiteral("reconnecting in")))
            continue;
        delays << line.section(QStringLiteral("reconnecting in "), 1).section(' ', 0, 0).toInt();
        times << m_logTimes.at(i);
    }
    QVERIFY2(delays.size() > 20, qPrintable(QString::number(delays.size())));
    QCOMPARE(delays.mid(0, 6), (QList<int>{10, 20, 40, 80, 100, 100}));
    QCOMPARE(delays.count(100), delays.size() - 4);
    // Each attempt waited its pause before trying again.
    for (int i = 1; i < times.size(); ++i)
        QVERIFY2(times.at(i) - times.at(i - 1) >= delays.at(i - 1) * 9 / 10,
                 qPrintable(QStringLiteral("attempt %1: %2 ms after the last, pause %3")
                                .arg(i)
                                .arg(times.at(i) - times.at(i - 1))
                                .arg(delays.at(i - 1))));
}

void TestGstMediaPlayer::probeHearsAStationBehindRedirectsOrIcy_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("mode");
    QTest::newRow("three redirects") << QStringLiteral("/hop/3/station") << QStringLiteral("http");
    QTest::newRow("ICY status line") << QStringLiteral("/station") << QStringLiteral("icy");
    QTest::newRow("ICY behind a redirect")
        << QStringLiteral("/hop/1/station") << QStringLiteral("icy");
}

void TestGstMediaPlayer::probeHearsAStationBehindRedirectsOrIcy()
{
    // Stations move (http to https, CDN hops) and old Shoutcast servers
    // answer "ICY 200 OK": the probe has to hear them as well as the player.
    QFETCH(QString, path);
    QFETCH(QString, mode);
    QVERIFY(m_servers->setStation(mode));
    auto o = open(m_servers->httpUrl(path), patientOptions());
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    clearLog();

    QVERIFY(m_servers->setStation(QStringLiteral("down")));
    QTRY_VERIFY_WITH_TIMEOUT(o.item->isReconnecting(), 5000);
    const int hits = m_servers->stationHits();
    QTRY_VERIFY_WITH_TIMEOUT(m_servers->stationHits() >= hits + 2, 5000); // probes find it off air
    QVERIFY(o.item->isReconnecting());
    QVERIFY(m_servers->setStation(mode));
    // The next full attempt is a minute away; the probe finds it first.
    QTRY_VERIFY_WITH_TIMEOUT(!o.item->isReconnecting(), 4000);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
    QCOMPARE(logged(QStringLiteral("stream answers again")).size(), 1);
    o.player.reset();
    QVERIFY(m_servers->setStation(QStringLiteral("down")));
}

void TestGstMediaPlayer::probeIsNotTrustedAgainWhenItsAnswerDidNotPlay()
{
    // Off air, the station serves an "offline" page with 200: the probe says
    // it answers, but the attempt that follows finds no audio. The rest of
    // that wait goes by without probes, then the full attempt comes as due.
    QVERIFY(m_servers->setStation(QStringLiteral("http")));
    GstMediaPlayer::Options options = patientOptions();
    options.reconnectRepeatMs = 1500;
    options.probeIntervalMs = 100;
    auto o = open(m_servers->httpUrl("/station"), options);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    clearLog();
    QVERIFY(m_servers->setStation(QStringLiteral("page")));
    // The drop, the attempt the probe asked for, the full attempt.
    QTRY_VERIFY_WITH_TIMEOUT(reconnectPauses().size() >= 3, 8000);
    const auto waits = logged(QStringLiteral("reconnecting in "));
    const auto answers = logged(QStringLiteral("stream answers again"));
    QVERIFY(!answers.isEmpty());
    const qint64 fullAttempt = waits.at(2).first;
    QVERIFY2(
        answers.size() == 1 || answers.at(1).first >= fullAttempt,
        qPrintable(QStringLiteral("%1 probe answers before the full attempt").arg(answers.size())));
    QVERIFY2(fullAttempt - waits.at(0).first >= 1350,
             qPrintable(QString::number(fullAttempt - waits.at(0).first)));
    QVERIFY(o.item->isReconnecting());
    o.player.reset();
    QVERIFY(m_servers->setStation(QStringLiteral("down")));
}

void TestGstMediaPlayer::flappingStationBacksOffUntilItStaysUp()
{
    GstMediaPlayer::Options options;
    options.timeScale = 1;
    options.reconnectDelaysMs = {100, 200, 400};
    options.reconnectRepeatMs = 400;
    QVERIFY(m_servers->setStation(QStringLiteral("http")));
    auto o = open(m_servers->httpUrl("/station"), options);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    clearLog();
    // Back for a moment each time, then gone again: the pauses keep growing.
    for (int i = 0; i < 3; ++i) {
        QVERIFY(m_servers->setStation(QStringLiteral("down")));
        QTRY_VERIFY_WITH_TIMEOUT(o.item->isReconnecting(), 5000);
        QVERIFY(m_servers->setStation(QStringLiteral("http")));
        QTRY_VERIFY_WITH_TIMEOUT(!o.item->isReconnecting(), 5000);
    }
    const QList<int> pauses = reconnectPauses();
    QVERIFY2(pauses.size() >= 3 && std::is_sorted(pauses.begin(), pauses.end()) &&
                 pauses.last() > pauses.first(),
             qPrintable(QStringLiteral("pauses %1 .. %2").arg(pauses.value(0)).arg(pauses.last())));
    o.player.reset();

    // Steady sound earns the whole budget and the shortest pause back.
    options.reconnectBudgetMs = 1500;
    options.reconnectSteadyMs = 1500;
    auto s = open(m_servers->httpUrl("/station"), options);
    QTRY_COMPARE_WITH_TIMEOUT(s.item->status(), MediaItem::StatusReadyToPlay, 10000);
    s.player->play();
    QVERIFY(m_servers->setStation(QStringLiteral("down")));
    QTRY_VERIFY_WITH_TIMEOUT(s.item->isReconnecting(), 5000);
    QVERIFY(m_servers->setStation(QStringLiteral("http")));
    QTRY_VERIFY_WITH_TIMEOUT(!logged(QStringLiteral("stream steady")).isEmpty(), 8000);
    QVERIFY(!s.item->isReconnecting());
    clearLog();
    QVERIFY(m_servers->setStation(QStringLiteral("down")));
    QTRY_COMPARE_WITH_TIMEOUT(s.item->status(), MediaItem::StatusFailed, 10000);
    const auto waits = logged(QStringLiteral("reconnecting in "));
    QVERIFY(!waits.isEmpty());
    QVERIFY2(waits.first().second.endsWith(QStringLiteral("in 100 ms")),
             qPrintable(waits.first().second));
    const qint64 failedAfter =
        logged(QStringLiteral("stream failed")).value(0).first - waits.first().first;
    QVERIFY2(failedAfter >= 900, qPrintable(QString::number(failedAfter)));
}

void TestGstMediaPlayer::pauseDuringReconnectStopsTrying()
{
    const QString mount = QStringLiteral("/drop3.mp3");
    QVERIFY(m_servers->startSource(mount));
    auto o = open(m_servers->icecastUrl(mount));
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    m_servers->stopSource(mount);
    QTRY_VERIFY_WITH_TIMEOUT(o.item->isReconnecting(), 5000);
    o.player->pause();
    QVERIFY(!o.item->isReconnecting());
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Released);

    // The station returns: nothing reopens and nothing is heard...
    QVERIFY(m_servers->startSource(mount));
    QSignalSpy reconnecting(o.item.get(), &MediaItem::reconnectingChanged);
    QVERIFY(!reconnecting.wait(1500));
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Released);
    QVERIFY(m_meter->recentRms(300) < 0.002);
    // No connection is held for nobody.
    QVERIFY(o.player->pipelineElements().isEmpty());
    // ...until play.
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 8000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
    o.player.reset();
    m_servers->stopSource(mount);
}

// Behind live, what is kept plays on across a drop, which shows only once
// the play position reaches it; a pause that holds the station holds it
// through the reconnect; and a station that stays away is heard to the end
// of what is kept before the failure.
void TestGstMediaPlayer::behindLiveADropIsHeardThrough()
{
    const QString mount = QStringLiteral("/drop5.mp3");
    const auto behindLive = [this, &mount](const GstMediaPlayer::Options &options) {
        Opened o = open(m_servers->icecastUrl(mount), options);
        o.player->setPauseHolds(true);
        [&] {
            QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
            o.player->play();
            QTRY_VERIFY_WITH_TIMEOUT(o.player->keptMs() > 5000, 15000);
            o.player->seekBy(-5000);
            QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
        }();
        clearLog();
        m_servers->stopSource(mount);
        return o;
    };
    QVERIFY(m_servers->startSource(mount));
    GstMediaPlayer::Options brief = quickOptions();
    brief.reconnectDelaysMs = {100};
    brief.reconnectRepeatMs = 100;
    brief.reconnectBudgetMs = 300;
    brief.timeScale = 1;
    Opened b = behindLive(brief);
    QTRY_VERIFY_WITH_TIMEOUT(!logged(QStringLiteral("playing what is kept to its end")).isEmpty(),
                             5000);
    QCOMPARE(b.item->status(), MediaItem::StatusReadyToPlay);
    QVERIFY(!b.item->isReconnecting());
    QTRY_COMPARE_WITH_TIMEOUT(b.item->status(), MediaItem::StatusFailed, 10000);
    b.player.reset();

    QVERIFY(m_servers->startSource(mount));
    Opened o = behindLive(quickOptions());
    QVERIFY(o.player->timeBehindLiveMs() > 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!logged(QStringLiteral("stream dropped")).isEmpty(), 5000);
    QVERIFY(!o.item->isReconnecting());
    o.player->pause();
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Reconnecting);
    const qint64 pausedBehind = o.player->timeBehindLiveMs();
    QVERIFY(m_servers->startSource(mount));
    QTRY_COMPARE_WITH_TIMEOUT(o.player->phase(), GstMediaPlayer::Phase::Ready, 8000);
    QVERIFY(!o.item->isReconnecting());
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QVERIFY2(o.player->timeBehindLiveMs() >= pausedBehind - 500,
             qPrintable(QString::number(o.player->timeBehindLiveMs())));
    o.player.reset();
    m_servers->stopSource(mount);
}

// Held longer than what is kept reaches: going on from the oldest moment
// kept is decided at play, and said once; the position stands meanwhile.
void TestGstMediaPlayer::heldLongerThanKeptGoesOnFromTheOldestOnce()
{
    GstMediaPlayer::Options options = quickOptions();
    options.timelineBytes = 32 * 1024; // 2 s at 128 kbit/s
    auto o = open(m_servers->icecastUrl(QStringLiteral("/live.mp3")), options);
    o.player->setPauseHolds(true);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QSignalSpy oldest(o.player.get(), &MediaPlayer::resumedFromOldest);
    o.player->pause();
    const qint64 position = o.player->positionMs();
    QVERIFY(!oldest.wait(7000)); // over three times what is kept
    QCOMPARE(o.player->positionMs(), position);
    o.player->play();
    QTRY_COMPARE_WITH_TIMEOUT(oldest.count(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QVERIFY(o.player->positionMs() > position);
    QCOMPARE(oldest.count(), 1);
}

// A pause that holds live HLS holds it through a reopen (after a wake).
void TestGstMediaPlayer::liveHlsHeldThroughAReopen()
{
    auto o = open(m_servers->httpUrl(QStringLiteral("/hls/live.m3u8")));
    o.player->setPauseHolds(true);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    o.player->reconnectNow(MediaPlayer::ReconnectReason::Resumed);
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Reconnecting);
    o.player->pause();
    QTRY_VERIFY_WITH_TIMEOUT(!o.item->isReconnecting(), 8000);
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Ready);
    QVERIFY(o.player->canSeek());
}

void TestGstMediaPlayer::networkBackReconnectsAtOnce()
{
    GstMediaPlayer::Options options = quickOptions();
    options.reconnectDelaysMs = {60000};
    const QString mount = QStringLiteral("/drop4.mp3");
    QVERIFY(m_servers->startSource(mount));
    auto o = open(m_servers->icecastUrl(mount), options);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    m_servers->stopSource(mount);
    QTRY_VERIFY_WITH_TIMEOUT(o.item->isReconnecting(), 5000);
    QVERIFY(m_servers->startSource(mount));
    // A minute's pause is pending; the network coming back cuts it short.
    o.player->reconnectNow(MediaPlayer::ReconnectReason::NetworkBack);
    QTRY_VERIFY_WITH_TIMEOUT(!o.item->isReconnecting(), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);

    // Waking from suspend reopens a playing live stream straight away.
    QSignalSpy reconnecting(o.item.get(), &MediaItem::reconnectingChanged);
    o.player->reconnectNow(MediaPlayer::ReconnectReason::Resumed);
    QTRY_COMPARE_WITH_TIMEOUT(reconnecting.count(), 2, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, 5000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
    o.player.reset();
    m_servers->stopSource(mount);
}

void TestGstMediaPlayer::finishedFileReportsItsEnd()
{
    // About ten seconds of tone: played to the end, it says so and stops
    // instead of reconnecting.
    auto o = open(m_servers->httpUrl("/tone.mp3"));
    QSignalSpy ended(o.item.get(), &MediaItem::ended);
    QSignalSpy reconnecting(o.item.get(), &MediaItem::reconnectingChanged);
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QVERIFY(ended.wait(20000));
    QCOMPARE(o.player->phase(), GstMediaPlayer::Phase::Released);
    QCOMPARE(reconnecting.count(), 0);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
}

void TestGstMediaPlayer::volumeIsCubicAndSurvivesReopening()
{
    auto o = open(m_servers->mp3Url());
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    // A steady level over the last 400 ms is the full one.
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(100) > 0.05 &&
                                 qAbs(m_meter->recentRms(400) / m_meter->recentRms(100) - 1) < 0.1,
                             5000);
    const double full = m_meter->recentRms(400);

    // Half on the perceptual scale is an eighth of the amplitude.
    o.player->setVolume(0.5);
    QCOMPARE(o.player->pipelineVolume(), 0.125);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(m_meter->recentRms(300) / full - 0.125) < 0.04, 3000);

    o.player->setMuted(true);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(200) < 0.002, 2000);
    o.player->setMuted(false);

    // A live stream reopens on play after pause, with the same volume.
    o.player->pause();
    o.player->play();
    QTRY_COMPARE_WITH_TIMEOUT(o.player->phase(), GstMediaPlayer::Phase::Ready, 8000);
    QCOMPARE(o.player->pipelineVolume(), 0.125);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(m_meter->recentRms(300) / full - 0.125) < 0.04, 5000);
}

void TestGstMediaPlayer::loudnessEvenedOutAcrossStations_data()
{
    // The same 440 Hz tone, mono: "loud" at -9.7 LUFS (RMS 0.354), "quiet"
    // at -29.7 LUFS (RMS 0.0354). At the target of -18 LUFS both are heard
    // at RMS 0.1365. Ticks (heard 0: not compared) are lifted, their peaks
    // kept under -1 dBFS.
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("on");
    QTest::addColumn<double>("heard");
    QTest::newRow("a loud station lowered to the target") << "/loud.mp3" << true << 0.1365;
    QTest::newRow("a quiet station lifted to the target") << "/quiet.mp3" << true << 0.1365;
    QTest::newRow("switched off: the station as it is") << "/quiet.mp3" << false << 0.0354;
    QTest::newRow("peaks lifted stay under -1 dBFS") << "/ticks.mp3" << true << 0.0;
}

void TestGstMediaPlayer::loudnessEvenedOutAcrossStations()
{
    QFETCH(QString, path);
    QFETCH(bool, on);
    QFETCH(double, heard);
    const auto db = [](double rms, double than) { return 20 * std::log10(rms / than); };
    // Over the last second, all of it this station's: timed from once what
    // played before has died away.
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(300) < 0.002, 5000);
    qint64 from = m_meter->elapsedMs();
    const auto levelled = [&](double withinDb) {
        const qint64 sounding = m_meter->firstSoundAfter(from, 0.005);
        const double rms = m_meter->recentRms(1000);
        return sounding >= 0 && m_meter->elapsedMs() > sounding + 1200 &&
               qAbs(db(rms, heard)) < withinDb;
    };
    {
        auto o = open(m_servers->httpUrl(path));
        o.player->setLevelling(on, -18);
        QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
        o.player->play();
        if (heard == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(o.player->levellingGainDb() > 1, 30000);
            from = m_meter->elapsedMs();
            QTRY_VERIFY_WITH_TIMEOUT(m_meter->elapsedMs() > from + 4000, 8000);
            const double loudest = m_meter->loudestAfter(from);
            QVERIFY2(loudest > 0.5 && loudest < 0.8913 + 3 / 32768.0,
                     qPrintable(QString::number(loudest)));
            return;
        }
        // Five seconds to learn, then 4 dB a second the first time.
        QTRY_VERIFY2_WITH_TIMEOUT(levelled(1.5),
                                  qPrintable(QString::number(m_meter->recentRms(1000))), 60000);
        if (!on) {
            // Learned all the same, and still not heard.
            QTRY_VERIFY_WITH_TIMEOUT(o.player->levellingGainDb() > 5, 30000);
            QVERIFY(levelled(1.0));
            return;
        }
    }
    // Played again, the station starts at its own gain: the first second
    // heard is within 2 dB of the target.
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->recentRms(300) < 0.002, 5000);
    from = m_meter->elapsedMs();
    auto again = open(m_servers->httpUrl(path));
    again.player->setLevelling(true, -18);
    QVERIFY(qAbs(again.player->levellingGainDb()) > 7);
    QTRY_COMPARE_WITH_TIMEOUT(again.item->status(), MediaItem::StatusReadyToPlay, 10000);
    again.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->firstSoundAfter(from, 0.005) >= 0, 10000);
    const qint64 sounding = m_meter->firstSoundAfter(from, 0.005);
    QTRY_VERIFY_WITH_TIMEOUT(m_meter->elapsedMs() > sounding + 1200, 5000);
    QVERIFY2(qAbs(db(m_meter->recentRms(800), heard)) < 2.0,
             qPrintable(QString::number(m_meter->recentRms(800))));
}

void TestGstMediaPlayer::noStatusAfterDestroy()
{
    // Destroyed while opening and destroyed once ready: the item never hears
    // from the player again.
    auto early = open(m_servers->mp3Url());
    QSignalSpy earlySpy(early.item.get(), &MediaItem::statusChanged);
    early.player.reset();

    auto late = open(m_servers->mp3Url());
    QTRY_COMPARE_WITH_TIMEOUT(late.item->status(), MediaItem::StatusReadyToPlay, 10000);
    late.player->play();
    QSignalSpy lateSpy(late.item.get(), &MediaItem::statusChanged);
    late.player.reset();

    QTest::qWait(1000); // give any stray message time to arrive
    QCOMPARE(earlySpy.count(), 0);
    QCOMPARE(lateSpy.count(), 0);
    QCOMPARE(early.item->status(), MediaItem::StatusUnknown);
}

void TestGstMediaPlayer::missingAudioDeviceStillPlaysAndSaysSo()
{
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/orbitune/native");
    {
        QMutexLocker lock(&m_logMutex);
        m_log.clear();
    }
    auto o = open(m_servers->mp3Url());
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    qputenv("PULSE_SERVER", saved);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            QMutexLocker lock(&m_logMutex);
            return !m_log.filter(QStringLiteral("No audio output device")).isEmpty();
        }(),
        5000);
    QCOMPARE(o.item->status(), MediaItem::StatusReadyToPlay);
}

// 500 station switches, then 500 moves of the play position at random:
// nothing piles up (and under the sanitizers nothing leaks or crashes), and
// the station still plays after them.
void TestGstMediaPlayer::manySwitchesAndSeeksLeakNothing()
{
    auto cycle = [this](int i) {
        auto o = open(i % 2 ? m_servers->mp3Url() : m_servers->oggUrl());
        if (i % 25 == 0) {
            // Some players get as far as playing before they go.
            QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
            o.player->play();
        } else if (i % 3 == 0) {
            QCoreApplication::processEvents(); // the playlist probe is under way
        }
        o.player.reset();
        flushDeferredDeletes();
    };
    for (int i = 0; i < 20; ++i)
        cycle(i);
    // Let thread pools settle to their idle size before counting.
    QTest::qWait(500);
    const int fdsBefore = countEntries("/proc/self/fd");
    const int threadsBefore = countEntries("/proc/self/task");
    for (int i = 0; i < 500; ++i)
        cycle(i);
    QTest::qWait(500);
    const int fdsAfter = countEntries("/proc/self/fd");
    const int threadsAfter = countEntries("/proc/self/task");
    qInfo("fds %d -> %d, threads %d -> %d", fdsBefore, fdsAfter, threadsBefore, threadsAfter);
    QVERIFY2(fdsAfter <= fdsBefore + 2,
             qPrintable(QStringLiteral("%1 -> %2").arg(fdsBefore).arg(fdsAfter)));
    QVERIFY2(threadsAfter <= threadsBefore + 3,
             qPrintable(QStringLiteral("%1 -> %2").arg(threadsBefore).arg(threadsAfter)));

    auto o = open(m_servers->mp3Url());
    QTRY_COMPARE_WITH_TIMEOUT(o.item->status(), MediaItem::StatusReadyToPlay, 10000);
    o.player->play();
    QTRY_VERIFY_WITH_TIMEOUT(o.player->keptMs() >= 3000, 10000);
    QRandomGenerator random(1);
    for (int i = 0; i < 500; ++i) {
        if (i % 50 == 49)
            o.player->goLive();
        else
            o.player->seekBy(random.bounded(-4000, 4000));
        if (i % 10 == 0)
            QTest::qWait(20); // now and then the decoder gets going
        QCoreApplication::processEvents();
    }
    QVERIFY(o.player->canSeek());
    QTRY_VERIFY2_WITH_TIMEOUT(m_meter->recentRms(200) > 0.05, // slow under the sanitizers
                              qPrintable(o.player->describeState()), 10000);
}

ORBITUNE_TEST_MAIN(TestGstMediaPlayer)
#include "tst_gstmediaplayer.moc"
