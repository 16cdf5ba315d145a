#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

// The program list and the current program, kept in one property-list file
// (data.plist in the application's data directory). Nothing is cached: every
// read goes to the file and every change rewrites it atomically, so each
// window sees what another wrote last.
//
// A program entry is a plain dictionary with the string keys "name", "image"
// and "url", and "group" when it is in one (see ProgramEntry.h); the list is
// an array of them under "data", the current program a dictionary under
// "live", the groups the listener created an array of names under "groups".
// Every key an entry holds is written back as it was read.
class CacheManager {
public:
    static CacheManager *shareIntance();

    // Path of the data file; creates an empty file there when none exists.
    QString getDataPath();

    // The program list; empty when the file holds none (or "data" is not a
    // list). Items that are not dictionaries are returned as they are.
    QVariantList getData();
    // The same, and the list's groups (see getGroups()) from the same read.
    QVariantList getData(QStringList *groups);
    // The current program; empty when there is none (or "live" is not a
    // dictionary).
    QVariantMap getLiveData();

    // List and current-program changes. Each rewrites the whole file and
    // returns whether the write reached the disk.
    bool saveData(const QVariantMap &entry);
    // Removes every list item equal to `entry`.
    bool delData(const QVariantMap &entry);
    // The same for any item, a dictionary or not (a hand-edited file may hold
    // strings or numbers in the list): removes every item of the same type
    // and value.
    bool delData(const QVariant &item);
    bool saveLiveData(const QVariantMap &entry);
    // Appends every entry of `entries` in one write: all of them reach the
    // file or, when the write fails, none.
    bool appendData(const QVariantList &entries);
    // Moves the list item at `from` so that it ends up at index `to`, in one
    // write. `expected` is the item the caller saw at `from`; when the file
    // holds something else there (it changed since the caller read it), or
    // either index is out of range, nothing is written and false returned.
    bool moveData(qsizetype from, qsizetype to, const QVariant &expected);
    // The same, and the program joins `group` (empty: no group) in the same
    // write. When it is the current program, that follows.
    bool moveData(qsizetype from, qsizetype to, const QVariant &expected, const QString &group);

    // Groups (see ProgramGroups.h). The names of the list's groups, those
    // created first, in the order they were created.
    QStringList getGroups();
    // Puts the program at `index` (which holds `expected`, as for moveData)
    // into `group`, or into none for an empty one; the current program
    // follows when it is that program.
    bool setGroup(qsizetype index, const QVariant &expected, const QString &group);
    // Creates an empty group; false when the name is empty once cleaned.
    // Creating one that exists changes nothing and succeeds.
    bool addGroup(const QString &name);
    // Renames a group: its programs (and the current program) follow. Into
    // a group that exists, the two become one.
    bool renameGroup(const QString &from, const QString &to);
    // Removes a group; its programs stay in the list, in no group.
    bool removeGroup(const QString &name);

    // Removes the data file. An unreadable file is moved aside instead, so a
    // list nobody could read is never destroyed.
    void delDataPath();
    // Replaces the list and the current program with the shipped defaults,
    // in one write. Returns false, leaving the file as it was, when that
    // write failed or there are no defaults to restore.
    bool redoDefaultData();

    // Seeds the store from the default list when its list is empty; the
    // start-up half of redoDefaultData. All or nothing: returns false when
    // the write failed, and the list stays empty to be seeded next time.
    bool seedDefaultDataIfEmpty();

    // Where the shipped default list is read from (a Qt resource path by
    // default). Tests point it elsewhere.
    static void setDefaultListPath(const QString &path);
    static QString defaultListPath();

    // Told after every write of this process that reached the disk, with the
    // top-level dictionary the file now holds (empty once it was removed).
    // Returns a number for removeWriteObserver().
    using WriteObserver = std::function<void(const QVariantMap &written)>;
    int addWriteObserver(WriteObserver observer);
    void removeWriteObserver(int id);

private:
    CacheManager() = default;
    // Replaces (or, for an invalid value, removes) each key of `changes` in
    // one write of the whole file.
    bool write(const QVariantMap &changes);
    // Writes `list` with the created groups `groups`, and the current
    // program moved from group `from` to `to` when it was there.
    bool writeRegrouped(const QVariantList &list, const QStringList &groups, const QString &from,
                        const QString &to);
    QVariant createdGroups();
    void written(const QVariantMap &top);

    QList<std::pair<int, WriteObserver>> m_observers;
    int m_lastObserver = 0;
};
