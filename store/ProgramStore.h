#pragma once

#include "store/ProgramIndex.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// The program list file as the application's features see it: one object,
// made by the application and handed to whoever needs it, that says when
// the list or the current program changed. A write of this process is told
// right after it reached the disk, a change by another process once the
// file watcher notices it; nothing is told when the file holds what it held.
//
// Changes still go through CacheManager. What the store hands out is what
// the file held at its last change: the programs of the list are worked out
// again only after the list changed.
class ProgramStore : public QObject {
    Q_OBJECT
public:
    explicit ProgramStore(QObject *parent = nullptr);
    ~ProgramStore() override;

    // The programs of the list (see programindex::programs()).
    QList<programindex::Program> programs();
    // The program whose key is `key`; an empty key when none is.
    programindex::Program program(const QString &key);
    // The current program; empty when there is none.
    QVariantMap currentProgram() const { return m_live; }
    // The list's groups (see CacheManager::getGroups()); a change of them
    // is a change of the list.
    QStringList groups() const { return m_groups; }

Q_SIGNALS:
    void listChanged();
    void currentProgramChanged();

private:
    void take(const QVariantMap &top);
    void fileTouched();
    void remember();

    int m_observer = 0;
    ProgramListWatcher *m_watcher;
    QVariantList m_list;
    QVariantMap m_live;
    QStringList m_groups;
    QList<programindex::Program> m_programs;
    bool m_programsKnown = false;
    // The file as this store last saw it (device, inode, size, time of the
    // last change): a watcher's report of the store's own write is not read.
    QByteArray m_seen;
    QString m_path;
};
