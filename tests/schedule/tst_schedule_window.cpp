// The Schedules window over a scheduler on a file of its own, driven as the
// listener would: opened with Ctrl+T, a schedule added through the form,
// turned off and deleted from the list with its keys. The zone is
// Europe/Berlin (CMake), the clock stands on Wednesday 9 December 2026.
#include "manage/ManageFakes.h"
#include "support/HomeFixture.h"
#include "support/TestClock.h"

#include "alarm/Alarm.h"
#include "app/ScheduleLauncher.h"
#include "app/ScheduledRuns.h"
#include "record/Recorder.h"
#include "schedule/Scheduler.h"
#include "schedulewindow/ScheduleTableModel.h"
#include "schedulewindow/ScheduleViewController.h"
#include "session/PlayProgram.h"
#include "session/Volume.h"
#include "store/ProgramStore.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QTimeEdit>
#include <QtTest>

class TestScheduleWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addDisableDeleteFromTheKeyboard()
    {
        TestClock clock(QDateTime::fromString("2026-12-09T05:00:00Z", Qt::ISODate));
        HomeFixture fixture;
        fixture.start(true);
        RecordingAlertPresenter alerts;
        ProgramStore programs;
        QFile::remove(TestEnv::instance()->root() + "/schedules.sqlite");
        Scheduler scheduler(TestEnv::instance()->root() + "/schedules.sqlite",
                            [&programs] { return programs.programs(); });
        scheduler.start();
        ScheduleLauncher launcher(&scheduler, &programs);
        launcher.attachHome(fixture.home->host());

        fixture.home->view()->findChild<QShortcut *>("schedulesShortcut")->activated();
        QVERIFY(launcher.controller() && launcher.controller()->view()->isVisible());
        QWidget *view = launcher.controller()->view();
        const auto find = [view](const char *name) {
            QWidget *w = view->findChild<QWidget *>(QString::fromLatin1(name));
            return w && !w->accessibleName().isEmpty() ? w : nullptr;
        };
        for (const char *name : {"scheduleTable", "addButton", "programCombo", "timeEdit",
                                 "thursdayBox", "lengthSpin", "volumeSpin", "saveButton"})
            QVERIFY2(find(name), name);

        static_cast<QPushButton *>(find("addButton"))->click();
        auto *combo = static_cast<QComboBox *>(find("programCombo"));
        QCOMPARE(combo->count(), 2);
        combo->setCurrentIndex(1);
        static_cast<QRadioButton *>(find("recordRadio"))->setChecked(true);
        static_cast<QRadioButton *>(find("repeatRadio"))->setChecked(true);
        QVERIFY(!find("volumeSpin")->isEnabled()); // an alarm's only
        static_cast<QTimeEdit *>(find("timeEdit"))->setTime(QTime(7, 30));
        for (const char *day : {"mondayBox", "tuesdayBox", "wednesdayBox", "fridayBox"})
            static_cast<QCheckBox *>(find(day))->setChecked(false);
        static_cast<QCheckBox *>(find("thursdayBox"))->setChecked(true);
        static_cast<QSpinBox *>(find("lengthSpin"))->setValue(45);
        static_cast<QPushButton *>(find("saveButton"))->click();

        ScheduleTableModel *model = launcher.controller()->model();
        const auto row = [model](int r) {
            QStringList cells;
            for (int c = ScheduleTableModel::ProgramColumn; c < ScheduleTableModel::ColumnCount;
                 ++c)
                cells << model->index(r, c).data().toString();
            return cells.join(" | ");
        };
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(row(0), "Second | Record | 07:30 on Thu | Thu 2026-12-10 07:30");
        QCOMPARE(scheduler.schedules().first().lengthMinutes, 45);

        // A schedule whose program left the list says so.
        schedule::Schedule gone = scheduler.schedules().first();
        gone.program = program::make("Gone", QString(), "http://127.0.0.1:1/gone");
        QVERIFY(scheduler.add(gone));
        QCOMPARE(row(1), "Gone | Record | 07:30 on Thu | Program removed");

        // Space turns the chosen one off, Delete asks before removing it.
        auto *table = static_cast<QTableView *>(find("scheduleTable"));
        table->setFocus();
        table->selectRow(0);
        QTest::keyClick(table, Qt::Key_Space);
        QVERIFY(!scheduler.schedules().first().enabled);
        QCOMPARE(model->index(0, ScheduleTableModel::EnabledColumn).data(Qt::CheckStateRole),
                 Qt::Unchecked);
        QCOMPARE(row(0), "Second | Record | 07:30 on Thu | Off");
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(alerts.shown.size(), 1);
        QCOMPARE(model->rowCount(), 2);
        alerts.answer(Alert::FirstButtonReturn);
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(scheduler.schedules().first().name(), "Gone");
        QCOMPARE(view->findChild<QLabel *>("statusLabel")->text(), "Deleted “Second”.");

        // Escape closes and the window is let go; the tray opens it again.
        view->findChild<QShortcut *>("closeShortcut")->activated();
        QTRY_VERIFY(!launcher.controller());
        fixture.home->statusMenu()->findChild<QAction *>("schedulesAction")->trigger();
        QVERIFY(launcher.controller()->view()->isVisible());
        launcher.controller()->closeClick();
        fixture.finish();
    }

    // A run that comes due and ends: an alarm plays its program at its own
    // volume; a recording of the program playing uses the one connection
    // (and moves to one of its own when the listener switches away); of
    // another program, a connection of its own. The end stops each.
    void runsWhenDue_data()
    {
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<QString>("playing");
        QTest::addColumn<int>("scheduled");
        QTest::addColumn<bool>("switchAway");
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("background");
        QTest::addColumn<bool>("ownRecording");
        QTest::addColumn<int>("lateMinutes");
        QTest::newRow("alarm, nothing playing")
            << true << QString() << 1 << false << "Second" << 0 << false << 0;
        QTest::newRow("alarm 9 minutes late: rings and says so")
            << true << QString() << 1 << false << "Second" << 0 << false << 9;
        QTest::newRow("recording 20 minutes late: the rest, and says so")
            << false << QString() << 1 << false << "First" << 1 << false << 20;
        QTest::newRow("alarm 11 minutes late: missed, and told")
            << true << QString() << 1 << false << "First" << 0 << false << 11;
        QTest::newRow("alarm over another program")
            << true << "First" << 1 << false << "Second" << 0 << false << 0;
        QTest::newRow("recording another program: a connection of its own")
            << false << "First" << 1 << false << "First" << 1 << false << 0;
        QTest::newRow("recording, nothing playing")
            << false << QString() << 1 << false << "First" << 1 << false << 0;
        QTest::newRow("recording the program playing: the one connection")
            << false << "First" << 0 << false << "First" << 0 << true << 0;
        QTest::newRow("the listener switches away: it goes on by itself")
            << false << "First" << 0 << true << "Second" << 1 << false << 0;
    }

    void runsWhenDue()
    {
        QFETCH(bool, alarm);
        QFETCH(QString, playing);
        QFETCH(int, scheduled);
        TestClock clock(QDateTime::fromString("2026-12-09T05:00:00Z", Qt::ISODate));
        HomeFixture fixture;
        fixture.start(false);
        PlaybackSession *session = fixture.home->session();
        ProgramStore programs;
        QFile::remove(TestEnv::instance()->root() + "/schedules.sqlite");
        Scheduler scheduler(TestEnv::instance()->root() + "/schedules.sqlite",
                            [&programs] { return programs.programs(); });
        scheduler.start();
        Recorder recorder(session);
        Alarm ringer(session, session::playProgram);
        ScheduledRuns runs(&scheduler, session, &recorder, &ringer);
        QSignalSpy notices(&runs, &ScheduledRuns::notice);
        if (!playing.isEmpty()) {
            fixture.home->playClick();
            fixture.media->lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        }
        QCOMPARE(session->isPlaying(), !playing.isEmpty());

        schedule::Schedule s;
        s.program = programs.programs().at(scheduled).entry;
        s.action = alarm ? schedule::Action::Play : schedule::Action::Record;
        s.date = QDate(2026, 12, 9);
        s.time = QTime(6, 1); // 05:01 UTC
        s.lengthMinutes = 30;
        s.volume = 40;
        QVERIFY(scheduler.add(s));
        QFETCH(int, lateMinutes);
        clock.advance(61000 + lateMinutes * 60000);
        scheduler.recheck();
        QFETCH(bool, switchAway);
        if (switchAway)
            QVERIFY(session::playProgram(programs.programs().at(1).entry));
        QFETCH(QString, current);
        QTRY_COMPARE(program::name(session->currentProgram()), current);
        const bool rings = alarm && lateMinutes <= 10;
        QCOMPARE(session->isPlaying(), rings || !playing.isEmpty());
        QCOMPARE(session->volume()->effectiveLevel(), rings ? 0.4 : 1.0);
        QCOMPARE(session->volume()->level(), 1.0);
        QFETCH(int, background);
        QCOMPARE(runs.backgroundRecordings(), background);
        QFETCH(bool, ownRecording);
        QCOMPARE(recorder.isRecording(), ownRecording);
        QCOMPARE(ringer.state(), rings ? Alarm::State::Ringing : Alarm::State::Off);
        const QString told = !lateMinutes ? QString()
                             : alarm && !rings
                                 ? QStringLiteral("Missed: %1 at Wed 06:01").arg(s.name())
                                 : QStringLiteral("Started late: ") + s.name();
        QCOMPARE(notices.isEmpty() ? QString() : notices.first().at(0).toString(), told);

        clock.advance((30 - lateMinutes) * 60000);
        scheduler.recheck();
        QCOMPARE(runs.backgroundRecordings(), 0);
        QVERIFY(!recorder.isRecording());
        QCOMPARE(ringer.state(), Alarm::State::Off);
        QCOMPARE(session->volume()->effectiveLevel(), 1.0);
    } // the recorder and the runs go before the window's session

    // An alarm rises to its own volume, leaving the everyday one; snoozed, it
    // rings again ten minutes later, with the built-in tone while its
    // station stays silent; the listener's volume keys take over from what
    // they hear; Stop ends it.
    void alarmFadesSnoozesAndStops()
    {
        TestClock clock(QDateTime::fromString("2026-12-09T05:00:00Z", Qt::ISODate));
        clock.setTimeScale(0.001);
        HomeFixture fixture;
        fixture.start(false);
        PlaybackSession *session = fixture.home->session();
        Volume *volume = session->volume();
        volume->setLevel(0.3);
        ProgramStore programs;
        Alarm alarm(session, session::playProgram);
        QSignalSpy notices(&alarm, &Alarm::notice);
        const auto near = [volume](double level) {
            return qAbs(volume->effectiveLevel() - level) < 1e-6;
        };

        alarm.ring({programs.programs().at(1).entry, QStringLiteral("Wake"), 0.8, 10});
        QCOMPARE(alarm.state(), Alarm::State::Ringing);
        QTRY_VERIFY(session->isPlaying());
        fixture.media->lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        QCOMPARE(program::name(session->currentProgram()), QStringLiteral("Second"));
        QVERIFY(near(0.0));
        clock.advance(5000);
        QTRY_VERIFY(near(0.4));
        clock.advance(6000);
        QTRY_VERIFY(near(0.8));
        QCOMPARE(volume->level(), 0.3);
        QCOMPARE(notices.first().at(0).toString(), QStringLiteral("Alarm: Wake"));

        alarm.snooze();
        QCOMPARE(alarm.state(), Alarm::State::Snoozed);
        QVERIFY(!session->isPlaying());
        QVERIFY(near(0.3));
        QTRY_COMPARE(alarm.state(), Alarm::State::Ringing); // 10 min at 1/1000
        QTRY_VERIFY(alarm.isToneRinging());                 // 20 s without sound
        QVERIFY(notices.last().at(1).toString().endsWith("A tone rings instead."));
        fixture.media->lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        QVERIFY(!alarm.isToneRinging()); // the station came after all

        volume->step(1);
        QVERIFY(!volume->hasOverride());
        QVERIFY(near(0.05)); // one step up from the fade's start
        alarm.stop();
        QCOMPARE(alarm.state(), Alarm::State::Off);
        QVERIFY(!session->isPlaying());
        fixture.finish();
    }
};

ORBITUNE_TEST_MAIN(TestScheduleWindow)
#include "tst_schedule_window.moc"
