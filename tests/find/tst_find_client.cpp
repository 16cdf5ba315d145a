// The directory client against the loopback stand-in: what it asks for, how
// it reads answers, and how it moves on from a failing server.
#include "FakeDirectory.h"
#include "support/TestEnv.h"

#include "find/DirectoryClient.h"
#include "find/ServerDiscovery.h"

#include <QApplication>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

class FindClientTest : public QObject {
    Q_OBJECT

    FakeDirectory directory;

    static QList<Station> stationsOf(const QSignalSpy &spy)
    {
        return spy.isEmpty() ? QList<Station>() : spy.last().at(1).value<QList<Station>>();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<StationQuery>();
        qRegisterMetaType<QList<Station>>();
        QVERIFY(directory.isUp());
    }

    void readingAnswersKeepsOnlyUsableStations()
    {
        // One usable station after another, then entries that are not stations.
        const QByteArray body = readFixture(QStringLiteral("find/mixed-entries.json"));
        const stationjson::Result r = stationjson::parse(body);
        QVERIFY(r.ok);
        QCOMPARE(r.skipped, 7);
        QCOMPARE(r.stations.size(), 3);
        const Station &first = r.stations.at(0);
        QCOMPARE(first.name, QStringLiteral("Two Lines"));
        QCOMPARE(first.streamUrl, QStringLiteral("http://h/live.mp3"));
        QCOMPARE(first.favicon, QStringLiteral("https://h/i.png"));
        QCOMPARE(first.tags, QStringLiteral("jazz, blues"));
        QCOMPARE(first.formatText(), QStringLiteral("AAC · 96 kbps"));
        // No resolved URL (or a broken one): the listed URL; a script is no icon.
        QCOMPARE(r.stations.at(1).streamUrl, QStringLiteral("http://h/plain.mp3"));
        QVERIFY(r.stations.at(1).favicon.isEmpty());
        QCOMPARE(r.stations.at(1).bitrate, 0);
        QCOMPARE(r.stations.at(2).streamUrl, QStringLiteral("http://h/ok.mp3"));

        for (const QByteArray &bad : {QByteArray("<html>"), QByteArray("{\"a\": 1}"),
                                      QByteArray(""), QByteArray("[1, 2")}) {
            const stationjson::Result broken = stationjson::parse(bad);
            QVERIFY2(!broken.ok, bad.constData());
            QVERIFY(broken.error.contains(QStringLiteral("could not be read")));
        }
    }

    void searchAsksForPopularWorkingStationsAndNamesTheApp()
    {
        DirectoryClient client;
        client.setServers({directory.url()});
        QSignalSpy done(&client, &DirectoryClient::searchFinished);
        const int before = int(directory.searches().size());
        StationQuery query;
        query.name = QStringLiteral("jazz");
        query.country = QStringLiteral("a&b=c");
        query.language = QStringLiteral("C++ fans");
        query.tag = QStringLiteral("  ");
        query.offset = 7;
        client.search(query);
        QVERIFY(client.isBusy());
        QVERIFY(done.wait(10000));
        QVERIFY(!client.isBusy());

        const QJsonObject sent = directory.searches().at(before);
        const QJsonObject q = sent.value(QStringLiteral("query")).toObject();
        QCOMPARE(sent.value(QStringLiteral("ua")).toString(),
                 QStringLiteral("Orbitune/" ORBITUNE_VERSION));
        QCOMPARE(q.value(QStringLiteral("name")).toString(), QStringLiteral("jazz"));
        QCOMPARE(q.value(QStringLiteral("country")).toString(), QStringLiteral("a&b=c"));
        QCOMPARE(q.value(QStringLiteral("language")).toString(), QStringLiteral("C++ fans"));
        QVERIFY(!q.contains(QStringLiteral("tag")));
        QCOMPARE(q.value(QStringLiteral("order")).toString(), QStringLiteral("clickcount"));
        QCOMPARE(q.value(QStringLiteral("reverse")).toString(), QStringLiteral("true"));
        QCOMPARE(q.value(QStringLiteral("hidebroken")).toString(), QStringLiteral("true"));
        QCOMPARE(q.value(QStringLiteral("limit")).toString(), QStringLiteral("100"));
        QCOMPARE(q.value(QStringLiteral("offset")).toString(), QStringLiteral("7"));

        // Most listened first, the broken one left out.
        query = StationQuery();
        query.name = QStringLiteral("jazz");
        client.search(query);
        QVERIFY(done.wait(10000));
        QStringList names;
        for (const Station &s : stationsOf(done))
            names << s.name;
        QCOMPARE(names, (QStringList{QStringLiteral("Jazz Lounge"), QStringLiteral("Jazz Classics"),
                                     QStringLiteral("Tokyo Jazz Cafe")}));
        QVERIFY(stationsOf(done).at(0).streamUrl.endsWith(QStringLiteral("/none.mp3")));

        client.reportClick(stationsOf(done).at(1).uuid);
        QTRY_COMPARE(directory.clicks(), QStringList{stationsOf(done).at(1).uuid});
    }

    void failingServersAreSkippedAndTheWorkingOneKept()
    {
        FakeDirectory failing;
        QVERIFY(failing.isUp());
        failing.setMode(QStringLiteral("500"));
        const QUrl refused(QStringLiteral("http://127.0.0.1:%1").arg(childprocess::freePort()));

        DirectoryClient client;
        client.setServers({refused, failing.url(), directory.url()});
        QSignalSpy done(&client, &DirectoryClient::searchFinished);
        QSignalSpy failed(&client, &DirectoryClient::searchFailed);
        client.search(StationQuery());
        QVERIFY(done.wait(10000));
        QCOMPARE(stationsOf(done).size(), 100);
        QCOMPARE(failing.searches().size(), 1);

        // The next search goes straight to the server that answered.
        client.search(StationQuery());
        QVERIFY(done.wait(10000));
        QCOMPARE(failing.searches().size(), 1);
        QVERIFY(failed.isEmpty());

        // With every server failing, the last failure is what the user hears of.
        client.setServers({refused, failing.url()});
        client.search(StationQuery());
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.last().at(1).toString(),
                 QStringLiteral("The station directory answered with an error (HTTP 500)."));
        QCOMPARE(failing.searches().size(), 2);
    }

    // An answer over the cap, however it comes, is dropped and the next
    // server asked; a click's answer is never waited for long or kept.
    void oversizedOrEndlessAnswers_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("alone"); // the failure when no other server is left
        QTest::newRow("announced") << "huge"
                                   << "too large (over 4 MB)";
        QTest::newRow("announced, then gone") << "hugeclose"
                                              << "too large (over 4 MB)";
        QTest::newRow("no length") << "endless"
                                   << "too large (over 4 MB)";
        QTest::newRow("length too small") << "understated"
                                          << "could not be read";
        QTest::newRow("a byte now and then") << "trickle"
                                             << "did not answer in time";
    }

    void oversizedOrEndlessAnswers()
    {
        QFETCH(QString, mode);
        QFETCH(QString, alone);
        FakeDirectory hostile;
        QVERIFY(hostile.isUp());
        hostile.setMode(mode);
        DirectoryClient client;
        client.setTimeout(mode == QStringLiteral("trickle") ? 1000 : 60000);
        QSignalSpy done(&client, &DirectoryClient::searchFinished);
        QSignalSpy failed(&client, &DirectoryClient::searchFailed);
        client.setServers({hostile.url()});
        client.search(StationQuery());
        QVERIFY(failed.wait(10000));
        QVERIFY2(failed.last().at(1).toString().contains(alone),
                 qPrintable(failed.last().at(1).toString()));
        client.reportClick(QStringLiteral("u-1"));
        QTRY_COMPARE(hostile.clicks(), QStringList{QStringLiteral("u-1")});
        QTRY_VERIFY_WITH_TIMEOUT(client.findChildren<QNetworkReply *>().isEmpty(), 8000);

        client.setServers({hostile.url(), directory.url()});
        client.search(StationQuery());
        QVERIFY(done.wait(10000));
        QCOMPARE(stationsOf(done).size(), 100);
        QCOMPARE(failed.size(), 1);
    }

    void directoryAddressComesFromTheEnvironment()
    {
        qputenv("ORBITUNE_DIRECTORY_URL", "http://127.0.0.1:8080/, ftp://x  https://api.example/");
        QCOMPARE(ServerDiscovery::fromEnvironment(),
                 (QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:8080")),
                              QUrl(QStringLiteral("https://api.example"))}));
        DirectoryClient client;
        QCOMPARE(client.servers().size(), 2);
        qunsetenv("ORBITUNE_DIRECTORY_URL");
        QCOMPARE(ServerDiscovery::reverseName(QStringLiteral("1.2.3.4")),
                 QStringLiteral("4.3.2.1.in-addr.arpa"));
    }
};

ORBITUNE_TEST_MAIN(FindClientTest)
#include "tst_find_client.moc"
