// Google Cast: the message codec and its frames, and a device (the stand-in
// receiver standin_cast.py on loopback, with a certificate made here)
// driven through CastDevice, playing the Icecast tone into a sink of its own.
#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/LogRecorder.h"
#include "support/LoopWatch.h"
#include "support/StreamServers.h"
#include "support/TestEnv.h"

#include "integrations/PlayOn.h"
#include "platform/base/Clock.h"
#include "platform/base/Settings.h"
#include "platform/cast/CastDevice.h"
#include "platform/cast/CastFinder.h"
#include "platform/cast/CastFrameReader.h"
#include "platform/media/GstMediaPlayer.h"
#include "platform/upnp/RendererFinder.h"
#include "platform/upnp/StreamServer.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The rest of the stand-in's next line starting with `prefix`, read while
// the event loop runs; null on time-out.
QString lineFrom(QProcess *process, const QByteArray &prefix, int timeoutMs = 10000)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        while (process->canReadLine()) {
            const QByteArray line = process->readLine();
            if (line.startsWith(prefix))
                return QString::fromUtf8(line.mid(prefix.size())).trimmed();
        }
        QTest::qWait(20);
    }
    return QString();
}
} // namespace

class GoogleCastTest : public QObject {
    Q_OBJECT

    QTemporaryDir certDir;
    AudioSession audio;
    StreamServers servers;
    std::unique_ptr<QProcess> standIn;
    quint16 port = 0;
    GstMediaPlayerFactory factory;

    std::unique_ptr<QProcess> startDouble(const QString &mode, quint16 *port)
    {
        auto process = childprocess::start(QStringLiteral("python3"),
                                           {qEnvironmentVariable("ORBITUNE_SOURCE_DIR") +
                                                QStringLiteral("/tests/cast/standin_cast.py"),
                                            QStringLiteral("--mode"), mode,
                                            QStringLiteral("--cert"), certDir.filePath("cert.pem"),
                                            QStringLiteral("--key"), certDir.filePath("key.pem"),
                                            QStringLiteral("--sink"), QStringLiteral("cast_out")});
        const QString ready =
            process ? childprocess::waitForLine(process.get(), "READY", 10000) : QString();
        *port = quint16(ready.trimmed().toUInt());
        if (*port == 0)
            process.reset();
        return process;
    }

    static CastDeviceInfo at(quint16 port)
    {
        return CastFinder::parseAddresses(QStringLiteral("127.0.0.1:%1").arg(port)).value(0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(
            QProcess::execute(QStringLiteral("openssl"),
                              {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                               "-subj", "/CN=standin-cast", "-keyout", certDir.filePath("key.pem"),
                               "-out", certDir.filePath("cert.pem")}),
            0);
        MediaPlayerFactory::setShared(&factory);
        QVERIFY2(audio.start(), qPrintable(audio.errorString()));
        QVERIFY(audio.addSink(QStringLiteral("cast_out")));
        QVERIFY2(servers.startIcecast(), qPrintable(servers.errorString()));
        QVERIFY2(servers.startSource(QStringLiteral("/live.mp3")),
                 qPrintable(servers.errorString()));
    }

    void cleanupTestCase() { MediaPlayerFactory::setShared(nullptr); }

    void cleanup()
    {
        Clock::shared()->setTimeScale(1.0);
        childprocess::stop(standIn.get());
        standIn.reset();
    }

    // Announced by a real avahi-daemon in a network of its own (on its own
    // D-Bus system bus), found with its name, model, id and port; gone when
    // its announcement is withdrawn. First: libdbus reads the system bus's
    // address once in a process.
    void foundByMulticastDns()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("services")));
        const auto write = [&dir](const QString &name, const QByteArray &text) {
            QFile file(dir.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(write(
            QStringLiteral("bus.conf"),
            "<busconfig><type>system</type><listen>unix:path=" + dir.filePath("bus").toUtf8() +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                "own=\"*\"/></policy></busconfig>"));
        QVERIFY(write(QStringLiteral("avahi.conf"), "[server]\nuse-ipv6=no\nallow-interfaces=v0\n"
                                                    "[publish]\npublish-workstation=no\n"));
        const QString service = QStringLiteral("services/cast.service");
        QVERIFY(
            write(service,
                  "<service-group><name>Chromecast-abc</name><service><type>_googlecast._tcp</type>"
                  "<port>8010</port><txt-record>id=abc123</txt-record><txt-record>fn=Living Room "
                  "speaker</txt-record><txt-record>md=Google Nest Mini</txt-record></service>"
                  "</service-group>"));
        std::unique_ptr<QProcess> bus =
            childprocess::start(QStringLiteral("dbus-daemon"),
                                {QStringLiteral("--nofork"),
                                 QStringLiteral("--config-file=") + dir.filePath("bus.conf")});
        QVERIFY(bus);
        auto stopBus = qScopeGuard([&bus] { childprocess::stop(bus.get()); });
        QTRY_VERIFY(QFile::exists(dir.filePath("bus")));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.filePath("bus").toUtf8());
        auto unsetBus = qScopeGuard([] { qunsetenv("DBUS_SYSTEM_BUS_ADDRESS"); });
        standIn =
            childprocess::start(QStringLiteral("unshare"),
                                // As root, no user namespace: the daemon
                                // gives its runtime folder to its own user.
                                {::geteuid() == 0 ? QStringLiteral("-nm") : QStringLiteral("-rnm"),
                                 qEnvironmentVariable("ORBITUNE_SOURCE_DIR") +
                                     QStringLiteral("/tests/cast/own_avahi.sh"),
                                 dir.path()});
        if (!standIn || lineFrom(standIn.get(), "Service \"Chromecast-abc\"").isNull())
            QSKIP(qPrintable(
                QStringLiteral("avahi-daemon cannot run in a network of its own here: ") +
                (standIn ? QString::fromUtf8(standIn->readAll()).left(200) : QString())));
        CastFinder finder;
        QSignalSpy gone(&finder, &CastFinder::deviceGone);
        QTRY_COMPARE_WITH_TIMEOUT(finder.devices().size(), 1, 10000);
        const CastDeviceInfo info = finder.devices().at(0);
        QCOMPARE(info.id, QStringLiteral("abc123"));
        QCOMPARE(info.name, QStringLiteral("Living Room speaker"));
        QCOMPARE(info.model, QStringLiteral("Google Nest Mini"));
        QCOMPARE(info.port, quint16(8010));
        QCOMPARE(info.host, QStringLiteral("10.9.0.1"));
        // Withdrawn: the daemon reads its services again on SIGHUP.
        QVERIFY(QFile::remove(dir.filePath(service)));
        ::kill(pid_t(standIn->processId()), SIGHUP);
        QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, 10000);
        QCOMPARE(gone.at(0).at(0).toString(), QStringLiteral("abc123"));
        QVERIFY(finder.devices().isEmpty());
    }

    void codec_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("nameSpace"); // empty: refused
        QTest::addColumn<QByteArray>("payload");
        // version 0, "a" -> "b", namespace "ns", STRING, payload "{}"
        const QByteArray plain = hex("0800120161 1a0162 22026e73 2800 32027b7d");
        QTest::newRow("whole") << plain << "ns" << QByteArray("{}");
        QTest::newRow("unknown fields skipped")
            << hex("4807 5a03787878 610102030405060708 6d01020304") + plain << "ns"
            << QByteArray("{}");
        QTest::newRow("ten-byte varint")
            << hex("08ffffffffffffffffff01") + plain << "ns" << QByteArray("{}");
        QTest::newRow("overlong varint")
            << hex("08ffffffffffffffffff02") + plain << "" << QByteArray();
        QTest::newRow("eleven-byte varint")
            << hex("0880808080808080808080") + plain << "" << QByteArray();
        QTest::newRow("truncated varint") << plain + hex("48ff") << "" << QByteArray();
        QTest::newRow("truncated field") << plain + hex("3205 7b7d") << "" << QByteArray();
        QTest::newRow("length past the end") << plain + hex("32ffffffff0f") << "" << QByteArray();
        QTest::newRow("namespace as varint") << hex("2001") + plain << "" << QByteArray();
        QTest::newRow("payload type 2") << plain + hex("2802") << "" << QByteArray();
        QTest::newRow("no namespace") << hex("0800120161") << "" << QByteArray();
        QTest::newRow("wire type 3") << plain + hex("4b") << "" << QByteArray();
    }
    void codec()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, nameSpace);
        QFETCH(QByteArray, payload);
        const std::optional<CastMessage> message = CastMessage::decode(bytes);
        QCOMPARE(message.has_value(), !nameSpace.isEmpty());
        if (!message)
            return;
        QCOMPARE(message->nameSpace, nameSpace);
        QCOMPARE(message->payloadUtf8, payload);
        // What it encodes decodes the same, in a frame of its length.
        const QByteArray frame = message->frame();
        CastFrameReader reader;
        QCOMPARE(reader.feed(frame.constData(), frame.size()), frame.size());
        CastMessage again;
        QCOMPARE(reader.next(&again), CastFrameReader::Result::Message);
        QCOMPARE(again.sourceId, message->sourceId);
        QCOMPARE(again.destinationId, message->destinationId);
        QCOMPARE(again.payloadUtf8, payload);
    }

    void frames_data()
    {
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<int>("result");
        QTest::newRow("64 KB") << CastMessage::kMaxFrame << int(CastFrameReader::Result::Malformed);
        QTest::newRow("64 KB and one")
            << CastMessage::kMaxFrame + 1 << int(CastFrameReader::Result::TooLarge);
        QTest::newRow("10 MB") << qsizetype(10 << 20) << int(CastFrameReader::Result::TooLarge);
    }
    void frames()
    {
        QFETCH(qsizetype, length);
        QFETCH(int, result);
        CastMessage message;
        message.nameSpace = QStringLiteral("ns");
        const QByteArray after = message.frame();
        QByteArray bytes(4, 0);
        qToBigEndian(quint32(length), bytes.data());
        bytes += QByteArray(std::min(length, CastMessage::kMaxFrame + 16), '\xff') + after;
        // Fed a byte at a time at first, then as it has room: never more than a frame held.
        CastFrameReader reader;
        qsizetype fed = 0;
        CastMessage out;
        int got = int(CastFrameReader::Result::NeedMore);
        while (got == int(CastFrameReader::Result::NeedMore) && fed < bytes.size()) {
            const qsizetype taken =
                reader.feed(bytes.constData() + fed, fed < 8 ? 1 : bytes.size() - fed);
            QVERIFY(taken > 0 || reader.room() == 0);
            fed += taken;
            got = int(reader.next(&out));
        }
        QCOMPARE(got, result);
        if (got == int(CastFrameReader::Result::TooLarge)) {
            QCOMPARE(reader.room(), 0);
            return;
        }
        // The frame after the refused one is read whole.
        reader.feed(bytes.constData() + fed, bytes.size() - fed);
        QCOMPARE(reader.next(&out), CastFrameReader::Result::Message);
        QCOMPARE(out.nameSpace, QStringLiteral("ns"));
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("two") << "127.0.0.1:8010, 192.168.1.20"
                             << QStringList{"127.0.0.1:8010", "192.168.1.20:8009"};
        QTest::newRow("IPv6") << "[::1]:9000" << QStringList{"::1:9000"};
        QTest::newRow("bad ports left out")
            << "10.0.0.1:0,10.0.0.2:x,10.0.0.3:70000,:5,speaker.local,10.0.0.4"
            << QStringList{"10.0.0.4:8009"};
    }
    void addresses()
    {
        QFETCH(QString, list);
        QFETCH(QStringList, ids);
        qputenv("ORBITUNE_CAST_DEVICES", list.toUtf8());
        CastFinder finder;
        qunsetenv("ORBITUNE_CAST_DEVICES");
        QStringList found;
        for (const CastDeviceInfo &info : finder.devices())
            found << info.id;
        found.sort();
        QCOMPARE(found, ids);
    }

    // Play On: the device listed by its address given by hand (its
    // certificate not the one kept: taken, logged and kept), the relay's one
    // connection LOADed there with the program's name and picture and heard
    // at its sink, the volume, mute and a pause following the session; then
    // the sound back here when another sender takes it over, loads something
    // else or it dies, or paused when its remote stops it.
    void playsOnACastDevice_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("title"); // a song title the station sends meanwhile
        QTest::newRow("taken over") << "TAKEOVER"
                                    << "Cast Song";
        QTest::newRow("another load") << "INTERRUPT" << QString();
        QTest::newRow("its remote") << "REMOTE" << QString();
        QTest::newRow("killed") << "KILL" << QString();
    }
    void playsOnACastDevice()
    {
        QFETCH(QString, end);
        QFETCH(QString, title);
        standIn = startDouble(QStringLiteral("normal"), &port);
        QVERIFY(standIn);
        qputenv("ORBITUNE_CAST_DEVICES", QByteArray("127.0.0.1:") + QByteArray::number(port));
        CastFinder castFinder;
        qunsetenv("ORBITUNE_CAST_DEVICES");
        const QString kept = CastChannel::certificateKey(at(port).id);
        settings::open()->setValue(kept, QByteArray("00"));
        LogRecorder log;
        PlaybackSession session;
        RendererFinder finder({QStringLiteral("lo")});
        PlayOn playOn(&session, &finder, &castFinder);
        QSignalSpy notices(&playOn, &PlayOn::notice);
        const QString id = PlayOn::castPrefix() + QStringLiteral("127.0.0.1:%1").arg(port);
        QCOMPARE(playOn.places().constLast().id, id);
        QCOMPARE(playOn.places().constLast().name, QStringLiteral("127.0.0.1 (Cast)"));

        // A picture on this computer, which only the relay can hand it.
        QImage logo(1024, 768, QImage::Format_RGB32);
        logo.fill(Qt::darkCyan);
        QVERIFY(logo.save(certDir.filePath("logo.png")));
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Tone MP3"),
                          QUrl::fromLocalFile(certDir.filePath("logo.png")).toString(),
                          servers.mp3Url().toString())));
        session.volume()->setLevel(1.0);
        session.playCurrent();
        QTRY_COMPARE_WITH_TIMEOUT(session.state(), PlaybackSession::State::Playing, 20000);
        const int requests = servers.mountRequests(QStringLiteral("/live.mp3"));
        LevelMeter there(audio, QStringLiteral("cast_out.monitor"));
        QVERIFY(there.start());
        playOn.choose(id);
        const QString load = lineFrom(standIn.get(), "LOAD");
        QVERIFY(playOn.server());
        const QString expected =
            QStringLiteral("{'contentId':'%1','contentType':'audio/mpeg','streamType':'LIVE',"
                           "'metadata':{'metadataType':3,'title':'Tone MP3',"
                           "'images':[{'url':'%2'}]}}")
                .arg(playOn.server()->url(), playOn.server()->pictureUrl())
                .replace(QLatin1Char('\''), QLatin1Char('"'));
        QCOMPARE(QJsonDocument::fromJson(load.toUtf8()).object(),
                 QJsonDocument::fromJson(expected.toUtf8()).object());
        const QStringList image = lineFrom(standIn.get(), "IMAGE").split(QLatin1Char(' '));
        QCOMPARE(image.value(0), QStringLiteral("image/jpeg"));
        const QImage shown = QImage::fromData(QByteArray::fromBase64(image.value(1).toLatin1()));
        QCOMPARE(shown.size(), QSize(512, 384));
        const QColor middle = shown.pixelColor(256, 192);
        const QColor cyan(Qt::darkCyan);
        QVERIFY(qAbs(middle.red() - cyan.red()) + qAbs(middle.green() - cyan.green()) +
                    qAbs(middle.blue() - cyan.blue()) <=
                6);
        QTRY_VERIFY_WITH_TIMEOUT(there.recentRms(300) > 0.01, 15000);
        QVERIFY(playOn.isSoundingThere());
        QCOMPARE(servers.mountRequests(QStringLiteral("/live.mp3")), requests);
        QVERIFY(log.contains(QStringLiteral("certificate of 127.0.0.1:%1 changed").arg(port)));
        // The titles still reach the session (and so the history) from its
        // own connection.
        if (!title.isEmpty()) {
            QVERIFY(servers.setMountTitle(QStringLiteral("/live.mp3"), title));
            QTRY_COMPARE_WITH_TIMEOUT(session.nowPlaying(), title, 15000);
        }
        QCOMPARE(settings::open()->value(kept).toByteArray().size(), 64);
        session.volume()->setLevel(0.5);
        QVERIFY(!lineFrom(standIn.get(), "VOLUME").isNull());
        session.volume()->setMuted(true);
        QCOMPARE(lineFrom(standIn.get(), "MUTED"), QStringLiteral("1"));
        session.volume()->setMuted(false);
        // A live stream is stopped there, and loaded afresh as it plays again.
        session.pause();
        QVERIFY(!lineFrom(standIn.get(), "STOP").isNull());
        session.playCurrent();
        QVERIFY(!lineFrom(standIn.get(), "LOAD", 20000).isNull());
        QTRY_VERIFY_WITH_TIMEOUT(playOn.isSoundingThere(), 10000);

        QElapsedTimer since;
        since.start();
        if (end == QLatin1String("KILL"))
            childprocess::stop(standIn.get());
        else
            standIn->write(end.toUtf8() + '\n');
        if (end == QLatin1String("REMOTE")) {
            QTRY_COMPARE_WITH_TIMEOUT(session.state(), PlaybackSession::State::Paused, 5000);
            QCOMPARE(playOn.current(), id);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(playOn.current().isEmpty(), 5000);
            QVERIFY(session.hasLocalSound());
            QTRY_COMPARE_WITH_TIMEOUT(session.state(), PlaybackSession::State::Playing, 10000);
        }
        QVERIFY(since.elapsed() < 5000);
        QCOMPARE(notices.size(), 1);
    }

    // What a hostile device sends never holds the event loop: a flood of
    // garbage leaves the connection up, a 10 MB frame ends it at its length
    // (the reader's bound is in frames()), silence ends it after three
    // missed pings.
    void hostileDevice_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("lost");
        QTest::newRow("garbage") << "garbage" << false;
        QTest::newRow("10 MB frame") << "huge" << true;
        QTest::newRow("stall") << "stall" << true;
    }
    void hostileDevice()
    {
        QFETCH(QString, mode);
        QFETCH(bool, lost);
        standIn = startDouble(mode, &port);
        QVERIFY(standIn);
        // Pings every second: a stall is found in seconds.
        Clock::shared()->setTimeScale(0.2);
        CastDevice device(at(port));
        QSignalSpy gone(&device, &CastDevice::lost);
        // The event loop keeps turning: never held for a second.
        LoopWatch loop(50);
        QVERIFY(!lineFrom(standIn.get(), "CONNECT", 10000).isNull());
        if (lost) {
            QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, 10000);
        } else {
            QVERIFY(!lineFrom(standIn.get(), "GARBAGE_SENT", 60000).isNull());
            QTest::qWait(3000);
            QCOMPARE(gone.size(), 0);
        }
        QVERIFY2(loop.worstMs() < 1000, qPrintable(QString::number(loop.worstMs())));
    }
};

ORBITUNE_TEST_MAIN(GoogleCastTest)
#include "tst_google_cast.moc"
