// The MPRIS service seen from outside: a private session bus, and real
// clients (dbus-send, playerctl, a second bus connection) talking to it.

#include "PrivateSessionBus.h"
#include "support/LogRecorder.h"
#include "support/SessionFixture.h"
#include "support/TestEnv.h"

#include "integrations/MprisBridge.h"
#include "session/PlaybackSession.h"
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
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
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

// The program list the listener made, the session over fake media, and the
// bridge: MPRIS as the application has it.
struct ListedPlayer : SessionFixture {
    explicit ListedPlayer(MprisService *service, const QStringList &names)
    {
        QFile::remove(TestEnv::instance()->dataFile());
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
             QStringLiteral("/orbitune/art"))
            .removeRecursively();
        for (const QString &name : names)
            add(name);
        bridge = std::make_unique<MprisBridge>(&session, &store, service);
    }
    // "Group: Name" is Name in Group.
    static QVariantMap program(const QString &groupAndName)
    {
        const QString name = groupAndName.section(QStringLiteral(": "), -1);
        return program::withGroup(
            program::make(name, QStringLiteral("http://127.0.0.1:9/%1.png").arg(name),
                          QStringLiteral("http://127.0.0.1:9/%1.mp3").arg(name)),
            groupAndName.section(QStringLiteral(": "), -2, -2));
    }
    static void add(const QString &name)
    {
        QVERIFY(CacheManager::shareIntance()->saveData(program(name)));
    }
    QString playing() const { return program::name(CacheManager::shareIntance()->getLiveData()); }

    std::unique_ptr<MprisBridge> bridge;
};

// Calls a method as a shell does, from a connection of its own.
QDBusMessage callOnBus(const QString &interface, const QString &method, const QVariantList &args)
{
    QDBusConnection client = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("shell"));
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, interface, method);
    call.setArguments(args);
    const QDBusMessage reply = client.call(call, QDBus::BlockWithGui, 10000);
    QDBusConnection::disconnectFromBus(QStringLiteral("shell"));
    return reply;
}

struct WirePlaylist {
    QString path;
    QString name;
    QString icon;
};

QList<WirePlaylist> playlistsOf(const QVariant &arg)
{
    QList<WirePlaylist> out;
    const QDBusArgument a = arg.value<QDBusArgument>();
    a.beginArray();
    while (!a.atEnd()) {
        WirePlaylist p;
        QDBusObjectPath path;
        a.beginStructure();
        a >> path >> p.name >> p.icon;
        a.endStructure();
        p.path = path.path();
        out << p;
    }
    a.endArray();
    return out;
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
        connected = connected && m_bus.connect(QString(), Path,
                                               QStringLiteral("org.mpris.MediaPlayer2.Playlists"),
                                               QStringLiteral("PlaylistChanged"), this,
                                               SLOT(onPlaylistChanged(QDBusMessage)));
        connected = connected &&
                    m_bus.connect(QString(), Path, QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                  QStringLiteral("Seeked"), this, SLOT(onSeeked(qlonglong)));
    }

    bool connected = false;
    struct Change {
        QString interface;
        QVariantMap changed;
        QStringList invalidated;
    };
    QList<Change> changes;
    QList<QDBusMessage> playlistChanges;
    QList<qint64> seeked;

Q_SIGNALS:
    void received();

public Q_SLOTS:
    void onChanged(const QString &interface, const QVariantMap &changed,
                   const QStringList &invalidated)
    {
        changes.append({interface, changed, invalidated});
        Q_EMIT received();
    }
    void onPlaylistChanged(const QDBusMessage &message) { playlistChanges << message; }
    void onSeeked(qlonglong position) { seeked << position; }

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
    void timeShiftThroughPlayerctl_data();
    void timeShiftThroughPlayerctl();
    void wakeFromSuspendAndNetworkReturn();
    void volumeIsReadWrittenAndAnnounced();
    void getPlaylistsHonoursOrderAndWindow_data();
    void getPlaylistsHonoursOrderAndWindow();
    void nextAndPreviousPlayTheNeighbour_data();
    void nextAndPreviousPlayTheNeighbour();
    void listChangesAreAnnounced();
    void metadataOfTheProgramPlaying_data();
    void metadataOfTheProgramPlaying();

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
    // The Playlists interface's, before any playlist was given.
    QTest::newRow("PlaylistCount") << "Playlists.PlaylistCount"
                                   << "variant uint32 0";
    QTest::newRow("ActivePlaylist, none") << "Playlists.ActivePlaylist"
                                          << "variant struct { boolean false struct { / } }";
}

void TestMpris::playerProperties()
{
    QFETCH(QString, property);
    QFETCH(QString, expected);
    const QString interface = property.startsWith(QLatin1String("Playlists."))
                                  ? QStringLiteral("org.mpris.MediaPlayer2.Playlists")
                                  : QStringLiteral("org.mpris.MediaPlayer2.Player");
    const ClientResult r = getProperty(interface, property.section(QLatin1Char('.'), -1));
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
    m_service->setMetadata({QStringLiteral("jazz"), QStringLiteral("Jazz Radio"),
                            QStringLiteral("Orbitune"), QString(),
                            QUrl(QStringLiteral("http://127.0.0.1:8000/jazz.png"))});
    QCOMPARE(playerctl({QStringLiteral("status")}).out, QStringLiteral("Playing"));
    QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                        QStringLiteral("{{title}}|{{artist}}|{{mpris:artUrl}}")})
                 .out,
             QStringLiteral("Jazz Radio|Orbitune|http://127.0.0.1:8000/jazz.png"));
    const QString trackId = playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                                       QStringLiteral("{{mpris:trackid}}")})
                                .out.remove(QLatin1Char('\'')); // playerctl quotes paths
    QCOMPARE(trackId, QStringLiteral("/org/orbitune/Track/jazz"));

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
        const MprisService::Track one{QStringLiteral("k1"), QStringLiteral("One"),
                                      QStringLiteral("Artist"), QString(), art};
        m_service->setMetadata(one);
        QTRY_COMPARE(watcher.changes.size(), 2);
        QCOMPARE(watcher.changes[1].changed.keys(), QStringList{QStringLiteral("Metadata")});
        const QVariantMap meta = demarshalMap(watcher.changes[1].changed.value("Metadata"));
        QCOMPARE(meta.value("xesam:title").toString(), QStringLiteral("One"));
        QCOMPARE(meta.value("xesam:artist").toStringList(), QStringList{QStringLiteral("Artist")});
        QCOMPARE(meta.value("mpris:artUrl").toString(), art.toString());
        const QString firstTrack = meta.value("mpris:trackid").value<QDBusObjectPath>().path();
        QCOMPARE(firstTrack, QStringLiteral("/org/orbitune/Track/k1"));

        m_service->setMetadata(one);
        MprisService::Track two = one;
        two.title = QStringLiteral("Two");
        m_service->setMetadata(two);
        QTRY_COMPARE(watcher.changes.size(), 3);
        const QVariantMap meta2 = demarshalMap(watcher.changes[2].changed.value("Metadata"));
        QCOMPARE(meta2.value("xesam:title").toString(), QStringLiteral("Two"));
        // Another song of the same program is the same track.
        QCOMPARE(meta2.value("mpris:trackid").value<QDBusObjectPath>().path(), firstTrack);

        m_service->setPlaybackStatus(MprisService::PlaybackStatus::Paused);
        QTRY_COMPARE(watcher.changes.size(), 4);
        QCOMPARE(watcher.changes[3].changed.value("PlaybackStatus").toString(),
                 QStringLiteral("Paused"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
}

void TestMpris::metadataLeavesOutEmptyValues()
{
    m_service->setMetadata({QString(), QStringLiteral("Only a title"), {}, {}, {}});
    QVariantMap meta = m_service->metadata();
    QCOMPARE(meta.keys(),
             QStringList({QStringLiteral("mpris:trackid"), QStringLiteral("xesam:title")}));
    const ClientResult r = playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                                      QStringLiteral("{{title}}|{{artist}}|{{mpris:artUrl}}")});
    QCOMPARE(r.out, QStringLiteral("Only a title||"));

    m_service->setMetadata({});
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
        service.setMetadata({QStringLiteral("t"), QStringLiteral("t"), {}, {}, {}});
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

// Through the bridge to the session: Play while playing does not pause,
// Pause while paused does not start (only PlayPause toggles); Raise and Quit
// are passed on.
void TestMpris::playAndPauseNeverToggle()
{
    using State = PlaybackSession::State;
    QFile::remove(TestEnv::instance()->dataFile());
    const QVariantMap tone = program::make(QStringLiteral("Tone"), QString(),
                                           QStringLiteral("http://127.0.0.1:9/tone.mp3"));
    QVERIFY(CacheManager::shareIntance()->saveData(tone)); // a list: nothing is seeded
    QVERIFY(CacheManager::shareIntance()->saveLiveData(tone));
    SessionFixture fixture;
    FakeMediaFactory &media = fixture.media;
    PlaybackSession &session = fixture.session;
    MprisBridge bridge(&session, &fixture.store, m_service.get());
    auto call = [](const char *method) {
        const ClientResult r =
            callMethod(QStringLiteral("org.mpris.MediaPlayer2.Player.") + QLatin1String(method));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    };

    call("Pause"); // paused already (nothing plays): nothing starts
    QCOMPARE(media.created(), 0);
    QCOMPARE(session.state(), State::Idle);

    call("Play");
    QCOMPARE(session.state(), State::Loading);
    QCOMPARE(media.created(), 1);
    call("Play"); // still opening: no pause, no second stream
    QCOMPARE(session.state(), State::Loading);
    QCOMPARE(media.created(), 1);
    media.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
    QCOMPARE(session.state(), State::Playing);
    call("Play");
    QCOMPARE(session.state(), State::Playing);
    QCOMPARE(media.last()->pauses, 0);
    QCOMPARE(m_service->playbackStatus(), MprisService::PlaybackStatus::Playing);

    call("Pause");
    QCOMPARE(session.state(), State::Paused);
    const int pauses = media.last()->pauses;
    call("Pause");
    QCOMPARE(session.state(), State::Paused);
    QCOMPARE(media.last()->pauses, pauses);
    QCOMPARE(media.created(), 1);
    QCOMPARE(m_service->playbackStatus(), MprisService::PlaybackStatus::Paused);

    // A client's volume reaches the listener's volume and unmutes it.
    session.volume()->setMuted(true);
    const ClientResult set =
        runClient(QStringLiteral("dbus-send"),
                  {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                   QStringLiteral("--dest=") + Service, Path,
                   QStringLiteral("org.freedesktop.DBus.Properties.Set"),
                   QStringLiteral("string:org.mpris.MediaPlayer2.Player"),
                   QStringLiteral("string:Volume"), QStringLiteral("variant:double:0.3")});
    QCOMPARE(set.exitCode, 0);
    QTRY_COMPARE(session.volume()->level(), 0.3);
    QVERIFY(!session.volume()->isMuted());

    QSignalSpy raise(&bridge, &MprisBridge::raiseRequested);
    QSignalSpy quit(&bridge, &MprisBridge::quitRequested);
    QCOMPARE(callMethod(QStringLiteral("org.mpris.MediaPlayer2.Raise")).exitCode, 0);
    QCOMPARE(callMethod(QStringLiteral("org.mpris.MediaPlayer2.Quit")).exitCode, 0);
    QCOMPARE(raise.size(), 1);
    QCOMPARE(quit.size(), 1);
}

// A client's Seek and SetPosition reach the session as steps from where the
// listener is; Position is where that is, and a jump is announced once.
void TestMpris::timeShiftThroughPlayerctl_data()
{
    QTest::addColumn<qint64>("positionMs"); // the player's, as it plays
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<qint64>>("seeks");
    using Seeks = QList<qint64>;
    const QString position = QStringLiteral("position");
    QTest::newRow("reading it: the position heard, not within what is kept")
        << 7000LL << QStringList{position} << Seeks{};
    QTest::newRow("SetPosition back")
        << 8000LL << QStringList{position, QStringLiteral("5")} << Seeks{-3000};
    QTest::newRow("SetPosition forward")
        << 2000LL << QStringList{position, QStringLiteral("5")} << Seeks{3000};
    QTest::newRow("Seek back") << 8000LL << QStringList{position, QStringLiteral("10-")}
                               << Seeks{-10000};
}

void TestMpris::timeShiftThroughPlayerctl()
{
    QFETCH(qint64, positionMs);
    QFETCH(QStringList, args);
    QFETCH(QList<qint64>, seeks);
    ListedPlayer listed(m_service.get(), {QStringLiteral("Tone")});
    QVERIFY(
        CacheManager::shareIntance()->saveLiveData(ListedPlayer::program(QStringLiteral("Tone"))));
    listed.session.playCurrent();
    listed.ready();
    FakeMediaPlayer *player = listed.media.last();
    QVERIFY(player);
    player->seekable = true;
    player->kept = 30000;
    player->behindMs = 4000;
    player->position = positionMs;
    Q_EMIT player->timeShiftChanged();
    QTRY_VERIFY(m_service->canSeek());
    const ClientResult r = playerctl(args);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QTRY_COMPARE(player->seeks, seeks);
    // playerctl adds the time since it read it, at Rate.
    if (seeks.isEmpty())
        QVERIFY2(qAbs(r.out.toDouble() - double(positionMs) / 1000) < 0.5, qPrintable(r.out));

    // Playing on from the oldest kept after a long hold is a jump: told
    // once, with where the listener is now.
    QDBusConnection client = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("watcher"));
    {
        PropertiesWatcher watcher(client);
        QVERIFY(watcher.connected);
        QVERIFY(client.interface()->isServiceRegistered(Service).value());
        player->position = 12000;
        Q_EMIT player->resumedFromOldest();
        QTRY_COMPARE(watcher.seeked, QList<qint64>{12000000});
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
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

void TestMpris::getPlaylistsHonoursOrderAndWindow_data()
{
    QTest::addColumn<uint>("index");
    QTest::addColumn<uint>("maxCount");
    QTest::addColumn<QString>("order");
    QTest::addColumn<bool>("reverse");
    QTest::addColumn<QStringList>("expected");
    const QStringList user{"Kiss", "alpha", "Zeta", "Bravo"};
    QTest::newRow("the list's order") << 0u << 10u << "UserDefined" << false << user;
    QTest::newRow("alphabetical, case ignored")
        << 0u << 10u << "Alphabetical" << false << QStringList{"alpha", "Bravo", "Kiss", "Zeta"};
    QTest::newRow("alphabetical reversed")
        << 0u << 10u << "Alphabetical" << true << QStringList{"Zeta", "Kiss", "Bravo", "alpha"};
    QTest::newRow("a window of two")
        << 1u << 2u << "UserDefined" << false << QStringList{"alpha", "Zeta"};
    QTest::newRow("a window of the reversed list")
        << 3u << 5u << "UserDefined" << true << QStringList{"Kiss"};
    QTest::newRow("past the end") << 4u << 10u << "Alphabetical" << false << QStringList{};
    QTest::newRow("nothing asked for") << 0u << 0u << "UserDefined" << false << QStringList{};
    QTest::newRow("an order not offered gives the list's")
        << 0u << 10u << "CreationDate" << false << user;
}

void TestMpris::getPlaylistsHonoursOrderAndWindow()
{
    QFETCH(uint, index);
    QFETCH(uint, maxCount);
    QFETCH(QString, order);
    QFETCH(bool, reverse);
    QFETCH(QStringList, expected);
    ListedPlayer player(m_service.get(), {"Kiss", "alpha", "Zeta", "Bravo"});
    const QDBusMessage reply =
        callOnBus(QStringLiteral("org.mpris.MediaPlayer2.Playlists"),
                  QStringLiteral("GetPlaylists"), {index, maxCount, order, reverse});
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QCOMPARE(reply.signature(), QStringLiteral("a(oss)"));
    QStringList names;
    for (const WirePlaylist &p : playlistsOf(reply.arguments().value(0))) {
        names << p.name;
        QVERIFY2(p.path.startsWith(QStringLiteral("/org/orbitune/playlist/")), qPrintable(p.path));
        QCOMPARE(p.icon, QStringLiteral("http://127.0.0.1:9/%1.png").arg(p.name));
    }
    QCOMPARE(names, expected);
    const ClientResult orderings = getProperty(QStringLiteral("org.mpris.MediaPlayer2.Playlists"),
                                               QStringLiteral("Orderings"));
    QCOMPARE(orderings.out.simplified(),
             QStringLiteral("variant array [ Alphabetical UserDefined ]"));
}

void TestMpris::nextAndPreviousPlayTheNeighbour_data()
{
    QTest::addColumn<QStringList>("programs");
    QTest::addColumn<QString>("current"); // empty: none chosen yet
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("expected");
    const QStringList three{"One", "Two", "Three"};
    QTest::newRow("next") << three << "One"
                          << "next"
                          << "Two";
    QTest::newRow("next after the last wraps to the first") << three << "Three"
                                                            << "next"
                                                            << "One";
    QTest::newRow("previous") << three << "Three"
                              << "previous"
                              << "Two";
    QTest::newRow("previous before the first wraps to the last") << three << "One"
                                                                 << "previous"
                                                                 << "Three";
    QTest::newRow("next with a program not in the list") << three << "Elsewhere"
                                                         << "next"
                                                         << "One";
    QTest::newRow("previous with none chosen") << three << ""
                                               << "previous"
                                               << "Three";
    const QStringList grouped{"One", "Jazz: Two", "Three", "Jazz: Four"};
    QTest::newRow("next stays within the group") << grouped << "Jazz: Two"
                                                 << "next next next"
                                                 << "Four";
    QTest::newRow("previous among the programs of no group") << grouped << "Three"
                                                             << "previous"
                                                             << "One";
    QTest::newRow("both ways through a program listed twice")
        << QStringList{"One", "Two", "One", "Three"} << ""
        << "next next next next previous previous"
        << "Two";
}

void TestMpris::nextAndPreviousPlayTheNeighbour()
{
    QFETCH(QStringList, programs);
    QFETCH(QString, current);
    QFETCH(QString, commands);
    QFETCH(QString, expected);
    ListedPlayer player(m_service.get(), programs);
    if (!current.isEmpty())
        QVERIFY(CacheManager::shareIntance()->saveLiveData(ListedPlayer::program(current)));
    const QStringList steps = commands.split(QLatin1Char(' '));
    for (int i = 0; i < steps.size(); ++i) {
        QCOMPARE(playerctl({steps.at(i)}).exitCode, 0);
        // Played as a row of the list window is: a new stream of that program.
        QTRY_COMPARE(player.media.created(), i + 1);
    }
    QCOMPARE(player.playing(), expected);
    QCOMPARE(player.media.lastItem()->url().toString(),
             QStringLiteral("http://127.0.0.1:9/%1.mp3").arg(expected));
    QCOMPARE(player.session.state(), PlaybackSession::State::Loading);
    // The playlist of that program is now the active one.
    const ClientResult active = getProperty(QStringLiteral("org.mpris.MediaPlayer2.Playlists"),
                                            QStringLiteral("ActivePlaylist"));
    // Named "Group: Program" when it is in one.
    const QString playlist =
        programs.filter(QRegularExpression("(^|: )" + expected + "$")).value(0);
    QVERIFY2(active.out.contains(QStringLiteral("boolean true")) && active.out.contains(playlist),
             qPrintable(active.out));
}

// One program cannot step; a second one added by any window (a write of the
// file) makes Next and Previous possible and is a new playlist; activating a
// playlist plays it.
void TestMpris::listChangesAreAnnounced()
{
    ListedPlayer player(m_service.get(), {"One"});
    QCOMPARE(
        getProperty(QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("CanGoNext"))
            .out.simplified(),
        QStringLiteral("variant boolean false"));
    QSignalSpy next(m_service.get(), &MprisService::nextRequested);
    QCOMPARE(callMethod(QStringLiteral("org.mpris.MediaPlayer2.Player.Next")).exitCode, 0);
    QCOMPARE(next.count(), 0); // nowhere to go
    QCOMPARE(player.media.created(), 0);

    QDBusConnection client = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("watcher"));
    {
        PropertiesWatcher watcher(client);
        QVERIFY(watcher.connected);
        QVERIFY(client.interface()->isServiceRegistered(Service).value());
        ListedPlayer::add(QStringLiteral("Two"));
        auto changedValue = [&watcher](const QString &interface, const QString &name) {
            for (const PropertiesWatcher::Change &c : watcher.changes) {
                if (c.interface == interface && c.changed.contains(name))
                    return c.changed.value(name);
            }
            return QVariant();
        };
        const QString playlists = QStringLiteral("org.mpris.MediaPlayer2.Playlists");
        const QString playerIf = QStringLiteral("org.mpris.MediaPlayer2.Player");
        QTRY_VERIFY(changedValue(playlists, QStringLiteral("PlaylistCount")).isValid());
        QCOMPARE(changedValue(playlists, QStringLiteral("PlaylistCount")).toUInt(), 2u);
        QTRY_VERIFY(changedValue(playerIf, QStringLiteral("CanGoNext")).isValid());
        QCOMPARE(changedValue(playerIf, QStringLiteral("CanGoNext")).toBool(), true);
        QCOMPARE(changedValue(playerIf, QStringLiteral("CanGoPrevious")).toBool(), true);

        // Activating the second playlist plays that program.
        const QString path = MprisService::playlistPath(m_service->playlists().at(1).id);
        const QDBusMessage reply = callOnBus(playlists, QStringLiteral("ActivatePlaylist"),
                                             {QVariant::fromValue(QDBusObjectPath(path))});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE(player.playing(), QStringLiteral("Two"));
        QCOMPARE(player.media.created(), 1);
        QTRY_VERIFY(changedValue(playlists, QStringLiteral("ActivePlaylist")).isValid());

        // Renamed and moved to the end: the same playlist, announced.
        const QVariantMap two = ListedPlayer::program(QStringLiteral("Two"));
        QVariantMap renamed = two;
        renamed.insert(QStringLiteral("name"), QStringLiteral("Deux"));
        QVERIFY(CacheManager::shareIntance()->delData(two));
        QVERIFY(CacheManager::shareIntance()->saveData(renamed));
        QTRY_COMPARE(watcher.playlistChanges.size(), 1);
        const QDBusArgument arg =
            watcher.playlistChanges[0].arguments().value(0).value<QDBusArgument>();
        QDBusObjectPath changedPath;
        QString changedName, changedIcon;
        arg.beginStructure();
        arg >> changedPath >> changedName >> changedIcon;
        arg.endStructure();
        QCOMPARE(changedPath.path(), path);
        QCOMPARE(changedName, QStringLiteral("Deux"));

        // A playlist that is not ours is refused, and nothing plays.
        const QDBusMessage refused = callOnBus(
            playlists, QStringLiteral("ActivatePlaylist"),
            {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/orbitune/playlist/nope")))});
        QCOMPARE(refused.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(player.media.created(), 1);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
}

void TestMpris::metadataOfTheProgramPlaying_data()
{
    QTest::addColumn<QString>("streamTitle");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::newRow("artist and title") << "Nina Simone - Feeling Good"
                                      << "Feeling Good"
                                      << "Nina Simone";
    QTest::newRow("split at the first dash only") << "AC - DC - Live - Wire"
                                                  << "DC - Live - Wire"
                                                  << "AC";
    QTest::newRow("no dash: all of it is the title") << "News at nine"
                                                     << "News at nine"
                                                     << "";
    QTest::newRow("a dash without an artist") << " - Jingle"
                                              << "- Jingle"
                                              << "";
    QTest::newRow("a dash inside a word") << "Jean-Luc Ponty"
                                          << "Jean-Luc Ponty"
                                          << "";
    QTest::newRow("nothing announced: the program's name") << ""
                                                           << "Jazz"
                                                           << "";
}

void TestMpris::metadataOfTheProgramPlaying()
{
    QFETCH(QString, streamTitle);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    ListedPlayer player(m_service.get(), {"Rock", "Jazz"});
    QCOMPARE(playerctl({QStringLiteral("next")}).exitCode, 0); // none chosen: the first
    QCOMPARE(playerctl({QStringLiteral("next")}).exitCode, 0);
    QTRY_COMPARE(player.playing(), QStringLiteral("Jazz"));
    const QString trackBefore =
        m_service->metadata().value("mpris:trackid").value<QDBusObjectPath>().path();
    player.media.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
    player.media.lastItem()->setNowPlaying(streamTitle);

    // The picture is loaded once and kept as a local file.
    const QUrl image(QStringLiteral("http://127.0.0.1:9/Jazz.png"));
    auto asked = [&player, &image] {
        int n = 0;
        for (const FakeImageLoader::Request &r : player.images.requests)
            n += r.url == image && r.completion ? 1 : 0;
        return n;
    };
    QTRY_COMPARE(asked(), 1);
    for (qsizetype i = 0; i < player.images.requests.size(); ++i) {
        if (player.images.requests.at(i).url == image)
            player.images.answer(int(i), FakeImageLoader::solid(Qt::red));
    }
    // Written on a pool thread, then announced.
    QTRY_VERIFY(m_service->metadata().contains(QStringLiteral("mpris:artUrl")));

    const ClientResult r = playerctl(
        {QStringLiteral("metadata"), QStringLiteral("--format"),
         QStringLiteral("{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{mpris:trackid}}")});
    QCOMPARE(r.exitCode, 0);
    const QStringList parts = r.out.split(QLatin1Char('|'));
    QCOMPARE(parts.size(), 4);
    QCOMPARE(parts[0], title);
    QCOMPARE(parts[1], artist);
    QCOMPARE(parts[2], QStringLiteral("Jazz"));
    QCOMPARE(QString(parts[3]).remove(QLatin1Char('\'')), trackBefore); // the program's, always

    const QString art = playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:artUrl")}).out;
    QVERIFY2(art.startsWith(QStringLiteral("file://")), qPrintable(art));
    const QImage onDisk(QUrl(art).toLocalFile());
    QCOMPARE(onDisk.size(), QSize(64, 64));
    QCOMPARE(onDisk.pixelColor(5, 5), QColor(Qt::red));
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
