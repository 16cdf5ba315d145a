// The song history: what the recorder keeps from the playback session, the
// SQLite file on bad days (corrupt, busy, read-only, hostile titles, a
// writer killed mid-song), and the Song History window and "Love" controls
// that show and change it.
#include "manage/ManageFakes.h"
#include "support/HomeFixture.h"

#include "app/SongHistoryLauncher.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "history/ListenRules.h"
#include "history/LoveSong.h"
#include "history/SongExport.h"
#include "history/SongTableModel.h"
#include "historywindow/SongHistoryViewController.h"
#include "platform/base/Clock.h"
#include "platform/base/Settings.h"
#include "platform/ui/TrayMenu.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QShortcut>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QToolButton>
#include <QtTest>

#include <signal.h>

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

QStringList shownTitles(const SongTableModel *model)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->data(model->index(row, SongTableModel::TitleColumn)).toString();
    return out;
}

// The records of an RFC 4180 file: quoted fields, doubled quotes, CRLF.
QList<QStringList> parseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == c)
                field += text.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == '\n') {
            record << field;
            records << record;
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

// Receives what would have gone to the browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

// Three songs, newest first: a hostile title, one without " - ", and a
// starred one, a minute apart.
void addThreeSongs(HistoryStore &store, SetClock &clock)
{
    store.setFavourite(store.add(QStringLiteral("Rock, Loud"), QStringLiteral("http://r/"),
                                 QStringLiteral("Kino - Gruppa krovi")),
                       true);
    clock.now = clock.now.addSecs(60);
    store.add(QStringLiteral("Talk"), QStringLiteral("http://t/"), QStringLiteral("News at noon"));
    clock.now = clock.now.addSecs(60);
    store.add(QStringLiteral("Hostile"), QStringLiteral("http://h/"),
              QStringLiteral("=HYPERLINK(\"http://x\") - Evil \"quote\""));
}

QString writerPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/history_writer");
}
} // namespace

class HistoryTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("history.sqlite")); }

    // Runs a writer process on the file from "Song <first>" on, and kills it
    // (SIGKILL) once `acked` holds at least `target` titles it said it wrote.
    void writeUntilKilled(int first, int target, QStringList &acked)
    {
        QProcess writer;
        writer.setStandardErrorFile(QProcess::nullDevice());
        writer.start(writerPath(), {path(), QString::number(first)});
        QVERIFY(writer.waitForStarted(5000));
        QByteArray pending;
        auto take = [&] {
            qsizetype nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                QVERIFY2(line.startsWith("A "), line.constData());
                acked << QStringLiteral("Song %1").arg(line.mid(2).toInt());
            }
        };
        while (acked.size() < target && writer.state() == QProcess::Running) {
            writer.waitForReadyRead(2000);
            pending += writer.readAllStandardOutput();
            take();
        }
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(5000));
        pending += writer.readAllStandardOutput();
        take();
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(path());
        for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(f));
    }

    // Radio's rules for a listen: heard long enough from its start or from
    // the middle, and never the station's name, a title that is not
    // "Artist - Title", a replay or a song muted throughout. `heard` is the
    // heard time in pieces, "m" for a muted one.
    void listenRules_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("fromItsStart");
        QTest::addColumn<bool>("replay");
        QTest::addColumn<QString>("heard");
        QTest::addColumn<int>("verdict");
        using V = ListenRules::Verdict;
        const QList<std::tuple<const char *, const char *, bool, bool, const char *, V>> rows = {
            {"from its start, 30 s", "Artist - Song", true, false, "20000 10000", V::Listen},
            {"from its start, 29.9 s", "Artist - Song", true, false, "29900", V::TooShort},
            {"joined, 3 min", "Artist - Song", false, false, "180000", V::TooShort},
            {"joined, 4 min", "Artist - Song", false, false, "240000", V::Listen},
            {"the station's name", "Radio X", true, false, "300000", V::StationName},
            {"the station's name, any case", "radio x", true, false, "300000", V::StationName},
            {"no artist", "Live", true, false, "300000", V::NotArtistAndTitle},
            {"a dash and nothing after", "Artist - ", true, false, "300000", V::NotArtistAndTitle},
            {"a replay after going back", "Artist - Song", true, true, "300000", V::Replay},
            {"muted throughout", "Artist - Song", true, false, "m20000 m20000", V::Muted},
            {"muted in part", "Artist - Song", true, false, "m20000 20000", V::Listen},
        };
        for (const auto &[name, title, fromStart, replay, heard, verdict] : rows)
            QTest::newRow(name) << QString::fromUtf8(title) << fromStart << replay
                                << QString::fromLatin1(heard) << int(verdict);
    }

    void listenRules()
    {
        QFETCH(QString, title);
        QFETCH(bool, fromItsStart);
        QFETCH(bool, replay);
        QFETCH(QString, heard);
        QFETCH(int, verdict);
        ListenRules rules;
        const bool mutedAtStart = heard.startsWith(QLatin1Char('m'));
        rules.songBegan(title, QStringLiteral("Radio X"), 1'700'000'000'000, fromItsStart, replay,
                        mutedAtStart);
        for (const QString &piece : heard.split(QLatin1Char(' '))) {
            const bool muted = piece.startsWith(QLatin1Char('m'));
            rules.heard(piece.mid(muted ? 1 : 0).toLongLong(), muted);
        }
        // "Now playing" for what may still count.
        QCOMPARE(rules.nowPlaying().has_value(),
                 verdict == int(ListenRules::Verdict::Listen) ||
                     verdict == int(ListenRules::Verdict::TooShort));
        QCOMPARE(int(rules.songEnded()), verdict);
        QCOMPARE(rules.listen().has_value(), verdict == int(ListenRules::Verdict::Listen));
        if (rules.listen()) {
            QCOMPARE(rules.listen()->artist, QStringLiteral("Artist"));
            QCOMPARE(rules.listen()->title, QStringLiteral("Song"));
            QCOMPARE(rules.listen()->startedMs, 1'700'000'000'000);
        }
        QCOMPARE(int(rules.songEnded()), int(ListenRules::Verdict::NoSong)); // counted once
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
        QTest::newRow("skipped back and forward over a title change: each once")
            << "play A B seek A B C" << L{"C", "B", "A"} << 1;
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
            } else if (step == QLatin1String("seek")) {
                Q_EMIT media.last()->seeked();
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

    void loveReachesTheSongANoticeToldOf_data()
    {
        QTest::addColumn<QStringList>("sent"); // the titles in turn
        QTest::addColumn<QString>("notice");   // as the notice holds it
        QTest::addColumn<QString>("starred");  // as the history keeps it; empty: none
        QTest::addColumn<QString>("held");     // by another process: from the start, once open
        const QString dirty = QStringLiteral("Ki\u200Bno  - Grup\u00ADpa krovi ");
        QTest::newRow("the song playing, sent with spaces and invisible characters")
            << QStringList{dirty} << dirty << QStringLiteral("Kino - Gruppa krovi") << "";
        QTest::newRow("an earlier song, sent so")
            << QStringList{dirty, QStringLiteral("Next")} << dirty
            << QStringLiteral("Kino - Gruppa krovi") << "";
        QTest::newRow("never heard") << QStringList{QStringLiteral("A")} << "B" << QString() << "";
        QTest::newRow("the file held at start: starred once it opens")
            << QStringList{QStringLiteral("A")} << "A" << QStringLiteral("A") << "start";
        QTest::newRow("held once open: the song dropped, nothing left to love")
            << QStringList{QStringLiteral("A")} << "A" << QString() << "open";
    }

    void loveReachesTheSongANoticeToldOf()
    {
        QFETCH(QStringList, sent);
        QFETCH(QString, notice);
        QFETCH(QString, starred);
        QFETCH(QString, held);
        QFile::remove(TestEnv::instance()->dataFile());
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        QVERIFY(CacheManager::shareIntance()->seedDefaultDataIfEmpty());
        std::unique_ptr<OtherConnection> holder;
        auto hold = [&](bool exclusively) {
            holder = std::make_unique<OtherConnection>(path());
            QSqlQuery q = holder->query();
            return (!exclusively || q.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"))) &&
                   q.exec(QStringLiteral("BEGIN EXCLUSIVE"));
        };
        if (held == QLatin1String("start")) {
            HistoryStore({path()}); // the file exists
            QVERIFY(hold(true));
        }
        FakeMediaFactory media;
        PlaybackSession session;
        HistoryStore store(path());
        HistoryRecorder recorder(&session, &store);
        LoveSong love(&recorder, &store);
        if (held == QLatin1String("open"))
            QVERIFY(store.isOpen() && hold(false));
        session.toggle();
        media.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        for (const QString &title : sent)
            media.lastItem()->setNowPlaying(title);
        // Known without reading the file, which may not be open yet.
        QCOMPARE(love.loveTitle(notice), !starred.isEmpty());
        QCOMPARE(love.isLoved(), sent.size() == 1 && !starred.isEmpty());
        if (held == QLatin1String("open"))
            QTRY_VERIFY(!love.canLove());
        holder.reset();
        QTRY_VERIFY(store.isOpen());
        QCOMPARE(titles(store.songs(QString(), true)),
                 starred.isEmpty() ? QStringList() : QStringList{starred});
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
        // and, while it stays open, by the writer's upkeep now and then
        clock.now = clock.now.addDays(-400);
        reopened.add(QStringLiteral("Radio"), QStringLiteral("http://r/"), QStringLiteral("Old"));
        clock.now = clock.now.addDays(400);
        for (int i = 0; i < 500; ++i)
            reopened.add(QStringLiteral("Radio"), QStringLiteral("http://r/"),
                         QStringLiteral("Song %1").arg(i));
        reopened.waitForUpkeep();
        const QStringList kept = titles(reopened.songs(QString(), false, 1000));
        QCOMPARE(kept.size(), 501);
        QVERIFY(!kept.contains(QStringLiteral("Old")));
        QCOMPARE(titles(reopened.songs(QStringLiteral("song 499"))),
                 QStringList{QStringLiteral("Song 499")}); // the index merged, still whole
    }

    void trimByCountKeepsTheNewest_data()
    {
        QTest::addColumn<int>("inFile"); // songs in the file, the oldest starred and recorded
        QTest::addColumn<int>("kept");   // after the upkeep's trim, 496 songs later
        QTest::newRow("past 5,000: all kept, the stars and files too") << 5010 << 5010 + 496;
    }

    void trimByCountKeepsTheNewest()
    {
        QFETCH(int, inFile);
        QFETCH(int, kept);
        SetClock clock;
        {
            HistoryStore schema(path());
        }
        {
            OtherConnection fill(path());
            QSqlQuery q = fill.query();
            QVERIFY(q.exec(QStringLiteral("BEGIN")));
            QVERIFY(q.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                          "FROM n WHERE i < %1) INSERT INTO songs (program, "
                                          "stream_url, title, artist, song, started) SELECT 'R', "
                                          "'u', 'Old ' || i, '', '', %2 + i FROM n")
                               .arg(inFile)
                               .arg(clock.now.addDays(-1).toMSecsSinceEpoch())));
            QVERIFY(q.exec(QStringLiteral("UPDATE songs SET favourite = 1, file = '/m/Old 1.mp3' "
                                          "WHERE id = 1")));
            QVERIFY(q.exec(QStringLiteral("COMMIT")));
            q.finish();
        }
        HistoryStore store(path());
        for (int i = 0; i < 496; ++i) // the songs between two trims
            store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("New %1").arg(i));
        store.waitForUpkeep();
        const QList<HistoryStore::Song> songs =
            store.songs(QString(), false, HistoryStore::kMaxSongs);
        QCOMPARE(songs.size(), kept);
        QCOMPARE(songs.last().title, QStringLiteral("Old 1"));
        QVERIFY(songs.last().favourite);
        QCOMPARE(songs.last().file, QStringLiteral("/m/Old 1.mp3"));
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

    void modelPagesThroughTheHistory_data()
    {
        QTest::addColumn<int>("songs");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("favourites");
        QTest::addColumn<int>("expected");
        // Songs i: "Artist <i%7> - Blue|Red <i>", every third starred, all
        // in the same second (ties go by order of arrival).
        QTest::newRow("all, page after page") << 450 << QString() << false << 450;
        QTest::newRow("a search across pages") << 450 << QStringLiteral("blue") << false << 225;
        QTest::newRow("favourites only") << 450 << QString() << true << 150;
        QTest::newRow("search and favourites") << 450 << QStringLiteral("red art") << true << 75;
        QTest::newRow("one page exactly")
            << SongTableModel::kPageSize << QString() << false << SongTableModel::kPageSize;
        QTest::newRow("nothing matches") << 30 << QStringLiteral("zzz") << false << 0;
        QTest::newRow("an unbalanced quote typed is a word, not syntax")
            << 30 << QStringLiteral("\"blue art") << false << 15;
    }

    void modelPagesThroughTheHistory()
    {
        QFETCH(int, songs);
        QFETCH(QString, text);
        QFETCH(bool, favourites);
        QFETCH(int, expected);
        SetClock clock;
        HistoryStore store(path());
        QVERIFY(store.isOpen());
        for (int i = 0; i < songs; ++i) {
            const qint64 id = store.add(
                QStringLiteral("Radio"), QStringLiteral("u"),
                QStringLiteral("Artist %1 - %2 %3").arg(i % 7).arg(i % 2 ? "Red" : "Blue").arg(i));
            if (i % 3 == 0)
                store.setFavourite(id, true);
        }
        SongTableModel model(&store);
        model.setFilter(text, favourites);
        QVERIFY(model.rowCount() <= SongTableModel::kPageSize);
        int fetches = 0;
        while (model.canFetchMore(QModelIndex())) {
            model.fetchMore(QModelIndex());
            QVERIFY(++fetches < 10);
        }
        QCOMPARE(model.rowCount(), expected);
        // Newest first, each song once.
        QSet<qint64> seen;
        for (int row = 0; row < model.count(); ++row) {
            QVERIFY(!seen.contains(model.song(row).id));
            seen.insert(model.song(row).id);
            if (row > 0)
                QVERIFY(model.song(row).id < model.song(row - 1).id);
            QVERIFY(!favourites || model.song(row).favourite);
        }
    }

    void modelReadsOutStarsAndFollows()
    {
        SetClock clock;
        HistoryStore store(path());
        addThreeSongs(store, clock);
        SongTableModel model(&store);
        QCOMPARE(model.rowCount(), 3);
        auto cell = [&model](int row, int column, int role) {
            return model.data(model.index(row, column), role);
        };
        // What a screen reader reads of each row.
        QCOMPARE(cell(2, SongTableModel::TitleColumn, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Kino - Gruppa krovi"));
        QCOMPARE(cell(2, SongTableModel::StarColumn, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Starred"));
        QCOMPARE(cell(1, SongTableModel::StarColumn, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Not starred"));
        QCOMPARE(cell(1, SongTableModel::ProgramColumn, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Talk"));
        QVERIFY(!cell(1, SongTableModel::TimeColumn, Qt::AccessibleTextRole).toString().isEmpty());
        QCOMPARE(model.headerData(1, Qt::Vertical, Qt::AccessibleTextRole).toString(),
                 QStringLiteral("News at noon"));
        QCOMPARE(cell(0, SongTableModel::TitleColumn, Qt::ToolTipRole).toString(),
                 QStringLiteral("<qt>=HYPERLINK(&quot;http://x&quot;) - Evil "
                                "&quot;quote&quot;</qt>"));
        QCOMPARE(SongTableModel::timeText(clock.now, clock.now),
                 clock.now.toLocalTime().toString(QStringLiteral("HH:mm")));
        QCOMPARE(SongTableModel::timeText(clock.now.addDays(-3), clock.now),
                 clock.now.addDays(-3).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));

        // The star cell is a check box that writes through.
        QVERIFY(model.flags(model.index(1, SongTableModel::StarColumn)) & Qt::ItemIsUserCheckable);
        QVERIFY(model.setData(model.index(1, SongTableModel::StarColumn), Qt::Checked,
                              Qt::CheckStateRole));
        QCOMPARE(
            titles(store.songs(QString(), true)),
            (QStringList{QStringLiteral("News at noon"), QStringLiteral("Kino - Gruppa krovi")}));

        // A song heard while it is shown comes in on top.
        clock.now = clock.now.addSecs(60);
        store.add(QStringLiteral("Talk"), QStringLiteral("http://t/"), QStringLiteral("Weather"));
        QTRY_COMPARE(model.rowCount(), 4);
        QCOMPARE(model.song(0).title, QStringLiteral("Weather"));
    }

    void exportWritesWhatSpreadsheetsReadSafely_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("favourites");
        QTest::newRow("CSV, all") << QStringLiteral("csv") << false;
        QTest::newRow("JSON, all") << QStringLiteral("json") << false;
        QTest::newRow("CSV, favourites") << QStringLiteral("csv") << true;
        QTest::newRow("JSON, favourites") << QStringLiteral("json") << true;
        QTest::newRow("into a folder that is a file: fails, says so")
            << QStringLiteral("bad") << false;
    }

    void exportWritesWhatSpreadsheetsReadSafely()
    {
        QFETCH(QString, format);
        QFETCH(bool, favourites);
        SetClock clock;
        HistoryStore store(path());
        addThreeSongs(store, clock);
        SongHistoryViewController window(&store);
        const auto label = [&window] {
            return window.view()->findChild<QLabel *>(QStringLiteral("statusLabel"))->text();
        };
        if (format == QLatin1String("bad")) {
            QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            QVERIFY(!window.exportTo(blocker.fileName() + QStringLiteral("/songs.csv"),
                                     songexport::Format::Csv, false));
            QVERIFY2(label().startsWith(QStringLiteral("Could not export")), qPrintable(label()));
            return;
        }
        const bool csv = format == QLatin1String("csv");
        const QString file = dir.filePath(QStringLiteral("export.") + format);
        QVERIFY(window.exportTo(file, csv ? songexport::Format::Csv : songexport::Format::Json,
                                favourites));
        QCOMPARE(label(),
                 QStringLiteral("Exported %1 to “%2”.")
                     .arg(favourites ? QStringLiteral("1 song") : QStringLiteral("3 songs"), file));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        // Field by field: started, ended, program, stream, artist, song,
        // title, favourite; newest first.
        QList<QStringList> rows;
        if (csv) {
            rows = parseCsv(bytes);
            QCOMPARE(rows.takeFirst(), QStringList({"started", "ended", "program", "stream_url",
                                                    "artist", "song", "title", "favourite"}));
        } else {
            const QJsonArray array = QJsonDocument::fromJson(bytes).array();
            for (const QJsonValue &v : array) {
                const QJsonObject o = v.toObject();
                rows << QStringList{o[QStringLiteral("started")].toString(),
                                    o[QStringLiteral("ended")].toString(),
                                    o[QStringLiteral("program")].toString(),
                                    o[QStringLiteral("stream_url")].toString(),
                                    o[QStringLiteral("artist")].toString(),
                                    o[QStringLiteral("song")].toString(),
                                    o[QStringLiteral("title")].toString(),
                                    o[QStringLiteral("favourite")].toBool() ? "1" : "0"};
            }
        }
        QCOMPARE(rows.size(), favourites ? 1 : 3);
        const QStringList kino = rows.last();
        QCOMPARE(kino, QStringList({"2026-12-08T12:00:00.000Z", "", "Rock, Loud", "http://r/",
                                    "Kino", "Gruppa krovi", "Kino - Gruppa krovi", "1"}));
        if (!favourites) {
            // A spreadsheet would run the station's formula: it is text in
            // the CSV; JSON keeps it as sent.
            const QString quote = csv ? QStringLiteral("'") : QString();
            QCOMPARE(rows.first().at(4), quote + QStringLiteral("=HYPERLINK(\"http://x\")"));
            QCOMPARE(rows.first().at(6),
                     quote + QStringLiteral("=HYPERLINK(\"http://x\") - Evil \"quote\""));
        }
    }

    void windowActsOnTheChosenSongs_data()
    {
        QTest::addColumn<QString>("act");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QStringList>("after"); // titles shown afterwards
        QTest::addColumn<QString>("result");    // clipboard, address opened, or favourites
        const QStringList all{QStringLiteral("=HYPERLINK(\"http://x\") - Evil \"quote\""),
                              QStringLiteral("News at noon"),
                              QStringLiteral("Kino - Gruppa krovi")};
        using R = QList<int>;
        QTest::newRow("Ctrl+C copies Artist - Title")
            << "copy" << R{2} << all << QStringLiteral("Kino - Gruppa krovi");
        QTest::newRow("Ctrl+C copies a title without an artist as it is")
            << "copy" << R{1} << all << QStringLiteral("News at noon");
        QTest::newRow("Ctrl+C copies each chosen song on a line")
            << "copy" << R{1, 2} << all << QStringLiteral("News at noon\nKino - Gruppa krovi");
        QTest::newRow("Delete removes the chosen songs")
            << "delete" << R{0, 1} << QStringList{all.at(2)} << QString();
        QTest::newRow("Ctrl+D stars, favourites only shows it")
            << "star" << R{1} << QStringList{all.at(1), all.at(2)} << QString();
        QTest::newRow("Space on a row stars it") << "space" << R{2} << QStringList{} << QString();
        QTest::newRow("favourites only: a song unstarred leaves the list")
            << "unstar" << R{} << QStringList{} << QString();
        QTest::newRow("the search filters as typed")
            << "type" << R{} << QStringList{all.at(1)} << QStringLiteral("news no");
        QTest::newRow("Clear History asks; Cancel keeps them")
            << "clear-cancel" << R{} << all << QString();
        QTest::newRow("Clear History asks; OK empties it")
            << "clear-ok" << R{} << QStringList{} << QString();
        QTest::newRow("the web search gets the song percent-encoded")
            << "web" << R{0} << all
            << QStringLiteral(
                   "https://musicbrainz.org/search?query=%3DHYPERLINK%28%22http%3A%2F%2Fx"
                   "%22%29%20-%20Evil%20%22quote%22&type=recording");
        QTest::newRow("a web search address from the settings file")
            << "web-settings" << R{2} << all
            << QStringLiteral("https://example.org/find/Kino%20-%20Gruppa%20krovi");
    }

    void windowActsOnTheChosenSongs()
    {
        QFETCH(QString, act);
        QFETCH(QList<int>, rows);
        QFETCH(QStringList, after);
        QFETCH(QString, result);
        SetClock clock;
        settings::open()->clear();
        HistoryStore store(path());
        addThreeSongs(store, clock);
        const QStringList before = titles(store.songs());
        RecordingAlertPresenter alerts;
        UrlCatcher browser;
        SongHistoryViewController window(&store);
        window.showWindow();
        auto *table = window.view()->findChild<QTableView *>(QStringLiteral("songTable"));
        auto *search = window.view()->findChild<QLineEdit *>(QStringLiteral("searchField"));
        QVERIFY(table && search);
        for (int row : rows)
            table->selectionModel()->select(window.model()->index(row, 0),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
        QApplication::clipboard()->clear();

        if (act == QLatin1String("copy")) {
            QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
            QCOMPARE(QApplication::clipboard()->text(), result);
        } else if (act == QLatin1String("delete")) {
            QTest::keyClick(table, Qt::Key_Delete);
        } else if (act == QLatin1String("star")) {
            window.view()->findChild<QShortcut *>(QStringLiteral("starShortcut"))->activated();
            window.view()
                ->findChild<QCheckBox *>(QStringLiteral("favouritesOnlyBox"))
                ->setChecked(true);
        } else if (act == QLatin1String("space")) {
            table->setCurrentIndex(window.model()->index(2, SongTableModel::TitleColumn));
            QTest::keyClick(table, Qt::Key_Space); // it was starred
            window.view()
                ->findChild<QCheckBox *>(QStringLiteral("favouritesOnlyBox"))
                ->setChecked(true);
        } else if (act == QLatin1String("unstar")) {
            window.view()
                ->findChild<QCheckBox *>(QStringLiteral("favouritesOnlyBox"))
                ->setChecked(true);
            table->selectRow(0);
            window.view()->findChild<QShortcut *>(QStringLiteral("starShortcut"))->activated();
        } else if (act == QLatin1String("type")) {
            QTest::keyClicks(search, result);
            // Down goes on to the songs, the first one chosen.
            QTest::keyClick(search, Qt::Key_Down);
            QCOMPARE(window.chosenSongs().size(), 1);
            QCOMPARE(window.chosenSongs().first().title, QStringLiteral("News at noon"));
        } else if (act.startsWith(QLatin1String("clear"))) {
            window.view()->findChild<QPushButton *>(QStringLiteral("clearButton"))->click();
            QCOMPARE(alerts.shown.size(), 1);
            QCOMPARE(alerts.last().buttons,
                     (QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")}));
            QCOMPARE(store.songs().size(), 3); // nothing before the answer
            alerts.answer(act == QLatin1String("clear-ok") ? Alert::FirstButtonReturn
                                                           : Alert::SecondButtonReturn);
        } else if (act.startsWith(QLatin1String("web"))) {
            if (act == QLatin1String("web-settings")) {
                auto s = settings::open();
                s->beginWriteArray(QStringLiteral("webSearch"));
                s->setArrayIndex(0);
                s->setValue(QStringLiteral("name"), QStringLiteral("Local"));
                s->setValue(QStringLiteral("url"), QStringLiteral("file:///etc/%s"));
                s->setArrayIndex(1);
                s->setValue(QStringLiteral("name"), QStringLiteral("Example"));
                s->setValue(QStringLiteral("url"), QStringLiteral("https://example.org/find/%s"));
                s->endArray();
            }
            QMenu *menu = window.view()->findChild<QMenu *>(QStringLiteral("webSearchMenu"));
            QMetaObject::invokeMethod(menu, "aboutToShow");
            // Only http(s) addresses are offered.
            QCOMPARE(menu->actions().size(), act == QLatin1String("web") ? 2 : 1);
            menu->actions().first()->trigger();
            QCOMPARE(browser.opened.size(), 1);
            QCOMPARE(browser.opened.first().toString(QUrl::FullyEncoded), result);
        }
        QTRY_COMPARE(shownTitles(window.model()), after);
        if (act == QLatin1String("star"))
            QCOMPARE(titles(store.songs(QString(), true)), after);
        const bool removes =
            act == QLatin1String("delete") || act.startsWith(QLatin1String("clear"));
        QCOMPARE(titles(store.songs()), removes ? after : before);
        settings::open()->clear();
    }

    void windowKeepsTheChoiceAndSavesWhereItCan()
    {
        SetClock clock;
        HistoryStore store(path());
        addThreeSongs(store, clock);
        SongHistoryViewController window(&store);
        window.showWindow();
        auto *table = window.view()->findChild<QTableView *>(QStringLiteral("songTable"));
        auto *save = window.view()->findChild<QPushButton *>(QStringLiteral("saveSongButton"));
        QVERIFY(save->isHidden());
        QList<qint64> saved;
        window.setSaveSongHandler(
            [](const HistoryStore::Song &s) { return s.program == QLatin1String("Talk"); },
            [&saved](const HistoryStore::Song &s) { saved << s.id; });
        QVERIFY(!save->isHidden());
        table->selectRow(1);
        QVERIFY(save->isEnabled());
        save->click();
        QCOMPARE(saved, QList<qint64>{window.model()->song(1).id});
        // A new song on top: the chosen one stays chosen.
        clock.now = clock.now.addSecs(60);
        store.add(QStringLiteral("Talk"), QStringLiteral("http://t/"), QStringLiteral("Weather"));
        QTRY_COMPARE(window.model()->rowCount(), 4);
        QCOMPARE(window.chosenSongs().size(), 1);
        QCOMPARE(window.chosenSongs().first().title, QStringLiteral("News at noon"));
        table->selectRow(0);
        QVERIFY(save->isEnabled()); // "Weather" is on Talk too
        table->selectRow(3);
        QVERIFY(!save->isEnabled());
    }

    void loveStarsTheSongPlaying()
    {
        HomeFixture fixture;
        fixture.start(true);
        PlaybackSession *session = fixture.home->session();
        HistoryStore store(path());
        HistoryRecorder recorder(session, &store);
        SongHistoryLauncher launcher(&store, &recorder);
        launcher.attachHome(fixture.home->host());
        auto *heart = fixture.home->view()->findChild<QToolButton *>(QStringLiteral("loveBtn"));
        QAction *trayLove =
            fixture.home->statusMenu()->findChild<QAction *>(QStringLiteral("loveAction"));
        QVERIFY(trayLove);
        QCOMPARE(heart->accessibleName(), QStringLiteral("Love This Song"));
        QVERIFY(!heart->isEnabled() && !trayLove->isEnabled());

        session->toggle();
        fixture.media->lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        fixture.media->lastItem()->setNowPlaying(QStringLiteral("Kino - Gruppa krovi"));
        QVERIFY(heart->isEnabled() && trayLove->isEnabled());
        QVERIFY(!heart->isChecked());

        // Key L, the heart and the tray each star or unstar the same song.
        fixture.home->view()->findChild<QShortcut *>(QStringLiteral("loveShortcut"))->activated();
        QVERIFY(store.song(recorder.currentSong())->favourite);
        QVERIFY(heart->isChecked() && trayLove->isChecked());
        heart->click();
        QVERIFY(!store.song(recorder.currentSong())->favourite);
        QVERIFY(!trayLove->isChecked());
        trayLove->trigger();
        QVERIFY(store.song(recorder.currentSong())->favourite);
        QVERIFY(heart->isChecked());

        // The notice's "Love" reaches the song it told of, even once the
        // next one plays.
        fixture.media->lastItem()->setNowPlaying(QStringLiteral("Next - Song"));
        QVERIFY(!heart->isChecked());
        QVERIFY(launcher.love()->loveTitle(QStringLiteral("Kino - Gruppa krovi")));
        QVERIFY(!heart->isChecked());
        QVERIFY(launcher.love()->loveTitle(QStringLiteral("Next - Song")));
        QVERIFY(heart->isChecked());
        QVERIFY(!launcher.love()->loveTitle(QStringLiteral("Never heard")));
        // Removed from the history while it plays: nothing left to star.
        QVERIFY(store.remove(recorder.currentSong()));
        QVERIFY(!heart->isEnabled() && !trayLove->isEnabled());

        // Nothing is kept while paused.
        session->pause();
        QVERIFY(!heart->isEnabled() && !trayLove->isEnabled());

        // Ctrl+H and the tray open the window.
        fixture.home->view()
            ->findChild<QShortcut *>(QStringLiteral("historyShortcut"))
            ->activated();
        QVERIFY(launcher.controller() && launcher.controller()->view()->isVisible());
        QCOMPARE(shownTitles(launcher.controller()->model()),
                 QStringList{QStringLiteral("Kino - Gruppa krovi")});
        launcher.controller()->closeClick();
        QTRY_VERIFY(!launcher.controller()); // a closed window is let go
        fixture.home->statusMenu()
            ->findChild<QAction *>(QStringLiteral("historyAction"))
            ->trigger();
        QVERIFY(launcher.controller()->view()->isVisible());
        launcher.controller()->closeClick();
        fixture.finish();
    }

    void killedWriterKeepsEveryCommittedSong()
    {
        QVERIFY2(QFile::exists(writerPath()), qPrintable(writerPath()));
        QRandomGenerator rng(QRandomGenerator::global()->generate());
        QStringList acked; // every title the writers said was written
        for (int cycle = 0; cycle < 12; ++cycle) {
            // past what the last writer may have written
            writeUntilKilled(100000 * cycle, int(acked.size()) + 20 + int(rng.bounded(200)), acked);
            if (QTest::currentTestFailed())
                return;

            HistoryStore reopened(path());
            QVERIFY(reopened.isOpen());
            QVERIFY2(reopened.keptAsideAs().isEmpty(), "the file was unreadable after a kill");
            const QStringList kept =
                titles(reopened.songs(QString(), false, HistoryStore::kMaxSongs));
            const QSet<QString> present(kept.begin(), kept.end());
            for (const QString &title : std::as_const(acked))
                QVERIFY2(present.contains(title), qPrintable(title + QStringLiteral(" is lost")));
        }
        QVERIFY(acked.size() >= 12 * 20);
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
        QTest::newRow("a database with damaged pages: kept aside, a fresh one")
            << QStringLiteral("damaged");
        QTest::newRow("busy file: the song is dropped quickly") << QStringLiteral("busy");
        QTest::newRow("busy at start after a kill: waited for, no song lost")
            << QStringLiteral("busy-start");
        QTest::newRow("read-only folder: dropped, no crash") << QStringLiteral("readonly");
    }

    void badDays()
    {
        QFETCH(QString, day);
        LogRecorder log;
        if (day == QLatin1String("corrupt") || day == QLatin1String("damaged")) {
            // A corrupt file is noise; a damaged one says SQLite in its
            // header, its first page's table behind it noise.
            const bool damaged = day == QLatin1String("damaged");
            if (damaged) {
                HistoryStore store(path());
                QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T")) >
                        0);
                store.waitForWrites();
            }
            const QByteArray noise(damaged ? 3000 : 8192, '\x5a');
            QFile f(path());
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(damaged ? 100 : 0));
            QVERIFY(f.write(noise) == noise.size());
            f.close();
            QFile log(path() + QStringLiteral("-wal"));
            QVERIFY(damaged ||
                    (log.open(QIODevice::WriteOnly) && log.write(QByteArray(100, 'w')) == 100));
            log.close();
            HistoryStore store(path());
            QVERIFY(store.isOpen());
            QVERIFY(store.keptAsideAs().startsWith(path() + QStringLiteral(".unreadable-")));
            if (!damaged) {
                QCOMPARE(QFile(store.keptAsideAs()).size(), 8192);
                QCOMPARE(QFile(store.keptAsideAs() + QStringLiteral("-wal")).size(), 100); // along
            }
            QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T2")) > 0);
            store.waitForWrites();
            QCOMPARE(titles(store.songs()), QStringList{QStringLiteral("T2")});
        } else if (day == QLatin1String("busy-start")) {
            QStringList acked;
            writeUntilKilled(0, 50, acked);
            auto holder = std::make_unique<OtherConnection>(path());
            QSqlQuery hold = holder->query();
            QVERIFY(hold.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
            QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            HistoryStore store(path());
            SongTableModel shown(&store);
            // Heard while the file is held: kept for when it opens.
            QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("Held")));
            QCOMPARE(shown.rowCount(), 0);
            QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
            hold.finish();
            holder.reset();
            QTRY_VERIFY(shown.rowCount() > acked.size());
            QVERIFY(store.keptAsideAs().isEmpty());
            const QStringList kept = shownTitles(&shown);
            QCOMPARE(kept.first(), QStringLiteral("Held"));
            for (const QString &title : std::as_const(acked))
                QVERIFY2(kept.contains(title), qPrintable(title + QStringLiteral(" is lost")));
        } else if (day == QLatin1String("busy")) {
            HistoryStore store(path());
            QVERIFY(store.isOpen());
            auto holder = std::make_unique<OtherConnection>(path());
            QVERIFY(holder->open);
            QSqlQuery hold = holder->query();
            QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            // The title is handed to the writer's thread, which waits for
            // the file, not the caller; then that song is dropped.
            QElapsedTimer waited;
            waited.start();
            QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T")) > 0);
            QVERIFY2(waited.elapsed() < HistoryWriter::kBusyTimeoutMs,
                     "a busy file must not hold the window");
            store.waitForWrites();
            QVERIFY(log.contains(QStringLiteral("history: song not kept: T")));
            QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
            hold.finish();
            holder.reset();
            QVERIFY(store.songs().isEmpty());
            QVERIFY(store.add(QStringLiteral("R"), QStringLiteral("u"), QStringLiteral("T2")) > 0);
            QCOMPARE(titles(store.songs()), QStringList{QStringLiteral("T2")});
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

ORBITUNE_TEST_MAIN(HistoryTest)

#include "tst_history.moc"
