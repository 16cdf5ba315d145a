#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

// Groups of the program list, one level deep. A program's group is the
// "group" key of its entry; the groups the listener created are kept in
// order under "groups" beside the list, so an empty group stays. The groups
// of the list are those, then any other group a program names, in list
// order.
namespace programgroups {

// Group names are kept like program names (see programimport::cleanName):
// no control characters, white space collapsed, at most 200 characters.
QString cleanName(const QString &name);

// The group names: `created` (a "groups" value as read, or a string list;
// items that are not strings are skipped) followed by those only programs of `list` name.
QStringList names(const QVariantList &list, const QVariant &created);

// The list items in the order the list shows them: the programs of no group
// first, then each group of `groups` in turn, each in list order. A group a
// program names that `groups` lacks comes last. Items that are not programs
// count as ungrouped.
struct Section {
    QString group;          // empty for the programs of no group
    QList<qsizetype> items; // indexes into the list
};
QList<Section> sections(const QVariantList &list, const QStringList &groups);

// `list` with every program of group `from` moved to group `to` (empty: to
// no group); other items as they were.
QVariantList regrouped(const QVariantList &list, const QString &from, const QString &to);

// Whether two entries are in the same group; two of no group are.
bool sameGroup(const QVariant &a, const QVariant &b);

} // namespace programgroups
