// The MPRIS service seen from outside: a private session bus, and real
// clients (dbus-send, playerctl, a second bus connection) talking to it.

#include "PrivateSessionBus.h"
#include "support/FakeImageLoader.h"
#include "support/FakeMedia.h"
#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include "player/HomeViewController.h"
#include "player/MprisBridge.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include "platform/base/Log.h"
#include "platform/desktop/MprisService.h"
#include "platform/desktop/WakeWatcher.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

const QString Service = QString::fromLatin1(MprisService::BaseServiceName);
const QString Path = QString::fromLatin1(MprisService::ObjectPath);

struct ClientResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a command-line client while the event loop keeps turning, so the
// service in this very process can answer it.
ClientResult runClient(const QString &program, const QStringList &args)
{
    ClientResult result;
    QProcess proc;
    QSignalSpy finished(&proc, &QProcess::finished);
    proc.start(program, args);
    if (!proc.waitForStarted(5000)) {
        result.err = program + QStringLiteral(" did not start");
        return result;
    }
    if (!finished.wait(10000)) {
        proc.kill();
        proc.waitForFinished(2000);
        result.err = program + QStringLiteral(" timed out");
        return result;
    }
    result.exitCode = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    result.out = QString::fromUtf8(proc.readAllStandardOutput()).trimmed();
    result.err = QString::fromUtf8(proc.readAllStandardError()).trimmed();
    return result;
}

ClientResult getProperty(const QString &interface, const QString &name)
{
    return runClient(QStringLiteral("dbus-send"),
                     {QStringLiteral("--session"), QStringLiteral("--print-reply=literal"),
                      QStringLiteral("--dest=") + Service, Path,
                      QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                      QStringLiteral("string:") + interface, QStringLiteral("string:") + name});
}

ClientResult callMethod(const QString &interfaceAndMethod)
{
    return runClient(QStringLiteral("dbus-send"),
                     {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                      QStringLiteral("--dest=") + Service, Path, interfaceAndMethod});
}

ClientResult playerctl(const QStringList &args)
{
    return runClient(QStringLiteral("playerctl"),
                     QStringList{QStringLiteral("--player=orbitune")} + args);
}

QVariantMap demarshalMap(const QVariant &v)
{
    if (v.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
    return v.toMap();
}

} // namespace

// Receives PropertiesChanged on its own bus connection, as a shell would.
class PropertiesWatcher : public QObject {
    Q_OBJECT
public:
    explicit PropertiesWatcher(const QDBusConnection &bus) : m_bus(bus)
    {
        connected =
            m_bus.connect(QString(), Path, QStringLiteral("org.freedesktop.DBus.Properties"),
                          QStringLiteral("PropertiesChanged"), this,
                          SLOT(onChanged(QString, QVariantMap, QStringList)));
    }

    bool connected = false;
    struct Change {
        QString interface;
        QVariantMap changed;
        QStringList invalidated;
    };
    QList<Change> changes;

Q_SIGNALS:
    void received();

public Q_SLOTS:
    void onChanged(const QString &interface, const QVariantMap &changed,
                   const QStringList &invalidated)
    {
        changes.append({interface, changed, invalidated});
        Q_EMIT received();
    }

private:
    QDBusConnection m_bus;
};

class TestMpris : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void rootProperties_data();
    void rootProperties();
    void playerProperties_data();
    void playerProperties();
    void methodsBecomeRequests_data();
    void methodsBecomeRequests();
    void playerctlSeesStatusAndMetadata();
    void propertiesChangedOnlyOnRealChange();
    void metadataLeavesOutEmptyValues();
    void secondInstanceGetsSuffixedName();
    void stopReleasesTheName();
    void unreachableBusFailsQuietly();
    void playAndPauseNeverToggle();
    void wakeFromSuspendAndNetworkReturn();
    void volumeIsReadWrittenAndAnnounced();

private:
    bool nameHasOwner(const QString &name) const
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
    }

    std::unique_ptr<MprisService> m_service;
};

void TestMpris::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "private session bus not reachable");
}

void TestMpris::init()
{
    m_service = std::make_unique<MprisService>();
    QVERIFY(m_service->start());
    QCOMPARE(m_service->serviceName(), Service);
    QVERIFY(nameHasOwner(Service));
}

void TestMpris::cleanup()
{
    m_service.reset();
}

void TestMpris::rootProperties_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Identity") << "Identity"
                              << "variant Orbitune";
    QTest::newRow("DesktopEntry") << "DesktopEntry"
                                  << "variant orbitune";
    QTest::newRow("CanRaise") << "CanRaise"
                              << "variant boolean true";
    QTest::newRow("CanQuit") << "CanQuit"
                             << "variant boolean true";
    QTest::newRow("HasTrackList") << "HasTrackList"
                                  << "variant boolean false";
    QTest::newRow("SupportedUriSchemes") << "SupportedUriSchemes"
                                         << "variant array [ ]";
    QTest::newRow("SupportedMimeTypes") << "SupportedMimeTypes"
                                        << "variant array [ ]";
}

void TestMpris::rootProperties()
{
    QFETCH(QString, property);
    QFETCH(QString, expected);
    const ClientResult r = getProperty(QStringLiteral("org.mpris.MediaPlayer2"), property);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(r.out.simplified(), expected);
}

void TestMpris::playerProperties_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");
    QTest::newRow("PlaybackStatus") << "PlaybackStatus"
                                    << "variant Stopped";
    QTest::newRow("CanPlay") << "CanPlay"
                             << "variant boolean true";
    QTest::newRow("CanPause") << "CanPause"
                              << "variant boolean true";
    QTest::newRow("CanControl") << "CanControl"
                                << "variant boolean true";
    QTest::newRow("CanSeek") << "CanSeek"
                             << "variant boolean false";
    QTest::newRow("CanGoNext") << "CanGoNext"
                               << "variant boolean false";
    QTest::newRow("CanGoPrevious") << "CanGoPrevious"
                                   << "variant boolean false";
    QTest::newRow("Rate") << "Rate"
                          << "variant double 1";
    QTest::newRow("MinimumRate") << "MinimumRate"
                                 << "variant double 1";
    QTest::newRow("MaximumRate") << "MaximumRate"
                                 << "variant double 1";
    QTest::newRow("Volume") << "Volume"
                            << "variant double 1";
    QTest::newRow("Position") << "Position"
                              << "variant int64 0";
    QTest::newRow("Metadata, nothing yet") << "Metadata"
                                           << "variant array [ ]";
}

void TestMpris::playerProperties()
{
    QFETCH(QString, property);
    QFETCH(QString, expected);
    const ClientResult r = getProperty(QStringLiteral("org.mpris.MediaPlayer2.Player"), property);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(r.out.simplified(), expected);
}

void TestMpris::methodsBecomeRequests_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("signal"); // empty: the call must be accepted and ignored
    QTest::newRow("Raise") << "org.mpris.MediaPlayer2.Raise"
                           << "raiseRequested";
    QTest::newRow("Quit") << "org.mpris.MediaPlayer2.Quit"
                          << "quitRequested";
    QTest::newRow("Play") << "org.mpris.MediaPlayer2.Player.Play"
                          << "playRequested";
    QTest::newRow("Pause") << "org.mpris.MediaPlayer2.Player.Pause"
                           << "pauseRequested";
    QTest::newRow("PlayPause") << "org.mpris.MediaPlayer2.Player.PlayPause"
                               << "playPauseRequested";
    QTest::newRow("Stop") << "org.mpris.MediaPlayer2.Player.Stop"
                          << "stopRequested";
    QTest::newRow("Next") << "org.mpris.MediaPlayer2.Player.Next"
                          << "";
    QTest::newRow("Previous") << "org.mpris.MediaPlayer2.Player.Previous"
                              << "";
}

void TestMpris::methodsBecomeRequests()
{
    QFETCH(QString, method);
    QFETCH(QString, signal);

    MprisService *s = m_service.get();
    const QList<std::pair<QString, std::shared_ptr<QSignalSpy>>> spies = {
        {"raiseRequested", std::make_shared<QSignalSpy>(s, &MprisService::raiseRequested)},
        {"quitRequested", std::make_shared<QSignalSpy>(s, &MprisService::quitRequested)},
        {"playRequested", std::make_shared<QSignalSpy>(s, &MprisService::playRequested)},
        {"pauseRequested", std::make_shared<QSignalSpy>(s, &MprisService::pauseRequested)},
        {"playPauseRequested", std::make_shared<QSignalSpy>(s, &MprisService::playPauseRequested)},
        {"stopRequested", std::make_shared<QSignalSpy>(s, &MprisService::stopRequested)},
    };

    // --print-reply waits for the method reply, so the signal has been
    // emitted by the time the client exits.
    const ClientResult r = callMethod(method);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    for (const auto &[name, spy] : spies)
        QCOMPARE(spy->count(), name == signal ? 1 : 0);
}

void TestMpris::playerctlSeesStatusAndMetadata()
{
    QSignalSpy playPause(m_service.get(), &MprisService::playPauseRequested);
    QCOMPARE(playerctl({QStringLiteral("play-pause")}).exitCode, 0);
    QCOMPARE(playPause.count(), 1);

    m_service->setPlaybackStatus(MprisService::PlaybackStatus::Playing);
    m_service->setMetadata(QStringLiteral("Jazz Radio"), QStringLiteral("Orbitune"),
                           QUrl(QStringLiteral("http://127.0.0.1:8000/jazz.png")));
    QCOMPARE(playerctl({QStringLiteral("status")}).out, QStringLiteral("Playing"));
    QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                        QStringLiteral("{{title}}|{{artist}}|{{mpris:artUrl}}")})
                 .out,
             QStringLiteral("Jazz Radio|Orbitune|http://127.0.0.1:8000/jazz.png"));
    const QString trackId = playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                                       QStringLiteral("{{mpris:trackid}}")})
                                .out.remove(QLatin1Char('\'')); // playerctl quotes paths
    QVERIFY2(trackId.startsWith(QStringLiteral("/org/orbitune/Track/")), qPrintable(trackId));

    m_service->setPlaybackStatus(MprisService::PlaybackStatus::Paused);
    QCOMPARE(playerctl({QStringLiteral("status")}).out, QStringLiteral("Paused"));
    m_service->setPlaybackStatus(MprisService::PlaybackStatus::Stopped);
    QCOMPARE(playerctl({QStringLiteral("status")}).out, QStringLiteral("Stopped"));
}

void TestMpris::propertiesChangedOnlyOnRealChange()
{
    QDBusConnection client = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("watcher"));
    QVERIFY(client.isConnected());
    {
        PropertiesWatcher watcher(client);
        QVERIFY(watcher.connected);
        // Make sure the match rule is in place before anything changes.
        QVERIFY(client.interface()->isServiceRegistered(Service).value());

        m_service->setPlaybackStatus(MprisService::PlaybackStatus::Stopped); // unchanged
        m_service->setPlaybackStatus(MprisService::PlaybackStatus::Playing);
        QTRY_COMPARE(watcher.changes.size(), 1);
        QCOMPARE(watcher.changes[0].interface, QStringLiteral("org.mpris.MediaPlayer2.Player"));
        QCOMPARE(watcher.changes[0].changed,
                 QVariantMap({{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")}}));
        QVERIFY(watcher.changes[0].invalidated.isEmpty());

        // Repeats are swallowed: the next signal seen is the metadata one.
        m_service->setPlaybackStatus(MprisService::PlaybackStatus::Playing);
        const QUrl art(QStringLiteral("http://127.0.0.1:8000/a.png"));
        m_service->setMetadata(QStringLiteral("One"), QStringLiteral("Artist"), art);
        QTRY_COMPARE(watcher.changes.size(), 2);
        QCOMPARE(watcher.changes[1].changed.keys(), QStringList{QStringLiteral("Metadata")});
        const QVariantMap meta = demarshalMap(watcher.changes[1].changed.value("Metadata"));
        QCOMPARE(meta.value("xesam:title").toString(), QStringLiteral("One"));
        QCOMPARE(meta.value("xesam:artist").toStringList(), QStringList{QStringLiteral("Artist")});
        QCOMPARE(meta.value("mpris:artUrl").toString(), art.toString());
        const QString firstTrack = meta.value("mpris:trackid").value<QDBusObjectPath>().path();
        QVERIFY2(firstTrack.startsWith(QStringLiteral("/org/orbitune/Track/")),
                 qPrintable(firstTrack));

        m_service->setMetadata(QStringLiteral("One"), QStringLiteral("Artist"), art);
        m_service->setMetadata(QStringLiteral("Two"), QStringLiteral("Artist"), art);
        QTRY_COMPARE(watcher.changes.size(), 3);
        const QVariantMap meta2 = demarshalMap(watcher.changes[2].changed.value("Metadata"));
        QCOMPARE(meta2.value("xesam:title").toString(), QStringLiteral("Two"));
        QVERIFY(meta2.value("mpris:trackid").value<QDBusObjectPath>().path() != firstTrack);

        m_service->setPlaybackStatus(MprisService::PlaybackStatus::Paused);
        QTRY_COMPARE(watcher.changes.size(), 4);
        QCOMPARE(watcher.changes[3].changed.value("PlaybackStatus").toString(),
                 QStringLiteral("Paused"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
}

void TestMpris::metadataLeavesOutEmptyValues()
{
    m_service->setMetadata(QStringLiteral("Only a title"), QString(), QUrl());
    QVariantMap meta = m_service->metadata();
    QCOMPARE(meta.keys(),
             QStringList({QStringLiteral("mpris:trackid"), QStringLiteral("xesam:title")}));
    const ClientResult r = playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                                      QStringLiteral("{{title}}|{{artist}}|{{mpris:artUrl}}")});
    QCOMPARE(r.out, QStringLiteral("Only a title||"));

    m_service->setMetadata(QString(), QString(), QUrl());
    QVERIFY(m_service->metadata().isEmpty());
    const ClientResult empty =
        getProperty(QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Metadata"));
    QCOMPARE(empty.out.simplified(), QStringLiteral("variant array [ ]"));
}

void TestMpris::secondInstanceGetsSuffixedName()
{
    QDBusConnection other = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("second"));
    QVERIFY(other.isConnected());
    {
        MprisService second(other);
        QVERIFY(second.start());
        const QString expected =
            Service + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        QCOMPARE(second.serviceName(), expected);
        QVERIFY(nameHasOwner(expected));
        QVERIFY(nameHasOwner(Service)); // the first keeps its name

        QSignalSpy raise(&second, &MprisService::raiseRequested);
        const ClientResult r =
            runClient(QStringLiteral("dbus-send"),
                      {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                       QStringLiteral("--dest=") + expected, Path,
                       QStringLiteral("org.mpris.MediaPlayer2.Raise")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(raise.count(), 1);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("second"));
}

void TestMpris::stopReleasesTheName()
{
    m_service->stop();
    QVERIFY(!m_service->isRegistered());
    QVERIFY(!nameHasOwner(Service));
    // Changes while stopped are kept and shown once it is back.
    m_service->setPlaybackStatus(MprisService::PlaybackStatus::Playing);
    QVERIFY(m_service->start());
    QCOMPARE(playerctl({QStringLiteral("status")}).out, QStringLiteral("Playing"));

    m_service.reset();
    QVERIFY(!nameHasOwner(Service));
}

void TestMpris::unreachableBusFailsQuietly()
{
    auto log = std::make_unique<LogRecorder>();
    QDBusConnection dead = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/orbitune-bus"), QStringLiteral("dead"));
    {
        MprisService service(dead);
        QVERIFY(!service.start());
        QVERIFY(!service.isRegistered());
        service.setPlaybackStatus(MprisService::PlaybackStatus::Playing);
        service.setMetadata(QStringLiteral("t"), QStringLiteral("a"), QUrl());
        QCOMPARE(service.playbackStatus(), MprisService::PlaybackStatus::Playing);
        service.stop();
    }
    const QStringList lines = log->lines;
    log.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("dead"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(QStringLiteral("MPRIS: no D-Bus session bus")),
             qPrintable(lines[0]));
}

// Through the bridge to the main window: Play while playing does not pause,
// Pause while paused does not start (only PlayPause toggles).
void TestMpris::playAndPauseNeverToggle()
{
    using State = HomeViewController::PlaybackState;
    QFile::remove(TestEnv::instance()->dataFile());
    const QVariantMap tone = program::make(QStringLiteral("Tone"), QString(),
                                           QStringLiteral("http://127.0.0.1:9/tone.mp3"));
    QVERIFY(CacheManager::shareIntance()->saveData(tone)); // a list: nothing is seeded
    QVERIFY(CacheManager::shareIntance()->saveLiveData(tone));
    FakeMediaFactory media;
    FakeImageLoader images;
    HomeViewController home;
    home.view(); // loaded first, as the application does
    MprisBridge bridge(&home, m_service.get());
    auto call = [](const char *method) {
        const ClientResult r =
            callMethod(QStringLiteral("org.mpris.MediaPlayer2.Player.") + QLatin1String(method));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    };

    call("Pause"); // paused already (nothing plays): nothing starts
    QCOMPARE(media.created(), 0);
    QCOMPARE(home.playbackState(), State::Idle);

    call("Play");
    QCOMPARE(home.playbackState(), State::Loading);
    QCOMPARE(media.created(), 1);
    call("Play"); // still opening: no pause, no second stream
    QCOMPARE(home.playbackState(), State::Loading);
    QCOMPARE(media.created(), 1);
    media.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
    QCOMPARE(home.playbackState(), State::Playing);
    call("Play");
    QCOMPARE(home.playbackState(), State::Playing);
    QCOMPARE(media.last()->pauses, 0);
    QCOMPARE(m_service->playbackStatus(), MprisService::PlaybackStatus::Playing);

    call("Pause");
    QCOMPARE(home.playbackState(), State::Paused);
    const int pauses = media.last()->pauses;
    call("Pause");
    QCOMPARE(home.playbackState(), State::Paused);
    QCOMPARE(media.last()->pauses, pauses);
    QCOMPARE(media.created(), 1);
    QCOMPARE(m_service->playbackStatus(), MprisService::PlaybackStatus::Paused);

    // A client's volume reaches the listener's volume and unmutes it.
    home.volume()->setMuted(true);
    const ClientResult set =
        runClient(QStringLiteral("dbus-send"),
                  {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                   QStringLiteral("--dest=") + Service, Path,
                   QStringLiteral("org.freedesktop.DBus.Properties.Set"),
                   QStringLiteral("string:org.mpris.MediaPlayer2.Player"),
                   QStringLiteral("string:Volume"), QStringLiteral("variant:double:0.3")});
    QCOMPARE(set.exitCode, 0);
    QTRY_COMPARE(home.volume()->level(), 0.3);
    QVERIFY(!home.volume()->isMuted());
}

void TestMpris::wakeFromSuspendAndNetworkReturn()
{
    // A stand-in logind on the private bus announces going to sleep and
    // waking; only the wake counts.
    QDBusConnection login =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-logind"));
    QVERIFY(login.registerService(QStringLiteral("org.freedesktop.login1")));
    WakeWatcher watcher(QDBusConnection::sessionBus());
    watcher.start();
    QSignalSpy woke(&watcher, &WakeWatcher::wokeUp);
    QSignalSpy network(&watcher, &WakeWatcher::networkBack);
    auto announce = [&login](bool sleeping) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        return login.send(signal);
    };
    QVERIFY(announce(true));
    QVERIFY(announce(false));
    QVERIFY(woke.wait(5000));
    QCOMPARE(woke.count(), 1);

    watcher.setOnline(false);
    QCOMPARE(network.count(), 0);
    watcher.setOnline(true);
    QCOMPARE(network.count(), 1);
    watcher.setOnline(true); // still online: nothing came back
    QCOMPARE(network.count(), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
}

void TestMpris::volumeIsReadWrittenAndAnnounced()
{
    auto setVolume = [](const QString &value) {
        return runClient(QStringLiteral("dbus-send"),
                         {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                          QStringLiteral("--dest=") + Service, Path,
                          QStringLiteral("org.freedesktop.DBus.Properties.Set"),
                          QStringLiteral("string:org.mpris.MediaPlayer2.Player"),
                          QStringLiteral("string:Volume"), QStringLiteral("variant:") + value});
    };
    QSignalSpy requested(m_service.get(), &MprisService::volumeRequested);
    QCOMPARE(setVolume(QStringLiteral("double:0.5")).exitCode, 0);
    QCOMPARE(setVolume(QStringLiteral("double:-0.5")).exitCode, 0);
    QCOMPARE(setVolume(QStringLiteral("double:7")).exitCode, 0);
    // Not a number, or not a double at all: refused, and the service lives on.
    setVolume(QStringLiteral("double:nan"));
    QVERIFY(setVolume(QStringLiteral("string:loud")).exitCode != 0);
    QCOMPARE(requested.size(), 3);
    QCOMPARE(requested.at(0).at(0).toDouble(), 0.5);
    QCOMPARE(requested.at(1).at(0).toDouble(), 0.0);
    QCOMPARE(requested.at(2).at(0).toDouble(), 1.0);

    // The service reports what the application set, and announces changes.
    QDBusConnection client = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("watcher"));
    {
        PropertiesWatcher watcher(client);
        QVERIFY(watcher.connected);
        QVERIFY(client.interface()->isServiceRegistered(Service).value());
        m_service->setVolume(1.0); // unchanged
        m_service->setVolume(0.25);
        QTRY_COMPARE(watcher.changes.size(), 1);
        QCOMPARE(watcher.changes[0].changed, QVariantMap({{QStringLiteral("Volume"), 0.25}}));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    const ClientResult got =
        getProperty(QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Volume"));
    QCOMPARE(got.exitCode, 0);
    QVERIFY2(got.out.contains(QStringLiteral("0.25")), qPrintable(got.out));
}

int main(int argc, char **argv)
{
    TestEnv env;
    PrivateSessionBus bus; // before QApplication: Qt reads the address once
    if (!bus.isRunning()) {
        std::fprintf(stderr, "tst_mpris: could not start dbus-daemon\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    TestMpris tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_mpris.moc"
