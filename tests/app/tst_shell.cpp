// The application shell: one instance per user, reopening the window, and
// what closing the window does.
#include "support/FakeImageLoader.h"
#include "support/StreamServers.h"
#include "support/TestEnv.h"

#include "app/AppDelegate.h"
#include "app/StartupOptions.h"
#include "integrations/NowPlayingNotices.h"
#include "mainwindow/HomeViewController.h"
#include "platform/base/Settings.h"
#include "platform/desktop/Autostart.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/ui/WindowHost.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class ShellTest : public QObject {
    Q_OBJECT

    static QString binary() { return qEnvironmentVariable("ORBITUNE_BINARY"); }

    // Starts the real app. With the shipped defaults it would fetch the
    // stations' pictures; a private network namespace keeps every such
    // attempt on this machine (the reopen socket is a file path, so it still
    // works across it).
    // Tests that start the app check canIsolate() first and skip without it.
    static bool canIsolate()
    {
        static const bool isolate =
            QProcess::execute(QStringLiteral("unshare"),
                              {QStringLiteral("-rn"), QStringLiteral("true")}) == 0;
        return isolate;
    }
    static void startApp(QProcess &app)
    {
        app.start(QStringLiteral("unshare"), {QStringLiteral("-rn"), binary()});
    }
    static constexpr const char *kNoIsolation =
        "unshare -rn is not available: without a private network namespace the app "
        "would fetch the stations' pictures";

private Q_SLOTS:
    void initTestCase()
    {
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY2(QFileInfo::exists(binary()), "ORBITUNE_BINARY must name the built app");
    }

    void secondLaunchAsksTheFirstToReopenAndExits()
    {
        if (!canIsolate())
            QSKIP(kNoIsolation);
        SingleInstance first;
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy reopen(&first, &SingleInstance::reopenRequested);

        // The socket is private to this user.
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(SingleInstance::socketPath()).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 0077, 0u);

        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startApp(second);
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(reopen.count(), 1, 10000);
        // It may have ended already while the event loop ran.
        if (second.state() != QProcess::NotRunning)
            QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        // It never got as far as touching the data file.
        QVERIFY(!QFile::exists(TestEnv::instance()->dataFile()));
    }

    // Started by the desktop (at login, for its search) while Orbitune runs:
    // the running one is asked whether it is there, not to show its window.
    void hiddenLaunchLeavesTheRunningOneAlone()
    {
        if (!canIsolate())
            QSKIP(kNoIsolation);
        SingleInstance first;
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy reopen(&first, &SingleInstance::reopenRequested);
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        second.start(QStringLiteral("unshare"),
                     {QStringLiteral("-rn"), binary(), QStringLiteral("--hidden")});
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(reopen.count(), 0);
        QVERIFY(!QFile::exists(TestEnv::instance()->dataFile()));
    }

    void strangersAndGarbageAreIgnored()
    {
        SingleInstance first;
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy reopen(&first, &SingleInstance::reopenRequested);
        first.setCommandHandler([](const QStringList &, const SingleInstance::Reply &reply) {
            reply({0, "ran\n"});
        });
        for (const QByteArray &junk :
             {QByteArray("hello\n"), QByteArray("orbitune:reopen-now\n"), QByteArray(4096, 'x'),
              SingleInstance::commandPrefix() + QByteArray(20000, '['),
              SingleInstance::commandPrefix() + "[\"--status\", 7]\n"}) {
            QLocalSocket socket;
            socket.connectToServer(SingleInstance::socketPath());
            QVERIFY(socket.waitForConnected(2000));
            socket.write(junk);
            socket.flush();
            QTRY_VERIFY(socket.state() == QLocalSocket::UnconnectedState);
        }
        QCOMPARE(reopen.count(), 0);
    }

    // The command line against the running instance: each command run as
    // its own process with no display, its exit code and what it printed.
    void commandLineDrivesTheRunningInstance()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        const auto run = [&](const QStringList &args) {
            QProcess command;
            command.setProcessEnvironment(env);
            command.start(binary(), args);
            // The instance answers from this event loop.
            const bool ended =
                command.waitForStarted() &&
                QTest::qWaitFor([&] { return command.state() == QProcess::NotRunning; }, 20000);
            const QString said =
                QString::fromUtf8(command.readAllStandardOutput() + command.readAllStandardError());
            return QStringLiteral("%1 %2").arg(ended ? command.exitCode() : -1).arg(said.trimmed());
        };
        // Nobody running: 2, and with no display nothing is started.
        QCOMPARE(run({QStringLiteral("--status")}), QStringLiteral("2 orbitune: not running"));
        QCOMPARE(run({QStringLiteral("--play"), QStringLiteral("x")}),
                 QStringLiteral("2 orbitune: not running"));

        StreamServers servers;
        QVERIFY(servers.start());
        FakeImageLoader images;
        SingleInstance instance;
        QCOMPARE(instance.start(), SingleInstance::Role::Primary);
        AppDelegate delegate;
        delegate.loadMainInterface();
        delegate.answerCommands(&instance);
        // The next tests start from no list and full volume.
        const auto reset = qScopeGuard([&delegate] {
            delegate.session()->volume()->setLevel(1.0);
            QFile::remove(TestEnv::instance()->dataFile());
        });
        const QString tone = servers.mp3Url().toString();
        QVERIFY(servers.setMountTitle(QStringLiteral("/live.mp3"), QStringLiteral("Loop Song")));

        // Each row: the arguments, then the code and what is printed (a
        // "~" row: what it starts with).
        const QList<std::pair<QStringList, QString>> rows{
            {{"--volume", "40"}, "0 Volume 40 %"},
            {{"--volume", "+5"}, "0 Volume 45 %"},
            {{"--volume", "-50"}, "0 Volume 0 %"},
            {{"--volume", "abc"},
             "1 orbitune: --volume takes 0 to 100, or +N or -N to change it by N (see --help)"},
            {{"--volume", "70"}, "0 Volume 70 %"},
            {{"--add", "file:///etc/passwd"},
             "1 \"file:///etc/passwd\" is not an http or https address."},
            {{"--add", tone, "--name", "Loop Tone", "--group", "Tests"}, "0 Loop Tone"},
            {{"--add", tone, "--name", "Loop Tone Three", "--group", "TESTS"}, "0 Loop Tone Three"},
            {{"--add", tone, "--name", "Loop Tone Two"}, "0 Loop Tone Two"},
            {{"--play", "no such station"}, "1 No program is called \"no such station\"."},
            {{"--play", "loop"}, "~1 \"loop\" names more than one program:"},
            {{"--play", "Loop Tone"}, "0 Loop Tone"},
            {{"--mute"}, "0 Muted"},
            {{"--mute"}, "0 Not muted"},
            {{"--pause", "--stop"},
             "1 orbitune: one command at a time: --pause and --stop (see --help)"},
        };
        for (const auto &[args, expected] : rows) {
            const QString said = run(args);
            if (expected.startsWith(QLatin1Char('~')))
                QVERIFY2(said.startsWith(expected.mid(1)), qPrintable(said));
            else
                QCOMPARE(said, expected);
        }
        // Playing, with its title, as a script reads it.
        QTRY_COMPARE_WITH_TIMEOUT(delegate.session()->state(), PlaybackSession::State::Playing,
                                  20000);
        QTRY_COMPARE_WITH_TIMEOUT(delegate.session()->nowPlaying(), QStringLiteral("Loop Song"),
                                  20000);
        const QString json = run({QStringLiteral("--status"), QStringLiteral("--json")});
        QVERIFY2(json.startsWith(QLatin1String("0 ")), qPrintable(json));
        const QJsonObject status = QJsonDocument::fromJson(json.mid(2).toUtf8()).object();
        QCOMPARE(status.value(QStringLiteral("program")).toString(), QStringLiteral("Loop Tone"));
        QCOMPARE(status.value(QStringLiteral("group")).toString(), QStringLiteral("Tests"));
        QCOMPARE(status.value(QStringLiteral("title")).toString(), QStringLiteral("Loop Song"));
        QCOMPARE(status.value(QStringLiteral("state")).toString(), QStringLiteral("playing"));
        QCOMPARE(status.value(QStringLiteral("volume")).toInt(), 70);
        const QString list = run({QStringLiteral("--list")});
        QVERIFY(list.contains(QLatin1String("\tLoop Tone\tTests\n")));
        QVERIFY(list.contains(QLatin1String("\tLoop Tone Three\tTests"))); // joined in any case

        // Back in what is kept (once some seconds were heard), then live; pause.
        QTRY_VERIFY_WITH_TIMEOUT(delegate.session()->positionMs() > 6000, 20000);
        const QString back = run({QStringLiteral("--back"), QStringLiteral("3")});
        QVERIFY2(back.startsWith(QStringLiteral("0 \u22120:0")), qPrintable(back));
        QVERIFY2(delegate.session()->behindLiveMs() > 2000,
                 qPrintable(QString::number(delegate.session()->behindLiveMs())));
        QCOMPARE(run({QStringLiteral("--live")}), QStringLiteral("0 "));
        QCOMPARE(delegate.session()->behindLiveMs(), 0);
        QCOMPARE(run({QStringLiteral("--toggle")}), QStringLiteral("0 "));
        QCOMPARE(delegate.session()->state(), PlaybackSession::State::Paused);
        // Next stays within the group: past the ungrouped "Loop Tone Two".
        QCOMPARE(run({QStringLiteral("--next")}), QStringLiteral("0 Loop Tone Three"));
    }

    void leftoverSocketFromACrashIsReplaced()
    {
        {
            SingleInstance crashed;
            QCOMPARE(crashed.start(), SingleInstance::Role::Primary);
        }
        // Make sure a file is there without anyone listening.
        QFile stale(SingleInstance::socketPath());
        if (!stale.exists()) {
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.close();
        }
        SingleInstance next;
        QCOMPARE(next.start(500), SingleInstance::Role::Primary);
    }

    // The real program on a fresh data directory, checked by another plist
    // reader; then the same with a file nobody can read in the way.
    void realStartSeedsAFileOtherToolsReadAndKeepsGarbageAside()
    {
        if (!canIsolate())
            QSKIP(kNoIsolation);
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner);
        const QString dataDir = home.path() + QStringLiteral("/data/orbitune");
        const QString dataFile = dataDir + QStringLiteral("/data.plist");
        const QString resources = qEnvironmentVariable("ORBITUNE_SOURCE_DIR") +
                                  QStringLiteral("/resources/default.plist");

        auto runUntilSeeded = [&] {
            QProcess app;
            app.setProcessEnvironment(env);
            app.setProcessChannelMode(QProcess::ForwardedOutputChannel);
            app.setStandardErrorFile(QProcess::nullDevice());
            startApp(app);
            QVERIFY(app.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(
                QFile(dataFile).size() > 0 &&
                    [&] {
                        QFile f(dataFile);
                        return f.open(QIODevice::ReadOnly) &&
                               f.readAll().contains("<key>live</key>");
                    }(),
                20000);
            app.terminate();
            QVERIFY(app.waitForFinished(5000));
        };
        auto samePlistAsDefaults = [&] {
            QProcess python;
            python.start(QStringLiteral("python3"),
                         {QStringLiteral("-c"),
                          QStringLiteral("import plistlib,sys\n"
                                         "a=plistlib.load(open(sys.argv[1],'rb'))\n"
                                         "b=plistlib.load(open(sys.argv[2],'rb'))\n"
                                         "sys.exit(0 if a==b and len(a['data'])>=8 else 1)"),
                          dataFile, resources});
            return python.waitForFinished(10000) && python.exitCode() == 0;
        };

        runUntilSeeded();
        QVERIFY(samePlistAsDefaults());

        const QByteArray garbage("<plist><dict><key>data</key><array><dict>oops");
        {
            QFile f(dataFile);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(garbage);
        }
        runUntilSeeded();
        QVERIFY(samePlistAsDefaults());
        const QStringList kept =
            QDir(dataDir).entryList({QStringLiteral("data.plist.unreadable-*")});
        QCOMPARE(kept.size(), 1);
        QFile old(dataDir + QLatin1Char('/') + kept.first());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), garbage);
    }

    void withoutADisplayItSaysSoInOneLineAndFails()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QProcess app;
        app.setProcessEnvironment(env);
        // Nothing is started before the check, so no namespace is needed.
        app.start(binary(), {});
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit); // no abort, no core
        QVERIFY(app.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(app.readAllStandardError()).trimmed();
        QVERIFY2(err.contains(QLatin1String("graphical session")), qPrintable(err));
        QVERIFY2(!err.contains(QLatin1Char('\n')), qPrintable(err));
        QVERIFY(app.readAllStandardOutput().isEmpty());
        QVERIFY(!QFile::exists(TestEnv::instance()->dataFile()));
    }

    void reopenShowsTheHiddenWindow()
    {
        FakeImageLoader images;
        AppDelegate delegate;
        delegate.loadMainInterface();
        QWidget *window = delegate.homeViewController()->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // The application icon is set right after the first frame.
        QTRY_VERIFY(!QApplication::windowIcon().isNull());
        window->close();
        QVERIFY(!window->isVisible());
        QVERIFY(!QApplication::quitOnLastWindowClosed());
        QVERIFY(delegate.applicationShouldHandleReopen(false));
        QTRY_VERIFY(window->isVisible());
        QVERIFY(delegate.applicationShouldHandleReopen(true));
        QVERIFY(window->isVisible());
    }

    void reopenRestoresAMinimisedWindowAndRaisesOneBehindOthers()
    {
        FakeImageLoader images;
        AppDelegate delegate;
        delegate.loadMainInterface();
        QWidget *window = delegate.homeViewController()->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        delegate.reopenRequested();
        QTRY_VERIFY(window->isActiveWindow());
        QVERIFY(!(window->windowState() & Qt::WindowMinimized));

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        delegate.reopenRequested();
        QTRY_VERIFY(window->isActiveWindow());
    }

    // A long list is cut short in the tray: 50 programs of no group, 50
    // groups, 50 programs in a group; "All Programs…" after those cut shows
    // the window with the list over it.
    void trayCutsALongListShort()
    {
        settings::open()->clear();
        FakeImageLoader images;
        const auto make = [](const QString &name, const QString &group) {
            return program::withGroup(
                program::make(name, QString(), QStringLiteral("http://127.0.0.1:9/") + name),
                group);
        };
        QFile::remove(TestEnv::instance()->dataFile());
        QVariantList list;
        for (int i = 0; i < 60; ++i) {
            list << make(QStringLiteral("Free%1").arg(i), QString())
                 << make(QStringLiteral("Big%1").arg(i), QStringLiteral("Big"))
                 << make(QStringLiteral("Lone%1").arg(i),
                         QStringLiteral("G%1").arg(i, 2, 10, QLatin1Char('0')));
        }
        QVERIFY(CacheManager::shareIntance()->appendData(list));
        AppDelegate delegate;
        delegate.loadMainInterface();
        HomeViewController *home = delegate.homeViewController();
        Q_EMIT home->host()->trayMenuAboutToShow();
        auto *programs = home->statusMenu()->findChild<QMenu *>(QStringLiteral("trayProgramsMenu"));
        QVERIFY(programs);
        const auto texts = [](QMenu *menu) {
            QStringList out;
            for (QAction *a : menu->actions())
                out << (a->isSeparator() ? QStringLiteral("-") : a->text());
            return out;
        };
        const QStringList top = texts(programs);
        QCOMPARE(top.indexOf(QStringLiteral("Free49")), 49);
        QVERIFY(!top.contains(QStringLiteral("Free50")));
        QCOMPARE(top.at(50), QStringLiteral("Big"));
        QCOMPARE(top.at(51), QStringLiteral("G00"));
        QCOMPARE(top.at(99), QStringLiteral("G48"));
        QCOMPARE(top.mid(100), (QStringList{"-", "All Programs…"}));
        const QStringList big = texts(programs->actions().at(50)->menu());
        QCOMPARE(big.size(), 52);
        QCOMPARE(big.at(49), QStringLiteral("Big49"));
        QCOMPARE(big.mid(50), (QStringList{"-", "All Programs…"}));
        QCOMPARE(texts(programs->actions().at(51)->menu()), QStringList{"Lone0"});

        home->view()->hide();
        programs->actions().constLast()->trigger();
        QTRY_VERIFY(home->view()->isVisible());
        QTRY_VERIFY(home->presentedViewController());
    }

    // "Notifications" ends the tray's Listening section and is remembered
    // (so is "Even Out Loudness");
    // the notices hear whether the window is shown.
    void notificationsInTheTrayMenuFollowTheWindow()
    {
        settings::open()->clear();
        FakeImageLoader images;
        AppDelegate delegate;
        delegate.loadMainInterface();
        QWidget *window = delegate.homeViewController()->view();
        QTRY_VERIFY(delegate.notices());
        NowPlayingNotices *notices = delegate.notices();
        QMenu *menu = delegate.homeViewController()->statusMenu();
        auto *toggle = menu->findChild<QAction *>(QStringLiteral("notificationsAction"));
        QVERIFY(toggle && toggle->isCheckable() && toggle->isChecked());
        QCOMPARE(toggle->text(), QStringLiteral("Notifications"));
        const QList<QAction *> actions = menu->actions();
        // After the sleep timer (Listening), before Find Stations (Stations).
        auto *sleepOff = menu->findChild<QAction *>(QStringLiteral("sleep0Action"));
        auto *find = menu->findChild<QAction *>(QStringLiteral("findAction"));
        QVERIFY(sleepOff && find);
        const QAction *sleep = qobject_cast<QMenu *>(sleepOff->parent())->menuAction();
        QVERIFY(actions.indexOf(sleep) < actions.indexOf(toggle));
        QCOMPARE(actions.indexOf(find), actions.indexOf(toggle) + 1);
        // "Even Out Loudness" in Listening too: on at first, the session's,
        // remembered.
        auto *even = menu->findChild<QAction *>(QStringLiteral("evenLoudnessAction"));
        QVERIFY(even && even->isCheckable() && even->isChecked());
        QCOMPARE(even->text(), QStringLiteral("Even Out Loudness"));
        QVERIFY(actions.indexOf(sleep) < actions.indexOf(even) &&
                actions.indexOf(even) < actions.indexOf(toggle));
        even->trigger();
        QVERIFY(!delegate.homeViewController()->session()->evenLoudness());
        QCOMPARE(settings::open()->value(QStringLiteral("playback/evenOutLoudness")), false);

        QVERIFY(!notices->isWindowHidden());
        window->close();
        QVERIFY(notices->isWindowHidden());
        window->show();
        QVERIFY(!notices->isWindowHidden());

        toggle->trigger();
        QVERIFY(!notices->isEnabled());
        QVERIFY(!settings::open()->value(QStringLiteral("notifications/enabled")).toBool());
        notices->setEnabled(true);
        QVERIFY(toggle->isChecked());
        settings::open()->clear();
    }

    // Started by the desktop (--hidden) only the tray shows; the stored
    // choice to resume plays the current program once everything is up.
    void startHiddenAndResume_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("resume");
        QTest::newRow("started by the listener") << false << false;
        QTest::newRow("started hidden, resuming") << true << true;
        QTest::newRow("started hidden, not resuming") << true << false;
    }

    void startHiddenAndResume()
    {
        QFETCH(bool, hidden);
        QFETCH(bool, resume);
        QFile::remove(TestEnv::instance()->dataFile()); // the defaults' current program
        StartupOptions::setResumesPlaying(resume);
        QApplication::setWindowIcon(QIcon());
        FakeImageLoader images;
        AppDelegate delegate;
        delegate.setStartsHidden(hidden);
        delegate.loadMainInterface();
        // The icon is the first thing set once the start-up is done.
        QTRY_VERIFY(!QApplication::windowIcon().isNull());
        QCOMPARE(delegate.homeViewController()->view()->isVisible(), !hidden);
        if (resume)
            QTRY_VERIFY(delegate.session()->state() != PlaybackSession::State::Idle);
        else
            QCOMPARE(delegate.session()->state(), PlaybackSession::State::Idle);
        settings::open()->clear();
    }

    // The Exec value in the entry file, as desktops read it: the file's
    // escapes, then the quoting, then '%'.
    void startAtLoginWritesAnExecLineDesktopsRead_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("a % in the path") << "/opt/50%/orbitune"
                                         << R"("/opt/50%%/orbitune" --hidden)";
        QTest::newRow("quotes, $, ` and \\ in the path")
            << R"(/opt/a "b" $c `d` \e/orbitune)"
            << R"("/opt/a \\"b\\" \\$c \\`d\\` \\\\e/orbitune" --hidden)";
    }

    void startAtLoginWritesAnExecLineDesktopsRead()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(autostart::execLine(program, {QStringLiteral("--hidden")}), exec);
    }

    void startAtLoginAndResumeInTheTrayMenu()
    {
        settings::open()->clear();
        QFile::remove(autostart::entryPath());
        FakeImageLoader images;
        AppDelegate delegate;
        delegate.loadMainInterface();
        QMenu *menu = delegate.homeViewController()->statusMenu();
        const QList<QAction *> actions = menu->actions();
        auto *login = menu->findChild<QAction *>(QStringLiteral("startAtLoginAction"));
        auto *resume = menu->findChild<QAction *>(QStringLiteral("resumePlayingAction"));
        QVERIFY(login && resume);
        QVERIFY(login->isCheckable() && resume->isCheckable());
        QVERIFY(!login->isChecked() && !resume->isChecked()); // both off at first
        // Just above Quit, which stays last.
        QCOMPARE(actions.indexOf(resume), actions.indexOf(login) + 1);
        QCOMPARE(actions.at(actions.indexOf(resume) + 1)->objectName(),
                 QStringLiteral("quitAction"));
        QCOMPARE(actions.last()->objectName(), QStringLiteral("quitAction"));

        login->trigger();
        QVERIFY(login->isChecked());
        QFile entry(autostart::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        entry.close();
        QVERIFY2(text.contains(QStringLiteral("\nExec=") +
                               autostart::execLine(QCoreApplication::applicationFilePath(),
                                                   {QStringLiteral("--hidden")}) +
                               QLatin1Char('\n')),
                 qPrintable(text));
        if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QCOMPARE(QProcess::execute(QStringLiteral("desktop-file-validate"),
                                       {autostart::entryPath()}),
                     0);

        // The desktop's own settings turned it off: the menu says so.
        QVERIFY(entry.open(QIODevice::Append));
        entry.write("Hidden=true\n");
        entry.close();
        Q_EMIT menu->aboutToShow();
        QVERIFY(!login->isChecked());
        login->trigger(); // on again: a fresh entry
        QVERIFY(login->isChecked());
        QVERIFY(autostart::isEnabled());
        login->trigger();
        QVERIFY(!login->isChecked());
        QVERIFY(!QFile::exists(autostart::entryPath()));

        // A folder that cannot be written: the item stays off.
        const QString dir = QFileInfo(autostart::entryPath()).absolutePath();
        QVERIFY(QDir(dir).removeRecursively());
        QFile blocker(dir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        login->trigger();
        QVERIFY(!login->isChecked());
        QVERIFY(QFile::remove(dir));

        resume->trigger();
        QVERIFY(resume->isChecked());
        QVERIFY(StartupOptions::resumesPlaying());
        resume->trigger();
        QVERIFY(!StartupOptions::resumesPlaying());
    }
};

ORBITUNE_TEST_MAIN(ShellTest)
#include "tst_shell.moc"
