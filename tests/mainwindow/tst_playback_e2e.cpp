// The main window's controller with the real GStreamer player against real
// servers on loopback: Icecast fed by gst-launch, an HTTP server for
// playlists, HLS and broken answers, a PulseAudio null sink whose monitor we
// listen to, and a private session bus for media controls.
#include "support/AudioSession.h"
#include "support/FakeImageLoader.h"
#include "support/ProcessStats.h"
#include "support/StreamServers.h"
#include "support/TestEnv.h"

#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "integrations/MprisBridge.h"
#include "mainwindow/HomeViewController.h"
#include "platform/base/NotificationCenter.h"
#include "platform/desktop/MprisService.h"
#include "platform/media/GstMediaPlayer.h"
#include "platform/ui/PreviewView.h"
#include "scrobble/ListenBrainzClient.h"
#include "scrobble/Scrobbler.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "store/ProgramStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using State = HomeViewController::PlaybackState;

namespace {
// The private session bus lives as long as this process: a session bus
// that goes away under a connected process ends that process (as at
// logout). Its daemon dies with us (it gets SIGKILL when its parent exits).
SessionBus &sessionBus()
{
    static SessionBus *bus = new SessionBus;
    return *bus;
}

// The real reconnect schedule at a fiftieth of the time: 20, 40, 80, 160 ms,
// then every 200 ms for 12 s; a stream that never opens is given up after
// 3 s instead of 20.
GstMediaPlayer::Options quickReconnects()
{
    GstMediaPlayer::Options options;
    options.timeScale = 0.02;
    options.openTimeoutMs = 3000;
    return options;
}

// The GStreamer factory, keeping the item it was last given.
struct KeepingFactory : GstMediaPlayerFactory {
    using GstMediaPlayerFactory::GstMediaPlayerFactory;
    std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) override
    {
        lastItem = item;
        return GstMediaPlayerFactory::playerWithItem(std::move(item));
    }
    std::weak_ptr<MediaItem> lastItem;
};
} // namespace

class PlaybackEndToEndTest : public QObject {
    Q_OBJECT

    AudioSession audio;
    StreamServers servers;
    std::unique_ptr<LevelMeter> meter;
    KeepingFactory factory{quickReconnects()};
    FakeImageLoader *images = nullptr;
    HomeViewController *home = nullptr;

    QString title() const { return home->titleTextField()->text(); }
    QString buttonImage() const { return home->playBtn()->property("imageName").toString(); }
    bool turning() const
    {
        return home->previewImageView()->hasAnimation(QStringLiteral("animation"));
    }

    void choose(const QString &name, const QUrl &url)
    {
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(name, QString(), url.toString())));
        NotificationCenter::defaultCenter()->postNotificationName(QStringLiteral("LIVE_PLAY"));
    }

    bool hearSound() const { return meter->recentRms(400) > 0.01; }
    bool hearSilence() const { return meter->recentRms(400) < 0.002; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(audio.start(), qPrintable(audio.errorString()));
        QVERIFY(sessionBus().start());
        QVERIFY2(servers.start(), qPrintable(servers.errorString()));
        meter = std::make_unique<LevelMeter>(audio);
        QVERIFY(meter->start());
        MediaPlayerFactory::setShared(&factory);
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
    }

    void cleanupTestCase() { MediaPlayerFactory::setShared(nullptr); }

    void init()
    {
        ORBITUNE_SKIP_IF_RUN_ELSEWHERE();
        QFile::remove(TestEnv::instance()->dataFile());
        images = new FakeImageLoader;
        home = new HomeViewController;
        home->view()->show();
    }

    void cleanup()
    {
        delete home;
        delete images;
    }

    void playPauseAndPlayAgain()
    {
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Tone MP3"), QString(), servers.mp3Url().toString())));
        home->refeshLiveView();
        home->playClick();
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QCOMPARE(buttonImage(), QStringLiteral("pause"));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Tone MP3"), 20000);
        QVERIFY(turning());
        QTRY_VERIFY_WITH_TIMEOUT(hearSound(), 10000);

        home->playClick();
        QCOMPARE(buttonImage(), QStringLiteral("play"));
        QVERIFY(!turning());
        QTRY_VERIFY_WITH_TIMEOUT(hearSilence(), 5000);

        home->playClick();
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Playing, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(hearSound(), 10000);
    }

    void livePlaySwitchesStreamWithoutPausing()
    {
        choose(QStringLiteral("Tone MP3"), servers.mp3Url());
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Playing, 20000);
        QSignalSpy states(home, &HomeViewController::playbackStateChanged);
        choose(QStringLiteral("Tone Ogg"), servers.oggUrl());
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Tone Ogg"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(hearSound(), 10000);
        for (const QList<QVariant> &s : states)
            QVERIFY(s.at(0).value<State>() != State::Paused);
    }

    void streamsThatCannotOpenFailWithoutRetrying_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("refused") << QString();
        QTest::newRow("404") << QStringLiteral("/404");
        QTest::newRow("html page") << QStringLiteral("/html");
        QTest::newRow("redirect loop") << QStringLiteral("/loop/a");
    }

    void streamsThatCannotOpenFailWithoutRetrying()
    {
        QFETCH(QString, path);
        const QUrl url = path.isEmpty() ? servers.refusedUrl() : servers.httpUrl(path);
        choose(QStringLiteral("Broken"), url);
        std::shared_ptr<MediaItem> item = factory.lastItem.lock();
        QVERIFY(item);
        QSignalSpy reconnects(item.get(), &MediaItem::reconnectingChanged);
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Error, switch next one."), 25000);
        QCOMPARE(buttonImage(), QStringLiteral("play"));
        QVERIFY(!turning());
        QCOMPARE(reconnects.count(), 0);
    }

    // Servers that misbehave after a good start: each ends, within its
    // timeouts, in the failed state or playing, and the window shows which;
    // none hangs the window or grows memory without bound.
    void hostileStreamsEndInAState_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("expected"); // a State, or -1 where either is right
        // Random bytes served as MP3: libmpg123 decodes the odd run that looks
        // like frames, so either end is right as long as the window agrees.
        QTest::newRow("garbage audio") << QStringLiteral("/garbage.mp3") << -1;
        QTest::newRow("endless metadata") << QStringLiteral("/icyflood.mp3") << -1;
        QTest::newRow("closes mid-frame") << QStringLiteral("/cut.mp3") << -1;
        QTest::newRow("stalls after headers") << QStringLiteral("/stall") << int(State::Failed);
        QTest::newRow("playlist of itself") << QStringLiteral("/self.m3u") << int(State::Failed);
        // Its first entry is the live stream.
        QTest::newRow("huge playlist") << QStringLiteral("/huge.m3u") << int(State::Playing);
    }

    void hostileStreamsEndInAState()
    {
        QFETCH(QString, path);
        QFETCH(int, expected);
        using processstats::residentMb;
        const double before = residentMb();
        choose(QStringLiteral("Hostile"), servers.httpUrl(path));
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QTRY_VERIFY_WITH_TIMEOUT(home->playbackState() == State::Failed ||
                                     home->playbackState() == State::Playing,
                                 40000);
        const State settled = home->playbackState();
        qInfo("%s: %s, RSS %+.1f MB", qPrintable(path),
              settled == State::Failed ? "failed" : "playing", residentMb() - before);
        if (expected >= 0)
            QCOMPARE(settled, State(expected));
        if (settled == State::Failed) {
            QCOMPARE(title(), QStringLiteral("Error, switch next one."));
            QCOMPARE(buttonImage(), QStringLiteral("play"));
            QVERIFY(!turning());
            // A failure is final: nothing starts again by itself.
            QSignalSpy changes(home, &HomeViewController::playbackStateChanged);
            QVERIFY(!changes.wait(2000));
        } else {
            QCOMPARE(title(), QStringLiteral("Hostile"));
            QCOMPARE(buttonImage(), QStringLiteral("pause"));
            QVERIFY(turning());
            // Whatever the server does next, the user can still stop it.
            home->playClick();
            QCOMPARE(home->playbackState(), State::Paused);
            QVERIFY(!turning());
            QTRY_VERIFY_WITH_TIMEOUT(hearSilence(), 3000);
        }
#if !defined(ORBITUNE_ASAN)
        QVERIFY(residentMb() - before < 60);
#endif
    }

    void droppedStreamReconnectsThenFails()
    {
        QVERIFY(servers.startSource(QStringLiteral("/drop.mp3")));
        choose(QStringLiteral("Dropping"), servers.icecastUrl(QStringLiteral("/drop.mp3")));
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Playing, 20000);
        QSignalSpy states(home, &HomeViewController::playbackStateChanged);
        servers.stopSource(QStringLiteral("/drop.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Loading..."), 15000);
        QCOMPARE(buttonImage(), QStringLiteral("pause"));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Error, switch next one."), 45000);
        // Straight from loading to failed: never "Playing" in between.
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.first().at(0).value<State>(), State::Loading);
        QCOMPARE(states.last().at(0).value<State>(), State::Failed);
    }

    void outageIsRiddenOutWithoutTheUser()
    {
        const QString mount = QStringLiteral("/outage.mp3");
        QVERIFY(servers.startSource(mount));
        choose(QStringLiteral("Outage"), servers.icecastUrl(mount));
        QTRY_VERIFY_WITH_TIMEOUT(home->playbackState() == State::Playing && hearSound(), 20000);
        QSignalSpy states(home, &HomeViewController::playbackStateChanged);
        servers.stopSource(mount);
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Loading..."), 15000);
        QVERIFY(!turning());
        // Over a minute's outage at this time scale, then the station returns.
        QElapsedTimer outage;
        outage.start();
        QTRY_VERIFY_WITH_TIMEOUT(outage.elapsed() > 1500 && hearSilence(), 5000);
        QVERIFY(servers.startSource(mount));
        QElapsedTimer back;
        back.start();
        QTRY_VERIFY_WITH_TIMEOUT(home->playbackState() == State::Playing && hearSound(), 10000);
        QVERIFY2(back.elapsed() < 5000, qPrintable(QString::number(back.elapsed())));
        QVERIFY(turning());
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.at(0).at(0).value<State>(), State::Loading);
        QCOMPARE(states.at(1).at(0).value<State>(), State::Playing);
        servers.stopSource(mount);
    }

    void playlistAndHlsPlay_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("pls") << QStringLiteral("/list.pls?station=1");
        QTest::newRow("m3u") << QStringLiteral("/list.m3u");
        QTest::newRow("xspf") << QStringLiteral("/list.xspf");
        QTest::newRow("hls") << QStringLiteral("/hls/live.m3u8");
    }

    void playlistAndHlsPlay()
    {
        QFETCH(QString, path);
        choose(QStringLiteral("Listed"), servers.httpUrl(path));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Listed"), 25000);
        QCOMPARE(home->playbackState(), State::Playing);
        QTRY_VERIFY_WITH_TIMEOUT(hearSound(), 10000);
    }

    // The "steps" tone's second that is heard now, from its pitch.
    int heardSecond() const
    {
        return qRound((meter->recentPitchHz(300) - 300) / 10.0);
    }
    // The same, once two readings a moment apart agree: a reading across a
    // glitch in the sound can be off by seconds.
    int steadySecond() const
    {
        int was = heardSecond();
        for (int i = 0; i < 20; ++i) {
            QTest::qWait(250);
            const int now = heardSecond();
            if (secondsApart(was, now) <= 1)
                return now;
            was = now;
        }
        return was;
    }
    static int secondsApart(int a, int b)
    {
        const int d = qAbs(a - b) % StreamServers::kStepCycleS;
        return qMin(d, StreamServers::kStepCycleS - d);
    }

    // Each key moves where the listener is in the station's time, heard from
    // a tone whose pitch tells the second; the label says how far behind.
    void timeShiftKeysMoveWhereTheAudioIs_data()
    {
        QTest::addColumn<QString>("mount");
        QTest::addColumn<bool>("reconnect"); // the source starts over before the keys
        QTest::newRow("Icecast") << QStringLiteral("/steps.mp3") << false;
        QTest::newRow("HLS, segments of a second") << QStringLiteral("/steps.m3u8") << false;
        QTest::newRow("HLS fMP4, a fragment a segment")
            << QStringLiteral("/steps-fmp4.m3u8") << false;
        // Sound comes back in the new Ogg chain; back 10 s goes into the one before.
        QTest::newRow("Ogg Vorbis, across a reconnect") << QStringLiteral("/steps.ogg") << true;
    }

    void timeShiftKeysMoveWhereTheAudioIs()
    {
        QFETCH(QString, mount);
        QFETCH(bool, reconnect);
        MprisService service;
        QVERIFY(service.start());
        ProgramStore store;
        MprisBridge bridge(home->session(), &store, &service);
        QVERIFY2(servers.startSource(mount), qPrintable(servers.errorString()));
        choose(QStringLiteral("Steps"), mount.endsWith(QLatin1String(".m3u8"))
                                            ? servers.httpUrl(QStringLiteral("/hls") + mount)
                                            : servers.icecastUrl(mount));
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Playing, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(hearSound(), 10000);
        // Titles as heard: the playout changes them through Icecast's admin
        // interface; going back over a change shows the one before again.
        const bool titled = mount.endsWith(QLatin1String(".mp3"));
        const QString earlier = QStringLiteral("Steps - Earlier");
        const QString later = QStringLiteral("Steps - Later");
        const auto setTitle = [&](const QString &title) {
            QVERIFY(servers.setMountTitle(mount, title));
            // Shown once heard: after the live lag, seconds under load.
            QTRY_COMPARE_WITH_TIMEOUT(home->nowPlayingLabel()->text(), title, 30000);
        };
        if (titled)
            setTitle(earlier);
        QWidget *window = home->view();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto *label = window->findChild<QLabel *>(QStringLiteral("timeShiftLabel"));
        QVERIFY(label);
        QTest::qWait(14000); // keep some
        // Where the earlier connection's audio ends: live is heard about a
        // second behind the newest byte.
        int earlierEnd = -1;
        if (reconnect) {
            earlierEnd = heardSecond() + 1;
            servers.stopSource(mount);
            QVERIFY(servers.startSource(mount)); // the tone starts over
            QTRY_VERIFY_WITH_TIMEOUT(hearSound() && heardSecond() >= 0 && heardSecond() < 3, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(heardSecond() >= 4, 8000);
        }
        QCOMPARE(label->text(), QStringLiteral("Live"));
        // How far live listening is behind the source here (its encoder,
        // Icecast, the decoder and the sound server; more under the
        // sanitizers): back to live must land there again.
        const int liveLag =
            (servers.stepsSecondNow() - steadySecond() + StreamServers::kStepCycleS) %
            StreamServers::kStepCycleS;
        // Seconds, not the whole cycle: playback did reach live.
        QVERIFY2(liveLag <= 15, qPrintable(QString::number(liveLag)));

        struct Row {
            const char *name;
            QKeySequence key;
            int shiftS;    // where playback goes, from where it was
            QString label; // after the key ("" : not checked)
            bool toLive = false;
            bool toOldest = false;
            QStringList playerctl = {}; // through MPRIS instead of the key
            int pausedMs = 0;           // the key pressed again after this long
            QString title = {};         // the title shown after the key ("" : not checked)
        };
        const Row rows[] = {
            {.name = "back 10 s, over a title change",
             .key = QKeySequence(Qt::Key_Left),
             .shiftS = -10,
             .label = QStringLiteral("\u22120:10"),
             .title = earlier},
            {.name = "forward 10 s from 10 s behind is live",
             .key = QKeySequence(Qt::Key_Right),
             .label = QStringLiteral("Live"),
             .toLive = true,
             .title = later},
            {"back 60 s reaches only the oldest",
             QKeySequence(Qt::SHIFT | Qt::Key_Left),
             0,
             {},
             false,
             true},
            {"forward 10 s", QKeySequence(Qt::Key_Right), 10, {}},
            {"End is live", QKeySequence(Qt::Key_End), 0, QStringLiteral("Live"), true},
            {"MPRIS back 10 s",
             {},
             -10,
             QStringLiteral("\u22120:10"),
             false,
             false,
             {QStringLiteral("position"), QStringLiteral("10-")}},
            {.name = "a held pause goes on where it stopped",
             .key = QKeySequence(Qt::Key_Space),
             .pausedMs = 3000},
        };
        home->session()->setPauseHoldsStation(true);
        if (titled)
            setTitle(later);
        QElapsedTimer since;
        for (const Row &row : rows) {
            const int was = heardSecond();
            // The oldest byte kept is where the session's position began: as
            // far back as it says has been heard.
            int expected =
                row.toOldest ? was - int(home->session()->positionMs() / 1000) : was + row.shiftS;
            if (expected < 0 && earlierEnd >= 0)
                expected += earlierEnd; // before the reconnect

            if (row.pausedMs > 0) {
                QTest::keySequence(window, row.key);
                QTRY_VERIFY_WITH_TIMEOUT(hearSilence(), 3000);
                QTest::qWait(row.pausedMs);
                QTest::keySequence(window, row.key);
            } else if (row.playerctl.isEmpty()) {
                QTest::keySequence(window, row.key);
            } else {
                QVERIFY(service.canSeek());
                QProcess client; // answered by this event loop: not waited for blocking
                client.start(QStringLiteral("playerctl"),
                             QStringList{QStringLiteral("--player=") +
                                         service.serviceName().section(QLatin1Char('.'), 3)} +
                                 row.playerctl);
                QTRY_COMPARE_WITH_TIMEOUT(client.state(), QProcess::NotRunning, 5000);
                QCOMPARE(client.exitCode(), 0);
            }
            since.start();
            const auto where = [&] {
                if (row.toLive)
                    return servers.stepsSecondNow() - liveLag;
                return expected + int(since.elapsed() / 1000);
            };
            // Within 2 s of where it should be: the pitch window and the
            // source's pacing each blur it by up to a second.
            QTRY_VERIFY2_WITH_TIMEOUT(secondsApart(heardSecond(), where()) <= 2,
                                      qPrintable(QStringLiteral("%1: heard %2, expected %3")
                                                     .arg(QLatin1String(row.name))
                                                     .arg(heardSecond())
                                                     .arg(where())),
                                      3000);
            if (!row.label.isEmpty())
                QTRY_COMPARE_WITH_TIMEOUT(label->text(), row.label, 2000);
            if (titled && !row.title.isEmpty())
                QTRY_COMPARE_WITH_TIMEOUT(home->nowPlayingLabel()->text(), row.title, 2000);
            QTest::qWait(1500); // a steady pitch before the next key
        }
        QVERIFY(hearSound());
        // The pause added to the 10 s the last seek left it behind.
        QVERIFY2(home->session()->behindLiveMs() >= 12500,
                 qPrintable(QString::number(home->session()->behindLiveMs())));
        home->session()->setPauseHoldsStation(false);
    }

    void streamTitleShowsUnderTheName()
    {
        choose(QStringLiteral("Talking"), servers.httpUrl(QStringLiteral("/icy.mp3")));
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Playing, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(home->nowPlayingLabel()->text(), StreamServers::icyTitle(),
                                  15000);
        QCOMPARE(title(), QStringLiteral("Talking"));
        home->playClick();
        QVERIFY(home->nowPlayingLabel()->text().isEmpty());
    }

    // The title a station sends reaches the song history as it was meant:
    // changed by the playout through Icecast's admin interface, or sent in
    // Windows-1251 without saying so; and, heard for over 30 s from its
    // start, a ListenBrainz server as a listen of the time it began.
    void stationTitlesReachTheHistory_data()
    {
        QTest::addColumn<QString>("source");     // Icecast mount, or a path of the HTTP server
        QTest::addColumn<QStringList>("titles"); // set through the admin interface
        QTest::addColumn<QStringList>("kept");   // newest first
        QTest::addColumn<bool>("scrobbled");     // the newest, once heard for 35 s
        QTest::newRow("Icecast's admin sets the titles")
            << QStringLiteral("/live.mp3")
            << QStringList{QStringLiteral("Fixture Band - First Light"),
                           QStringLiteral("Café Tacuba - Déjate caer")}
            << QStringList{QStringLiteral("Café Tacuba - Déjate caer"),
                           QStringLiteral("Fixture Band - First Light")}
            << true;
        QTest::newRow("Windows-1251, not announced")
            << QStringLiteral("http:/icy-1251.mp3") << QStringList{}
            << QStringList{QStringLiteral("Кино - Группа крови")} << false;
    }

    void stationTitlesReachTheHistory()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, kept);
        QFETCH(bool, scrobbled);
        QTemporaryDir dir;
        HistoryStore history(dir.filePath(QStringLiteral("history.sqlite")));
        HistoryRecorder recorder(home->session(), &history);
        Scrobbler scrobbler(home->session(), &recorder, &history);
        if (scrobbled) {
            const QUrl stand = servers.startScrobbleServer(QStringLiteral("token"));
            QVERIFY2(stand.isValid(), qPrintable(servers.errorString()));
            scrobbler.connectService(new ListenBrainzClient(stand, QStringLiteral("token")));
        }
        const bool icecast = !source.startsWith(QLatin1String("http:"));
        choose(QStringLiteral("Station"),
               icecast ? servers.icecastUrl(source) : servers.httpUrl(source.mid(5)));
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Playing, 20000);
        for (const QString &title : titles) {
            QVERIFY(servers.setMountTitle(source, title));
            // Shown once heard: after the live lag, seconds under load.
            QTRY_COMPARE_WITH_TIMEOUT(home->nowPlayingLabel()->text(), title, 30000);
        }
        const auto heard = [&history] {
            QStringList out;
            for (const HistoryStore::Song &s : history.songs())
                out << s.title;
            return out;
        };
        // The fixture's own title may come first.
        QTRY_COMPARE_WITH_TIMEOUT(heard().mid(0, kept.size()), kept, 15000);
        const HistoryStore::Song newest = history.songs().first();
        QCOMPARE(newest.program, QStringLiteral("Station"));
        QCOMPARE(newest.artist + QStringLiteral(" - ") + newest.song, kept.first());
        if (scrobbled) {
            QTest::qWait(35000); // the song heard from its start, for over 30 s
            const QString next = QStringLiteral("Fixture Band - Last Light");
            QVERIFY(servers.setMountTitle(source, next));
            QTRY_COMPARE_WITH_TIMEOUT(home->nowPlayingLabel()->text(), next, 30000);
            QJsonArray listens;
            QTRY_VERIFY_WITH_TIMEOUT(
                !(listens = QJsonDocument::fromJson(servers.scrobbleServer(
                      QStringLiteral("/__received")))[QStringLiteral("listens")]
                                .toArray())
                     .isEmpty(),
                15000);
            QCOMPARE(listens.size(), 1);
            const QJsonObject meta = listens[0][QStringLiteral("track_metadata")].toObject();
            QCOMPARE(meta[QStringLiteral("artist_name")].toString(), newest.artist);
            QCOMPARE(meta[QStringLiteral("track_name")].toString(), newest.song);
            QVERIFY(qAbs(listens[0][QStringLiteral("listened_at")].toInteger() -
                         newest.started.toSecsSinceEpoch()) <= 1);
        }
        home->playClick();
        QVERIFY(history.songs().first().ended.isValid());
    }

    void mediaControlsToggleThroughTheSessionBus()
    {
        MprisService service;
        QVERIFY(service.start());
        ProgramStore store;
        MprisBridge bridge(home->session(), &store, &service);
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Tone MP3"), QString(), servers.mp3Url().toString())));

        auto playPause = [&service] {
            QProcess client;
            client.start(QStringLiteral("dbus-send"),
                         {QStringLiteral("--session"), QStringLiteral("--type=method_call"),
                          QStringLiteral("--dest=") + service.serviceName(),
                          QStringLiteral("/org/mpris/MediaPlayer2"),
                          QStringLiteral("org.mpris.MediaPlayer2.Player.PlayPause")});
            // dbus-send waits for nothing with --type=method_call and no reply.
            return client.waitForFinished(5000) && client.exitCode() == 0;
        };
        QVERIFY(playPause());
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Playing, 20000);
        QCOMPARE(service.playbackStatus(), MprisService::PlaybackStatus::Playing);
        // The program is the album; the title may be the station's song
        // already (the first title is known from the bytes kept at once).
        QCOMPARE(service.metadata().value(QStringLiteral("xesam:album")).toString(),
                 QStringLiteral("Tone MP3"));
        QVERIFY(playPause());
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), State::Paused, 5000);
        QCOMPARE(service.playbackStatus(), MprisService::PlaybackStatus::Paused);
    }
};

ORBITUNE_TEST_MAIN(PlaybackEndToEndTest)
#include "tst_playback_e2e.moc"
