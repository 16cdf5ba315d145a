// The Schedules window over a scheduler on a file of its own, driven as the
// listener would: opened with Ctrl+T, a schedule added through the form,
// turned off and deleted from the list with its keys. The zone is
// Europe/Berlin (CMake), the clock stands on Wednesday 9 December 2026.
#include "manage/ManageFakes.h"
#include "support/HomeFixture.h"
#include "support/TestClock.h"

#include "app/ScheduleLauncher.h"
#include "app/ScheduledRuns.h"
#include "record/Recorder.h"
#include "schedule/Scheduler.h"
#include "schedulewindow/ScheduleTableModel.h"
#include "schedulewindow/ScheduleViewController.h"
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

    // A run that comes due: an alarm plays its program; a recording of a
    // program other than the one playing is not made, and the listener is told.
    void runsWhenDue_data()
    {
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<QString>("playing");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("notice");
        QTest::newRow("alarm, nothing playing") << true << QString() << "Second" << QString();
        QTest::newRow("alarm over another program") << true << "First"
                                                    << "Second" << QString();
        QTest::newRow("recording another program") << false << "First"
                                                   << "First"
                                                   << "Not recorded: Second";
        QTest::newRow("recording, nothing playing") << false << QString() << "First"
                                                    << "Not recorded: Second";
    }

    void runsWhenDue()
    {
        QFETCH(bool, alarm);
        QFETCH(QString, playing);
        TestClock clock(QDateTime::fromString("2026-12-09T05:00:00Z", Qt::ISODate));
        HomeFixture fixture;
        fixture.start(false);
        ProgramStore programs;
        QFile::remove(TestEnv::instance()->root() + "/schedules.sqlite");
        Scheduler scheduler(TestEnv::instance()->root() + "/schedules.sqlite",
                            [&programs] { return programs.programs(); });
        scheduler.start();
        Recorder recorder(fixture.home->session());
        ScheduledRuns runs(&scheduler, fixture.home->session(), &recorder);
        QSignalSpy notices(&runs, &ScheduledRuns::notice);
        if (!playing.isEmpty())
            fixture.home->playClick();
        QCOMPARE(fixture.home->session()->isPlaying(), !playing.isEmpty());

        schedule::Schedule s;
        s.program = programs.programs().at(1).entry;
        s.action = alarm ? schedule::Action::Play : schedule::Action::Record;
        s.date = QDate(2026, 12, 9);
        s.time = QTime(6, 1); // 05:01 UTC
        s.lengthMinutes = 30;
        QVERIFY(scheduler.add(s));
        clock.advance(61000);
        scheduler.recheck();
        QFETCH(QString, current);
        QTRY_COMPARE(program::name(fixture.home->session()->currentProgram()), current);
        QCOMPARE(fixture.home->session()->isPlaying(), alarm || !playing.isEmpty());
        QFETCH(QString, notice);
        QCOMPARE(notices.isEmpty() ? QString() : notices.first().at(0).toString(), notice);
        QVERIFY(!recorder.isRecording());
    } // the recorder and the runs go before the window's session
};

ORBITUNE_TEST_MAIN(TestScheduleWindow)
#include "tst_schedule_window.moc"
