// Title notifications, the suspend inhibitor and the desktop's search against
// small stand-ins for the notification, portal, screen saver and shell
// services on a private bus; the session plays through a fake player.
#include "PrivateSessionBus.h"
#include "support/LogRecorder.h"
#include "support/SessionFixture.h"
#include "support/TestEnv.h"

#include "integrations/ListeningInhibitor.h"
#include "integrations/NowPlayingNotices.h"
#include "integrations/ProgramSearch.h"
#include "platform/base/Settings.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/desktop/DesktopSearch.h"
#include "platform/desktop/SleepInhibitor.h"
#include "platform/net/ArtFiles.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QFile>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {

QDBusConnection serviceBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("services"));
}

// A call as GNOME Shell or KRunner makes it: from a connection of its own,
// to the well-known name.
QDBusMessage shellCall(const char *path, const char *interface, const char *method,
                       const QVariantList &args)
{
    QDBusConnection shell =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("shell"));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(DesktopSearch::ServiceName), QString::fromLatin1(path),
        QString::fromLatin1(interface), QString::fromLatin1(method));
    call.setArguments(args);
    return shell.call(call, QDBus::BlockWithGui, 10000);
}

QDBusMessage gnome(const char *method, const QVariantList &args)
{
    return shellCall(DesktopSearch::ShellPath, "org.gnome.Shell.SearchProvider2", method, args);
}

QDBusMessage krunner(const char *method, const QVariantList &args)
{
    return shellCall(DesktopSearch::RunnerPath, "org.kde.krunner1", method, args);
}

struct RunnerMatch {
    QString id, text;
    int type = 0;
    double relevance = 0;
    QVariantMap properties;
};

QList<RunnerMatch> matchesOf(const QDBusMessage &reply)
{
    QList<RunnerMatch> out;
    const QDBusArgument a = reply.arguments().value(0).value<QDBusArgument>();
    a.beginArray();
    while (!a.atEnd()) {
        RunnerMatch m;
        QString icon;
        a.beginStructure();
        a >> m.id >> m.text >> icon >> m.type >> m.relevance >> m.properties;
        a.endStructure();
        out << m;
    }
    a.endArray();
    return out;
}

QList<QVariantMap> metasOf(const QDBusMessage &reply)
{
    return qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
}

// The names the shell would show for `ids`.
QStringList namesOf(const QStringList &ids)
{
    QStringList names;
    for (const QVariantMap &meta : metasOf(gnome("GetResultMetas", {ids})))
        names << meta.value(QStringLiteral("name")).toString();
    return names;
}

} // namespace

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint replaces;
        QString app, summary, body;
        QSize image;
        QStringList actions;
    };
    QList<Shown> shown;
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("body-markup")};
    int capabilityCalls = 0;

public Q_SLOTS:
    QStringList GetCapabilities()
    {
        ++capabilityCalls;
        return capabilities;
    }
    uint Notify(const QString &app, uint replaces, const QString &, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int)
    {
        QSize size;
        if (hints.contains(QStringLiteral("image-data"))) {
            const QDBusArgument arg =
                hints.value(QStringLiteral("image-data")).value<QDBusArgument>();
            int w = 0, h = 0, stride = 0, bits = 0, channels = 0;
            bool alpha = false;
            QByteArray data;
            arg.beginStructure();
            arg >> w >> h >> stride >> alpha >> bits >> channels >> data;
            arg.endStructure();
            if (data.size() == stride * h && channels == 4 && bits == 8)
                size = QSize(w, h);
        }
        shown.append({replaces, app, summary, body, size, actions});
        return replaces ? replaces : uint(shown.size() + 40);
    }
};

// Serves `service` as the desktop's notification server on the bus.
bool serveNotifications(FakeNotifications *service)
{
    QDBusConnection bus = serviceBus();
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), service,
                              QDBusConnection::ExportAllSlots) &&
           bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList calls;
public Q_SLOTS:
    uint Inhibit(const QString &, const QString &)
    {
        calls << QStringLiteral("Inhibit");
        return 7;
    }
    void UnInhibit(uint cookie) { calls << QStringLiteral("UnInhibit %1").arg(cookie); }
};

class FakePortalRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    QStringList *calls = nullptr;
public Q_SLOTS:
    void Close() { *calls << QStringLiteral("Close"); }
};

class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    QStringList calls;
    bool refuse = false;
public Q_SLOTS:
    QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &)
    {
        calls << QStringLiteral("Inhibit %1").arg(flags);
        if (refuse)
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not in this sandbox"));
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/portal/desktop/request/t"));
    }
};

class TestDesktopBus : public QObject {
    Q_OBJECT

    std::unique_ptr<LogRecorder> recorder;
    std::unique_ptr<SessionFixture> fixture;
    FakeMediaFactory *media = nullptr;
    FakeImageLoader *images = nullptr;
    PlaybackSession *session = nullptr;
    QStringList &log() { return recorder->lines; }

    void ready() { media->lastItem()->setStatus(MediaItem::StatusReadyToPlay); }
    static void listSearchablePrograms()
    {
        const QList<std::pair<const char *, const char *>> programs = {
            {"Radio Paradise", "rp"}, {"Jazz FM", "jazz"},     {"Café del Mar", "cafe"},
            {"Paradise Jazz", "pj"},  {"Классика", "classic"},
        };
        for (const auto &[name, slug] : programs) {
            const QString s = QString::fromLatin1(slug);
            // Café del Mar is in a group.
            QVERIFY(CacheManager::shareIntance()->saveData(program::withGroup(
                program::make(QString::fromUtf8(name),
                              QStringLiteral("http://127.0.0.1:1/%1.png").arg(s),
                              QStringLiteral("http://127.0.0.1:1/%1").arg(s)),
                s == QLatin1String("cafe") ? QStringLiteral("Chill Out") : QString())));
        }
        QVariantList relays; // "Relay 1" to "Relay 20", "Relais 21" to "Relais 25"
        for (int i = 1; i <= 25; ++i)
            relays << program::make(QString::fromLatin1(i <= 20 ? "Relay %1" : "Relais %1").arg(i),
                                    QString(), QStringLiteral("http://127.0.0.1:1/r%1").arg(i));
        QVERIFY(CacheManager::shareIntance()->appendData(relays));
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(TestEnv::instance()->dataFile());
        settings::open()->clear();
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY(CacheManager::shareIntance()->seedDefaultDataIfEmpty());
        recorder = std::make_unique<LogRecorder>();
        fixture = std::make_unique<SessionFixture>();
        media = &fixture->media;
        images = &fixture->images;
        session = &fixture->session;
    }

    void cleanup()
    {
        fixture.reset();
        recorder.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("services"));
    }

    void titleNotificationsWhileHidden()
    {
        FakeNotifications service;
        QVERIFY(serveNotifications(&service));
        DesktopNotifier notifier;
        NowPlayingNotices notices(session, &notifier);
        QSignalSpy shown(&notifier, &DesktopNotifier::shown);
        QVERIFY(notices.isEnabled() && notices.isWindowHidden());

        session->toggle();
        ready();
        // The program's picture, as the image loader delivers it.
        QImage picture(300, 300, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(!images->requests.isEmpty());
        for (int i = 0; i < images->requests.size(); ++i)
            images->answer(i, picture);
        media->lastItem()->setNowPlaying(QStringLiteral("Artist - One"));
        QVERIFY(shown.wait(5000));
        media->lastItem()->setNowPlaying(QStringLiteral("Artist - Two"));
        QVERIFY(shown.wait(5000));
        QCOMPARE(service.shown.size(), 2);
        QCOMPARE(service.shown[0].app, QStringLiteral("Orbitune"));
        QCOMPARE(service.shown[0].summary, QStringLiteral("First"));
        QCOMPARE(service.shown[0].body, QStringLiteral("Artist - One"));
        QCOMPARE(service.shown[0].image, QSize(128, 128));
        QCOMPARE(service.shown[0].replaces, 0u);
        // The second replaces the first.
        QCOMPARE(service.shown[1].replaces, shown.at(0).at(0).toUInt());

        // Not while the window is up, nor when switched off (remembered).
        notices.setWindowHidden(false);
        media->lastItem()->setNowPlaying(QStringLiteral("Artist - Three"));
        QVERIFY2(!shown.wait(300), "a notification while the window is shown");
        notices.setWindowHidden(true);
        QSignalSpy switched(&notices, &NowPlayingNotices::enabledChanged);
        notices.setEnabled(false);
        notices.setEnabled(false);
        QCOMPARE(switched.size(), 1);
        QVERIFY(!settings::open()->value(QStringLiteral("notifications/enabled")).toBool());
        media->lastItem()->setNowPlaying(QStringLiteral("Artist - Four"));
        QVERIFY(!shown.wait(500));
        QCOMPARE(service.shown.size(), 2);

        // A failure notifies when they are on again.
        notices.setEnabled(true);
        media->lastItem()->setStatus(MediaItem::StatusFailed);
        QVERIFY(shown.wait(5000));
        QCOMPARE(service.shown.last().body, QStringLiteral("Error, switch next one."));
    }

    // Titles are shown as written, escaped only for servers that read
    // markup; quicker than the server answers, they replace, never stack.
    void quickTitlesShowLiterallyInOneBubble_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("sent");
        QTest::newRow("markup server") << QStringList{"body", "body-markup"}
                                       << QStringLiteral("S &amp; G &lt;b&gt;Live&lt;/b&gt;");
        QTest::newRow("plain server") << QStringList{"body"} << QStringLiteral("S & G <b>Live</b>");
    }

    void quickTitlesShowLiterallyInOneBubble()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, sent);
        FakeNotifications service;
        service.capabilities = capabilities;
        QVERIFY(serveNotifications(&service));
        DesktopNotifier notifier;
        QSignalSpy shown(&notifier, &DesktopNotifier::shown);
        for (const char *title : {"One", "Two", "S & G <b>Live</b>"})
            notifier.show(QStringLiteral("R&B"), QString::fromLatin1(title));
        QTRY_VERIFY(!service.shown.isEmpty());
        notifier.show(QStringLiteral("R&B"), QStringLiteral("S & G <b>Live</b>"));
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(service.shown.size(), 2); // "One" and "Two" were overtaken while waiting
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(service.shown[i].replaces, i ? shown.at(0).at(0).toUInt() : 0u);
            QCOMPARE(service.shown[i].body, sent);
            QCOMPARE(service.shown[i].summary, QStringLiteral("R&B")); // never markup
        }
        QCOMPARE(service.capabilityCalls, 1);
    }

    // "Love" on a title's notice where the server shows actions; choosing
    // it on our notice (not another program's) loves the title it told of.
    void loveOnTheNoticeWhereActionsAreShown_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("server with actions")
            << QStringList{"body", "actions"} << QStringList{"love", "Love"};
        QTest::newRow("server without") << QStringList{"body"} << QStringList{};
    }

    void loveOnTheNoticeWhereActionsAreShown()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QStringList, sent);
        FakeNotifications service;
        service.capabilities = capabilities;
        QVERIFY(serveNotifications(&service));
        QDBusConnection bus = serviceBus();
        DesktopNotifier notifier;
        NowPlayingNotices notices(session, &notifier);
        QStringList loved;
        notices.setLoveHandler([&loved](const QString &title) { loved << title; });
        QSignalSpy shown(&notifier, &DesktopNotifier::shown);
        session->toggle();
        ready();
        media->lastItem()->setNowPlaying(QStringLiteral("Artist - One"));
        QVERIFY(shown.wait(5000));
        QCOMPARE(service.shown.last().actions, sent);
        QCOMPARE(notifier.supportsActions(), std::optional<bool>(!sent.isEmpty()));
        const uint id = shown.last().at(0).toUInt();
        QSignalSpy invoked(&notifier, &DesktopNotifier::actionInvoked);
        auto choose = [&bus](uint notice) {
            QDBusMessage signal = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
            signal << notice << QStringLiteral("love");
            QVERIFY(bus.send(signal));
        };
        choose(id + 1000); // another program's notice
        choose(id);
        QVERIFY(invoked.wait(5000));
        QCOMPARE(invoked.size(), 1);
        QCOMPARE(loved, QStringList{QStringLiteral("Artist - One")});
    }

    void withoutNotificationServiceNothingBreaks()
    {
        DesktopNotifier notifier;
        NowPlayingNotices notices(session, &notifier);
        session->toggle();
        ready();
        media->lastItem()->setNowPlaying(QStringLiteral("One"));
        media->lastItem()->setNowPlaying(QStringLiteral("Two"));
        QTRY_COMPARE(log().filter(QStringLiteral("notifications unavailable")).size(), 1);
        QCOMPARE(session->state(), PlaybackSession::State::Playing);
    }

    void inhibitorThroughScreenSaverThenPortal()
    {
        FakeScreenSaver saver;
        QDBusConnection bus = serviceBus();
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
        SleepInhibitor inhibitor;
        ListeningInhibitor listening(session, &inhibitor);
        QCOMPARE(inhibitor.heldVia(), SleepInhibitor::Via::None);

        session->toggle();
        QTRY_COMPARE(inhibitor.heldVia(), SleepInhibitor::Via::ScreenSaver);
        ready();
        session->toggle(); // pause
        QTRY_COMPARE(saver.calls, (QStringList{"Inhibit", "UnInhibit 7"}));
        QCOMPARE(inhibitor.heldVia(), SleepInhibitor::Via::None);
        // Paused again before the inhibitor was even held: let go once it is.
        session->toggle();
        session->toggle();
        QTRY_COMPARE(saver.calls.size(), 4);
        QCOMPARE(saver.calls.last(), QStringLiteral("UnInhibit 7"));

        // The portal, where it runs, is preferred; suspend only (flag 4).
        FakePortal portal;
        FakePortalRequest request;
        request.calls = &portal.calls;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop/request/t"),
                                   &request, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        session->toggle();
        QTRY_COMPARE(inhibitor.heldVia(), SleepInhibitor::Via::Portal);
        media->lastItem()->setStatus(MediaItem::StatusFailed); // failure releases too
        QTRY_COMPARE(portal.calls, (QStringList{"Inhibit 4", "Close"}));
        QCOMPARE(saver.calls.size(), 4);

        // Quitting while held lets go as well.
        auto quitting = std::make_unique<SleepInhibitor>();
        quitting->setInhibited(true);
        QTRY_COMPARE(quitting->heldVia(), SleepInhibitor::Via::Portal);
        quitting.reset();
        QTRY_COMPARE(portal.calls.size(), 4);
        QCOMPARE(portal.calls.last(), QStringLiteral("Close"));
    }

    // The inhibitor is taken again from whatever service is there when the
    // one holding it refuses or goes away.
    void inhibitorFallsBackAndComesBack_data()
    {
        QTest::addColumn<bool>("portalRuns");
        QTest::addColumn<bool>("portalRefuses");
        QTest::addColumn<QString>("quits"); // while it holds the inhibitor
        QTest::newRow("portal refuses") << true << true << QString();
        QTest::newRow("portal quits")
            << true << false << QStringLiteral("org.freedesktop.portal.Desktop");
        QTest::newRow("screen saver restarts")
            << false << false << QStringLiteral("org.freedesktop.ScreenSaver");
    }

    void inhibitorFallsBackAndComesBack()
    {
        QFETCH(bool, portalRuns);
        QFETCH(bool, portalRefuses);
        QFETCH(QString, quits);
        FakeScreenSaver saver;
        FakePortal portal;
        portal.refuse = portalRefuses;
        QDBusConnection bus = serviceBus();
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
        QVERIFY(!portalRuns ||
                bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        SleepInhibitor inhibitor;
        inhibitor.setInhibited(true);
        QTRY_VERIFY(inhibitor.heldVia() != SleepInhibitor::Via::None);
        const bool saverQuits = quits == QStringLiteral("org.freedesktop.ScreenSaver");
        QVERIFY(quits.isEmpty() || bus.unregisterService(quits));
        if (saverQuits) {
            QTRY_COMPARE(inhibitor.heldVia(), SleepInhibitor::Via::None);
            QVERIFY(bus.registerService(quits));
        }
        QTRY_COMPARE(inhibitor.heldVia(), SleepInhibitor::Via::ScreenSaver);
        QCOMPARE(portal.calls, portalRuns ? QStringList{"Inhibit 4"} : QStringList());
        QCOMPARE(saver.calls.size(), saverQuits ? 2 : 1);
        inhibitor.setInhibited(false);
        QTRY_COMPARE(saver.calls.last(), QStringLiteral("UnInhibit 7"));
    }

    void searchFindsProgramsAsTheShellsAsk_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QStringList>("expected");
        QStringList relays;
        for (int i = 1; i <= 20; ++i)
            relays << QStringLiteral("Relay %1").arg(i);
        QTest::newRow("GNOME: names starting with the term come first")
            << "gnome" << QStringList{"para"} << QStringList{"Paradise Jazz", "Radio Paradise"};
        QTest::newRow("GNOME: every term must match")
            << "gnome" << QStringList{"jazz", "PARA"} << QStringList{"Paradise Jazz"};
        QTest::newRow("GNOME: accents ignored")
            << "gnome" << QStringList{"cafe"} << QStringList{"Café del Mar"};
        QTest::newRow("GNOME: case of other scripts ignored")
            << "gnome" << QStringList{"КЛАСС"} << QStringList{"Классика"};
        QTest::newRow("GNOME: a group's name finds its programs")
            << "gnome" << QStringList{"chill"} << QStringList{"Café del Mar"};
        QTest::newRow("KRunner: terms in the name and the group")
            << "krunner" << QStringList{"mar out"} << QStringList{"Café del Mar"};
        QTest::newRow("GNOME: nothing matches") << "gnome" << QStringList{"opera"} << QStringList{};
        QTest::newRow("GNOME: only blanks") << "gnome" << QStringList{" "} << QStringList{};
        QTest::newRow("KRunner: one query, best first")
            << "krunner" << QStringList{"jazz"} << QStringList{"Jazz FM", "Paradise Jazz"};
        QTest::newRow("KRunner: words of the query")
            << "krunner" << QStringList{"  radio   paradise "} << QStringList{"Radio Paradise"};
        QTest::newRow("KRunner: an empty query") << "krunner" << QStringList{""} << QStringList{};
        QTest::newRow("KRunner: exactly 20 matches") << "krunner" << QStringList{"relay"} << relays;
        QTest::newRow("KRunner: more than 20 matches, the best 20")
            << "krunner" << QStringList{"rela"} << relays;
        QTest::newRow("GNOME: more terms than anyone types")
            << "gnome" << QStringList(DesktopSearch::kMaxTerms + 1, "a") << QStringList{};
    }

    void searchFindsProgramsAsTheShellsAsk()
    {
        QFETCH(QString, shell);
        QFETCH(QStringList, terms);
        QFETCH(QStringList, expected);
        ProgramSearch search(&fixture->store);
        QVERIFY(search.start());
        listSearchablePrograms();
        QStringList names;
        if (shell == QLatin1String("gnome")) {
            const QDBusMessage reply = gnome("GetInitialResultSet", {terms});
            QCOMPARE(reply.signature(), QStringLiteral("as"));
            names = namesOf(reply.arguments().value(0).toStringList());
        } else {
            const QDBusMessage reply = krunner("Match", {terms.value(0)});
            QCOMPARE(reply.signature(), QStringLiteral("a(sssida{sv})"));
            for (const RunnerMatch &m : matchesOf(reply)) {
                names << m.text;
                QVERIFY(m.relevance > 0 && m.relevance <= 1);
                // A query naming the program exactly is KRunner's exact match.
                const bool exact =
                    m.text.compare(terms.value(0).simplified(), Qt::CaseInsensitive) == 0;
                QCOMPARE(m.type, exact ? 100 : 30);
            }
        }
        QCOMPARE(names, expected);
    }

    // Narrowing, what the shell shows, and choosing: the chosen program plays
    // as if chosen in the list window.
    void choosingAResultPlaysIt_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::newRow("GNOME Shell") << "gnome";
        QTest::newRow("KRunner") << "krunner";
    }

    void choosingAResultPlaysIt()
    {
        QFETCH(QString, shell);
        ProgramSearch search(&fixture->store);
        QVERIFY(search.start());
        listSearchablePrograms();
        const QUrl picture(QStringLiteral("http://127.0.0.1:1/jazz.png"));
        QFile::remove(artfiles::pathFor(picture));

        // Before its picture is kept as a file, the application's icon.
        QStringList ids =
            gnome("GetInitialResultSet", {QStringList{"jazz"}}).arguments().value(0).toStringList();
        QCOMPARE(ids.size(), 2);
        QVariantMap meta = metasOf(gnome("GetResultMetas", {QStringList{ids[0]}})).value(0);
        QCOMPARE(meta.value(QStringLiteral("gicon")).toString(), QStringLiteral("orbitune"));
        QCOMPARE(meta.value(QStringLiteral("description")).toString(), QStringLiteral("127.0.0.1"));
        // The search asked for it; once loaded, the next search shows it.
        QTRY_VERIFY(std::any_of(images->requests.cbegin(), images->requests.cend(),
                                [&picture](const auto &r) { return r.url == picture; }));
        for (qsizetype i = 0; i < images->requests.size(); ++i) {
            if (images->requests.at(i).url == picture)
                images->answer(int(i), FakeImageLoader::solid(Qt::blue, 100));
        }
        QTRY_VERIFY(!artfiles::existing(picture).isEmpty());
        meta = metasOf(gnome("GetResultMetas", {QStringList{ids[0]}})).value(0);
        QCOMPARE(meta.value(QStringLiteral("gicon")).toString(), artfiles::existing(picture));
        const RunnerMatch first = matchesOf(krunner("Match", {QStringLiteral("jazz fm")})).value(0);
        const auto icon =
            first.properties.value(QStringLiteral("icon-data")).value<QDBusArgument>();
        int width = 0, height = 0, stride = 0, bits = 0, channels = 0;
        bool alpha = false;
        QByteArray pixels;
        icon.beginStructure();
        icon >> width >> height >> stride >> alpha >> bits >> channels >> pixels;
        icon.endStructure();
        QCOMPARE(QList<int>({width, height, bits, channels}), QList<int>({64, 64, 8, 4}));
        QCOMPARE(pixels.size(), stride * height);
        QCOMPARE(pixels.left(4), QByteArray("\x00\x00\xff\xff", 4)); // blue, opaque

        // Typing on narrows what was found.
        ids = gnome("GetSubsearchResultSet", {ids, QStringList{"jazz", "fm"}})
                  .arguments()
                  .value(0)
                  .toStringList();
        QCOMPARE(namesOf(ids), QStringList{"Jazz FM"});

        // A result that is gone plays nothing.
        if (shell == QLatin1String("gnome"))
            gnome("ActivateResult", {QStringLiteral("0000"), QStringList{}, 0u});
        else
            krunner("Run", {QStringLiteral("0000"), QString()});
        QCOMPARE(media->created(), 0);

        if (shell == QLatin1String("gnome"))
            gnome("ActivateResult", {ids[0], QStringList{"jazz", "fm"}, 0u});
        else
            krunner("Run", {first.id, QString()});
        QTRY_COMPARE(program::name(CacheManager::shareIntance()->getLiveData()),
                     QStringLiteral("Jazz FM"));
        QCOMPARE(media->created(), 1);
        QCOMPARE(media->lastItem()->url(), QUrl(QStringLiteral("http://127.0.0.1:1/jazz")));

        // "Search in the application" asks for the window.
        QSignalSpy raise(&search, &ProgramSearch::raiseRequested);
        gnome("LaunchSearch", {QStringList{"jazz"}, 0u});
        QCOMPARE(raise.size(), 1);
        QCOMPARE(session->state(), PlaybackSession::State::Loading);
    }

    void withoutAnyInhibitServiceOneLine()
    {
        SleepInhibitor inhibitor;
        ListeningInhibitor listening(session, &inhibitor);
        session->toggle();
        session->toggle();
        session->toggle();
        QCOMPARE(log().filter(QStringLiteral("may suspend while playing")).size(), 1);
        QCOMPARE(inhibitor.heldVia(), SleepInhibitor::Via::None);
    }
};

int main(int argc, char **argv)
{
    TestEnv env;
    PrivateSessionBus bus; // before QApplication: Qt reads the address once
    if (!bus.isRunning()) {
        std::fprintf(stderr, "tst_desktop_bus: could not start dbus-daemon\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    QApplication::setQuitOnLastWindowClosed(false);
    TestDesktopBus tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_desktop_bus.moc"
