// The song history: what the recorder keeps from the playback session, and
// the SQLite file on bad days (corrupt, busy, read-only, hostile titles).
#include "support/FakeMedia.h"
#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "platform/base/Clock.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

namespace {
// The wall clock, set by the test.
class SetClock : public Clock {
public:
    SetClock() { Clock::setShared(this); }
    ~SetClock() override { Clock::setShared(nullptr); }
    QDateTime currentDateTimeUtc() const override { return now; }
    QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
};

// A second connection to the history file, as another process would hold.
struct OtherConnection {
    explicit OtherConnection(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kName);
        db.setDatabaseName(path);
        open = db.open();
    }
    ~OtherConnection()
    {
        QSqlDatabase::database(kName, false).close();
        QSqlDatabase::removeDatabase(kName);
    }
    QSqlQuery query() const { return QSqlQuery(QSqlDatabase::database(kName, false)); }
    static inline const QString kName = QStringLiteral("other");
    bool open = false;
};

QStringList titles(const QList<HistoryStore::Song> &songs)
{
    QStringList out;
    for (const auto &s : songs)
        out << s.title;
    return out;
}
} // namespace

class HistoryTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("history.sqlite")); }

private Q_SLOTS:
    void init()
    {
        QFile::remove(path());
        for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(f));
    }

    void recorderKeepsEachSongOnce_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("kept"); // newest first
        QTest::addColumn<int>("open");         // songs without an end
        using L = QStringList;
        QTest::newRow("titles in turn, then pause") << "play A|B|C pause" << L{"C", "B", "A"} << 0;
        QTest::newRow("empty, the program's name, a repeat: skipped")
            << "play A|-|First|A|B" << L{"B", "A"} << 1;
        QTest::newRow("a reconnect sends the same title again")
            << "play A drop back A" << L{"A"} << 1;
        QTest::newRow("a new listening keeps it again")
            << "play A pause play A" << L{"A", "A"} << 1;
        QTest::newRow("not while loading") << "load A" << L{} << 0;
        QTest::newRow("failure ends it") << "play A fail" << L{"A"} << 0;
    }

    void recorderKeepsEachSongOnce()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, kept);
        QFETCH(int, open);
        QFile::remove(TestEnv::instance()->dataFile());
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY(CacheManager::shareIntance()->seedDefaultDataIfEmpty());
        FakeMediaFactory media;
        PlaybackSession session;
        HistoryStore store(path());
        HistoryRecorder recorder(&session, &store);
        auto item = [&media] { return media.lastItem(); };
        for (const QString &step : script.split(QLatin1Char(' '))) {
            if (step == QLatin1String("play")) {
                session.toggle();
                item()->setStatus(MediaItem::StatusReadyToPlay);
            } else if (step == QLatin1String("load")) {
                session.toggle();
            } else if (step == QLatin1String("pause")) {
                session.pause();
            } else if (step == QLatin1String("fail")) {
                item()->setStatus(MediaItem::StatusFailed);
            } else if (step == QLatin1String("drop")) {
                item()->setReconnecting(true);
            } else if (step == QLatin1String("back")) {
                item()->setReconnecting(false);
            } else {
                for (const QString &title : step.split(QLatin1Char('|')))
                    item()->setNowPlaying(title == QLatin1String("-") ? QString() : title);
            }
        }
        const QList<HistoryStore::Song> songs = store.songs();
        QCOMPARE(titles(songs), kept);
        int unended = 0;
        for (const auto &s : songs) {
            unended += s.ended.isValid() ? 0 : 1;
            QCOMPARE(s.program, QStringLiteral("First"));
            QCOMPARE(s.streamUrl, QStringLiteral("http://127.0.0.1:1/first"));
        }
        QCOMPARE(unended, open);
    }

    void songsAreSplitCleanedAndFound()
    {
        SetClock clock;
        HistoryStore store(path());
        QVERIFY(store.isOpen());
        const qint64 a = store.add(QStringLiteral("Radio"), QStringLiteral("http://r/"),
                                   QStringLiteral("Simon & Garfunkel - The Boxer"));
        clock.now = clock.now.addSecs(200);
        store.add(QStringLiteral("Radio"), QStringLiteral("http://r/"),
                  QStringLiteral("\x01News\tat\nnoon\x7f"));
        clock.now = clock.now.addSecs(200);
        store.add(QStringLiteral("Jazz"), QStringLiteral("http://j/"),
                  QString(1 << 20, QLatin1Char('x'))); // a megabyte
        clock.now = clock.now.addSecs(200);
        store.add(QStringLiteral("Jazz"), QStringLiteral("http://j/"),
                  QStringLiteral("'; DROP TABLE songs; --"));
        QVERIFY(store.finish(a));
        QVERIFY(store.setFavourite(a, true));

        const QList<HistoryStore::Song> all = store.songs();
        QCOMPARE(all.size(), 4);
        QCOMPARE(all.at(0).title, QStringLiteral("'; DROP TABLE songs; --"));
        QCOMPARE(all.at(1).title.size(), HistoryStore::kMaxTitleLength);
        QCOMPARE(all.at(2).title, QStringLiteral("News at noon"));
        QCOMPARE(all.at(3).artist, QStringLiteral("Simon & Garfunkel"));
        QCOMPARE(all.at(3).song, QStringLiteral("The Boxer"));
        QVERIFY(all.at(2).artist.isEmpty());
        QCOMPARE(all.at(3).started, QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC));
        QVERIFY(all.at(3).ended.isValid());

        // Search: every word as a prefix, over title and program; typed
        // text is never query syntax.
        QCOMPARE(titles(store.songs(QStringLiteral("garf box"))), QStringList{all.at(3).title});
        QCOMPARE(store.songs(QStringLiteral("jazz")).size(), 2);
        QCOMPARE(titles(store.songs(QStringLiteral("DROP TABLE"))), QStringList{all.at(0).title});
        QCOMPARE(store.songs(QStringLiteral("\"*) OR (")).size(), 0);
        QCOMPARE(titles(store.songs(QString(), true)), QStringList{all.at(3).title});

        QVERIFY(store.remove(all.at(0).id));
        QCOMPARE(store.songs().size(), 3);
        QCOMPARE(store.songs(QStringLiteral("DROP")).size(), 0);
        QVERIFY(store.clear());
        QVERIFY(store.songs().isEmpty());
    }

    void manySongsSurviveTheBackgroundCheckpoints()
    {
        {
            HistoryStore store(path());
            for (int i = 0; i < 250; ++i)
                QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"),
                                  QStringLiteral("Song %1").arg(i)) > 0);
            QThreadPool::globalInstance()->waitForDone();
            QCOMPARE(store.songs(QString(), false, 1000).size(), 250);
        }
        HistoryStore reopened(path());
        QCOMPARE(reopened.songs(QString(), false, 1000).size(), 250);
        QCOMPARE(reopened.songs().first().title, QStringLiteral("Song 249"));
    }

    void oldSongsArePruned()
    {
        SetClock clock;
        {
            HistoryStore store(path());
            clock.now = clock.now.addDays(-400);
            store.add(QStringLiteral("Radio"), QStringLiteral("http://r/"), QStringLiteral("Old"));
            clock.now = clock.now.addDays(400);
            store.add(QStringLiteral("Radio"), QStringLiteral("http://r/"), QStringLiteral("New"));
        }
        HistoryStore reopened(path()); // pruned when opened
        QCOMPARE(titles(reopened.songs()), QStringList{QStringLiteral("New")});
    }

    void fileIsWalWithASchemaVersion()
    {
        {
            HistoryStore store(path());
        }
        OtherConnection peek(path());
        QVERIFY(peek.open);
        QSqlQuery q = peek.query();
        QVERIFY(q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version")) && q.next());
        QCOMPARE(q.value(0).toInt(), HistoryStore::kSchemaVersion);
        q.finish();
    }

    void versionOneFileGainsTheFileLink()
    {
        {
            OtherConnection old(path());
            QVERIFY(old.open);
            QSqlQuery q = old.query();
            for (const char *sql :
                 {"CREATE TABLE songs (id INTEGER PRIMARY KEY, program TEXT NOT NULL, "
                  "stream_url TEXT NOT NULL, title TEXT NOT NULL, artist TEXT NOT NULL, "
                  "song TEXT NOT NULL, started INTEGER NOT NULL, ended INTEGER, "
                  "favourite INTEGER NOT NULL DEFAULT 0)",
                  "INSERT INTO songs (program, stream_url, title, artist, song, started) "
                  "VALUES ('Radio', 'http://r/', 'Kept', '', '', strftime('%s', 'now') * 1000)",
                  "PRAGMA user_version=1"})
                QVERIFY2(q.exec(QString::fromLatin1(sql)), sql);
            q.finish();
        }
        qint64 id = 0;
        {
            HistoryStore store(path());
            QVERIFY(store.isOpen());
            const auto songs = store.songs();
            QCOMPARE(titles(songs), QStringList{QStringLiteral("Kept")});
            QVERIFY(songs.first().file.isEmpty());
            id = songs.first().id;
            QVERIFY(store.setFile(id, QStringLiteral("/music/Kept.mp3")));
        }
        HistoryStore reopened(path());
        QCOMPARE(reopened.songs().first().file, QStringLiteral("/music/Kept.mp3"));
        QVERIFY(reopened.setFile(id, QString()));
        QVERIFY(reopened.songs().first().file.isEmpty());
    }

    void badDays_data()
    {
        QTest::addColumn<QString>("day");
        QTest::newRow("corrupt file: kept aside, a fresh one") << QStringLiteral("corrupt");
        QTest::newRow("busy file: the song is dropped quickly") << QStringLiteral("busy");
        QTest::newRow("read-only folder: dropped, no crash") << QStringLiteral("readonly");
    }

    void badDays()
    {
        QFETCH(QString, day);
        LogRecorder log;
        if (day == QLatin1String("corrupt")) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(8192, '\x5a'));
            f.close();
            HistoryStore store(path());
            QVERIFY(store.isOpen());
            QVERIFY(store.keptAsideAs().startsWith(path() + QStringLiteral(".unreadable-")));
            QCOMPARE(QFile(store.keptAsideAs()).size(), 8192);
            QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T")) > 0);
        } else if (day == QLatin1String("busy")) {
            HistoryStore store(path());
            auto holder = std::make_unique<OtherConnection>(path());
            QVERIFY(holder->open);
            QSqlQuery hold = holder->query();
            QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QElapsedTimer waited;
            waited.start();
            QCOMPARE(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T")), 0);
            QVERIFY2(waited.elapsed() < 2000, "a busy file must not hold the window");
            QVERIFY(log.contains(QStringLiteral("history: song not kept: T")));
            QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
            hold.finish();
            holder.reset();
            QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T")) > 0);
        } else {
            const QString locked = dir.filePath(QStringLiteral("locked"));
            QDir().mkpath(locked);
            QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            HistoryStore store(locked + QStringLiteral("/history.sqlite"));
            if (QFileInfo(locked).isWritable())
                QSKIP("running as a user who may write anywhere");
            QVERIFY(!store.isOpen());
            QCOMPARE(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T")), 0);
            QVERIFY(store.songs().isEmpty());
        }
    }
};

ORBITUNE_CORE_TEST_MAIN(HistoryTest)

#include "tst_history.moc"
