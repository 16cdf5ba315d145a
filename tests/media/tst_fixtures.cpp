#include "support/AudioSession.h"
#include "support/StreamServers.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSslSocket>
#include <QtEndian>
#include <QtTest>

#include <memory>

// The helpers other tests build on: a private session bus, a private
// PulseAudio whose null sink can be measured, and the hostile stations of
// the HTTP server, which must stay as hostile as they claim to be.
class TestFixtures : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sessionBusIsPrivateAndGoesAway();
    void silentNullSinkMeasuresSilence();
    void hostileStationAnswers_data();
    void hostileStationAnswers();
    void hostileAnswersChangeFromRequestToRequest();
    void trunBombSegmentExpands();
    void httpsRedirectsToPlainHttp();

private:
    StreamServers *servers();
    std::unique_ptr<StreamServers> m_servers;
};

namespace {

struct Answer {
    QByteArray head; // up to the blank line, empty if none came
    QByteArray body; // or everything, without a blank line
    bool open = false;
};

// What a GET for url brought in ms (or until the server closed).
Answer fetchFor(const QUrl &url, int ms, QAbstractSocket *socket = nullptr)
{
    std::unique_ptr<QAbstractSocket> own;
    if (!socket) {
        own = std::make_unique<QTcpSocket>();
        socket = own.get();
        socket->connectToHost(url.host(), quint16(url.port()));
    }
    if (!socket->waitForConnected(3000))
        return {};
    socket->write("GET " + url.path(QUrl::FullyEncoded).toUtf8() +
                  " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray all;
    QDeadlineTimer deadline(ms);
    while (socket->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        all += socket->readAll();
    }
    all += socket->readAll();
    Answer a;
    a.open = socket->state() == QAbstractSocket::ConnectedState;
    const qsizetype end = all.indexOf("\r\n\r\n");
    a.head = end < 0 ? QByteArray() : all.left(end);
    a.body = end < 0 ? all : all.mid(end + 4);
    return a;
}

int mediaSequence(const QByteArray &playlist)
{
    const qsizetype at = playlist.indexOf("#EXT-X-MEDIA-SEQUENCE:");
    return at < 0 ? -1 : playlist.mid(at + 22).split('\n').first().toInt();
}

} // namespace

StreamServers *TestFixtures::servers()
{
    if (!m_servers) {
        m_servers = std::make_unique<StreamServers>();
        if (!m_servers->startHttp())
            qWarning("no HTTP server: %s", qPrintable(m_servers->errorString()));
    }
    return m_servers.get();
}

void TestFixtures::sessionBusIsPrivateAndGoesAway()
{
    const QByteArray before = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QString address;
    {
        SessionBus bus;
        QVERIFY(bus.start());
        address = bus.address();
        QVERIFY(address.startsWith(QLatin1String("unix:")));
        QVERIFY(address != QString::fromUtf8(before));
        QDBusConnection connection =
            QDBusConnection::connectToBus(address, QStringLiteral("fixture-test"));
        QVERIFY(connection.isConnected());
        QVERIFY(connection.registerService(QStringLiteral("org.orbitune.FixtureTest")));
        QVERIFY(connection.interface()->isServiceRegistered(
            QStringLiteral("org.orbitune.FixtureTest")));
        QDBusConnection::disconnectFromBus(QStringLiteral("fixture-test"));
    }
    // The daemon was stopped with its object.
    QDBusConnection again = QDBusConnection::connectToBus(address, QStringLiteral("fixture-again"));
    QVERIFY(!again.isConnected());
    QDBusConnection::disconnectFromBus(QStringLiteral("fixture-again"));
}

void TestFixtures::silentNullSinkMeasuresSilence()
{
    AudioSession audio;
    QVERIFY2(audio.start(), qPrintable(audio.errorString()));
    QVERIFY(qgetenv("PULSE_SERVER") == audio.serverAddress().toUtf8());
    LevelMeter meter(audio);
    QVERIFY(meter.start());
    // The monitor delivers blocks, and with nothing playing they are silent.
    QTRY_VERIFY_WITH_TIMEOUT(meter.blockCount() >= 25, 3000);
    QCOMPARE(meter.firstSoundAfter(0, 0.001), -1);
    QVERIFY(meter.recentRms(400) < 0.001);
}

void TestFixtures::hostileStationAnswers_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("head");    // in the head; empty: the head never ends
    QTest::addColumn<QByteArray>("body");    // in what came after it
    QTest::addColumn<qsizetype>("minBytes"); // at least this much came in the second
    QTest::addColumn<qsizetype>("maxBytes");
    QTest::addColumn<bool>("open"); // the connection still open after it

    const qsizetype any = 1 << 30;
    QTest::newRow("silent after the head") << "/hostile/silent-head.mp3" << QByteArray("audio/mpeg")
                                           << QByteArray() << qsizetype(0) << qsizetype(0) << true;
    QTest::newRow("silent later, sound first")
        << "/hostile/silent-later.mp3" << QByteArray("audio/mpeg") << QByteArray()
        << qsizetype(8192) << any << true;
    QTest::newRow("a head that never ends")
        << "/hostile/endless-head" << QByteArray() << QByteArray("X-Padding-00000100: ")
        << qsizetype(32 * 1024) << any << true;
    QTest::newRow("a new title every 16 bytes")
        << "/hostile/icy-every.mp3" << QByteArray("icy-metaint: 16")
        << QByteArray("\x02StreamTitle='Artist 1 - Song 1';") << qsizetype(4096) << any << true;
    QTest::newRow("the same title every 16 bytes")
        << "/hostile/icy-same.mp3" << QByteArray("icy-metaint: 16")
        << QByteArray("\x02StreamTitle='Artist - Song';") << qsizetype(4096) << any << true;
    QTest::newRow("1 MB of variants without addresses")
        << "/hostile/hls/master-flood.m3u8" << QByteArray("mpegurl")
        << QByteArray(
               "\"\n#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2\"\n/hls/live.m3u8\n")
        << qsizetype(1 << 20) << any << false;
    QTest::newRow("a millisecond's target duration")
        << "/hostile/hls/tiny-target.m3u8" << QByteArray("mpegurl")
        << QByteArray("#EXT-X-TARGETDURATION:0.001\n") << qsizetype(100) << qsizetype(1000)
        << false;
    QTest::newRow("durations beyond any clock")
        << "/hostile/hls/huge-duration.m3u8" << QByteArray("mpegurl")
        << QByteArray("#EXTINF:1e308,\n/hls/seg") << qsizetype(100) << qsizetype(1000) << false;
    QTest::newRow("fMP4 behind its init segment")
        << "/hostile/hls/trun-bomb.m3u8" << QByteArray("mpegurl")
        << QByteArray("#EXT-X-MAP:URI=\"bomb-init.mp4\"") << qsizetype(100) << qsizetype(1000)
        << false;
}

void TestFixtures::hostileStationAnswers()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(qsizetype, minBytes);
    QFETCH(qsizetype, maxBytes);
    QFETCH(bool, open);
    const Answer a = fetchFor(servers()->httpUrl(path), 1500);
    if (head.isEmpty())
        QVERIFY2(a.head.isEmpty(), a.head.left(200).constData());
    else
        QVERIFY2(a.head.contains(head), a.head.constData());
    QVERIFY2(a.body.contains(body), a.body.left(300).toPercentEncoding().constData());
    QVERIFY2(a.body.size() >= minBytes && a.body.size() <= maxBytes,
             QByteArray::number(a.body.size()).constData());
    QCOMPARE(a.open, open);
}

void TestFixtures::hostileAnswersChangeFromRequestToRequest()
{
    StreamServers *s = servers();
    // The same address, MP3 then AAC then MP3.
    QByteArrayList types;
    for (int i = 0; i < 3; ++i) {
        const Answer a = fetchFor(s->httpUrl(QStringLiteral("/hostile/codec-flip")), 300);
        types << a.head.mid(a.head.indexOf("Content-Type: ")).split('\r').first();
    }
    QCOMPARE(types, QByteArrayList({"Content-Type: audio/mpeg", "Content-Type: audio/aac",
                                    "Content-Type: audio/mpeg"}));
    QCOMPARE(s->hostileHits(QStringLiteral("/hostile/codec-flip")), 3);
    // Every other edge a segment behind: the sequence goes back and forth.
    const QUrl lagging = s->httpUrl(QStringLiteral("/hostile/hls/lagging.m3u8"));
    const int first = mediaSequence(fetchFor(lagging, 1000).body);
    QVERIFY(first > 0);
    QCOMPARE(mediaSequence(fetchFor(lagging, 1000).body), first - 1);
}

void TestFixtures::trunBombSegmentExpands()
{
    const QByteArray seg =
        fetchFor(servers()->httpUrl(QStringLiteral("/hostile/hls/bomb-00001.m4s")), 2000).body;
    const auto u32 = [&seg](qsizetype at) { return qFromBigEndian<quint32>(seg.constData() + at); };
    QVERIFY(seg.size() > 30000 && seg.size() < 40000);
    QCOMPARE(seg.mid(4, 4), QByteArray("moof"));
    const quint32 moof = u32(0);
    QCOMPARE(seg.mid(moof + 4, 4), QByteArray("mdat"));
    const quint32 payload = u32(moof) - 8;
    // Every trun points at the start of the mdat's payload, with samples that fit it.
    qint64 samples = 0;
    int truns = 0;
    for (qsizetype at = seg.indexOf("trun"); at > 0 && at < moof;
         at = seg.indexOf("trun", at + 4)) {
        ++truns;
        QCOMPARE(u32(at + 4) & 0xffffff, 1u); // data offset present, nothing per sample
        QVERIFY(u32(at + 8) <= payload);
        QCOMPARE(u32(at + 12), moof + 8);
        samples += u32(at + 8);
    }
    QVERIFY2(truns > 1000 && samples > 3'000'000, QByteArray::number(samples).constData());
    QVERIFY(fetchFor(servers()->httpUrl(QStringLiteral("/hostile/hls/bomb-init.mp4")), 2000)
                .body.contains("moov"));
}

void TestFixtures::httpsRedirectsToPlainHttp()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS in this Qt");
    StreamServers *s = servers();
    const QUrl url = s->httpsRedirectUrl();
    QVERIFY2(!url.isEmpty(), qPrintable(s->errorString()));
    QSslSocket socket;
    QSslConfiguration trust = socket.sslConfiguration();
    trust.addCaCertificates(s->dir() + QStringLiteral("/hostile-cert.pem"));
    socket.setSslConfiguration(trust);
    socket.connectToHostEncrypted(url.host(), quint16(url.port()));
    QVERIFY2(socket.waitForEncrypted(5000), qPrintable(socket.errorString()));
    const Answer a = fetchFor(url, 3000, &socket);
    QVERIFY2(a.head.startsWith("HTTP/1.0 302"), a.head.constData());
    QVERIFY2(
        a.head.contains("\r\nLocation: " + s->httpUrl(QStringLiteral("/typed.mp3")).toEncoded()),
        a.head.constData());
}

ORBITUNE_TEST_MAIN(TestFixtures)
#include "tst_fixtures.moc"
