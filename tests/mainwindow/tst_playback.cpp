// How the main window shows the playback session and forwards to it, against
// a fake player: title, button, preview and now-playing line in each state,
// "LIVE_PLAY", the tray's play item and the sleep timer's menu. The state
// machine itself is tested without a window in tests/session.
#include "support/AccessibilityEvents.h"
#include "support/FakeImageLoader.h"
#include "support/FakeMedia.h"
#include "support/HomeFixture.h"
#include "support/TestEnv.h"

#include "mainwindow/HomeViewController.h"
#include "mainwindow/RecordingControls.h"
#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/Settings.h"
#include "platform/ui/PreviewView.h"
#include "platform/ui/StatusItem.h"
#include "platform/ui/WindowHost.h"
#include "record/Recorder.h"
#include "session/SleepTimer.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using State = HomeViewController::PlaybackState;

class PlaybackTest : public QObject {
    Q_OBJECT

    HomeFixture fixture;
    FakeMediaFactory *media = nullptr;
    FakeImageLoader *images = nullptr;
    HomeViewController *home = nullptr;
    QStringList &log() { return fixture.log(); }

    QString title() const { return home->titleTextField()->text(); }
    QString buttonImage() const { return home->playBtn()->property("imageName").toString(); }
    bool turning() const
    {
        return home->previewImageView()->hasAnimation(QStringLiteral("animation"));
    }
    void report(int status) { media->lastItem()->setStatus(MediaItem::Status(status)); }

    void setLive(const QString &name, const QString &url)
    {
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(name, QStringLiteral("file:///nonexistent.png"), url)));
    }

private Q_SLOTS:
    void init()
    {
        fixture.start(true);
        media = fixture.media.get();
        images = fixture.images.get();
        home = fixture.home.get();
    }

    void cleanup() { fixture.finish(); }

    void playThenReadyThenPause()
    {
        QCOMPARE(home->playbackState(), State::Idle);
        const QString name = title();
        QVERIFY(!name.isEmpty());

        home->playClick();
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QCOMPARE(buttonImage(), QStringLiteral("pause"));
        QVERIFY(home->isPlaying());
        QVERIFY(!turning());
        QCOMPARE(media->created(), 1);
        QCOMPARE(media->lastItem()->url(), QUrl(QStringLiteral("http://127.0.0.1:1/first")));
        QCOMPARE(media->last()->plays, 0); // nothing is heard before the stream is ready

        report(MediaItem::StatusReadyToPlay);
        QCOMPARE(media->last()->plays, 1);
        QCOMPARE(title(), name);
        QVERIFY(turning());
        QCOMPARE(home->playbackState(), State::Playing);
        QVERIFY(log().contains(QStringLiteral("AVPlayerItemStatusReadyToPlay")));

        home->playClick();
        QCOMPARE(buttonImage(), QStringLiteral("play"));
        QVERIFY(!turning());
        QVERIFY(!home->isPlaying());
        QCOMPARE(media->last()->pauses, 1);
        QCOMPARE(title(), name);
        QCOMPARE(home->playbackState(), State::Paused);
        QCOMPARE(home->previewImageView()->rotation(), 0.0);

        // Pressing once more opens the stream anew instead of resuming.
        home->playClick();
        QCOMPARE(media->created(), 2);
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QCOMPARE(home->playbackState(), State::Loading);
    }

    void failureAndRetry()
    {
        home->playClick();
        report(MediaItem::StatusFailed);
        QCOMPARE(title(), QStringLiteral("Error, switch next one."));
        QCOMPARE(buttonImage(), QStringLiteral("play"));
        QVERIFY(!home->isPlaying());
        QCOMPARE(home->playbackState(), State::Failed);
        // The failed player stays until the next attempt.
        QVERIFY(media->last());

        home->playClick();
        QCOMPARE(media->created(), 2);
        QCOMPARE(media->lastItem()->url(), QUrl(QStringLiteral("http://127.0.0.1:1/first")));
        QCOMPARE(title(), QStringLiteral("Loading..."));
    }

    void livePlaySwitchesWithoutPausing()
    {
        home->playClick();
        report(MediaItem::StatusReadyToPlay);
        FakeMediaPlayer *first = media->last();
        QSignalSpy states(home, &HomeViewController::playbackStateChanged);

        setLive(QStringLiteral("Second"), QStringLiteral("http://127.0.0.1:1/second"));
        NotificationCenter::defaultCenter()->postNotificationName(QStringLiteral("LIVE_PLAY"));

        QCOMPARE(media->created(), 2);
        QVERIFY(first == nullptr || media->players.first().isNull()); // old stream ended
        QCOMPARE(media->lastItem()->url(), QUrl(QStringLiteral("http://127.0.0.1:1/second")));
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QCOMPARE(buttonImage(), QStringLiteral("pause"));
        report(MediaItem::StatusReadyToPlay);
        QCOMPARE(title(), QStringLiteral("Second"));
        for (const QList<QVariant> &s : states)
            QVERIFY(s.at(0).value<State>() != State::Paused);
    }

    QList<State> sequence(const QSignalSpy &spy) const
    {
        QList<State> states;
        for (const QList<QVariant> &s : spy)
            states << s.at(0).value<State>();
        return states;
    }

    void reconnectShowsLoadingThenResumes()
    {
        QSignalSpy states(home, &HomeViewController::playbackStateChanged);
        home->playClick();
        report(MediaItem::StatusReadyToPlay);
        media->lastItem()->setReconnecting(true);
        QCOMPARE(title(), QStringLiteral("Loading..."));
        QVERIFY(!turning());
        QCOMPARE(buttonImage(), QStringLiteral("pause"));
        media->lastItem()->setReconnecting(false);
        QCOMPARE(title(), QStringLiteral("First"));
        QVERIFY(turning());
        QCOMPARE(sequence(states),
                 (QList<State>{State::Loading, State::Playing, State::Loading, State::Playing}));
    }

    void nowPlayingLineFollowsTheStream()
    {
        QLabel *line = home->nowPlayingLabel();
        AccessibilityEvents heard;
        home->playClick();
        media->lastItem()->setNowPlaying(QStringLiteral("Early Title"));
        QVERIFY(line->isHidden()); // not while loading
        report(MediaItem::StatusReadyToPlay);
        QCOMPARE(line->text(), QStringLiteral("Early Title"));
        QVERIFY(!line->isHidden());
        media->lastItem()->setNowPlaying(QStringLiteral("Artist – Song"));
        QCOMPARE(line->text(), QStringLiteral("Artist – Song"));
        QCOMPARE(title(), QStringLiteral("First")); // the title keeps the program name
        // A screen reader reads the line itself and hears each new title.
        QCOMPARE(accessibleNameOf(line), QStringLiteral("Artist – Song"));
        QCOMPARE(heard.namesOf(line),
                 (QStringList{QStringLiteral("Early Title"), QStringLiteral("Artist – Song")}));

        // What plays, technically: on hovering the window and for screen readers.
        QWidget *window = home->view()->window();
        media->lastItem()->setFormat({QStringLiteral("MPEG-1 Layer 3 (MP3)"), 128000, 44100});
        QCOMPARE(window->toolTip(), QStringLiteral("MP3 · 128 kbit/s · 44.1 kHz"));
        QCOMPARE(QAccessible::queryAccessibleInterface(window)->text(QAccessible::Description),
                 QStringLiteral("MP3 · 128 kbit/s · 44.1 kHz"));

        home->playClick(); // pause clears it
        QVERIFY(line->isHidden());
        QVERIFY(line->text().isEmpty());
        QVERIFY(window->toolTip().isEmpty());
        QVERIFY(window->accessibleDescription().isEmpty());

        home->playClick();
        report(MediaItem::StatusReadyToPlay);
        media->lastItem()->setNowPlaying(QStringLiteral("Again"));
        report(MediaItem::StatusFailed); // failure clears it
        QVERIFY(line->text().isEmpty());
    }

    void stateSignalOnlyOnChange()
    {
        QSignalSpy states(home, &HomeViewController::playbackStateChanged);
        home->playClick();
        report(MediaItem::StatusReadyToPlay);
        home->refeshLiveView();
        home->startAnimation();
        QCOMPARE(states.count(), 2);
        QCOMPARE(states.at(0).at(0).value<State>(), State::Loading);
        QCOMPARE(states.at(1).at(0).value<State>(), State::Playing);
    }

    void teardownStopsPlaybackAndObservation()
    {
        home->playClick();
        report(MediaItem::StatusReadyToPlay);
        QPointer<FakeMediaPlayer> player = media->last();
        QCOMPARE(NotificationCenter::defaultCenter()->observerCount(QStringLiteral("LIVE_PLAY")),
                 1);
        fixture.home.reset();
        home = nullptr;
        QVERIFY(player.isNull());
        QCOMPARE(NotificationCenter::defaultCenter()->observerCount(QStringLiteral("LIVE_PLAY")),
                 0);
        NotificationCenter::defaultCenter()->postNotificationName(QStringLiteral("LIVE_PLAY"));
        QCOMPARE(media->created(), 1);
    }

    void sleepTimerMenuAndTooltip()
    {
        Clock::shared()->setTimeScale(0.002); // a minute is 120 ms, the fade 20 ms
        SleepTimer *sleep = home->session()->sleepTimer();
        home->playClick();
        report(MediaItem::StatusReadyToPlay);
        auto *menu = home->statusMenu()->findChild<QMenu *>(QStringLiteral("sleepMenu"));
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Sleep Timer"));
        auto action = [menu](const char *name) {
            return menu->findChild<QAction *>(QString::fromLatin1(name));
        };
        QVERIFY(action("sleep0Action")->isChecked());

        // Chosen, then called off: nothing happens.
        action("sleep30Action")->trigger();
        QVERIFY(action("sleep30Action")->isChecked());
        QVERIFY(home->statusItem()->toolTip().endsWith(QStringLiteral("30 min left")));
        action("sleep0Action")->trigger();
        QVERIFY(!home->statusItem()->toolTip().contains(QStringLiteral("Sleep")));

        // Run out: the window shows the pause, the menu is back at Off.
        QSignalSpy finished(sleep, &SleepTimer::finished);
        action("sleep15Action")->trigger();
        QVERIFY(home->statusItem()->toolTip().endsWith(QStringLiteral("15 min left")));
        QVERIFY(finished.wait(10000));
        Clock::shared()->setTimeScale(1.0);
        QCOMPARE(home->playbackState(), State::Paused);
        QCOMPARE(buttonImage(), QStringLiteral("play"));
        QVERIFY(!turning());
        QVERIFY(action("sleep0Action")->isChecked());
        QVERIFY(!home->statusItem()->toolTip().contains(QStringLiteral("Sleep")));
    }

    void trayMenuTogglesPlayback()
    {
        QMenu *menu = home->statusMenu();
        QAction *playAction = menu->findChild<QAction *>(QStringLiteral("playAction"));
        QVERIFY(playAction);
        playAction->trigger();
        QCOMPARE(home->playbackState(), State::Loading);
        report(MediaItem::StatusReadyToPlay);
        Q_EMIT menu->aboutToShow();
        QCOMPARE(playAction->text(), QStringLiteral("Pause"));
        playAction->trigger();
        QCOMPARE(home->playbackState(), State::Paused);
    }

    // Space plays and pauses as the tray's item does; Ctrl+Q asks to quit.
    void spaceTogglesAndCtrlQAsksToQuit()
    {
        QWidget *window = home->view();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_Space);
        QCOMPARE(home->playbackState(), State::Loading);
        QTest::keyClick(window, Qt::Key_Space);
        QCOMPARE(home->playbackState(), State::Paused);
        QSignalSpy quit(home->host(), &WindowHost::quitRequested);
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(quit.size(), 1);
    }

    void recordKeyIndicatorAndTray()
    {
        QTemporaryDir music;
        Recorder::Options options;
        options.folder = music.path();
        options.pollMs = 10;
        Recorder recorder(home->session(), options);
        RecordingControls controls(home->session(), &recorder, home->host());
        QWidget *window = home->view();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto *label = window->findChild<QLabel *>(QStringLiteral("recordingLabel"));
        QVERIFY(label);
        QVERIFY(!label->isVisible());
        const QString name = home->statusItem()->toolTip();

        QTest::keyClick(window, Qt::Key_R); // nothing plays: nothing to record
        QVERIFY(!recorder.isRecording());
        QCOMPARE(label->text(), QStringLiteral("Play a program to record it"));
        QVERIFY(!controls.recordAction()->isChecked());
        home->playClick();
        report(MediaItem::StatusReadyToPlay);
        QTest::keyClick(window, Qt::Key_R);
        QVERIFY(recorder.isRecording());
        QVERIFY(controls.recordAction()->isChecked());
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QStringLiteral("\u25CF Recording"));
        QVERIFY(label->accessibleDescription().startsWith(QStringLiteral("Recording ")));
        QCOMPARE(home->statusItem()->toolTip(), name + QStringLiteral("\nRecording"));

        QTest::keyClick(window, Qt::Key_S);
        QCOMPARE(label->text(), QStringLiteral("No song has ended yet to save"));
        // A song that played from its title change to the next can be saved.
        StreamTap *tap = media->lastItem()->streamTap().get();
        QVERIFY(tap);
        const QByteArray frames = QByteArray("\xFF\xFB\x90\x00", 4).append(413, 0).repeated(8);
        tap->streamStarted(StreamTap::Format::Mp3);
        for (const char *song : {"Joined", "Song", "Next"}) {
            tap->streamTitle(QString::fromLatin1(song));
            tap->streamData(frames.constData(), frames.size());
        }
        QTest::keyClick(window, Qt::Key_S);
        QTRY_VERIFY(label->text().startsWith(QStringLiteral("Saved")));
        QVERIFY2(QRegularExpression(
                     QStringLiteral(R"(^Saved “\d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d – Song”$)"))
                     .match(label->text())
                     .hasMatch(),
                 qPrintable(label->text()));
        QCOMPARE(label->accessibleDescription(), label->text());

        controls.recordAction()->trigger(); // off from the tray
        QVERIFY(!recorder.isRecording());
        QVERIFY(!controls.recordAction()->isChecked());
        QCOMPARE(home->statusItem()->toolTip(), name);
    }
};

ORBITUNE_TEST_MAIN(PlaybackTest)
#include "tst_playback.moc"
