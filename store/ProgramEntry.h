#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// Program entries are plain dictionaries. These read their string keys; a
// missing key, or a value that is not a string, reads as an empty string.
namespace program {

inline QString stringValue(const QVariant &entry, const char *key)
{
    if (entry.metaType().id() != QMetaType::QVariantMap)
        return {};
    const QVariant v = entry.toMap().value(QString::fromLatin1(key));
    return v.metaType().id() == QMetaType::QString ? v.toString() : QString();
}

inline QString name(const QVariant &entry)
{
    return stringValue(entry, "name");
}
inline QString image(const QVariant &entry)
{
    return stringValue(entry, "image");
}
inline QString url(const QVariant &entry)
{
    return stringValue(entry, "url");
}

// The group a program belongs to; empty when it belongs to none (no "group"
// key, or one that is not a string).
inline QString group(const QVariant &entry)
{
    // Read for every program each time a list is shown: no copies, no
    // allocation for the key.
    if (entry.metaType().id() != QMetaType::QVariantMap)
        return {};
    const auto &map = *static_cast<const QVariantMap *>(entry.constData());
    const auto it = map.constFind(QStringLiteral("group"));
    return it != map.cend() && it->metaType().id() == QMetaType::QString ? it->toString()
                                                                         : QString();
}
// `entry` in `group`, every other key kept; an empty group takes the key out.
inline QVariantMap withGroup(QVariantMap entry, const QString &group)
{
    if (group.isEmpty())
        entry.remove(QStringLiteral("group"));
    else
        entry.insert(QStringLiteral("group"), group);
    return entry;
}

inline QVariantMap make(const QString &name, const QString &image, const QString &url)
{
    QVariantMap entry;
    entry.insert(QStringLiteral("name"), name);
    entry.insert(QStringLiteral("image"), image);
    entry.insert(QStringLiteral("url"), url);
    return entry;
}

// Deep equality: the same keys with values of the same type and content,
// all the way down.
bool isEqual(const QVariant &a, const QVariant &b);

} // namespace program
