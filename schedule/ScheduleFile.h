#pragma once

#include "schedule/Schedule.h"

#include <QList>
#include <QString>

class QSqlQuery;

// The schedules file: SQLite, a file of its own, one row per schedule, with
// a schema version. Rollback journal and full sync: a change is a single
// statement, on the disk when the call returns, so the file holds the old
// row or the new one, never half of either. Every change is quick (one row)
// and made on the caller's thread; a file another process holds is waited
// for at most kBusyTimeoutMs, then the change fails and says so.
//
// The file may be edited by hand. A row that makes no schedule is refused
// when the file is read: left in the file as it is, never changed by us,
// and told as a Problem with its id and the reason. A file SQLite calls
// corrupt or no database is kept aside as "<file>.unreadable-<time>" (its
// journal along with it) and a fresh one begun. A file of a newer schema
// version is opened read-only and every change to it refused.
class ScheduleFile {
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kBusyTimeoutMs = 250;

    enum class Opened {
        Ready,
        Busy,   // another process holds it: try again later
        Failed, // anything else; lastError() says what
    };

    explicit ScheduleFile(const QString &path);
    ~ScheduleFile();
    ScheduleFile(const ScheduleFile &) = delete;
    ScheduleFile &operator=(const ScheduleFile &) = delete;

    Opened open();
    bool isOpen() const { return m_open; }
    bool isReadOnly() const { return m_readOnly; }
    QString path() const { return m_path; }
    // Where an unreadable file was kept when a fresh one was begun; empty
    // when nothing was put aside.
    QString keptAsideAs() const { return m_keptAs; }

    // The schedules the file holds, in id order, and the rows refused.
    bool load(QList<schedule::Schedule> *schedules, QList<schedule::Problem> *problems);
    // The new row's id; 0 when it could not be written.
    qint64 insert(const schedule::Schedule &s);
    bool update(const schedule::Schedule &s);
    bool remove(qint64 id);
    bool setHandledUntil(qint64 id, const QDateTime &until);
    // The last failure, in a sentence.
    QString lastError() const { return m_error; }

private:
    enum class Outcome { Ready, Busy, Unreadable, Failed };
    Outcome openOnce();
    bool createSchema(QSqlQuery &q);
    bool keepAside();
    bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values = {});
    bool write(const QString &sql, const QVariantList &values);

    QString m_path;
    QString m_connection;
    QString m_keptAs;
    QString m_error;
    bool m_open = false;
    bool m_readOnly = false; // written by a newer Orbitune
};
