#include "store/ProgramGroups.h"

#include "store/ProgramEntry.h"
#include "store/ProgramImport.h"

#include <QHash>
#include <QSet>

namespace programgroups {

QString cleanName(const QString &name)
{
    return programimport::cleanName(name);
}

QStringList names(const QVariantList &list, const QVariant &created)
{
    QStringList out;
    QSet<QString> seen;
    auto add = [&](const QString &name) {
        if (!name.isEmpty() && !seen.contains(name)) {
            seen.insert(name);
            out << name;
        }
    };
    const int type = created.metaType().id();
    if (type == QMetaType::QVariantList || type == QMetaType::QStringList) {
        for (const QVariant &v : created.toList()) {
            if (v.metaType().id() == QMetaType::QString)
                add(v.toString());
        }
    }
    for (const QVariant &item : list)
        add(program::group(item));
    return out;
}

QList<Section> sections(const QVariantList &list, const QStringList &groups)
{
    QList<Section> out{Section{}};
    QHash<QString, qsizetype> at;
    for (const QString &g : groups) {
        if (!g.isEmpty() && !at.contains(g)) {
            at.insert(g, out.size());
            out.append(Section{g, {}});
        }
    }
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString g = program::group(list.at(i));
        auto it = at.constFind(g);
        if (g.isEmpty()) {
            out[0].items << i;
        } else if (it != at.cend()) {
            out[*it].items << i;
        } else {
            at.insert(g, out.size());
            out.append(Section{g, {i}});
        }
    }
    return out;
}

QVariantList regrouped(const QVariantList &list, const QString &from, const QString &to)
{
    QVariantList out = list;
    for (QVariant &item : out) {
        if (item.metaType().id() == QMetaType::QVariantMap && !from.isEmpty() &&
            program::group(item) == from)
            item = program::withGroup(item.toMap(), to);
    }
    return out;
}

bool sameGroup(const QVariant &a, const QVariant &b)
{
    return program::group(a) == program::group(b);
}

} // namespace programgroups
