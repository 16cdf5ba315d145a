// The playback session without any window, on a QCoreApplication, against a
// fake player: the state table, late and stale reports, reconnects, volume,
// the sleep timer's fade and "play this program".
#include "support/FakeMedia.h"
#include "support/LogRecorder.h"
#include "support/TestClock.h"
#include "support/TestEnv.h"

#include "platform/base/Clock.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/Settings.h"
#include "session/PlayProgram.h"
#include "session/PlaybackSession.h"
#include "session/SleepTimer.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

using State = PlaybackSession::State;
Q_DECLARE_METATYPE(QList<State>)

class SessionTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeMediaFactory> media;
    std::unique_ptr<PlaybackSession> session;
    std::unique_ptr<LogRecorder> log;

    MediaItem *item() const
    {
        MediaItem *item = media->lastItem().get();
        if (!item)
            qFatal("no item: the session released it");
        return item;
    }

    static QList<State> sequence(const QSignalSpy &spy)
    {
        QList<State> states;
        for (const QList<QVariant> &s : spy)
            states << s.at(0).value<State>();
        return states;
    }

    // One step of a scripted listening session.
    void act(const QString &step)
    {
        if (step == QLatin1String("toggle"))
            session->toggle();
        else if (step == QLatin1String("live"))
            session->playCurrent();
        else if (step == QLatin1String("pause"))
            session->pause();
        else if (step == QLatin1String("ready"))
            item()->setStatus(MediaItem::StatusReadyToPlay);
        else if (step == QLatin1String("failed"))
            item()->setStatus(MediaItem::StatusFailed);
        else if (step == QLatin1String("unknown"))
            item()->setStatus(MediaItem::StatusUnknown);
        else if (step == QLatin1String("drop"))
            item()->setReconnecting(true);
        else if (step == QLatin1String("back"))
            item()->setReconnecting(false);
        else if (step == QLatin1String("ended"))
            item()->markEnded();
        else if (step == QLatin1String("hold"))
            session->setPauseHoldsStation(true);
        else
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(TestEnv::instance()->dataFile());
        settings::open()->clear();
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY(CacheManager::shareIntance()->seedDefaultDataIfEmpty());
        media = std::make_unique<FakeMediaFactory>();
        log = std::make_unique<LogRecorder>();
        session = std::make_unique<PlaybackSession>();
    }

    void cleanup()
    {
        session.reset();
        log.reset();
        media.reset();
        Clock::shared()->setTimeScale(1.0);
    }

    void stateTable_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<State>>("states");
        QTest::addColumn<int>("players");
        QTest::addColumn<int>("plays");
        using L = QList<State>;
        const State Lo = State::Loading, Pl = State::Playing, Pa = State::Paused,
                    Fa = State::Failed;
        QTest::newRow("play, ready, pause, play anew")
            << "toggle ready toggle toggle" << L{Lo, Pl, Pa, Lo} << 2 << 1;
        QTest::newRow("failure, then retry") << "toggle failed toggle" << L{Lo, Fa, Lo} << 2 << 0;
        QTest::newRow("unknown status fails") << "toggle ready unknown" << L{Lo, Pl, Fa} << 1 << 1;
        QTest::newRow("chosen program from idle and failed")
            << "live failed live" << L{Lo, Fa, Lo} << 2 << 0;
        QTest::newRow("chosen program while playing: never paused")
            << "toggle ready live ready" << L{Lo, Pl, Lo, Pl} << 2 << 2;
        QTest::newRow("ready after pause while loading: silent")
            << "toggle toggle ready" << L{Lo, Pa} << 1 << 0;
        QTest::newRow("failure after pause while loading: still paused")
            << "toggle toggle failed" << L{Lo, Pa} << 1 << 0;
        QTest::newRow("pause when paused changes nothing")
            << "pause toggle pause pause" << L{Lo, Pa} << 1 << 0;
        QTest::newRow("drop and return")
            << "toggle ready drop back drop back" << L{Lo, Pl, Lo, Pl, Lo, Pl} << 1 << 1;
        QTest::newRow("last reconnect fails")
            << "toggle ready drop failed back" << L{Lo, Pl, Lo, Fa} << 1 << 1;
        QTest::newRow("pause during reconnect, stream returns anyway")
            << "toggle ready drop toggle drop back" << L{Lo, Pl, Lo, Pa} << 1 << 1;
        QTest::newRow("pause holds the station: play goes on in the same player")
            << "hold toggle ready toggle toggle" << L{Lo, Pl, Pa, Pl} << 1 << 2;
        QTest::newRow("held through a reconnect: play waits for it in the same player")
            << "hold toggle ready drop toggle toggle back" << L{Lo, Pl, Lo, Pa, Lo, Pl} << 1 << 2;
        QTest::newRow("a file that ends is paused")
            << "toggle ready ended toggle" << L{Lo, Pl, Pa, Lo} << 2 << 1;
    }

    void stateTable()
    {
        QFETCH(QString, script);
        QFETCH(QList<State>, states);
        QFETCH(int, players);
        QFETCH(int, plays);
        QSignalSpy spy(session.get(), &PlaybackSession::stateChanged);
        for (const QString &step : script.split(QLatin1Char(' ')))
            act(step);
        QCOMPARE(sequence(spy), states);
        QCOMPARE(media->created(), players);
        QCOMPARE(media->plays, plays);
        QCOMPARE(session->isPlaying(),
                 states.last() == State::Loading || states.last() == State::Playing);
    }

    void behindLiveText_data()
    {
        QTest::addColumn<qint64>("behindMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("at live") << 0LL << "Live";
        QTest::newRow("under half a second is live") << 499LL << "Live";
        QTest::newRow("seconds with their leading zero") << 5000LL << "\u22120:05";
        QTest::newRow("a minute and five") << 65000LL << "\u22121:05";
        QTest::newRow("rounded up into the next minute") << 59500LL << "\u22121:00";
        QTest::newRow("ten minutes") << 600000LL << "\u221210:00";
    }

    void behindLiveText()
    {
        QFETCH(qint64, behindMs);
        QFETCH(QString, text);
        QCOMPARE(PlaybackSession::behindLiveText(behindMs), text);
    }

    void abandonedAttemptIsLetGo()
    {
        // Paused while opening: a live stream that opens later is released,
        // not kept connected without playing.
        session->toggle();
        QPointer<FakeMediaPlayer> player = media->last();
        session->toggle();
        QVERIFY(player);
        item()->setStatus(MediaItem::StatusReadyToPlay);
        QTRY_VERIFY(player.isNull());
        QVERIFY(!media->last());
        QVERIFY(log->contains(QStringLiteral("ready report ignored")));
        // A later play opens the program afresh.
        session->toggle();
        QCOMPARE(media->created(), 2);
        QCOMPARE(session->state(), State::Loading);
    }

    void logLinesAndTheirOrder()
    {
        session->toggle();
        item()->setStatus(MediaItem::StatusFailed);
        QCOMPARE(
            log->lines.mid(log->lines.indexOf(QStringLiteral("播放失败")), 2),
            (QStringList{QStringLiteral("播放失败"), QStringLiteral("AVPlayerItemStatusFailed")}));
        session->toggle();
        item()->setStatus(MediaItem::StatusReadyToPlay);
        item()->setStatus(MediaItem::StatusUnknown);
        const int unknownAt = log->lines.indexOf(QStringLiteral("AVPlayerItemStatusUnknown"));
        QVERIFY(unknownAt >= 0);
        QCOMPARE(log->lines.value(unknownAt + 1), QStringLiteral("播放失败"));
    }

    void badProgramsFailAndEndTheOldStream_data()
    {
        QTest::addColumn<QVariant>("live");
        QTest::newRow("no current program") << QVariant(QVariantMap());
        QTest::newRow("spaces") << QVariant(QStringLiteral("   "));
        QTest::newRow("relative") << QVariant(QStringLiteral("just some words"));
        QTest::newRow("broken") << QVariant(QStringLiteral("http://[::1"));
    }

    void badProgramsFailAndEndTheOldStream()
    {
        QFETCH(QVariant, live);
        session->toggle();
        item()->setStatus(MediaItem::StatusReadyToPlay);
        const QVariantMap program =
            live.typeId() == QMetaType::QString
                ? program::make(QStringLiteral("Bad"), QString(), live.toString())
                : live.toMap();
        QVERIFY(CacheManager::shareIntance()->saveLiveData(program));
        session->playCurrent();
        QCOMPARE(session->state(), State::Failed);
        QVERIFY(media->players.first().isNull());
        QVERIFY(!media->last());
    }

    void staleReportsOfAReplacedItemAreIgnored()
    {
        session->toggle();
        std::shared_ptr<MediaItem> old = media->lastItem();
        session->playCurrent();
        QVERIFY(old); // still held here, so it can still report
        old->setStatus(MediaItem::StatusFailed);
        old->setNowPlaying(QStringLiteral("Old"));
        QCOMPARE(session->state(), State::Loading);
        QVERIFY(session->nowPlaying().isEmpty());
    }

    void programAndTitleAreProperties()
    {
        QSignalSpy programs(session.get(), &PlaybackSession::currentProgramChanged);
        QSignalSpy titles(session.get(), &PlaybackSession::nowPlayingChanged);
        session->refreshProgram();
        QCOMPARE(program::name(session->currentProgram()), QStringLiteral("First"));
        session->refreshProgram();
        QCOMPARE(programs.size(), 1); // only on a real change

        session->toggle();
        item()->setNowPlaying(QStringLiteral("Early"));
        QVERIFY(session->nowPlaying().isEmpty()); // not while loading
        item()->setStatus(MediaItem::StatusReadyToPlay);
        QCOMPARE(session->nowPlaying(), QStringLiteral("Early"));
        item()->setNowPlaying(QStringLiteral("Artist - Song"));
        item()->setNowPlaying(QStringLiteral("Artist - Song"));
        session->toggle(); // pausing clears it
        QCOMPARE(session->nowPlaying(), QString());
        QCOMPARE(titles.size(), 3);

        QVERIFY(session::playProgram(program::make(QStringLiteral("Other"), QString(),
                                                   QStringLiteral("http://127.0.0.1:1/other"))));
        session->playCurrent();
        QCOMPARE(program::name(session->currentProgram()), QStringLiteral("Other"));
        QCOMPARE(programs.size(), 2);
    }

    void streamInfoWhilePlaying_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<QString>("expected");
        QTest::newRow("MP3") << "MPEG-1 Layer 3 (MP3)" << 128000 << 44100
                             << "MP3 · 128 kbit/s · 44.1 kHz";
        QTest::newRow("AAC, odd bitrate")
            << "MPEG-4 AAC" << 95999 << 48000 << "AAC · 96 kbit/s · 48 kHz";
        QTest::newRow("FLAC without bitrate")
            << "Free Lossless Audio Codec (FLAC)" << 0 << 22050 << "FLAC · 22.05 kHz";
        QTest::newRow("Vorbis, rate unknown") << "Vorbis" << 160000 << 0 << "Vorbis · 160 kbit/s";
        QTest::newRow("only the rate") << "" << 0 << 32000 << "32 kHz";
        QTest::newRow("nothing known") << "" << 0 << 0 << "";
    }

    // Told while loading, shown once playing, gone when paused, and
    // announced only when it changes.
    void streamInfoWhilePlaying()
    {
        QFETCH(QString, codec);
        QFETCH(int, bitrate);
        QFETCH(int, sampleRate);
        QFETCH(QString, expected);
        QSignalSpy changes(session.get(), &PlaybackSession::streamInfoChanged);
        session->toggle();
        item()->setFormat({codec, bitrate, sampleRate});
        QCOMPARE(session->streamInfo(), QString()); // not while loading
        item()->setStatus(MediaItem::StatusReadyToPlay);
        QCOMPARE(session->streamInfo(), expected);
        item()->setFormat({codec, bitrate, sampleRate});
        const int shown = expected.isEmpty() ? 0 : 1;
        QCOMPARE(changes.size(), shown);
        // The stream tells more later: the text follows.
        item()->setFormat({QStringLiteral("Opus"), bitrate, sampleRate});
        QVERIFY(session->streamInfo().startsWith(QStringLiteral("Opus")));
        session->toggle();
        QCOMPARE(session->streamInfo(), QString());
        QCOMPARE(changes.last().at(0).toString(), QString());
    }

    void playThisProgramStoresThenAnnounces()
    {
        int posted = 0;
        QVariantMap seenAtPost;
        NotificationCenter::defaultCenter()->addObserver(this, QStringLiteral("LIVE_PLAY"), [&] {
            ++posted;
            seenAtPost = CacheManager::shareIntance()->getLiveData();
        });
        const QVariantMap other = program::make(QStringLiteral("Other"), QString(),
                                                QStringLiteral("http://127.0.0.1:1/other"));
        QVERIFY(session::playProgram(other));
        QCOMPARE(posted, 1);
        QCOMPARE(program::name(seenAtPost), QStringLiteral("Other"));

        int failed = 0;
        NotificationCenter::defaultCenter()->addObserver(this, QStringLiteral("LIVE_PLAY_FAILED"),
                                                         [&] { ++failed; });
        session::playNonProgram();
        QCOMPARE(failed, 1);
        QCOMPARE(program::name(CacheManager::shareIntance()->getLiveData()),
                 QStringLiteral("Other"));
        NotificationCenter::defaultCenter()->removeObserver(this);
    }

    void wakeAndNetworkReachThePlayerOnlyWhileListening()
    {
        using Reason = MediaPlayer::ReconnectReason;
        session->toggle();
        session->reconnectNow(
            PlaybackSession::Reconnect::NetworkBack); // loading counts as listening
        item()->setStatus(MediaItem::StatusReadyToPlay);
        session->reconnectNow(PlaybackSession::Reconnect::Resumed);
        QCOMPARE(media->last()->reconnects, (QList<Reason>{Reason::NetworkBack, Reason::Resumed}));
        session->toggle();
        session->reconnectNow(PlaybackSession::Reconnect::Resumed);
        QCOMPARE(media->last()->reconnects.size(), 2);
    }

    void volumeAndLevellingReachEveryPlayerAndAreRemembered()
    {
        Volume *volume = session->volume();
        volume->setLevel(0.4);
        volume->setMuted(true);
        session->toggle();
        QCOMPARE(media->last()->volume(), 0.4);
        QVERIFY(media->last()->isMuted());
        volume->setMuted(false);
        volume->step(1);
        QCOMPARE(media->last()->volume(), 0.45);
        QVERIFY(!media->last()->isMuted());
        session->playCurrent();
        QCOMPARE(media->last()->volume(), 0.45);
        // Out of range and NaN; and the next start reads what was set.
        volume->setLevel(7);
        volume->setLevel(std::nan(""));
        QCOMPARE(volume->level(), 1.0);
        volume->setLevel(0.3);
        QCOMPARE(Volume().level(), 0.3);

        // Levelling: on at -18 LUFS unless set otherwise, off reaching the
        // player under way and every later one, remembered; a target out of
        // reach of the gain is not taken.
        QVERIFY(media->last()->levelling);
        QCOMPARE(media->last()->targetLufs, -18.0);
        session->setEvenLoudness(false);
        QVERIFY(!media->last()->levelling);
        settings::open()->setValue(QStringLiteral("playback/loudnessTargetLufs"), -23);
        session = std::make_unique<PlaybackSession>();
        session->toggle();
        QVERIFY(!media->last()->levelling);
        QCOMPARE(media->last()->targetLufs, -23.0);
        settings::open()->setValue(QStringLiteral("playback/loudnessTargetLufs"), 40);
        session = std::make_unique<PlaybackSession>();
        session->setEvenLoudness(true);
        session->toggle();
        QVERIFY(media->last()->levelling);
        QCOMPARE(media->last()->targetLufs, -18.0);
    }

    void sleepTimer_data()
    {
        QTest::addColumn<QString>("during");
        QTest::newRow("runs out: fades, pauses, volume back") << QString();
        QTest::newRow("Off during the fade: volume back, plays on") << QStringLiteral("off");
        QTest::newRow("play during the fade: timer off, volume back") << QStringLiteral("live");
    }

    void sleepTimer()
    {
        QFETCH(QString, during);
        // Time moves only when the test moves it; ticks come every 50 ms.
        TestClock clock(QDateTime::currentDateTimeUtc());
        clock.setTimeScale(0.05);
        auto fade = [](const QSignalSpy &spy) { return spy.last().at(0).toDouble(); };
        SleepTimer *sleep = session->sleepTimer();
        session->volume()->setLevel(0.6);
        session->toggle();
        item()->setStatus(MediaItem::StatusReadyToPlay);
        FakeMediaPlayer *player = media->last();
        QSignalSpy states(session.get(), &PlaybackSession::stateChanged);
        QSignalSpy stopped(sleep, &SleepTimer::stopped);
        QSignalSpy fades(sleep, &SleepTimer::fadeChanged);
        player->volumes.clear();
        sleep->start(1);
        QVERIFY(sleep->isRunning());
        clock.advance(59000);
        QVERIFY(!sleep->isFading());
        QCOMPARE(sleep->minutesLeft(), 1);
        clock.advance(3000); // two seconds into the fade
        QVERIFY(fades.wait(5000));
        QVERIFY2(qAbs(fade(fades) - 0.8) < 0.01, qPrintable(QString::number(fade(fades))));
        QVERIFY(sleep->isFading());
        QVERIFY(player->volumes.last() < 0.6);
        if (during.isEmpty()) {
            clock.advance(4000);
            QTRY_VERIFY_WITH_TIMEOUT(qAbs(fade(fades) - 0.4) < 0.01, 5000);
            clock.advance(5000); // past the end
            QVERIFY(stopped.wait(5000));
            QCOMPARE(sequence(states), QList<State>{State::Paused});
            const QList<double> v = player->volumes;
            QVERIFY2(v.size() >= 3, qPrintable(QString::number(v.size())));
            QCOMPARE(v.at(v.size() - 2), 0.0);
            for (int i = 1; i < v.size() - 1; ++i)
                QVERIFY(v.at(i) <= v.at(i - 1));
            QCOMPARE(v.last(), 0.6);
            QCOMPARE(player->volumesBeforePause, v.size() - 1); // paused, then volume back
            return;
        }
        if (during == QLatin1String("off")) {
            sleep->cancel();
            QCOMPARE(player->volume(), 0.6);
            QCOMPARE(states.size(), 0);
        } else {
            session->playCurrent();
            QVERIFY(!sleep->isRunning());
            player = media->last();
            QCOMPARE(player->volume(), 0.6);
            QCOMPARE(session->state(), State::Loading);
        }
        QCOMPARE(stopped.size(), 1);
        // Nothing more happens once off: no tick, no pause, no fade.
        const int volumesSoFar = int(player->volumes.size());
        QSignalSpy ticks(sleep, &SleepTimer::remainingChanged);
        clock.advance(120000); // longer than the minute and the fade
        QTest::qWait(200);
        QCOMPARE(ticks.size(), 0);
        QCOMPARE(int(player->volumes.size()), volumesSoFar);
        QVERIFY(session->isPlaying());
    }

    void teardownReleasesThePlayer()
    {
        session->toggle();
        item()->setStatus(MediaItem::StatusReadyToPlay);
        QPointer<FakeMediaPlayer> player = media->last();
        QCOMPARE(player->pauses, 0);
        session.reset();
        QVERIFY(player.isNull());
    }
};

ORBITUNE_CORE_TEST_MAIN(SessionTest)

#include "tst_session.moc"
