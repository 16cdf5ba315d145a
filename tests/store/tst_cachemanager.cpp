// The program store over real files in a private data directory: seeding,
// list changes, and what happens to files it cannot fully read.

#include "StoreTestUtil.h"
#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include "platform/base/Log.h"
#include "platform/plist/PropertyList.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "store/ProgramStore.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <sys/inotify.h>
#include <unistd.h>

using namespace storetest;

namespace {

CacheManager *store()
{
    return CacheManager::shareIntance();
}
QString dataDir()
{
    return TestEnv::instance()->dataDir();
}
QString dataFile()
{
    return TestEnv::instance()->dataFile();
}

QVariantMap fixtureTop(const QString &name)
{
    const propertylist::ReadResult r = propertylist::readFile(fixturePath(name));
    if (r.state != propertylist::FileState::Value)
        qFatal("fixture %s does not parse", qPrintable(name));
    return r.value.toMap();
}

QVariantMap topOfDataFile()
{
    const propertylist::ReadResult r = propertylist::readFile(dataFile());
    return r.state == propertylist::FileState::Value ? r.value.toMap() : QVariantMap();
}

const QVariantMap kMine = program::make(QStringLiteral("Mine"), QStringLiteral("https://i/m.png"),
                                        QStringLiteral("https://s/m"));

// Deeply nested arrays under "data", as the text of an XML property list.
QByteArray nestedXml(int levels)
{
    QByteArray s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                   "<dict><key>data</key>";
    s += QByteArray("<array>").repeated(levels);
    s += QByteArray("</array>").repeated(levels);
    s += "</dict></plist>\n";
    return s;
}

// plistlib is the reference reader; see same_as_plistlib.py.
int sameAsPlistlib(const QStringList &args, QString *output)
{
    const QString script = QString::fromLocal8Bit(qgetenv("ORBITUNE_SOURCE_DIR")) +
                           QStringLiteral("/tests/store/same_as_plistlib.py");
    return runPython(QStringLiteral("import runpy, sys; sys.argv = sys.argv[1:]; "
                                    "runpy.run_path(sys.argv[0], run_name='__main__')"),
                     QStringList{script} + args, output);
}

} // namespace

class TestCacheManager : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<LogRecorder> m_recorder;

private Q_SLOTS:
    void initTestCase()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        m_recorder = std::make_unique<LogRecorder>();
    }

    void init()
    {
        QDir dir(dataDir());
        if (QFileInfo(dataDir()).isFile())
            QFile::remove(dataDir());
        dir.removeRecursively();
        QDir().mkpath(dataDir());
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("store/default.plist")));
        m_recorder->lines.clear();
    }

    void firstStartCreatesEmptyFileThenSeedsDefaultsInOrder()
    {
        QVERIFY(!QFile::exists(dataFile()));
        QCOMPARE(store()->getDataPath(), dataFile());
        QVERIFY(QFile::exists(dataFile()));
        QCOMPARE(QFileInfo(dataFile()).size(), 0);
        QVERIFY(m_recorder->lines.contains(QStringLiteral("filePath:") + dataFile()));
        QVERIFY(store()->getData().isEmpty());
        QVERIFY(store()->getLiveData().isEmpty());

        const QVariantMap defaults = fixtureTop(QStringLiteral("store/default.plist"));
        QVERIFY(store()->seedDefaultDataIfEmpty());
        QCOMPARE(store()->getData(), defaults.value(QStringLiteral("data")).toList());
        QCOMPARE(store()->getLiveData(), defaults.value(QStringLiteral("live")).toMap());
        QVERIFY(keptAside(dataDir()).isEmpty());

        // A second start finds the list and leaves the file alone.
        const QByteArray seeded = readAll(dataFile());
        QVERIFY(store()->seedDefaultDataIfEmpty());
        QCOMPARE(readAll(dataFile()), seeded);
    }

    // Reads reuse the last parse only for identical bytes: a change written in
    // place by another program, same size and within the same clock tick,
    // shows in the very next read; so does a file that becomes unreadable.
    void everyReadSeesWhatAnotherWriterLeft()
    {
        auto fileNaming = [](const char *name) {
            const QVariantMap entry{{QStringLiteral("name"), QString::fromLatin1(name)},
                                    {QStringLiteral("image"), QString()},
                                    {QStringLiteral("url"), QStringLiteral("http://127.0.0.1/")}};
            return propertylist::toXml(QVariantMap{{QStringLiteral("data"), QVariantList{entry}}});
        };
        const QByteArray first = fileNaming("AAAA");
        const QByteArray second = fileNaming("BBBB");
        QCOMPARE(first.size(), second.size());
        QVERIFY(writeAll(dataFile(), first));
        QCOMPARE(program::name(store()->getData().value(0)), QStringLiteral("AAAA"));
        QCOMPARE(program::name(store()->getData().value(0)), QStringLiteral("AAAA"));
        QVERIFY(writeAll(dataFile(), second));
        QCOMPARE(program::name(store()->getData().value(0)), QStringLiteral("BBBB"));
        QVERIFY(writeAll(dataFile(), QByteArray(second.size(), 'x')));
        QVERIFY(store()->getData().isEmpty());
    }

    void seedingLeavesAnExistingListAloneEvenWithoutCurrentProgram()
    {
        const QByteArray mine = readFixture(QStringLiteral("store/no-live.plist"));
        QVERIFY(writeAll(dataFile(), mine));
        QVERIFY(store()->seedDefaultDataIfEmpty());
        QCOMPARE(readAll(dataFile()), mine);
        QVERIFY(store()->getLiveData().isEmpty());
        QCOMPARE(store()->getData().size(), 1);
    }

    void seedingWithMissingDefaultsChangesNothingHarmful()
    {
        CacheManager::setDefaultListPath(dataDir() + QStringLiteral("/no-such-default.plist"));
        QVERIFY(store()->seedDefaultDataIfEmpty());
        QVERIFY(store()->getData().isEmpty());
        QVERIFY(store()->getLiveData().isEmpty());
        QVERIFY(keptAside(dataDir()).isEmpty());
    }

    void duplicatesAreStoredAndDeletedTogether()
    {
        QVERIFY(store()->seedDefaultDataIfEmpty());
        const QVariantList before = store()->getData();
        const QVariantMap second = before.at(1).toMap();

        QVERIFY(store()->saveData(second));
        QVariantList after = store()->getData();
        QCOMPARE(after.size(), before.size() + 1);
        QCOMPARE(after.last().toMap(), second);

        QVERIFY(store()->delData(second));
        QVariantList expected = before;
        expected.removeAt(1);
        QCOMPARE(store()->getData(), expected);

        // Deleting something that is not there rewrites the same list.
        QVERIFY(store()->delData(kMine));
        QCOMPARE(store()->getData(), expected);

        // Equality is of all keys: an entry with one more key is another entry.
        QVariantMap longer = expected.first().toMap();
        longer.insert(QStringLiteral("extra"), 1);
        QVERIFY(store()->delData(longer));
        QCOMPARE(store()->getData(), expected);
    }

    void deletingTheCurrentProgramKeepsItCurrent()
    {
        QVERIFY(store()->seedDefaultDataIfEmpty());
        const QVariantMap live = store()->getLiveData();
        QVERIFY(!live.isEmpty());
        QVERIFY(store()->delData(live));
        QVERIFY(!store()->getData().contains(live));
        QCOMPARE(store()->getLiveData(), live);
        QCOMPARE(program::url(store()->getLiveData()), program::url(live));
    }

    void redoDefaultDataReplacesEverything()
    {
        QVERIFY(writeAll(dataFile(), readFixture(QStringLiteral("store/user.plist"))));
        QVERIFY(store()->saveData(kMine));
        QVERIFY(store()->saveLiveData(kMine));

        // One write puts the list and the current program in place together:
        // the file is replaced exactly once.
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(dataDir()).constData(),
                                  IN_MOVED_TO | IN_CLOSE_WRITE) >= 0);
        QVERIFY(store()->redoDefaultData());
        int replaced = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char *p = buffer; p < buffer + n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(p);
                if (e->len && qstrcmp(e->name, "data.plist") == 0)
                    ++replaced;
                p += sizeof(inotify_event) + e->len;
            }
        }
        close(watch);
        QCOMPARE(replaced, 1);
        QCOMPARE(topOfDataFile(), fixtureTop(QStringLiteral("store/default.plist")));
        QVERIFY(keptAside(dataDir()).isEmpty());
    }

    void currentProgramCanBeSetOnAnEmptyFileAndCleared()
    {
        store()->getDataPath(); // zero-byte file
        QVERIFY(store()->saveLiveData(kMine));
        QCOMPARE(store()->getLiveData(), kMine);
        QVERIFY(store()->getData().isEmpty());
        QVERIFY(keptAside(dataDir()).isEmpty());

        QVERIFY(store()->saveData(kMine));
        QVERIFY(store()->saveLiveData(QVariantMap()));
        const QVariantMap top = topOfDataFile();
        QVERIFY(!top.contains(QStringLiteral("live")));
        QCOMPARE(top.value(QStringLiteral("data")).toList(), QVariantList{kMine});
    }

    void unreadableFileIsMovedAsideBeforeTheFirstChange_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const char *fixtures[] = {
            "truncated.plist",          "garbage.plist",      "top-array.plist",
            "top-string.plist",         "invalid-utf8.plist", "entities.plist",
            "binary-shared-refs.plist", "binary-cycle.plist", "binary-bad-trailer.plist"};
        for (const char *f : fixtures)
            QTest::newRow(f) << readFixture(QStringLiteral("store/") + QLatin1String(f));
        QTest::newRow("whitespace only") << QByteArray("\n  \n");
        QTest::newRow("deep nesting") << nestedXml(100000);
        QByteArray huge = "<plist version=\"1.0\"><string>";
        huge += QByteArray(propertylist::kMaxFileSize, 'x');
        huge += "</string></plist>";
        QTest::newRow("larger than the limit") << huge;
    }

    void unreadableFileIsMovedAsideBeforeTheFirstChange()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(writeAll(dataFile(), bytes));

        // Reading changes nothing.
        QVERIFY(store()->getData().isEmpty());
        QVERIFY(store()->getLiveData().isEmpty());
        QVERIFY(readAll(dataFile()) == bytes);
        QVERIFY(keptAside(dataDir()).isEmpty());

        QVERIFY(store()->saveData(kMine));
        const QStringList aside = keptAside(dataDir());
        QCOMPARE(aside.size(), 1);
        QVERIFY(readAll(dataDir() + QLatin1Char('/') + aside.first()) == bytes);
        QCOMPARE(store()->getData(), QVariantList{kMine});
        QVERIFY(std::any_of(m_recorder->lines.cbegin(), m_recorder->lines.cend(),
                            [&](const QString &l) { return l.contains(aside.first()); }));

        // The new file is ours; later changes keep nothing more aside.
        QVERIFY(store()->saveLiveData(kMine));
        QCOMPARE(keptAside(dataDir()).size(), 1);
    }

    void currentProgramChangeAlsoKeepsAnUnreadableFile()
    {
        const QByteArray bytes = readFixture(QStringLiteral("store/truncated.plist"));
        QVERIFY(writeAll(dataFile(), bytes));
        QVERIFY(store()->saveLiveData(kMine));
        const QStringList aside = keptAside(dataDir());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(dataDir() + QLatin1Char('/') + aside.first()), bytes);
        QCOMPARE(store()->getLiveData(), kMine);
    }

    void deletingTheFile()
    {
        // Missing: nothing happens.
        store()->delDataPath();
        QVERIFY(!QFile::exists(dataFile()));

        // Readable: deleted.
        QVERIFY(store()->saveData(kMine));
        store()->delDataPath();
        QVERIFY(!QFile::exists(dataFile()));
        QVERIFY(keptAside(dataDir()).isEmpty());

        // Zero bytes: deleted, nothing worth keeping.
        store()->getDataPath();
        store()->delDataPath();
        QVERIFY(!QFile::exists(dataFile()));
        QVERIFY(keptAside(dataDir()).isEmpty());

        // Unreadable: moved aside, and restoring the defaults starts afresh.
        const QByteArray garbage = readFixture(QStringLiteral("store/garbage.plist"));
        QVERIFY(writeAll(dataFile(), garbage));
        QVERIFY(store()->redoDefaultData());
        const QStringList aside = keptAside(dataDir());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(dataDir() + QLatin1Char('/') + aside.first()), garbage);
        QCOMPARE(topOfDataFile(), fixtureTop(QStringLiteral("store/default.plist")));
    }

    void valuesOfTheWrongTypeAreKeptAsideBeforeBeingReplaced()
    {
        const QByteArray original = readFixture(QStringLiteral("store/wrong-types.plist"));
        QVERIFY(writeAll(dataFile(), original));
        QVERIFY(store()->getData().isEmpty());
        QVERIFY(store()->getLiveData().isEmpty());

        QVERIFY(store()->saveData(kMine));
        QStringList aside = keptAside(dataDir());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(dataDir() + QLatin1Char('/') + aside.first()), original);
        QVariantMap top = topOfDataFile();
        QCOMPARE(top.value(QStringLiteral("data")).toList(), QVariantList{kMine});
        QCOMPARE(top.value(QStringLiteral("keep")).toString(), QStringLiteral("me"));
        // "live" was not part of that change and stays as it was.
        QCOMPARE(top.value(QStringLiteral("live")).toList().size(), 3);

        const QByteArray beforeLive = readAll(dataFile());
        QVERIFY(store()->saveLiveData(kMine));
        aside = keptAside(dataDir());
        QCOMPARE(aside.size(), 2);
        QCOMPARE(readAll(dataDir() + QLatin1Char('/') + aside.at(0)), original);
        QCOMPARE(readAll(dataDir() + QLatin1Char('/') + aside.at(1)), beforeLive);
        top = topOfDataFile();
        QCOMPARE(top.value(QStringLiteral("live")).toMap(), kMine);
        QCOMPARE(top.value(QStringLiteral("data")).toList(), QVariantList{kMine});
    }

    void entriesOfTheWrongTypeStayUntouched()
    {
        QVERIFY(writeAll(dataFile(), readFixture(QStringLiteral("store/wrong-entries.plist"))));
        const QVariantList list = store()->getData();
        QCOMPARE(list.size(), 6);
        QStringList names;
        for (const QVariant &e : list)
            names << program::name(e) + QLatin1Char('|') + program::image(e) + QLatin1Char('|') +
                         program::url(e);
        QCOMPARE(names,
                 QStringList({QStringLiteral("||"), QStringLiteral("||"),
                              QStringLiteral("Real One|https://img.example.org/real.png|"
                                             "https://stream.example.org/real"),
                              QStringLiteral("||"), QStringLiteral("||"), QStringLiteral("||")}));
        const QVariantMap live = store()->getLiveData();
        QCOMPARE(live.size(), 2);
        QCOMPARE(program::name(live), QString());
        QCOMPARE(program::url(live), QString());

        const QVariantMap real = list.at(2).toMap();
        QVERIFY(store()->delData(real));
        QVariantList expected = list;
        expected.removeAt(2);
        QCOMPARE(store()->getData(), expected);
        QVERIFY(keptAside(dataDir()).isEmpty());
        // Deleting an empty entry removes only the empty dictionary.
        QVERIFY(store()->delData(QVariantMap()));
        expected.removeLast();
        QCOMPARE(store()->getData(), expected);
    }

    void entryHoldingNaNCanBeDeleted()
    {
        QVERIFY(writeAll(dataFile(),
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                         "<dict><key>data</key><array><dict><key>name</key><string>odd</string>"
                         "<key>gain</key><real>nan</real></dict></array></dict></plist>\n"));
        const QVariantList list = store()->getData();
        QCOMPARE(list.size(), 1);
        QVERIFY(std::isnan(list.first().toMap().value(QStringLiteral("gain")).toDouble()));
        QVERIFY(store()->saveData(kMine));
        QVERIFY(store()->delData(list.first().toMap()));
        QCOMPARE(store()->getData(), QVariantList{kMine});
    }

    void unknownKeysAndTypesSurviveRewrites_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("xml") << QStringLiteral("store/user.plist");
        QTest::newRow("binary") << QStringLiteral("store/user-binary.plist");
    }

    void unknownKeysAndTypesSurviveRewrites()
    {
        QFETCH(QString, fixture);
        QVERIFY(writeAll(dataFile(), readFixture(fixture)));
        const QVariantMap before = fixtureTop(fixture);

        QVERIFY(store()->saveData(kMine));
        QString out;
        const int rc =
            sameAsPlistlib({dataFile(), fixturePath(fixture),
                            QStringLiteral("{\"name\": \"Mine\", \"image\": "
                                           "\"https://i/m.png\", \"url\": \"https://s/m\"}")},
                           &out);
        QVERIFY2(rc == 0, qPrintable(out));

        QVERIFY(store()->delData(kMine));
        QVERIFY(store()->saveLiveData(before.value(QStringLiteral("live")).toMap()));
        QCOMPARE(topOfDataFile(), before);

        // Into a group and out again: the entry gains the key and loses it,
        // and nothing else of it changes.
        const QVariantList list = store()->getData();
        QVERIFY(store()->setGroup(1, list.at(1), QStringLiteral("Jazz")));
        QCOMPARE(store()->getData().at(1), program::withGroup(list.at(1).toMap(), "Jazz"));
        QVERIFY(store()->removeGroup(QStringLiteral("Jazz")));
        QCOMPARE(topOfDataFile(), before);
        QVERIFY2(sameAsPlistlib({dataFile(), fixturePath(fixture), QString()}, &out) == 0,
                 qPrintable(out));

        // The file we write is the XML form with the usual header.
        const QByteArray text = readAll(dataFile());
        QVERIFY(text.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist"));
        QVERIFY(text.contains("<plist version=\"1.0\">"));
    }

    void largeUnsignedIntegersAndUidsSurviveRewrites()
    {
        // Written by plistlib: {"big": 2**64-1, "neg": -1, "small": 5,
        // "top": 2**63, "uid": UID(7)}.
        QVERIFY(
            writeAll(dataFile(), QByteArray::fromHex("62706c6973743030d50102030405060708090a5362696"
                                                     "7536e656755736d616c6c53746f705375696414"
                                                     "0000000000000000ffffffffffffffff13fffffffffff"
                                                     "fffff1005140000000000000000800000000000"
                                                     "000080070813171b2125293a434556000000000000010"
                                                     "1000000000000000b0000000000000000000000"
                                                     "0000000058")));
        auto check = [](const QVariantMap &top) {
            QCOMPARE(top.value(QStringLiteral("big")), QVariant(quint64(0xFFFFFFFFFFFFFFFFull)));
            QCOMPARE(top.value(QStringLiteral("top")), QVariant(quint64(1) << 63));
            QCOMPARE(top.value(QStringLiteral("neg")), QVariant(qint64(-1)));
            QCOMPARE(top.value(QStringLiteral("small")), QVariant(qint64(5)));
            QCOMPARE(top.value(QStringLiteral("uid")), QVariant::fromValue(propertylist::Uid{7}));
        };
        check(topOfDataFile());
        QVERIFY(store()->saveLiveData(kMine));
        check(topOfDataFile());
        QVERIFY(store()->saveData(kMine));
        check(topOfDataFile());
        QCOMPARE(store()->getLiveData(), kMine);

        // Another reader sees the same numbers, and the UID as XML spells it.
        QString out;
        const int rc = runPython(QStringLiteral(R"(
import plistlib, sys
v = plistlib.load(open(sys.argv[1], 'rb'))
assert v['big'] == 2**64 - 1 and v['top'] == 2**63 and v['neg'] == -1, v
assert v['uid'] in ({'CF$UID': 7}, plistlib.UID(7)), v
)"),
                                 {dataFile()}, &out);
        QVERIFY2(rc == 0, qPrintable(out));
    }

    void realsAreWrittenAndReadTheSameWhateverTheLocale()
    {
        // A locale whose decimal separator is a comma, built privately.
        QTemporaryDir locales;
        QProcess def;
        def.start(QStringLiteral("localedef"),
                  {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                   QStringLiteral("UTF-8"), locales.path() + QStringLiteral("/de_DE.UTF-8")});
        if (!def.waitForFinished(60000) || def.exitCode() != 0)
            QSKIP("localedef could not build de_DE.UTF-8");
        qputenv("LOCPATH", locales.path().toUtf8());
        const std::string saved = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            QSKIP("de_DE.UTF-8 not usable");
        const bool comma =
            std::strtod("0.75", nullptr) == 0.0 && std::strtod("0,75", nullptr) == 0.75;

        QVERIFY(writeAll(dataFile(), readFixture(QStringLiteral("store/user.plist"))));
        const QVariantMap entry = store()->getData().at(1).toMap();
        const bool saveOk = store()->saveData(kMine);
        const QByteArray text = readAll(dataFile());
        std::setlocale(LC_ALL, saved.c_str());
        qunsetenv("LOCPATH");

        QVERIFY2(comma, "the private locale does not use a decimal comma");
        QCOMPARE(entry.value(QStringLiteral("volume")).toDouble(), 0.75);
        QCOMPARE(entry.value(QStringLiteral("gain")).toDouble(), -1.5e-3);
        QVERIFY(saveOk);
        QVERIFY(text.contains("<real>0.75"));
        QVERIFY(!text.contains("<real>0,"));
        QCOMPARE(store()->getData().at(1).toMap(), entry);
    }

    void failedWriteReturnsFalseAndKeepsThePreviousFile()
    {
        QVERIFY(store()->seedDefaultDataIfEmpty());
        const QByteArray before = readAll(dataFile());
        {
            FileSizeLimit limit(64);
            QVERIFY(limit.active());
            QVERIFY(!store()->saveData(kMine));
            QVERIFY(!store()->delData(store()->getData().first().toMap()));
            QVERIFY(!store()->saveLiveData(kMine));
        }
        QCOMPARE(readAll(dataFile()), before);
        // No temporary file is left behind.
        QCOMPARE(QDir(dataDir()).entryList(QDir::Files | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("data.plist")});
        QVERIFY(store()->saveData(kMine));
        QCOMPARE(store()->getData().last().toMap(), kMine);
    }

    void restoreThatCannotWriteLeavesTheOldFileAsItWas()
    {
        QVERIFY(writeAll(dataFile(), readFixture(QStringLiteral("store/user.plist"))));
        QVERIFY(store()->saveData(kMine));
        const QByteArray before = readAll(dataFile());
        {
            FileSizeLimit limit(64);
            QVERIFY(limit.active());
            QVERIFY(!store()->redoDefaultData());
        }
        QCOMPARE(readAll(dataFile()), before);
        QVERIFY(keptAside(dataDir()).isEmpty());

        // No defaults to restore: a failure too, not an emptied list.
        CacheManager::setDefaultListPath(dataDir() + QStringLiteral("/no-such-default.plist"));
        QVERIFY(!store()->redoDefaultData());
        QCOMPARE(readAll(dataFile()), before);
    }

    void seedingThatFailsHalfWayIsDoneAgainNextTime()
    {
        // Enough room for a list of the first default, not for all of them.
        const QVariantMap defaults = fixtureTop(QStringLiteral("store/default.plist"));
        const QVariantList all = defaults.value(QStringLiteral("data")).toList();
        QVERIFY(all.size() >= 2);
        const qsizetype oneEntry =
            propertylist::toXml(QVariantMap{{QStringLiteral("data"), QVariantList{all.first()}}})
                .size();
        store()->getDataPath();
        {
            FileSizeLimit limit(rlim_t(oneEntry + 1));
            QVERIFY(limit.active());
            QVERIFY(!store()->seedDefaultDataIfEmpty());
        }
        QVERIFY(store()->getData().isEmpty());
        QVERIFY(store()->getLiveData().isEmpty());

        QVERIFY(store()->seedDefaultDataIfEmpty());
        QCOMPARE(store()->getData(), all);
        QCOMPARE(store()->getLiveData(), defaults.value(QStringLiteral("live")).toMap());
    }

    void failedWriteOfAnUnreadableFileStillKeepsIt()
    {
        const QByteArray garbage = readFixture(QStringLiteral("store/garbage.plist"));
        QVERIFY(writeAll(dataFile(), garbage));
        {
            FileSizeLimit limit(64);
            QVERIFY(!store()->saveData(kMine));
        }
        // Whether it now sits aside or still in place, the bytes exist.
        const QStringList aside = keptAside(dataDir());
        const bool kept =
            readAll(dataFile()) == garbage ||
            (aside.size() == 1 && readAll(dataDir() + QLatin1Char('/') + aside.first()) == garbage);
        QVERIFY(kept);
    }

    void dataDirectoryThatIsAFileFailsQuietly()
    {
        QDir(dataDir()).removeRecursively();
        QVERIFY(writeAll(dataDir(), "not a directory"));
        QVERIFY(store()->getData().isEmpty());
        QVERIFY(store()->getLiveData().isEmpty());
        QVERIFY(!store()->saveData(kMine));
        QVERIFY(!store()->saveLiveData(kMine));
        QVERIFY(!store()->redoDefaultData());
        store()->delDataPath();
        QCOMPARE(readAll(dataDir()), QByteArray("not a directory"));
        QFile::remove(dataDir());
    }

    void bigButAcceptableFileIsReadAndRewritten()
    {
        const QString longName(4 * 1024 * 1024, QLatin1Char('n'));
        QVariantList list;
        for (int i = 0; i < 2000; ++i)
            list << program::make(QStringLiteral("p%1").arg(i), QStringLiteral("i"),
                                  QStringLiteral("u"));
        list << program::make(longName, QStringLiteral("i"), QStringLiteral("u"));
        QVERIFY(propertylist::writeFile(dataFile(), QVariantMap{{QStringLiteral("data"), list}}));
        QVERIFY(QFileInfo(dataFile()).size() < propertylist::kMaxFileSize);

        QVERIFY(store()->saveData(kMine));
        const QVariantList after = store()->getData();
        QCOMPARE(after.size(), list.size() + 1);
        QCOMPARE(program::name(after.at(2000)), longName);
        QVERIFY(keptAside(dataDir()).isEmpty());

        // A change that would make the file too big to read back is refused:
        // the list stays as it was instead of becoming unreadable.
        const QByteArray before = readAll(dataFile());
        QVERIFY(!store()->appendData({program::make(QString(13 * 1024 * 1024, u'm'),
                                                    QStringLiteral("i"), QStringLiteral("u2")),
                                      kMine}));
        QCOMPARE(readAll(dataFile()), before);
        QCOMPARE(store()->getData().size(), list.size() + 1);
    }

    // The store tells each real change once, whichever process wrote it,
    // and its own write seen again by the file watcher is no change.
    void storeTellsRealChangesOnce_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("lists");
        QTest::addColumn<int>("currents");
        QTest::newRow("a program added") << "add" << 1 << 0;
        QTest::newRow("another current program") << "live" << 0 << 1;
        QTest::newRow("the same current program") << "same live" << 0 << 0;
        QTest::newRow("an empty group made") << "group" << 1 << 0;
        QTest::newRow("deleting what is not listed") << "delete missing" << 0 << 0;
        QTest::newRow("defaults restored") << "defaults" << 1 << 1;
        QTest::newRow("the file deleted") << "delete file" << 1 << 1;
        QTest::newRow("another process") << "elsewhere" << 1 << 1;
    }

    void storeTellsRealChangesOnce()
    {
        QFETCH(QString, change);
        QFETCH(int, lists);
        QFETCH(int, currents);
        QVERIFY(store()->seedDefaultDataIfEmpty());
        QVERIFY(store()->saveData(kMine) && store()->saveLiveData(kMine));
        const QVariantMap other =
            program::make(QStringLiteral("Other"), QString(), QStringLiteral("https://s/o"));
        ProgramStore programs;
        QSignalSpy listSpy(&programs, &ProgramStore::listChanged);
        QSignalSpy currentSpy(&programs, &ProgramStore::currentProgramChanged);
        QSignalSpy echo(programs.findChild<ProgramListWatcher *>(), &ProgramListWatcher::changed);
        if (change == QLatin1String("add"))
            QVERIFY(store()->saveData(other));
        else if (change == QLatin1String("live"))
            QVERIFY(store()->saveLiveData(other));
        else if (change == QLatin1String("same live"))
            QVERIFY(store()->saveLiveData(kMine));
        else if (change == QLatin1String("group"))
            QVERIFY(store()->addGroup(QStringLiteral("Jazz")));
        else if (change == QLatin1String("delete missing"))
            QVERIFY(store()->delData(other));
        else if (change == QLatin1String("defaults"))
            QVERIFY(store()->redoDefaultData());
        else if (change == QLatin1String("delete file"))
            store()->delDataPath();
        else
            QVERIFY(propertylist::writeFile(dataFile(), fixtureTop("store/default.plist")));
        if (change == QLatin1String("elsewhere"))
            QTRY_COMPARE(listSpy.size(), lists);
        else
            QVERIFY(echo.wait(5000)); // the store has heard the watcher too
        QCOMPARE(listSpy.size(), lists);
        QCOMPARE(currentSpy.size(), currents);
        QCOMPARE(programs.programs().size(), programindex::programs().size());
        QCOMPARE(programs.currentProgram(), store()->getLiveData());
    }

    // Steps: "add:G", "set:I:G" (program I into G, "" for none), "live:I",
    // "rename:F:T", "remove:G", "hand:I:V" (a hand edit putting the number V
    // under program I's "group").
    void groupsKeepTheirProgramsAndTheCurrentOne_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QStringList>("ofPrograms");
        QTest::addColumn<QString>("ofCurrent");
        const QString none;
        QTest::newRow("ungrouped by default")
            << QStringList{} << QStringList{} << QStringList{none, none, none} << none;
        QTest::newRow("an empty group stays")
            << QStringList{"add:Jazz", "add: Jazz\t", "set:0:Jazz", "set:0:"} << QStringList{"Jazz"}
            << QStringList{none, none, none} << none;
        QTest::newRow("a name of nothing makes no group")
            << QStringList{"add:\t ", "set:1:Talk"} << QStringList{"Talk"}
            << QStringList{none, "Talk", none} << none;
        QTest::newRow("the current program follows its move")
            << QStringList{"live:1", "set:1:News"} << QStringList{"News"}
            << QStringList{none, "News", none} << "News";
        QTest::newRow("renamed with its programs")
            << QStringList{"add:Jazz", "set:0:News", "set:2:News", "live:2", "rename:News:Talk"}
            << QStringList{"Jazz", "Talk"} << QStringList{"Talk", none, "Talk"} << "Talk";
        QTest::newRow("renamed into another, the two are one")
            << QStringList{"set:0:News", "set:1:Talk", "rename:Talk:News"} << QStringList{"News"}
            << QStringList{"News", "News", none} << none;
        QTest::newRow("removed, its programs stay ungrouped")
            << QStringList{"set:0:News", "set:1:Jazz", "live:0", "remove:News"}
            << QStringList{"Jazz"} << QStringList{none, "Jazz", none} << none;
        QTest::newRow("a group that is no text is none")
            << QStringList{"hand:2:7"} << QStringList{} << QStringList{none, none, none} << none;
    }

    void groupsKeepTheirProgramsAndTheCurrentOne()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, groups);
        QFETCH(QStringList, ofPrograms);
        QFETCH(QString, ofCurrent);
        QVERIFY(store()->appendData(
            fixtureTop("store/default.plist").value(QStringLiteral("data")).toList().mid(0, 3)));
        for (const QString &step : steps) {
            const QStringList a = step.split(QLatin1Char(':'));
            const QVariantList list = store()->getData();
            if (a[0] == QLatin1String("add"))
                QCOMPARE(store()->addGroup(a[1]), !a[1].trimmed().isEmpty());
            else if (a[0] == QLatin1String("set"))
                QVERIFY(store()->setGroup(a[1].toInt(), list.at(a[1].toInt()), a[2]));
            else if (a[0] == QLatin1String("live"))
                QVERIFY(store()->saveLiveData(list.at(a[1].toInt()).toMap()));
            else if (a[0] == QLatin1String("rename"))
                QVERIFY(store()->renameGroup(a[1], a[2]));
            else if (a[0] == QLatin1String("remove"))
                QVERIFY(store()->removeGroup(a[1]));
            else {
                QVariantMap entry = list.at(a[1].toInt()).toMap();
                entry.insert(QStringLiteral("group"), a[2].toInt());
                QVariantList edited = list;
                edited[a[1].toInt()] = entry;
                QVariantMap top = topOfDataFile();
                top.insert(QStringLiteral("data"), edited);
                QVERIFY(propertylist::writeFile(dataFile(), top));
            }
        }
        QCOMPARE(store()->getGroups(), groups);
        const QVariantList list = store()->getData();
        QCOMPARE(list.size(), ofPrograms.size());
        for (qsizetype i = 0; i < list.size(); ++i)
            QCOMPARE(program::group(list.at(i)), ofPrograms.at(i));
        QCOMPARE(program::group(store()->getLiveData()), ofCurrent);
    }

    void nestingWithinTheLimitRoundTrips()
    {
        const QByteArray text = nestedXml(propertylist::kMaxDepth - 2);
        QVERIFY(writeAll(dataFile(), text));
        QCOMPARE(store()->getData().size(), 1);
        QVERIFY(store()->saveData(kMine));
        QVERIFY(keptAside(dataDir()).isEmpty());
        QVariantList list = store()->getData();
        QCOMPARE(list.size(), 2);
        int depth = 0;
        for (QVariant v = list.first(); v.metaType().id() == QMetaType::QVariantList;
             v = v.toList().value(0))
            ++depth;
        QCOMPARE(depth, propertylist::kMaxDepth - 3);
    }
};

ORBITUNE_TEST_MAIN(TestCacheManager)
#include "tst_cachemanager.moc"
