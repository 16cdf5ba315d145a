// Find Stations with the real player: the stand-in directory lists stations
// whose streams are a local Icecast mount; choosing one from the window
// opened with Ctrl+F in the main window makes the main window play it, and
// the sound reaches a PulseAudio null sink.
#include "FakeDirectory.h"
#include "support/AudioSession.h"
#include "support/FakeImageLoader.h"
#include "support/StreamServers.h"
#include "support/TestEnv.h"

#include "app/FindLauncher.h"
#include "find/FindViewController.h"
#include "find/StationModel.h"
#include "mainwindow/HomeViewController.h"
#include "platform/base/NotificationCenter.h"
#include "platform/media/GstMediaPlayer.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QtTest>

class FindEndToEndTest : public QObject {
    Q_OBJECT

    AudioSession audio;
    StreamServers servers;
    std::unique_ptr<FakeDirectory> directory;
    std::unique_ptr<LevelMeter> meter;
    GstMediaPlayerFactory factory;

private Q_SLOTS:
    void initTestCase()
    {
        childprocess::shareGstRegistry();
        QVERIFY2(audio.start(), qPrintable(audio.errorString()));
        QVERIFY2(servers.startIcecast(), qPrintable(servers.errorString()));
        QVERIFY2(servers.startSource(QStringLiteral("/live.mp3")),
                 qPrintable(servers.errorString()));
        directory = std::make_unique<FakeDirectory>(servers.mp3Url());
        QVERIFY(directory->isUp());
        meter = std::make_unique<LevelMeter>(audio);
        QVERIFY(meter->start());
        MediaPlayerFactory::setShared(&factory);
        qputenv("ORBITUNE_DIRECTORY_URL", directory->url().toEncoded());
    }

    void cleanupTestCase() { MediaPlayerFactory::setShared(nullptr); }

    void choosingAResultPlaysItInTheMainWindow()
    {
        FakeImageLoader images;
        QFile::remove(TestEnv::instance()->dataFile());
        int livePlays = 0;
        QObject observer;
        NotificationCenter::defaultCenter()->addObserver(&observer, QStringLiteral("LIVE_PLAY"),
                                                         [&livePlays] { ++livePlays; });
        auto home = std::make_unique<HomeViewController>();
        FindLauncher launcher;
        launcher.attachHome(home->host());
        home->view()->show();
        QVERIFY(QTest::qWaitForWindowExposed(home->view()));
        QTest::keyClick(home->view(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(launcher.controller());
        QWidget *window = launcher.controller()->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        auto *field = window->findChild<QLineEdit *>(QStringLiteral("searchField"));
        auto *table = window->findChild<QTableView *>(QStringLiteral("resultsTable"));
        QTest::keyClicks(field, QStringLiteral("rock antenne"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !launcher.controller()->client()->isBusy() && table->model()->rowCount() == 1, 10000);
        const QString uuid = launcher.controller()->model()->station(0).uuid;
        QTest::keyClick(field, Qt::Key_Down);
        QTest::keyClick(table, Qt::Key_Return);

        QCOMPARE(livePlays, 1);
        const QVariantMap live = CacheManager::shareIntance()->getLiveData();
        QCOMPARE(program::name(live), QStringLiteral("Rock Antenne"));
        QCOMPARE(program::url(live), servers.mp3Url().toString());
        QTRY_COMPARE_WITH_TIMEOUT(home->playbackState(), HomeViewController::PlaybackState::Playing,
                                  20000);
        QCOMPARE(home->titleTextField()->text(), QStringLiteral("Rock Antenne"));
        QTRY_VERIFY_WITH_TIMEOUT(meter->recentRms(400) > 0.01, 10000);
        QTRY_COMPARE(directory->clicks(), QStringList{uuid});
        QCOMPARE(directory->requests().last().value(QStringLiteral("ua")).toString(),
                 QStringLiteral("Orbitune/" ORBITUNE_VERSION));
    }
};

ORBITUNE_TEST_MAIN(FindEndToEndTest)
#include "tst_find_e2e.moc"
