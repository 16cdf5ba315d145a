#include "store/CacheManager.h"

#include "platform/base/Log.h"
#include "platform/plist/PropertyList.h"
#include "store/ProgramEntry.h"
#include "store/ProgramGroups.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

const QString kDataKey = QStringLiteral("data");
const QString kLiveKey = QStringLiteral("live");
const QString kGroupsKey = QStringLiteral("groups");
const QString kDataFileName = QStringLiteral("data.plist");

QString &defaultListPathSlot()
{
    static QString path = QStringLiteral(":/default.plist");
    return path;
}

bool isMap(const QVariant &v)
{
    return v.metaType().id() == QMetaType::QVariantMap;
}
bool isList(const QVariant &v)
{
    return v.metaType().id() == QMetaType::QVariantList;
}

// What a change starts from: the top-level dictionary, or an empty one when
// the file holds none. `keepCopy` is set when the file holds something the
// change would destroy that nobody could read: the whole file when it is not
// a dictionary, or a value of the wrong kind under the key being replaced.
struct Base {
    QVariantMap dict;
    bool keepCopy = false;
};

Base baseForChange(const propertylist::ReadResult &read, const QString &key)
{
    Base base;
    switch (read.state) {
    case propertylist::FileState::Missing:
    case propertylist::FileState::Empty: break;
    case propertylist::FileState::Unreadable: base.keepCopy = true; break;
    case propertylist::FileState::Value:
        if (!isMap(read.value)) {
            base.keepCopy = true;
            break;
        }
        base.dict = read.value.toMap();
        if (base.dict.contains(key)) {
            const QVariant current = base.dict.value(key);
            base.keepCopy = key == kLiveKey ? !isMap(current) : !isList(current);
        }
        break;
    }
    return base;
}

// Keeps the current file under a new name beside it. A file nobody could
// read is moved; one that is only partly unusable is copied, since the
// rewrite keeps what it can use.
bool keepAside(const QString &path, bool move)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int i = 1; QFile::exists(target); ++i)
        target =
            path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(i);
    const bool ok = move ? QFile::rename(path, target) : QFile::copy(path, target);
    if (ok)
        NSLog(lcStore(), QtWarningMsg, "data file could not be read; kept it as %@", target);
    else
        NSLog(lcStore(), QtCriticalMsg,
              "data file could not be read and could not be kept as %@; leaving it untouched",
              target);
    return ok;
}

} // namespace

CacheManager *CacheManager::shareIntance()
{
    static CacheManager *instance = new CacheManager;
    return instance;
}

void CacheManager::setDefaultListPath(const QString &path)
{
    defaultListPathSlot() = path;
}

QString CacheManager::defaultListPath()
{
    return defaultListPathSlot();
}

QString CacheManager::getDataPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + kDataFileName;
    if (!QFile::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
    NSLog(lcStore(), QtDebugMsg, "filePath:%@", path);
    return path;
}

namespace {

propertylist::ReadResult readDataFile(const QString &path)
{
    propertylist::ReadResult read = propertylist::readFile(path);
    if (read.state == propertylist::FileState::Value && isMap(read.value))
        NSLog(lcStore(), QtDebugMsg, "dataDic:%@", read.value);
    else
        NSLog(lcStore(), QtDebugMsg, "dataDic:%@", QVariant());
    if (read.state == propertylist::FileState::Unreadable)
        NSLog(lcStore(), QtWarningMsg, "data file unreadable: %@", read.error);
    return read;
}

QVariant topValue(const propertylist::ReadResult &read, const QString &key)
{
    if (read.state != propertylist::FileState::Value || !isMap(read.value))
        return {};
    return read.value.toMap().value(key);
}

// Replaces (or, for an invalid value, removes) each key of `changes` in one
// write.
bool writeChanges(const QString &path, const propertylist::ReadResult &read,
                  const QVariantMap &changes, QVariantMap *written)
{
    Base base;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        const Base forKey = baseForChange(read, it.key());
        base.dict = forKey.dict;
        base.keepCopy = base.keepCopy || forKey.keepCopy;
    }
    if (base.keepCopy) {
        const bool wholeFileUnusable =
            base.dict.isEmpty() &&
            (read.state == propertylist::FileState::Unreadable || !isMap(read.value));
        if (!keepAside(path, wholeFileUnusable))
            return false;
    }
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (it.value().isValid())
            base.dict.insert(it.key(), it.value());
        else
            base.dict.remove(it.key());
    }
    QString error;
    if (!propertylist::writeFile(path, base.dict, &error)) {
        NSLog(lcStore(), QtCriticalMsg, "could not write %@: %@", path, error);
        return false;
    }
    *written = base.dict;
    return true;
}

} // namespace

bool CacheManager::write(const QVariantMap &changes)
{
    const QString path = getDataPath();
    QVariantMap top;
    if (!writeChanges(path, readDataFile(path), changes, &top))
        return false;
    written(top);
    return true;
}

int CacheManager::addWriteObserver(WriteObserver observer)
{
    m_observers.append({++m_lastObserver, std::move(observer)});
    return m_lastObserver;
}

void CacheManager::removeWriteObserver(int id)
{
    m_observers.removeIf([id](const auto &o) { return o.first == id; });
}

void CacheManager::written(const QVariantMap &top)
{
    // A copy: an observer may add or remove observers.
    const auto observers = m_observers;
    for (const auto &o : observers)
        o.second(top);
}

namespace {

} // namespace

QVariantList CacheManager::getData()
{
    const QVariant data = topValue(readDataFile(getDataPath()), kDataKey);
    return isList(data) ? data.toList() : QVariantList();
}

QVariantList CacheManager::getData(QStringList *groups)
{
    const propertylist::ReadResult read = readDataFile(getDataPath());
    const QVariant data = topValue(read, kDataKey);
    const QVariantList list = isList(data) ? data.toList() : QVariantList();
    *groups = programgroups::names(list, topValue(read, kGroupsKey));
    return list;
}

QVariantMap CacheManager::getLiveData()
{
    const QVariant live = topValue(readDataFile(getDataPath()), kLiveKey);
    return isMap(live) ? live.toMap() : QVariantMap();
}

bool CacheManager::saveData(const QVariantMap &entry)
{
    QVariantList list = getData();
    list.append(entry);
    return write(QVariantMap{{kDataKey, list}});
}

bool CacheManager::delData(const QVariantMap &entry)
{
    return delData(QVariant(entry));
}

bool CacheManager::delData(const QVariant &target)
{
    QVariantList list = getData();
    list.removeIf([&](const QVariant &item) { return program::isEqual(item, target); });
    return write(QVariantMap{{kDataKey, list}});
}

bool CacheManager::appendData(const QVariantList &entries)
{
    QVariantList list = getData();
    list.append(entries);
    return write(QVariantMap{{kDataKey, list}});
}

bool CacheManager::moveData(qsizetype from, qsizetype to, const QVariant &expected)
{
    QVariantList list = getData();
    if (from < 0 || from >= list.size() || to < 0 || to >= list.size() ||
        !program::isEqual(list.at(from), expected)) {
        NSLog(lcStore(), QtWarningMsg, "not moved: the list changed since it was shown");
        return false;
    }
    if (from == to)
        return true;
    list.move(from, to);
    return write(QVariantMap{{kDataKey, list}});
}

bool CacheManager::moveData(qsizetype from, qsizetype to, const QVariant &expected,
                            const QString &group)
{
    QVariantList list = getData();
    if (from < 0 || from >= list.size() || to < 0 || to >= list.size() ||
        !program::isEqual(list.at(from), expected) || !isMap(expected)) {
        NSLog(lcStore(), QtWarningMsg, "not moved: the list changed since it was shown");
        return false;
    }
    const QString clean = programgroups::cleanName(group);
    const QVariantMap before = expected.toMap();
    const QVariantMap after = program::withGroup(before, clean);
    list[from] = after;
    list.move(from, to);
    QVariantMap changes{{kDataKey, list}};
    // A group the listener put a program in stays when the program leaves.
    QStringList created = programgroups::names({}, createdGroups());
    if (!clean.isEmpty() && !created.contains(clean))
        changes.insert(kGroupsKey, created << clean);
    // The current program is a copy of the entry: it stays the same program.
    const QVariantMap live = getLiveData();
    if (!live.isEmpty() && program::isEqual(live, before) && before != after)
        changes.insert(kLiveKey, after);
    return write(changes);
}

QVariant CacheManager::createdGroups()
{
    return topValue(readDataFile(getDataPath()), kGroupsKey);
}

QStringList CacheManager::getGroups()
{
    QStringList groups;
    getData(&groups);
    return groups;
}

bool CacheManager::setGroup(qsizetype index, const QVariant &expected, const QString &group)
{
    return moveData(index, index, expected, group);
}

bool CacheManager::addGroup(const QString &name)
{
    const QString clean = programgroups::cleanName(name);
    if (clean.isEmpty())
        return false;
    QStringList created = programgroups::names({}, createdGroups());
    if (created.contains(clean))
        return true;
    created << clean;
    return write(QVariantMap{{kGroupsKey, created}});
}

bool CacheManager::renameGroup(const QString &from, const QString &to)
{
    const QString clean = programgroups::cleanName(to);
    if (from.isEmpty() || clean.isEmpty())
        return false;
    // The group keeps its place among those created.
    QStringList created = programgroups::names({}, createdGroups());
    const qsizetype at = created.indexOf(from);
    if (at >= 0 && !created.contains(clean))
        created[at] = clean;
    else if (at >= 0)
        created.removeAt(at);
    return writeRegrouped(programgroups::regrouped(getData(), from, clean), created, from, clean);
}

bool CacheManager::removeGroup(const QString &name)
{
    if (name.isEmpty())
        return false;
    QStringList created = programgroups::names({}, createdGroups());
    created.removeAll(name);
    return writeRegrouped(programgroups::regrouped(getData(), name, QString()), created, name,
                          QString());
}

bool CacheManager::writeRegrouped(const QVariantList &list, const QStringList &groups,
                                  const QString &from, const QString &to)
{
    // No groups left: no key, as before there were any.
    QVariantMap changes{{kDataKey, list},
                        {kGroupsKey, groups.isEmpty() ? QVariant() : QVariant(groups)}};
    const QVariantMap live = getLiveData();
    if (!live.isEmpty() && program::group(live) == from)
        changes.insert(kLiveKey, program::withGroup(live, to));
    return write(changes);
}

bool CacheManager::saveLiveData(const QVariantMap &entry)
{
    return write(QVariantMap{{kLiveKey, entry.isEmpty() ? QVariant() : QVariant(entry)}});
}

void CacheManager::delDataPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString path = dir + QLatin1Char('/') + kDataFileName;
    if (!QFile::exists(path))
        return;
    if (propertylist::readFile(path).state == propertylist::FileState::Unreadable) {
        if (keepAside(path, true))
            written({});
        return;
    }
    if (QFile::remove(path))
        written({});
}

bool CacheManager::seedDefaultDataIfEmpty()
{
    if (!getData().isEmpty())
        return true;
    const propertylist::ReadResult defaults = propertylist::readFile(defaultListPath());
    const QVariant defaultData = topValue(defaults, kDataKey);
    const QVariant defaultLive = topValue(defaults, kLiveKey);
    if (!isList(defaultData) || defaultData.toList().isEmpty())
        return true; // nothing to seed
    // List and current program in one write: a failure leaves the list
    // empty, so the next start seeds it again instead of keeping half of it.
    return write(QVariantMap{{kDataKey, defaultData},
                             {kLiveKey, isMap(defaultLive) ? defaultLive : QVariant()}});
}

bool CacheManager::redoDefaultData()
{
    const propertylist::ReadResult defaults = propertylist::readFile(defaultListPath());
    const QVariant defaultData = topValue(defaults, kDataKey);
    const QVariant defaultLive = topValue(defaults, kLiveKey);
    if (!isList(defaultData) || defaultData.toList().isEmpty()) {
        NSLog(lcStore(), QtWarningMsg, "no default programs in %@; the list is left as it is",
              defaultListPath());
        return false;
    }
    // The defaults replace the whole file in one atomic write, so either they
    // are all there or the old file is untouched. An unreadable file is kept
    // aside first, as a deletion would.
    const QString path = getDataPath();
    if (readDataFile(path).state == propertylist::FileState::Unreadable && !keepAside(path, true))
        return false;
    QVariantMap top{{kDataKey, defaultData}};
    if (isMap(defaultLive))
        top.insert(kLiveKey, defaultLive);
    QString error;
    if (!propertylist::writeFile(path, top, &error)) {
        NSLog(lcStore(), QtCriticalMsg, "could not write %@: %@", path, error);
        return false;
    }
    written(top);
    return true;
}
