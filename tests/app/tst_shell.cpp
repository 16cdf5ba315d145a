// The application shell: one instance per user, reopening the window, and
// what closing the window does.
#include "support/FakeImageLoader.h"
#include "support/TestEnv.h"

#include "app/AppDelegate.h"
#include "platform/SingleInstance.h"
#include "player/HomeViewController.h"
#include "store/CacheManager.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

class ShellTest : public QObject {
    Q_OBJECT

    static QString binary() { return qEnvironmentVariable("ORBITUNE_BINARY"); }

private Q_SLOTS:
    void initTestCase()
    {
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY2(QFileInfo::exists(binary()), "ORBITUNE_BINARY must name the built app");
    }

    void secondLaunchAsksTheFirstToReopenAndExits()
    {
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
        second.start(binary(), {});
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(reopen.count(), 1, 10000);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        // It never got as far as touching the data file.
        QVERIFY(!QFile::exists(TestEnv::instance()->dataFile()));
    }

    void strangersAndGarbageAreIgnored()
    {
        SingleInstance first;
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy reopen(&first, &SingleInstance::reopenRequested);
        for (const QByteArray &junk :
             {QByteArray("hello\n"), QByteArray("orbitune:reopen-now\n"), QByteArray(4096, 'x')}) {
            QLocalSocket socket;
            socket.connectToServer(SingleInstance::socketPath());
            QVERIFY(socket.waitForConnected(2000));
            socket.write(junk);
            socket.flush();
            QTRY_VERIFY(socket.state() == QLocalSocket::UnconnectedState);
        }
        QCOMPARE(reopen.count(), 0);
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

    void reopenShowsTheHiddenWindow()
    {
        FakeImageLoader images;
        AppDelegate delegate;
        delegate.loadMainInterface();
        QWidget *window = delegate.homeViewController()->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->close();
        QVERIFY(!window->isVisible());
        QVERIFY(!QApplication::quitOnLastWindowClosed());
        QVERIFY(delegate.applicationShouldHandleReopen(false));
        QTRY_VERIFY(window->isVisible());
        QVERIFY(delegate.applicationShouldHandleReopen(true));
        QVERIFY(window->isVisible());
    }
};

ORBITUNE_TEST_MAIN(ShellTest)
#include "tst_shell.moc"
