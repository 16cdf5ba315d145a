// Scrobbling end to end: songs heard through the playback session, judged by
// radio's rules, queued in the history file and sent to a ListenBrainz-
// compatible server on loopback (support/scrobble_server.py), which checks
// what the service's documents ask of each request and records what it took.

#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/FakeMedia.h"
#include "support/StreamServers.h"
#include "support/TestClock.h"
#include "support/TestEnv.h"

#include "app/ScrobbleLauncher.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/ScrobbleQueue.h"
#include "history/SongTableModel.h"
#include "platform/base/Settings.h"
#include "scrobble/LastFmClient.h"
#include "scrobble/ListenBrainzClient.h"
#include "scrobble/ScrobbleAccounts.h"
#include "scrobble/ScrobbleSender.h"
#include "scrobble/ScrobbleTracker.h"
#include "scrobble/Scrobbler.h"
#include "scrobblewindow/ScrobbleDialog.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/CacheManager.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <signal.h>

namespace {

const QString kToken = QStringLiteral("secret-test-token");
const LastFmClient::Application kLastFm{QStringLiteral("lastfm-key"),
                                        QStringLiteral("lastfm-secret")};
const QDateTime kStart = QDateTime(QDate(2026, 12, 1), QTime(12, 0), Qt::UTC);

ScrobbleQueue::Listen listenNo(int n)
{
    ScrobbleQueue::Listen listen;
    listen.artist = QStringLiteral("Artist");
    listen.title = QStringLiteral("Song %1").arg(n);
    listen.started = kStart.addSecs(qint64(n) * 60);
    listen.heardMs = 60000;
    listen.station = QStringLiteral("http://127.0.0.1:1/first");
    return listen;
}

// "Artist - Title@seconds after kStart" of each listen the server took, as
// ListenBrainz (track_metadata, listened_at) or Last.fm (timestamp) has it.
QStringList linesOf(const QJsonArray &listens)
{
    QStringList out;
    for (const QJsonValue &v : listens) {
        const QJsonObject o = v.toObject();
        const QJsonObject meta = o.value(QStringLiteral("track_metadata")).toObject();
        const bool lb = !meta.isEmpty();
        QString line =
            (lb ? meta[QStringLiteral("artist_name")] : o[QStringLiteral("artist")]).toString() +
            QStringLiteral(" - ") +
            (lb ? meta[QStringLiteral("track_name")] : o[QStringLiteral("track")]).toString();
        const QJsonValue at =
            o.value(lb ? QStringLiteral("listened_at") : QStringLiteral("timestamp"));
        if (!at.isUndefined())
            line += QStringLiteral("@%1").arg(at.toInteger() - kStart.toSecsSinceEpoch());
        out << line;
    }
    return out;
}

// A private session bus (no service started by itself) for the whole run,
// never stopped before the process ends: GLib ends a process whose session
// bus goes away (the keyring's connection). The kernel stops it after us.
SessionBus *privateBus()
{
    static SessionBus *bus = [] {
        auto *b = new SessionBus;
        return b->start(false) ? b : nullptr;
    }();
    return bus;
}

} // namespace

class ScrobbleTest : public QObject {
    Q_OBJECT

    StreamServers m_servers;
    QUrl m_address;
    QTemporaryDir m_dir;

    QString historyPath() const { return m_dir.filePath(QStringLiteral("history.sqlite")); }
    QUrl address() const { return m_address; }
    QJsonObject control(const QString &pathAndQuery)
    {
        return QJsonDocument::fromJson(m_servers.scrobbleServer(pathAndQuery)).object();
    }
    QJsonObject received() { return control(QStringLiteral("/__received")); }
    QStringList receivedListens()
    {
        return linesOf(received()[QStringLiteral("listens")].toArray());
    }
    ListenBrainzClient *client(const QString &token = kToken)
    {
        return new ListenBrainzClient(address(), token);
    }
    LastFmClient *lastFm(const QString &sessionKey = QStringLiteral("test-session-key"))
    {
        return new LastFmClient(address().resolved(QStringLiteral("/2.0/")), kLastFm, sessionKey);
    }

    // Runs queue_listens on the history file from "Song <first>" on, and
    // kills it (SIGKILL) once it said it queued `target` listens.
    QStringList queueUntilKilled(int first, int target)
    {
        QStringList acked;
        QProcess helper;
        helper.setStandardErrorFile(QProcess::nullDevice());
        helper.start(QCoreApplication::applicationDirPath() + QStringLiteral("/queue_listens"),
                     {historyPath(), QString::number(first)});
        if (!helper.waitForStarted(5000))
            return acked;
        QByteArray pending;
        while (acked.size() < target && helper.state() == QProcess::Running) {
            helper.waitForReadyRead(2000);
            pending += helper.readAllStandardOutput();
            qsizetype nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                acked << QStringLiteral("Artist - Song %1").arg(pending.mid(2, nl - 2).toInt());
                pending.remove(0, nl + 1);
            }
        }
        ::kill(pid_t(helper.processId()), SIGKILL);
        helper.waitForFinished(5000);
        return acked;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(privateBus());
        QVERIFY(m_dir.isValid());
        m_address = m_servers.startScrobbleServer(kToken, kLastFm.key, kLastFm.secret);
        QVERIFY2(m_address.isValid(), qPrintable(m_servers.errorString()));
    }

    void init()
    {
        QVERIFY(!control(QStringLiteral("/__reset")).isEmpty());
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(f));
    }

    void cleanup() { Clock::shared()->setTimeScale(1.0); }

    // Radio's rules through the session: songs heard (titles, "+N" seconds
    // heard, mute, a seek) reach the server as listens with the time each
    // began, "now playing" for each that may count.
    void rulesEndToEnd_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("listens");
        QTest::addColumn<QStringList>("nowPlaying");
        using L = QStringList;
        QTest::newRow("from its start, 30 s; joined, 10 s")
            << "X - Opener|+10|A - One|+30|B - Two|+1|pause" << L{"A - One@10"}
            << L{"X - Opener", "A - One", "B - Two"};
        QTest::newRow("joined late: 4 min counts")
            << "A - One|+240|pause" << L{"A - One@0"} << L{"A - One"};
        QTest::newRow("joined late: 3 min does not") << "A - One|+180|pause" << L{} << L{"A - One"};
        QTest::newRow("short song") << "X - J|+5|A - One|+29|B - Two|+300|pause" << L{"B - Two@34"}
                                    << L{"X - J", "A - One", "B - Two"};
        QTest::newRow("the station's name and a title without an artist")
            << "X - J|+1|First|+60|Live|+60|A - One|+60|pause" << L{"A - One@121"}
            << L{"X - J", "A - One"};
        QTest::newRow("a replay after a seek back")
            << "X - J|+1|A - One|+60|B - Two|+60|seek|A - One|+60|B - Two|+60|pause"
            << L{"A - One@1", "B - Two@61"} << L{"X - J", "A - One", "B - Two"};
        QTest::newRow("muted throughout, muted in part")
            << "X - J|+1|mute|A - One|+60|unmute|B - Two|+20|mute|+20|pause" << L{"B - Two@61"}
            << L{"X - J", "B - Two"};
    }

    void rulesEndToEnd()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, listens);
        QFETCH(QStringList, nowPlaying);
        QFile::remove(TestEnv::instance()->dataFile());
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY(CacheManager::shareIntance()->seedDefaultDataIfEmpty());
        TestClock clock(kStart);
        FakeMediaFactory media;
        PlaybackSession session;
        HistoryStore store(historyPath());
        HistoryRecorder recorder(&session, &store);
        SongTableModel model(&store);
        Scrobbler scrobbler(&session, &recorder, &store);
        ScrobbleSender *sender = scrobbler.connectService(client());
        ScrobbleSender *lastFmSender = scrobbler.connectService(lastFm());
        session.toggle();
        media.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        for (const QString &step : script.split(QLatin1Char('|'))) {
            if (step.startsWith(QLatin1Char('+')))
                clock.advance(step.mid(1).toLongLong() * 1000);
            else if (step == QLatin1String("pause"))
                session.pause();
            else if (step == QLatin1String("mute") || step == QLatin1String("unmute"))
                session.volume()->setMuted(step == QLatin1String("mute"));
            else if (step == QLatin1String("seek"))
                Q_EMIT media.last()->seeked();
            else
                media.lastItem()->setNowPlaying(step);
        }
        // Each "now playing" is a request of its own: they may arrive in
        // any order.
        nowPlaying.sort();
        auto sorted = [this](const char *key) {
            QStringList out = linesOf(received()[QLatin1String(key)].toArray());
            out.sort();
            return out;
        };
        QTRY_COMPARE(sorted("playing_now"), nowPlaying);
        QTRY_COMPARE(receivedListens(), listens);
        QTRY_COMPARE(sender->waiting(), 0);
        // Last.fm, signed, the same.
        QTRY_COMPARE(sorted("lastfm_now"), nowPlaying);
        QTRY_COMPARE(linesOf(received()[QStringLiteral("lastfm")].toArray()), listens);
        QTRY_COMPARE(lastFmSender->waiting(), 0);
        QCOMPARE(received()[QStringLiteral("faults")].toArray(), QJsonArray());
        QCOMPARE(receivedListens(), listens); // each once
        // The history window's model marks the songs sent, once sent.
        auto marked = [&model] {
            QStringList out;
            for (int row = model.count() - 1; row >= 0; --row) {
                if (model.data(model.index(row, SongTableModel::ScrobbledColumn),
                               Qt::AccessibleTextRole) == QStringLiteral("Scrobbled"))
                    out << model.song(row).title + QLatin1Char('@') +
                               QString::number(kStart.secsTo(model.song(row).started));
            }
            return out;
        };
        QTRY_COMPARE(marked(), listens);
    }

    // Listens made while the service fails reach it once each, in order,
    // after it comes back; the pauses between attempts grow, never a burst.
    void queueAcrossAnOutage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("networkBack"); // tried at once, not after the pause
        QTest::newRow("5xx") << 503 << false;
        QTest::newRow("429 without a rate-limit window") << 429 << false;
        QTest::newRow("connection closed unanswered") << 0 << false;
        QTest::newRow("5xx, then the network back") << 503 << true;
    }

    void queueAcrossAnOutage()
    {
        QFETCH(int, status);
        QFETCH(bool, networkBack);
        if (!networkBack)
            Clock::shared()->setTimeScale(0.001); // pauses of 30 s take 30 ms
        QVERIFY(!control(QStringLiteral("/__fail?status=%1&count=1000000").arg(status)).isEmpty());
        HistoryStore store(historyPath());
        ScrobbleQueue queue(&store);
        auto lb = std::unique_ptr<ListenBrainzClient>(client());
        ScrobbleSender sender(&queue, lb.get());
        QStringList made;
        for (int n = 0; n < 200; ++n) {
            queue.add(listenNo(n), {QStringLiteral("listenbrainz")});
            made << QStringLiteral("Artist - Song %1@%2").arg(n).arg(n * 60);
        }
        QTRY_COMPARE(sender.waiting(), 200);
        QTRY_VERIFY(received()[QStringLiteral("requests")].toInt() >= (networkBack ? 1 : 4));
        QVERIFY(sender.status() == ScrobbleSender::Status::Waiting ||
                sender.status() == ScrobbleSender::Status::Sending);
        // Growing pauses: a few attempts over what would be minutes.
        QTest::qWait(300);
        QVERIFY2(received()[QStringLiteral("requests")].toInt() < 12,
                 qPrintable(QString::number(received()[QStringLiteral("requests")].toInt())));
        QVERIFY(receivedListens().isEmpty());
        QVERIFY(!control(QStringLiteral("/__fail?count=0")).isEmpty());
        if (networkBack)
            sender.retryNow(); // well before the 30 s pause ends
        QTRY_COMPARE_WITH_TIMEOUT(receivedListens(), made, networkBack ? 5000 : 20000);
        QTRY_COMPARE(sender.waiting(), 0);
        QCOMPARE(sender.status(), ScrobbleSender::Status::Idle);
        QCOMPARE(received()[QStringLiteral("faults")].toArray(), QJsonArray());
    }

    // Listens queued by a process killed (SIGKILL) are sent by the next one,
    // each once and in order.
    void queueAcrossAKill()
    {
        const QStringList acked = queueUntilKilled(0, 120);
        QVERIFY(acked.size() >= 120);
        const QStringList more = queueUntilKilled(1000, 80);
        QVERIFY(more.size() >= 80);
        HistoryStore store(historyPath());
        ScrobbleQueue queue(&store);
        auto lb = std::unique_ptr<ListenBrainzClient>(client());
        ScrobbleSender sender(&queue, lb.get());
        QTRY_VERIFY(receivedListens().size() >= acked.size() + more.size());
        QTRY_COMPARE(sender.waiting(), 0);
        QTRY_COMPARE(sender.status(), ScrobbleSender::Status::Idle);
        QStringList sent = receivedListens();
        for (QString &s : sent)
            s = s.section(QLatin1Char('@'), 0, 0);
        // What was said to be queued is there; what was written before
        // the kill but not yet said may be too; nothing twice.
        QCOMPARE(sent.mid(0, acked.size()), acked);
        QCOMPARE(sent.mid(sent.indexOf(more.first()), more.size()), more);
        QCOMPARE(QSet<QString>(sent.begin(), sent.end()).size(), sent.size());
    }

    // With the service's window used up, the next batch waits for its reset
    // rather than drawing a 429.
    void rateLimitsHonoured()
    {
        QVERIFY(!control(QStringLiteral("/__rate?limit=2&window=2")).isEmpty());
        HistoryStore store(historyPath());
        ScrobbleQueue queue(&store);
        auto lb = std::unique_ptr<ListenBrainzClient>(client());
        ScrobbleSender sender(&queue, lb.get());
        QStringList made;
        for (int n = 0; n < 4; ++n) {
            queue.add(listenNo(n), {QStringLiteral("listenbrainz")});
            made << QStringLiteral("Artist - Song %1@%2").arg(n).arg(n * 60);
            QTRY_COMPARE_WITH_TIMEOUT(receivedListens(), made, 10000);
        }
        QCOMPARE(received()[QStringLiteral("over_limit")].toInt(), 0);
        QCOMPARE(received()[QStringLiteral("requests")].toInt(), 4);
    }

    // A token the service refuses stops sending and is said once; the queue
    // is kept for the next token, which the service names the account of.
    void refusedTokenStopsAndSaysSoOnce()
    {
        Clock::shared()->setTimeScale(0.001);
        HistoryStore store(historyPath());
        ScrobbleQueue queue(&store);
        auto wrong = std::unique_ptr<ListenBrainzClient>(client(QStringLiteral("wrong")));
        std::optional<ScrobbleSender> sender(std::in_place, &queue, wrong.get());
        QSignalSpy refused(&*sender, &ScrobbleSender::refused);
        queue.add(listenNo(0), {QStringLiteral("listenbrainz")});
        QTRY_COMPARE(sender->status(), ScrobbleSender::Status::Stopped);
        queue.add(listenNo(1), {QStringLiteral("listenbrainz")});
        QTRY_COMPARE(sender->waiting(), 2);
        QTest::qWait(100);
        QCOMPARE(refused.size(), 1);
        QCOMPARE(received()[QStringLiteral("requests")].toInt(), 1);
        using Said = std::pair<int, QString>; // the outcome, the account's name
        auto validate = [](ListenBrainzClient *c) {
            Said said{-1, QString()};
            c->validate([&said](ScrobbleClient::Outcome o, const QString &n) {
                said = {int(o), n};
            });
            (void)QTest::qWaitFor([&said] { return said.first >= 0; }, 5000); // else -1
            return said;
        };
        QCOMPARE(validate(wrong.get()), Said(int(ScrobbleClient::Outcome::Refused), QString()));
        sender.reset();
        auto right = std::unique_ptr<ListenBrainzClient>(client());
        QCOMPARE(validate(right.get()),
                 Said(int(ScrobbleClient::Outcome::Accepted), QStringLiteral("tester")));
        ScrobbleSender again(&queue, right.get());
        QTRY_COMPARE(receivedListens(), (QStringList{"Artist - Song 0@0", "Artist - Song 1@60"}));
    }

    // Last.fm's desktop authentication: a token, approved in the browser,
    // exchanged for the session key; scrobbles go in calls of at most 50,
    // and those older than Last.fm takes are dropped, not sent.
    void lastFmConnectsAndBatches()
    {
        auto app = std::unique_ptr<LastFmClient>(lastFm(QString()));
        std::optional<ScrobbleClient::Outcome> outcome;
        QString token, user, key;
        app->requestToken([&](ScrobbleClient::Outcome o, const QString &t) {
            outcome = o;
            token = t;
        });
        QTRY_VERIFY(outcome.has_value());
        QCOMPARE(*outcome, ScrobbleClient::Outcome::Accepted);
        QVERIFY(!token.isEmpty());
        const QUrlQuery page(app->approvalPage(token));
        QCOMPARE(page.queryItemValue(QStringLiteral("token")), token);
        QCOMPARE(page.queryItemValue(QStringLiteral("api_key")), kLastFm.key);
        auto session = [&] {
            outcome.reset();
            app->requestSession(token,
                                [&](ScrobbleClient::Outcome o, const QString &u, const QString &k) {
                                    outcome = o;
                                    user = u;
                                    key = k;
                                });
        };
        session(); // not approved yet
        QTRY_VERIFY(outcome.has_value());
        QCOMPARE(*outcome, ScrobbleClient::Outcome::Refused);
        QVERIFY(!control(QStringLiteral("/__approve?token=") + token).isEmpty());
        session();
        QTRY_VERIFY(outcome.has_value());
        QCOMPARE(*outcome, ScrobbleClient::Outcome::Accepted);
        QCOMPARE(user, QStringLiteral("tester"));
        QCOMPARE(key, QStringLiteral("test-session-key"));

        TestClock clock(kStart.addDays(15));
        HistoryStore store(historyPath());
        ScrobbleQueue queue(&store);
        QStringList made;
        for (int n = 0; n < 120; ++n) {
            ScrobbleQueue::Listen listen = listenNo(n);
            // The first ten are too old.
            listen.started = kStart.addSecs(n < 10 ? n : 2 * 86400 + n * 60);
            queue.add(listen, {QStringLiteral("lastfm")});
            if (n >= 10)
                made << QStringLiteral("Artist - Song %1@%2").arg(n).arg(2 * 86400 + n * 60);
        }
        ScrobbleSender sender(&queue, app.get());
        QTRY_COMPARE(linesOf(received()[QStringLiteral("lastfm")].toArray()), made);
        QTRY_COMPARE(sender.waiting(), 0);
        QCOMPARE(received()[QStringLiteral("faults")].toArray(), QJsonArray());
    }

    // A song starred in the history goes to both services as loved, once
    // that is switched on.
    void lovedSongsWhenSwitchedOn()
    {
        FakeMediaFactory media;
        PlaybackSession session;
        HistoryStore store(historyPath());
        HistoryRecorder recorder(&session, &store);
        Scrobbler scrobbler(&session, &recorder, &store);
        scrobbler.connectService(client());
        scrobbler.connectService(lastFm());
        const qint64 off =
            store.add(QStringLiteral("Radio"), QStringLiteral("http://127.0.0.1:1/r"),
                      QStringLiteral("Artist - Not Sent"));
        QVERIFY(store.setFavourite(off, true));
        scrobbler.setSendsLoves(true);
        const qint64 on = store.add(QStringLiteral("Radio"), QStringLiteral("http://127.0.0.1:1/r"),
                                    QStringLiteral("Artist - Loved"));
        QVERIFY(store.setFavourite(on, true));
        QTRY_COMPARE(received()[QStringLiteral("feedback")].toArray().size(), 1);
        QCOMPARE(received()[QStringLiteral("feedback")][0][QStringLiteral("recording_mbid")],
                 QStringLiteral("mbid:Artist:Loved"));
        QTRY_COMPARE(linesOf(received()[QStringLiteral("lastfm_love")].toArray()),
                     QStringList{QStringLiteral("Artist - Loved")});
        QCOMPARE(received()[QStringLiteral("faults")].toArray(), QJsonArray());
    }

    // The token is checked with the server and kept in the desktop's keyring
    // (gnome-keyring on a bus of the test's own), never in the settings file;
    // the next start connects from it. Without a keyring the connection
    // says so and the settings file still holds no token.
    void tokenLivesInTheKeyring()
    {
        auto keyring = childprocess::start(
            QStringLiteral("gnome-keyring-daemon"),
            {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
             QStringLiteral("--components=secrets")},
            QProcessEnvironment::systemEnvironment(), QStringLiteral("/dev/null"));
        QVERIFY(keyring);
        keyring->write("test-password"); // unlocks a new "login" keyring
        keyring->closeWriteChannel();
        const QString keyrings =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/keyrings/login.keyring");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(keyrings), 10000);

        FakeMediaFactory media;
        PlaybackSession session;
        HistoryStore store(historyPath());
        HistoryRecorder recorder(&session, &store);
        std::optional<QString> error;
        bool remembered = false;
        auto connectTo = [&](ScrobbleAccounts &accounts) {
            error.reset();
            accounts.connectListenBrainz(address(), kToken, [&](const QString &e, bool r) {
                error = e;
                remembered = r;
            });
        };
        const QString conf = settings::open()->fileName();
        auto settingsText = [&conf] {
            QFile f(conf);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        {
            Scrobbler scrobbler(&session, &recorder, &store);
            ScrobbleAccounts accounts(&scrobbler);
            connectTo(accounts);
            QTRY_VERIFY(error.has_value());
            QCOMPARE(*error, QString());
            QVERIFY(remembered);
            QCOMPARE(accounts.accountName(QStringLiteral("listenbrainz")),
                     QStringLiteral("tester"));
            QVERIFY(settingsText().contains(QStringLiteral("tester")));
            QVERIFY(!settingsText().contains(kToken));
        }
        {
            // The next start.
            Scrobbler scrobbler(&session, &recorder, &store);
            ScrobbleAccounts accounts(&scrobbler);
            accounts.restore();
            QTRY_VERIFY(scrobbler.client(QStringLiteral("listenbrainz")));
            QCOMPARE(accounts.keyringError(), QString());
        }
        childprocess::stop(keyring.get());
        {
            Scrobbler scrobbler(&session, &recorder, &store);
            ScrobbleAccounts accounts(&scrobbler);
            connectTo(accounts);
            QTRY_VERIFY(error.has_value());
            QCOMPARE(*error, QString()); // connected for now,
            QVERIFY(!remembered);        // but not kept
            QVERIFY(!accounts.keyringError().isEmpty());
            QVERIFY(!settingsText().contains(kToken));
        }
    }

    // The dialog: connecting by token, the account's name, the queue's
    // state while the server is down and after, a program never
    // scrobbled, no Last.fm in this build, and a keyring it cannot reach.
    void dialogConnectsAndShowsTheQueue()
    {
        // The private bus has no keyring on it by now.
        QFile::remove(TestEnv::instance()->dataFile());
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY(CacheManager::shareIntance()->seedDefaultDataIfEmpty());
        Clock::shared()->setTimeScale(0.001);
        FakeMediaFactory media;
        PlaybackSession session;
        HistoryStore store(historyPath());
        HistoryRecorder recorder(&session, &store);
        ScrobbleLauncher launcher(&session, &recorder, &store);
        launcher.open();
        ScrobbleDialog *dialog = launcher.dialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Scrobbling"));
        for (QWidget *w : dialog->findChildren<QWidget *>()) {
            if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }
        auto child = [dialog]<typename W>(W *, const char *name) {
            return dialog->findChild<W *>(QLatin1String(name));
        };
        auto *account = child((QLabel *)nullptr, "listenBrainzAccount");
        auto *queue = child((QLabel *)nullptr, "listenBrainzQueue");
        QCOMPARE(account->text(), QStringLiteral("Not connected"));
        QVERIFY(control(QStringLiteral("/__fail?status=503&count=1000000")).size());
        child((QLineEdit *)nullptr, "listenBrainzAddress")->setText(address().toString());
        child((QLineEdit *)nullptr, "listenBrainzToken")->setText(kToken);
        child((QPushButton *)nullptr, "listenBrainzConnect")->click();
        QTRY_COMPARE(account->text(), QStringLiteral("Connected as tester"));
        auto *keyring = child((QLabel *)nullptr, "keyringError");
        QTRY_VERIFY(keyring->isVisibleTo(dialog));
        QVERIFY(keyring->text().contains(QStringLiteral("keyring could not be reached")));
        for (int n = 0; n < 3; ++n)
            launcher.scrobbler()->queue()->add(listenNo(n), {QStringLiteral("listenbrainz")});
        QTRY_COMPARE(queue->text(), QStringLiteral("3 listens waiting: offline"));
        QVERIFY(control(QStringLiteral("/__fail?count=0")).size());
        QTRY_COMPARE_WITH_TIMEOUT(queue->text(), QStringLiteral("Every listen sent"), 10000);
        QCOMPARE(receivedListens().size(), 3);

        QCOMPARE(child((QLabel *)nullptr, "lastFmAccount")->text(),
                 QStringLiteral("Last.fm is not available in this build."));
        QVERIFY(!child((QPushButton *)nullptr, "lastFmConnect")->isEnabled());
        auto *excluded = child((QListWidget *)nullptr, "excludedStations");
        QCOMPARE(excluded->item(0)->text(), QStringLiteral("First"));
        excluded->item(0)->setCheckState(Qt::Checked);
        QVERIFY(launcher.accounts()->excludedStations().contains(
            QStringLiteral("http://127.0.0.1:1/first")));
        child((QPushButton *)nullptr, "listenBrainzDisconnect")->click();
        QCOMPARE(account->text(), QStringLiteral("Not connected"));
        dialog->close();
    }
};

ORBITUNE_TEST_MAIN(ScrobbleTest)
#include "tst_scrobble.moc"
