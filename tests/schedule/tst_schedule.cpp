// Schedules: when runs fall (local time, the nights the clocks change),
// the scheduler on a sped-up week, late and missed runs across restarts and
// clock jumps, the file on bad days, and what a due run does (the alarm,
// recordings) over fake media. The zone is Europe/Berlin (CMake).
#include "support/AudioSession.h"
#include "support/FakeMedia.h"
#include "support/TestClock.h"
#include "support/TestEnv.h"

#include "alarm/Alarm.h"
#include "app/ScheduledRuns.h"
#include "record/Recorder.h"
#include "schedule/Scheduler.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <functional>

using schedule::Occurrence;
using schedule::Schedule;

namespace {

const QVariantMap kProgram = program::make("Radio One", QString(), "http://127.0.0.1:1/one");

// "play"/"record", "HH:mm", a date or seven day letters ("MTWTF.." for
// Monday to Friday), minutes.
Schedule make(const QString &action, const QString &time, const QString &days, int minutes = 0)
{
    Schedule s;
    s.program = kProgram;
    s.action = action == "record" ? schedule::Action::Record : schedule::Action::Play;
    s.time = QTime::fromString(time, "HH:mm");
    s.date = QDate::fromString(days, Qt::ISODate);
    for (int day = 0; !s.date.isValid() && day < days.size(); ++day)
        s.weekdays |= days.at(day) == '.' ? 0 : 1 << day;
    s.lengthMinutes = minutes;
    return s;
}

QDateTime utc(const QString &iso)
{
    return QDateTime::fromString(iso, Qt::ISODate);
}

QString local(const QDateTime &at)
{
    return QLocale::c().toString(at.toLocalTime(), "ddd HH:mm");
}

// "+2d70m" in milliseconds.
qint64 span(const QString &text)
{
    qint64 ms = 0;
    for (const auto &m : QRegularExpression("(\\d+)([mhd])").globalMatch(text))
        ms += m.captured(1).toLongLong() *
              QList<qint64>{60000, 3600000, 86400000}.at(QString("mhd").indexOf(m.captured(2)));
    return text.startsWith('-') ? -ms : ms;
}

QString path()
{
    return TestEnv::instance()->root() + "/schedules.sqlite";
}

QByteArray fileBytes()
{
    QFile f(path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// `sql` run on the file by another program, the scheduler closed.
bool editFile(const QString &sql)
{
    bool done = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "hand");
        db.setDatabaseName(path());
        done = db.open() && QSqlQuery(db).exec(sql);
    }
    QSqlDatabase::removeDatabase("hand");
    return done;
}

} // namespace

class TestSchedule : public QObject {
    Q_OBJECT

    QVariantList m_list{kProgram};
    std::unique_ptr<Scheduler> m_scheduler;
    std::unique_ptr<AudioSession> m_audio; // where the alarm's tone sounds
    QStringList m_events;

    // The scheduler as Orbitune starts it, its signals written to m_events.
    Scheduler &open()
    {
        m_scheduler =
            std::make_unique<Scheduler>(path(), [this] { return programindex::programs(m_list); });
        Scheduler *s = m_scheduler.get();
        const auto log = [this](const QString &what, const Occurrence &o, const QString &more) {
            m_events << (what + local(o.at) + more).trimmed();
        };
        connect(s, &Scheduler::due, this, [log](const Schedule &, const Occurrence &o) {
            log("due ", o, o.late ? " late" : QString());
        });
        connect(s, &Scheduler::missed, this, [log](const Schedule &, const Occurrence &o) {
            log("missed ", o,
                (o.alsoMissed ? QStringLiteral(" +%1").arg(o.alsoMissed) : QString()) +
                    (o.programGone ? " gone" : QString()) + (o.cutShort ? " cut" : QString()));
        });
        connect(s, &Scheduler::finished, this,
                [log](const Schedule &, const Occurrence &o) { log("finished ", o, QString()); });
        connect(s, &Scheduler::dueSoonChanged, this,
                [this](bool soon) { m_events << QLatin1String(soon ? "awake" : "asleep"); });
        s->start();
        return *s;
    }

private Q_SLOTS:
    void init()
    {
        m_scheduler.reset();
        m_list = {kProgram};
        m_events.clear();
        for (const QString &name : QDir(TestEnv::instance()->root()).entryList({"schedules*"}))
            QFile::remove(TestEnv::instance()->root() + QLatin1Char('/') + name);
    }

    // Days (a date, or "MTWTF.." for Monday to Friday), time, after, the
    // next run (none when missing); instants in UTC.
    void nextRun_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("once, ahead") << "2027-05-10 07:00 2027-05-01T00:00Z 2027-05-10T05:00:00Z";
        QTest::newRow("once, at it") << "2027-05-10 07:00 2027-05-10T05:00:00Z";
        QTest::newRow("Friday to Monday") << "MTWTF.. 07:00 2027-05-07T06:00Z 2027-05-10T05:00:00Z";
        QTest::newRow("month end") << "......S 09:00 2027-01-31T09:00Z 2027-02-07T08:00:00Z";
        QTest::newRow("year end") << "M...... 00:30 2027-12-31T12:00Z 2028-01-02T23:30:00Z";
        // 28 March 2027: 02:00 CET becomes 03:00 CEST.
        QTest::newRow("spring, 01:59") << "MTWTFSS 01:59 2027-03-27T23:00Z 2027-03-28T00:59:00Z";
        QTest::newRow("spring, 02:30") << "MTWTFSS 02:30 2027-03-27T23:00Z 2027-03-28T01:00:00Z";
        QTest::newRow("spring, once") << "2027-03-28 02:00 2027-03-27T23:00Z 2027-03-28T01:00:00Z";
        QTest::newRow("spring, 03:00") << "MTWTFSS 03:00 2027-03-27T23:00Z 2027-03-28T01:00:00Z";
        // 31 October 2027: 03:00 CEST becomes 02:00 CET.
        QTest::newRow("autumn, 02:30") << "MTWTFSS 02:30 2027-10-30T23:00Z 2027-10-31T00:30:00Z";
        QTest::newRow("autumn, not again")
            << "MTWTFSS 02:30 2027-10-31T00:30Z 2027-11-01T01:30:00Z";
        QTest::newRow("autumn, 03:00") << "MTWTFSS 03:00 2027-10-30T23:00Z 2027-10-31T02:00:00Z";
    }
    void nextRun()
    {
        QFETCH(QString, row);
        const QStringList f = row.split(' ');
        const auto next = schedule::nextRun(make("play", f[1], f[0]), utc(f[2]));
        QCOMPARE(next ? next->toString(Qt::ISODate) : QString(), f.value(3));
    }

    // A week at 100,000 times real speed, its spring night included: every
    // run told once, on time, two schedules at the same minute both.
    void runsAWeekOnTime()
    {
        TestClock clock(utc("2027-03-21T23:00Z")); // Monday 00:00
        Scheduler &scheduler = open();
        QVERIFY(scheduler.add(make("play", "07:00", "MTWTF..")));
        QVERIFY(scheduler.add(make("play", "07:00", "MTWTF..")));
        QVERIFY(scheduler.add(make("record", "02:30", "MTWTFSS", 30)));
        const QDateTime end = utc("2027-03-28T22:00Z");
        QStringList runs;
        int finished = 0;
        QEventLoop week; // not QTRY: its sleeps would make the runs late
        connect(&scheduler, &Scheduler::due, this, [&](const Schedule &s, const Occurrence &o) {
            QVERIFY2(!o.late && clock.currentDateTimeUtc() >= o.at, qPrintable(local(o.at)));
            if (o.at >= end)
                week.quit();
            else
                runs << QStringLiteral("%1 %2").arg(s.id).arg(o.at.toString(Qt::ISODate));
        });
        connect(&scheduler, &Scheduler::finished, this, [&] { ++finished; });
        clock.run(1e-5);
        scheduler.recheck(); // its waits were armed at full length
        QTimer::singleShot(60000, &week, &QEventLoop::quit);
        week.exec();
        QCOMPARE(finished, 7);
        QStringList expected;
        for (int day = 22; day <= 28; ++day) {
            for (int id = 1; day <= 26 && id <= 2; ++id)
                expected << QStringLiteral("%1 2027-03-%2T06:00:00Z").arg(id).arg(day);
            expected
                << QStringLiteral("3 2027-03-%1T01:%2:00Z").arg(day).arg(day < 28 ? "30" : "00");
        }
        runs.sort();
        expected.sort();
        QCOMPARE(runs, expected);
        QVERIFY(!m_events.join(' ').contains(QLatin1String("missed")));
    }

    // Steps: "+1h" (time passes), "restart +9m" (Orbitune quits and starts
    // again later), "jump -15m" (the system clock is set), "gone" (the
    // program leaves the list), "off"/"on", "window 15m" (keep awake); then
    // each step's signals in order, the steps' separated by "; ".
    void lateAndMissed_data()
    {
        QTest::addColumn<QString>("start"); // local
        QTest::addColumn<Schedule>("schedule");
        QTest::addColumn<QString>("story");
        const QString monday = "2027-05-03 06:00";
        const Schedule alarm = make("play", "07:00", "MTWTFSS");
        const Schedule rec = make("record", "07:00", "MTWTFSS", 60);
        QTest::newRow("alarm on time") << monday << alarm << "+1h => due Mon 07:00";
        QTest::newRow("alarm 9 min late")
            << monday << alarm << "restart +69m => due Mon 07:00 late";
        QTest::newRow("alarm 11 min late") << monday << alarm << "restart +71m => missed Mon 07:00";
        QTest::newRow("days away") << monday << alarm << "restart +3d => missed Wed 07:00 +2";
        QTest::newRow("days away, the last late")
            << monday << alarm << "restart +2d70m => missed Tue 07:00 +1, due Wed 07:00 late";
        QTest::newRow("recording on time")
            << monday << rec
            << "+1h; +1h; restart +1m => due Mon 07:00, awake; finished Mon 07:00, asleep; ";
        QTest::newRow("recording, quit midway: the rest after the restart")
            << monday << rec
            << "+1h; restart +10m; +50m; restart +1m => due Mon 07:00, awake; due Mon 07:00 late, "
               "awake; finished Mon 07:00, asleep; ";
        QTest::newRow("recording, quit until after its end: told")
            << monday << rec
            << "+1h; restart +2h; restart +1m => due Mon 07:00, awake; missed Mon 07:00 cut; ";
        QTest::newRow("recording, the rest")
            << monday << rec
            << "restart +90m; +30m => due Mon 07:00 late, awake; finished Mon 07:00, asleep";
        QTest::newRow("recording over") << monday << rec << "restart +3h => missed Mon 07:00";
        QTest::newRow("clock forward over it") << monday << alarm << "jump +2h => missed Mon 07:00";
        QTest::newRow("clock forward past it")
            << monday << alarm << "jump +65m => due Mon 07:00 late";
        QTest::newRow("clock back, not twice")
            << monday << alarm << "+1h; jump -15m; +15m; +1m => due Mon 07:00; ; ; ";
        QTest::newRow("clock back: the run done is not the next")
            << monday << alarm << "+1h; jump -15m; next => due Mon 07:00; ; next Tue 07:00";
        QTest::newRow("clock wrongly forward, then put right: it rings")
            << monday << alarm
            << "jump +3h; jump -3h; next; +1h => missed Mon 07:00; ; next Mon 07:00; due Mon 07:00";
        QTest::newRow("clock forward past it, then back: not twice")
            << monday << alarm << "jump +65m; jump -65m; +65m => due Mon 07:00 late; ; ";
        QTest::newRow("program deleted")
            << monday << alarm << "gone; +1h => ; missed Mon 07:00 gone";
        QTest::newRow("disabled meanwhile")
            << monday << alarm << "off; +2h; on; restart +1m => ; ; ; ";
        QTest::newRow("once, across restarts")
            << monday << make("play", "07:00", "2027-05-03")
            << "+1h; restart +1m; restart +1d => due Mon 07:00; ; ";
        QTest::newRow("awake window")
            << monday << alarm << "window 15m; +44m; +1m; +15m => ; ; awake; due Mon 07:00, asleep";
        QTest::newRow("spring night: at the jump, not before")
            << "2027-03-28 00:00" << make("play", "02:30", "MTWTFSS")
            << "+119m; +1m => ; due Sun 03:00";
        QTest::newRow("autumn night: once")
            << "2027-10-31 00:00" << make("record", "02:30", "MTWTFSS", 60)
            << "+150m; +1h; +1h => due Sun 02:30, awake; finished Sun 02:30, asleep; ";
    }
    void lateAndMissed()
    {
        QFETCH(QString, start);
        QFETCH(Schedule, schedule);
        QFETCH(QString, story);
        TestClock clock(QDateTime::fromString(start, "yyyy-MM-dd HH:mm"));
        const qint64 id = open().add(schedule);
        QVERIFY(id);
        QStringList told;
        for (const QString &step : story.section(" => ", 0, 0).split("; ")) {
            m_events.clear();
            if (step.startsWith("restart")) {
                m_scheduler.reset();
                clock.advance(span(step));
                open();
            } else if (step.startsWith("jump")) {
                clock.jump(span(step.section(QLatin1Char(' '), 1)));
            } else if (step == "gone") {
                m_list.clear();
                m_scheduler->programListChanged();
            } else if (step == "off" || step == "on") {
                QVERIFY(m_scheduler->setEnabled(id, step == "on"));
            } else if (step.startsWith("window")) {
                m_scheduler->setAwakeWindow(span(step));
            } else if (step == "next") {
                m_scheduler->recheck();
                m_events << "next " + local(m_scheduler->nextRun(id));
            } else {
                clock.advance(span(step));
            }
            m_scheduler->recheck();
            told << m_events.join(", ");
        }
        QCOMPARE(told.join("; "), story.section(" => ", 1));
    }

    // Rows made nonsense by hand are refused, left as they are, and the
    // others run.
    void refusesNonsense_data()
    {
        QTest::addColumn<QString>("edit"); // SQL, then what is said of row 2
        QTest::newRow("time") << "start_time = '25:61' => Schedule 2 was refused: its start time "
                                 "\"25:61\" is not a time of day (HH:MM).";
        QTest::newRow("action") << "action = 'dance' => action \"dance\" is neither";
        QTest::newRow("date") << "start_date = '2027-02-30' => \"2027-02-30\" is not a date";
        QTest::newRow("weekdays") << "weekdays = 200 => nor a set of weekdays";
        QTest::newRow("volume") << "volume = 150 => volume is not between 0 and 100";
        QTest::newRow("enabled") << "enabled = 'yes' => enabled \"yes\" is not a whole";
        QTest::newRow("fraction") << "fade_in_seconds = 2.5 => \"2.5\" is not a whole";
        QTest::newRow("recording nothing") << "length_minutes = 0 => records for no time";
        QTest::newRow("address") << "program_url = x'00ff' => address is not text";
    }
    void refusesNonsense()
    {
        QFETCH(QString, edit);
        TestClock clock(utc("2027-05-03T04:00Z"));
        for (int i = 0; i < 3; ++i)
            QVERIFY(open().add(make("record", "07:00", "MTWTF..", 30)));
        const Schedule kept = *m_scheduler->find(3);
        m_scheduler.reset();
        QVERIFY(editFile("UPDATE schedules SET " + edit.section(" => ", 0, 0) + " WHERE id = 2"));
        const QByteArray before = fileBytes();
        open();
        QCOMPARE(m_scheduler->refusedRows().size(), 1);
        QCOMPARE(m_scheduler->refusedRows().at(0).id, 2);
        QVERIFY2(m_scheduler->refusedRows().at(0).message.contains(edit.section(" => ", 1)),
                 qPrintable(m_scheduler->refusedRows().at(0).message));
        QCOMPARE(m_scheduler->schedules().size(), 2);
        QCOMPARE(m_scheduler->find(3)->time, kept.time);
        QCOMPARE(m_scheduler->standing(3), Scheduler::Standing::Waiting);
        QCOMPARE(fileBytes(), before);
        QVERIFY(m_scheduler->remove(2));
        QVERIFY(m_scheduler->refusedRows().isEmpty());
    }

    // A file that is no database is kept aside, a fresh one begun; a file
    // another process holds makes a change fail at once, saying so.
    void unreadableAndBusyFiles()
    {
        TestClock clock(utc("2027-05-03T04:00Z"));
        QFile junk(path());
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        m_scheduler =
            std::make_unique<Scheduler>(path(), [] { return QList<programindex::Program>(); });
        QSignalSpy kept(m_scheduler.get(), &Scheduler::keptAside);
        m_scheduler->start();
        QCOMPARE(kept.size(), 1);
        QFile aside(kept.at(0).at(0).toString());
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray(4096, 'x'));
        QVERIFY(m_scheduler->add(make("play", "07:00", "MTWTFSS")));

        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other");
        db.setDatabaseName(path());
        QVERIFY(db.open() && QSqlQuery(db).exec("BEGIN EXCLUSIVE"));
        QVERIFY(!m_scheduler->add(make("play", "08:00", "MTWTFSS")));
        QVERIFY2(m_scheduler->lastError().contains(QLatin1String("locked")),
                 qPrintable(m_scheduler->lastError()));
        QCOMPARE(m_scheduler->schedules().size(), 1);
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
    }

    // A file a newer Orbitune wrote is read, run from, and never written:
    // its schedules load, changes are refused saying why, runs handled are
    // kept in memory only, and the listener is told once.
    void newerFileIsOnlyRead()
    {
        TestClock clock(QDateTime::fromString("2027-05-03 06:00", "yyyy-MM-dd HH:mm"));
        QVERIFY(open().add(make("play", "07:00", "MTWTFSS")));
        m_scheduler.reset();
        QVERIFY(editFile("PRAGMA user_version = 7"));
        const QByteArray before = fileBytes();
        m_scheduler =
            std::make_unique<Scheduler>(path(), [this] { return programindex::programs(m_list); });
        QSignalSpy told(m_scheduler.get(), &Scheduler::fileFailed);
        QSignalSpy due(m_scheduler.get(), &Scheduler::due);
        m_scheduler->start();
        QCOMPARE(m_scheduler->schedules().size(), 1);
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.at(0).at(0).toString().contains("newer"),
                 qPrintable(told.at(0).at(0).toString()));
        QVERIFY(!m_scheduler->add(make("play", "08:00", "MTWTFSS")));
        QVERIFY2(m_scheduler->lastError().contains("newer"), qPrintable(m_scheduler->lastError()));
        QVERIFY(!m_scheduler->setEnabled(1, false));
        QVERIFY(!m_scheduler->remove(1));
        clock.advance(span("1h"));
        m_scheduler->recheck();
        QCOMPARE(due.size(), 1);
        m_scheduler->recheck();
        QCOMPARE(due.size(), 1); // handled, if only in memory
        QCOMPARE(told.size(), 1);
        QCOMPARE(fileBytes(), before);
    }

    // What a due run does, step by step, over fake media: "listen A" (the
    // listener plays A and it sounds), "open B" (chosen, not yet sounding),
    // "ready"/"drop"/"fail" (the newest stream: the listener's, the alarm's,
    // or as "bg fail" a background recording's), "record A" and "ring A" (a
    // run comes due: 60 minutes, or the alarm at 80 %), "finish" (its length
    // is over), "elsewhere" (the sound plays on a renderer), "heard there" /
    // "silent there" (the renderer says so), "pause", "R" (the listener's
    // record key), "M", "mute", "snooze", "wait 30s" (alarm time, sped up);
    // then what holds at the end.
    void whatARunDoes_data()
    {
        QTest::addColumn<QString>("story");
        const QList<std::pair<const char *, const char *>> rows = {
            {"recording on the listener's connection",
             "listen A; record A => recording=on, background=0, notices="},
            {"recording: the listener pauses, it goes on alone",
             "listen A; record A; pause => recording=off, background=1, state=Paused, notices="},
            {"recording: the listener's stream fails, its own says why",
             "listen A; record A; fail; bg fail => background=0, notices=Recording stopped: A"},
            {"recording: the listener switches",
             "listen A; record A; open B => recording=off, background=1"},
            {"recording: the listener's own recording is not ridden",
             "listen A; R; record A; R => recording=off, background=1, notices="},
            {"recording: its end stops only its own",
             "listen A; record A; finish => recording=off, background=0, state=Playing"},
            {"recording of a station that is down says so",
             "listen B; record A; bg fail => background=0, notices=Recording stopped: A"},
            {"alarm over a muted speaker sounds",
             "listen B; mute; pause; ring A; ready => alarm=Ringing, heard=80, state=Playing"},
            {"M during an alarm mutes it, and the mute stays",
             "listen B; mute; pause; ring A; ready; M => heard=muted, stored mute=on"},
            {"another station while it rings: the listener's",
             "listen B; pause; ring A; ready; open B; ready; finish => alarm=Off, state=Playing, "
             "playing=B, heard=100"},
            {"a station failing at once rings the tone at once", "ring Down => tone=on"},
            {"a drop after the first sound arms the tone again",
             "ring A; ready; drop; wait 30s => alarm=Ringing, tone=on"},
            {"through Play On, a renderer that stays silent: the tone",
             "elsewhere; ring A; ready; wait 30s => state=Playing, tone=on"},
            {"through Play On, the renderer playing it: no tone",
             "elsewhere; ring A; ready; heard there; wait 30s => state=Playing, tone=off"},
            {"through Play On, the renderer stops: the tone",
             "elsewhere; ring A; ready; heard there; silent there; wait 30s => tone=on"},
            {"snooze lasts ten minutes, not the silence wait",
             "ring A; ready; snooze; wait 30s => alarm=Snoozed, state=Paused, tone=off"},
        };
        for (const auto &[name, story] : rows)
            QTest::newRow(name) << QString::fromUtf8(story);
    }
    void whatARunDoes()
    {
        QFETCH(QString, story);
        const QString steps = story.section(" => ", 0, 0);
        if (!m_audio) {
            m_audio = std::make_unique<AudioSession>();
            QVERIFY2(m_audio->start(), qPrintable(m_audio->errorString()));
        }
        Clock::shared()->setTimeScale(0.005); // 20 s in 100 ms, ten minutes in 3 s
        const auto reset = qScopeGuard([] { Clock::shared()->setTimeScale(1.0); });
        QTemporaryDir music;
        FakeMediaFactory media;
        // "Down" has no address: it fails as soon as it is asked for.
        const auto programOf = [](const QString &name) {
            return program::make(name, QString(),
                                 name == "Down" ? QString()
                                                : "http://127.0.0.1:1/" + name.toLower());
        };
        QVERIFY(CacheManager::shareIntance()->saveLiveData(programOf("B")));
        PlaybackSession session;
        session.volume()->setLevel(1.0);
        session.volume()->setMuted(false);
        Recorder::Options options;
        options.folder = music.path();
        options.pollMs = 10;
        Recorder recorder(&session, options);
        Alarm alarm(&session, [&session](const QVariantMap &program) {
            CacheManager::shareIntance()->saveLiveData(program);
            session.playCurrent();
            return true;
        });
        Scheduler scheduler(path(), [] { return QList<programindex::Program>(); });
        ScheduledRuns runs(&scheduler, &session, &recorder, &alarm);
        QStringList notices;
        connect(&runs, &ScheduledRuns::notice, this,
                [&notices](const QString &title) { notices << title; });
        Schedule last;
        const QHash<QString, std::function<void()>> actions = {
            {"drop", [&] { media.lastItem()->setReconnecting(true); }},
            {"finish", [&] { Q_EMIT scheduler.finished(last, Occurrence()); }},
            {"elsewhere", [&] { session.setLocalSound(false); }}, // Play On chose a renderer
            {"heard there", [&] { alarm.setSoundElsewhere(true); }},
            {"silent there", [&] { alarm.setSoundElsewhere(false); }},
            {"pause", [&] { session.pause(); }},
            {"R", [&] { recorder.toggleRecording(); }},
            {"M", [&] { session.volume()->toggleMute(); }},
            {"mute", [&] { session.volume()->setMuted(true); }},
            {"snooze", [&] { alarm.snooze(); }}};
        for (const QString &step : steps.split("; ")) {
            const QString arg = step.section(' ', -1);
            const bool recording = step.startsWith("record ");
            if (step.startsWith("listen ") || step.startsWith("open ")) {
                QVERIFY(CacheManager::shareIntance()->saveLiveData(programOf(arg)));
                session.refreshProgram();
                session.playCurrent();
                if (step.startsWith("listen "))
                    media.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
            } else if (arg == "ready" || arg == "fail") { // the newest stream
                media.lastItem()->setStatus(arg == "ready" ? MediaItem::StatusReadyToPlay
                                                           : MediaItem::StatusFailed);
            } else if (recording || step.startsWith("ring ")) {
                last = make(recording ? "record" : "play", "07:00", "MTWTFSS", recording ? 60 : 0);
                last.id = recording ? 1 : 2;
                last.program = programOf(arg);
                last.volume = 80;
                Q_EMIT scheduler.due(
                    last, schedule::occurrence(last, Clock::shared()->currentDateTimeUtc()));
            } else if (actions.contains(step)) {
                actions[step]();
            } else if (step.startsWith("wait ")) {
                QTest::qWait(Clock::shared()->scaled(arg.chopped(1).toInt() * 1000));
            } else {
                QFAIL(qPrintable("no such step: " + step));
            }
            QCoreApplication::processEvents(); // what is looked at once the recorder said why
        }
        const Volume *v = session.volume();
        const QHash<QString, QString> seen = {
            {"recording", recorder.isRecording() ? "on" : "off"},
            {"background", QString::number(runs.backgroundRecordings())},
            {"state", QVariant::fromValue(session.state()).toString()},
            {"alarm", QVariant::fromValue(alarm.state()).toString()},
            {"tone", alarm.isToneRinging() ? "on" : "off"},
            {"heard",
             v->effectiveMuted() ? "muted" : QString::number(qRound(v->effectiveLevel() * 100))},
            {"stored mute", v->isMuted() ? "on" : "off"},
            {"playing", program::name(session.currentProgram())},
            {"notices", notices.join(" | ")}};
        for (const QString &pair : story.section(" => ", 1).split(", ")) {
            const QString key = pair.section('=', 0, 0);
            QVERIFY2(seen.value(key, "unknown") == pair.section('=', 1),
                     qPrintable(QStringLiteral("%1 is %2 after %3").arg(key, seen[key], steps)));
        }
        session.volume()->setMuted(false);
    }
};

ORBITUNE_CORE_TEST_MAIN(TestSchedule)
#include "tst_schedule.moc"
