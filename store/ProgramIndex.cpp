#include "store/ProgramIndex.h"

#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "store/ProgramGroups.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QTimer>

#include <algorithm>
#include <array>

namespace programindex {

namespace {

// Case and accents folded: "Café" and "cafe" match.
QString folded(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            out.append(c);
    }
    return out.toCaseFolded();
}

// The program last made the current one through chosen(); position -1
// when none was.
Program &lastChosen()
{
    static Program last{QString(), -1, QVariantMap()};
    return last;
}

int rank(const QString &name, const QString &first)
{
    if (name.startsWith(first))
        return 0;
    for (qsizetype at = name.indexOf(first); at > 0; at = name.indexOf(first, at + 1)) {
        if (!name.at(at - 1).isLetterOrNumber())
            return 1;
    }
    return 2;
}

} // namespace

QList<Program> programs()
{
    return programs(CacheManager::shareIntance()->getData());
}

QList<Program> programs(const QVariantList &list)
{
    QList<Program> out;
    QHash<QString, int> seen;
    for (const QVariant &item : list) {
        if (item.metaType().id() != QMetaType::QVariantMap)
            continue;
        const QByteArray hash = QCryptographicHash::hash(program::url(item).trimmed().toUtf8(),
                                                         QCryptographicHash::Sha1)
                                    .toHex()
                                    .left(16);
        QString key = QString::fromLatin1(hash);
        const int n = ++seen[key];
        if (n > 1)
            key += QStringLiteral("_%1").arg(n);
        out.append({key, int(out.size()), item.toMap()});
    }
    return out;
}

void chosen(const Program &program)
{
    lastChosen() = program;
}

int positionOf(const QVariantMap &current, const QList<Program> &list)
{
    if (current.isEmpty())
        return -1;
    const Program &last = lastChosen();
    if (last.position >= 0 && last.position < list.size() &&
        program::isEqual(last.entry, current) &&
        program::isEqual(list.at(last.position).entry, current))
        return last.position;
    for (const Program &p : list) {
        if (program::isEqual(p.entry, current))
            return p.position;
    }
    return -1;
}

QString keyOf(const QVariantMap &entry, const QList<Program> &list)
{
    const int at = positionOf(entry, list);
    return at < 0 ? QString() : list.at(at).key;
}

QList<Program> matching(const QStringList &terms, const QList<Program> &list)
{
    QStringList wanted;
    for (const QString &term : terms) {
        const QString t = folded(term.trimmed());
        if (!t.isEmpty())
            wanted << t;
    }
    if (wanted.isEmpty())
        return {};
    std::array<QList<Program>, 3> byRank;
    for (const Program &p : list) {
        const QString name = folded(program::name(p.entry));
        // A term may name the program's group instead; only the name ranks.
        const QString group = folded(program::group(p.entry));
        const bool all = std::all_of(wanted.cbegin(), wanted.cend(), [&](const QString &t) {
            return name.contains(t) || group.contains(t);
        });
        if (all)
            byRank[size_t(rank(name, wanted.first()))] << p;
    }
    return byRank[0] + byRank[1] + byRank[2];
}

Program neighbour(const QVariantMap &current, int step, const QList<Program> &list)
{
    if (list.isEmpty())
        return {};
    const qsizetype at = positionOf(current, list);
    if (at < 0)
        return step >= 0 ? list.constFirst() : list.constLast();
    // Within the current program's group (or among the programs of none).
    QList<qsizetype> ring;
    qsizetype here = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i == at)
            here = ring.size();
        if (programgroups::sameGroup(list.at(i).entry, list.at(at).entry))
            ring << i;
    }
    const qsizetype n = ring.size();
    return list.at(ring.at((((here + step) % n) + n) % n));
}

} // namespace programindex

ProgramListWatcher::ProgramListWatcher(QObject *parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)), m_settle(new QTimer(this))
{
    m_path = CacheManager::shareIntance()->getDataPath();
    m_settle->setSingleShot(true);
    m_settle->setInterval(50);
    connect(m_settle, &QTimer::timeout, this, &ProgramListWatcher::changed);
    auto touched = [this] {
        rewatch();
        m_settle->start();
    };
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, touched);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, touched);
    m_watcher->addPath(QFileInfo(m_path).absolutePath());
    rewatch();
}

void ProgramListWatcher::rewatch()
{
    // A rename put a new file in place: the old watch went with the old one.
    if (!m_watcher->files().contains(m_path) && QFileInfo::exists(m_path))
        m_watcher->addPath(m_path);
}

#include "moc_ProgramIndex.cpp"
