// Fuzz target for the whole read path of the program store: the input
// becomes data.plist, the store reads it the way the windows do, reads every
// key of every entry, then adds and removes a program. Besides crashes it
// checks what the store promises:
//
// - a change that reports success is visible in the next read;
// - a file the store cannot read is kept aside byte for byte before the first
//   change replaces it;
// - what the store writes reads back, and rewriting that changes nothing.
//
// The same input is also read as another player's station list: only
// http(s) addresses, clean names of bounded length, at most the entry limit.
//
// Built with libFuzzer by scripts/fuzz.sh; replay_main.cpp runs the same
// function over the checked-in corpus in the ordinary test build.

#include "ImportChecks.h"
#include "platform/base/Log.h"
#include "platform/plist/PropertyList.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "store invariant broken: %s\n", what);
    std::abort();
}

QString g_dataDir;

void setUp()
{
    // tmpfs when there is one: the store syncs every write to disk.
    static QTemporaryDir root(QDir(QStringLiteral("/dev/shm")).exists()
                                  ? QStringLiteral("/dev/shm/orbitune-fuzz-XXXXXX")
                                  : QDir::tempPath() + QStringLiteral("/orbitune-fuzz-XXXXXX"));
    if (!root.isValid())
        fail("no temporary directory");
    qputenv("XDG_DATA_HOME", root.path().toUtf8());
    qputenv("ORBITUNE_NO_SYSLOG", "1");
    QCoreApplication::setApplicationName(QStringLiteral("orbitune"));
    orbitune::log::setSink([](const QString &) {});
    g_dataDir = root.path() + QStringLiteral("/orbitune");
    CacheManager::setDefaultListPath(root.path() + QStringLiteral("/no-default.plist"));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A small binary file can expand into more XML than a read accepts: the
// store must then refuse every change and leave the file as it was.
bool tooLargeToWrite(const propertylist::ReadResult &read)
{
    return read.state == propertylist::FileState::Value &&
           propertylist::toXml(read.value).size() > propertylist::kMaxFileSize;
}

void checkRewriteIsStable(const QByteArray &bytes)
{
    const QVariant first = propertylist::parse(bytes);
    if (!first.isValid())
        return;
    const QByteArray once = propertylist::toXml(first);
    if (once.isEmpty())
        fail("a parsed value could not be written");
    if (once.size() > propertylist::kMaxFileSize)
        return; // the writer refuses it (see tooLargeToWrite)
    const QVariant second = propertylist::parse(once);
    if (!second.isValid())
        fail("what we wrote does not read back");
    if (propertylist::toXml(second) != once)
        fail("rewriting what we wrote changed it");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (g_dataDir.isEmpty())
        setUp();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkRewriteIsStable(bytes);
    fuzz::checkImport(bytes);

    QDir(g_dataDir).removeRecursively();
    QDir().mkpath(g_dataDir);
    const QString path = g_dataDir + QStringLiteral("/data.plist");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            fail("could not write the input");
    }
    const propertylist::ReadResult before = propertylist::readFile(path);
    if (tooLargeToWrite(before)) {
        // Either the change is refused and the file stays, or the store
        // started afresh and kept the old file aside whole.
        const QVariantMap entry =
            program::make(QStringLiteral("n"), QStringLiteral("i"), QStringLiteral("u"));
        if (!CacheManager::shareIntance()->saveData(entry)) {
            if (readAll(path) != bytes)
                fail("a refused change altered the file");
        } else {
            const QStringList aside =
                QDir(g_dataDir).entryList({QStringLiteral("data.plist.unreadable-*")});
            if (aside.size() != 1 || readAll(g_dataDir + QLatin1Char('/') + aside.first()) != bytes)
                fail("a file too large to write back was replaced without a copy");
        }
        return 0;
    }

    CacheManager *store = CacheManager::shareIntance();
    const QVariantList list = store->getData();
    const QVariantMap live = store->getLiveData();
    size_t total = 0;
    for (const QVariant &entry : list)
        total += size_t(program::name(entry).size() + program::image(entry).size() +
                        program::url(entry).size());
    total += size_t(program::name(live).size() + program::url(live).size());
    if (readAll(path) != bytes)
        fail("reading changed the file");

    // Add a program taken from the file (or a fixed one), then remove it.
    // Some values change once on the first rewrite (dates and integers out
    // of the parser's range), so take the entry as it will be stored.
    QVariantMap entry = list.isEmpty()
                            ? QVariantMap()
                            : propertylist::parse(propertylist::toXml(list.first())).toMap();
    if (entry.isEmpty())
        entry = program::make(QStringLiteral("n"), QStringLiteral("i"), QStringLiteral("u"));
    if (!store->saveData(entry))
        fail("saveData failed on a writable directory");
    const QVariantList afterSave = store->getData();
    if (afterSave.isEmpty() || !program::isEqual(afterSave.last(), entry))
        fail("saved entry is not last in the list");

    if (before.state == propertylist::FileState::Unreadable ||
        (before.state == propertylist::FileState::Value &&
         before.value.metaType().id() != QMetaType::QVariantMap)) {
        const QStringList aside =
            QDir(g_dataDir).entryList({QStringLiteral("data.plist.unreadable-*")});
        if (aside.size() != 1 || readAll(g_dataDir + QLatin1Char('/') + aside.first()) != bytes)
            fail("unreadable file was not kept aside intact");
    } else if (list.size() + 1 != afterSave.size()) {
        fail("saveData lost or added entries");
    }

    if (!store->delData(entry))
        fail("delData failed on a writable directory");
    for (const QVariant &e : store->getData()) {
        if (program::isEqual(e, entry))
            fail("deleted entry still listed");
    }
    const QVariantMap storedLive = propertylist::parse(propertylist::toXml(live)).toMap();
    if (!store->saveLiveData(storedLive))
        fail("saveLiveData failed on a writable directory");
    if (!program::isEqual(store->getLiveData(), storedLive))
        fail("current program changed by a rewrite");
    checkRewriteIsStable(readAll(path));
    return total == size_t(-1) ? 1 : 0;
}
