#include "store/ProgramStore.h"

#include "store/CacheManager.h"
#include "store/ProgramGroups.h"

#include <QFile>

#include <sys/stat.h>

namespace {

// What tells one version of the file from another without reading it: a
// write replaces the file (a new inode), and a hand edit in place changes
// its size or its time to the nanosecond.
QByteArray fileSignature(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(qulonglong(st.st_dev)) + ':' +
           QByteArray::number(qulonglong(st.st_ino)) + ':' +
           QByteArray::number(qlonglong(st.st_size)) + ':' +
           QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qlonglong(st.st_mtim.tv_nsec));
}

} // namespace

ProgramStore::ProgramStore(QObject *parent)
    : QObject(parent), m_watcher(new ProgramListWatcher(this))
{
    CacheManager *cache = CacheManager::shareIntance();
    m_path = cache->getDataPath();
    m_list = cache->getData();
    m_live = cache->getLiveData();
    m_groups = cache->getGroups();
    remember();
    m_observer = cache->addWriteObserver([this](const QVariantMap &top) {
        take(top);
        remember();
    });
    connect(m_watcher, &ProgramListWatcher::changed, this, &ProgramStore::fileTouched);
}

ProgramStore::~ProgramStore()
{
    CacheManager::shareIntance()->removeWriteObserver(m_observer);
}

QList<programindex::Program> ProgramStore::programs()
{
    if (!m_programsKnown) {
        m_programs = programindex::programs(m_list);
        m_programsKnown = true;
    }
    return m_programs;
}

programindex::Program ProgramStore::program(const QString &key)
{
    for (const programindex::Program &p : programs()) {
        if (p.key == key)
            return p;
    }
    return {};
}

void ProgramStore::remember()
{
    m_seen = fileSignature(m_path);
}

void ProgramStore::fileTouched()
{
    // Another process (or a hand edit) changed the file: read it afresh.
    if (fileSignature(m_path) == m_seen)
        return;
    CacheManager *cache = CacheManager::shareIntance();
    QVariantMap top;
    top.insert(QStringLiteral("data"), cache->getData());
    top.insert(QStringLiteral("live"), cache->getLiveData());
    top.insert(QStringLiteral("groups"), cache->getGroups());
    remember();
    take(top);
}

void ProgramStore::take(const QVariantMap &top)
{
    // As CacheManager reads them: a value of the wrong kind reads as none.
    const QVariant data = top.value(QStringLiteral("data"));
    const QVariant live = top.value(QStringLiteral("live"));
    const QVariantList list =
        data.metaType().id() == QMetaType::QVariantList ? data.toList() : QVariantList();
    const QVariantMap current =
        live.metaType().id() == QMetaType::QVariantMap ? live.toMap() : QVariantMap();
    const QStringList groups = programgroups::names(list, top.value(QStringLiteral("groups")));
    const bool listChanges = list != m_list || groups != m_groups;
    const bool currentChanges = current != m_live;
    m_groups = groups;
    m_list = list;
    m_live = current;
    if (listChanges) {
        m_programsKnown = false;
        Q_EMIT listChanged();
    }
    if (currentChanges)
        Q_EMIT currentProgramChanged();
}

#include "moc_ProgramStore.cpp"
