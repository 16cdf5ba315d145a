#include "schedule/ScheduleFile.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "store/ProgramEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <climits>

using schedule::Problem;
using schedule::Schedule;

namespace {

const QString kNewerFile = QStringLiteral(
    "the schedules file was written by a newer version of Orbitune and is only read");

const QString kColumns = QStringLiteral(
    "program_name, program_url, program_image, action, start_date, start_time, weekdays, "
    "length_minutes, enabled, fade_in_seconds, volume");

// What a failure says of the file, by SQLite's primary result code.
int primaryCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

bool isInteger(const QVariant &v)
{
    return v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int;
}

bool isText(const QVariant &v)
{
    return v.typeId() == QMetaType::QString;
}

// A value as a message quotes it: one short line.
QString quoted(const QVariant &v)
{
    QString text = v.toString().simplified();
    if (text.size() > 40)
        text = text.left(40) + QChar(0x2026);
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QVariant timeValue(QTime t)
{
    return t.toString(t.second() ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

QVariant dateValue(QDate d)
{
    return d.isValid() ? QVariant(d.toString(Qt::ISODate))
                       : QVariant(QMetaType::fromType<QString>());
}

// Text as the file keeps it: never NULL.
QVariant text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

QVariantList values(const Schedule &s)
{
    return {text(program::name(s.program)),
            text(program::url(s.program)),
            text(program::image(s.program)),
            s.action == schedule::Action::Record ? QStringLiteral("record")
                                                 : QStringLiteral("play"),
            dateValue(s.date),
            timeValue(s.time),
            s.weekdays,
            s.lengthMinutes,
            s.enabled ? 1 : 0,
            s.fadeInSeconds,
            s.volume};
}

// Reads the row `q` stands on into `s`; why it makes no schedule, or empty.
QString readRow(const QSqlQuery &q, Schedule &s)
{
    s.id = q.value(0).toLongLong();
    const QVariant name = q.value(1), url = q.value(2), image = q.value(3);
    if (!isText(url))
        return QStringLiteral("its program address is not text");
    if (!isText(name) || !(image.isNull() || isText(image)))
        return QStringLiteral("its program's name or picture is not text");
    s.program = program::make(name.toString(), image.toString(), url.toString());

    const QVariant action = q.value(4);
    if (isText(action) && action.toString() == QLatin1String("record"))
        s.action = schedule::Action::Record;
    else if (isText(action) && action.toString() == QLatin1String("play"))
        s.action = schedule::Action::Play;
    else
        return QStringLiteral("its action %1 is neither record nor play").arg(quoted(action));

    const QVariant date = q.value(5);
    if (!date.isNull() && !(isText(date) && date.toString().isEmpty())) {
        s.date = isText(date) ? QDate::fromString(date.toString(), Qt::ISODate) : QDate();
        if (!s.date.isValid())
            return QStringLiteral("its start date %1 is not a date (YYYY-MM-DD)").arg(quoted(date));
    }
    const QVariant time = q.value(6);
    for (const QString &format : {QStringLiteral("H:mm"), QStringLiteral("H:mm:ss")}) {
        if (isText(time) && !s.time.isValid())
            s.time = QTime::fromString(time.toString(), format);
    }
    if (!s.time.isValid())
        return QStringLiteral("its start time %1 is not a time of day (HH:MM)").arg(quoted(time));

    static const char *const numbers[] = {"weekdays",        "length_minutes", "enabled",
                                          "fade_in_seconds", "volume",         "handled_until"};
    qint64 n[6];
    for (int i = 0; i < 6; ++i) {
        const QVariant v = q.value(7 + i);
        if (!isInteger(v))
            return QStringLiteral("its %1 %2 is not a whole number")
                .arg(QLatin1String(numbers[i]), quoted(v));
        n[i] = v.toLongLong();
    }
    if (n[2] != 0 && n[2] != 1)
        return QStringLiteral("its enabled is neither 0 nor 1");
    // Up to the year 9999; 0 for a row added by hand, which starts from now.
    if (n[5] < 0 || n[5] > 253402300799999)
        return QStringLiteral("its handled_until is not a time");
    for (int i : {0, 1, 3, 4}) {
        if (n[i] < INT_MIN || n[i] > INT_MAX)
            return QStringLiteral("its %1 is out of range").arg(QLatin1String(numbers[i]));
    }
    s.weekdays = int(n[0]);
    s.lengthMinutes = int(n[1]);
    s.enabled = n[2] == 1;
    s.fadeInSeconds = int(n[3]);
    s.volume = int(n[4]);
    if (n[5] > 0)
        s.handledUntil = QDateTime::fromMSecsSinceEpoch(n[5], Qt::UTC);
    return schedule::problemWith(s);
}

} // namespace

ScheduleFile::ScheduleFile(const QString &path)
    : m_path(path), m_connection(QStringLiteral("orbitune-schedules-%1").arg(quintptr(this), 0, 16))
{
}

ScheduleFile::~ScheduleFile()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

ScheduleFile::Opened ScheduleFile::open()
{
    m_open = false;
    m_readOnly = false;
    Outcome outcome = openOnce();
    if (outcome == Outcome::Unreadable && keepAside())
        outcome = openOnce();
    m_open = outcome == Outcome::Ready;
    if (m_open)
        return Opened::Ready;
    return outcome == Outcome::Busy ? Opened::Busy : Opened::Failed;
}

ScheduleFile::Outcome ScheduleFile::openOnce()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isValid())
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    QSqlError error;
    if (db.open()) {
        QSqlQuery q(db);
        // A newer Orbitune's file is read as it is: opened again read-only
        // before anything (the journal mode included) could change it.
        if (exec(q, QStringLiteral("PRAGMA user_version")) && q.next() &&
            q.value(0).toInt() > kSchemaVersion) {
            NSLog(lcSchedule(), QtInfoMsg, "schedules: schema %ld is newer than %ld: only read",
                  q.value(0).toInt(), kSchemaVersion);
            q.finish();
            q = QSqlQuery();
            db.close();
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1")
                                     .arg(kBusyTimeoutMs));
            m_readOnly = db.open();
            q = QSqlQuery(db);
            if (m_readOnly && exec(q, QStringLiteral("SELECT count(*) FROM schedules")))
                return Outcome::Ready;
            m_readOnly = false;
        }
        q.finish();
        // quick_check reads every page: a file SQLite can open but not read
        // whole counts as unreadable before anything is written to it.
        if (exec(q, QStringLiteral("PRAGMA journal_mode=DELETE")) &&
            exec(q, QStringLiteral("PRAGMA synchronous=FULL")) &&
            exec(q, QStringLiteral("PRAGMA quick_check")) && q.next()) {
            if (q.value(0).toString() != QStringLiteral("ok")) {
                m_error = QStringLiteral("the file is damaged: ") + q.value(0).toString();
                q.finish();
                return Outcome::Unreadable;
            }
            q.finish();
            if (createSchema(q))
                return Outcome::Ready;
        }
        error = q.lastError().isValid() ? q.lastError() : db.lastError();
    } else {
        error = db.lastError();
        m_error = error.text();
    }
    const int code = primaryCode(error);
    if (code == 11 || code == 26) // SQLITE_CORRUPT, SQLITE_NOTADB
        return Outcome::Unreadable;
    NSLog(lcSchedule(), QtWarningMsg, "schedules: cannot open %@: %@", m_path, m_error);
    db.close();
    return code == 5 || code == 6 ? Outcome::Busy : Outcome::Failed;
}

bool ScheduleFile::createSchema(QSqlQuery &q)
{
    if (!exec(q, QStringLiteral("PRAGMA user_version")) || !q.next())
        return false;
    const int version = q.value(0).toInt();
    q.finish();
    if (version > kSchemaVersion) {
        // Written by a newer Orbitune: read as it is, never downgraded.
        NSLog(lcSchedule(), QtInfoMsg, "schedules: schema %ld is newer than %ld", version,
              kSchemaVersion);
        return true;
    }
    if (version == kSchemaVersion) {
        // A table dropped by hand comes back empty; otherwise nothing is written.
        if (!exec(q, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                                    "name = 'schedules'")))
            return false;
        const bool present = q.next();
        q.finish();
        if (present)
            return true;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction()) {
        m_error = db.lastError().text();
        return false;
    }
    const bool ok =
        exec(q, QStringLiteral("CREATE TABLE IF NOT EXISTS schedules (id INTEGER PRIMARY KEY, "
                               "program_name TEXT NOT NULL DEFAULT '', program_url TEXT NOT NULL, "
                               "program_image TEXT NOT NULL DEFAULT '', action TEXT NOT NULL, "
                               "start_date TEXT, start_time TEXT NOT NULL, "
                               "weekdays INTEGER NOT NULL DEFAULT 0, "
                               "length_minutes INTEGER NOT NULL DEFAULT 0, "
                               "enabled INTEGER NOT NULL DEFAULT 1, "
                               "fade_in_seconds INTEGER NOT NULL DEFAULT 0, "
                               "volume INTEGER NOT NULL DEFAULT 100, "
                               "handled_until INTEGER NOT NULL DEFAULT 0)")) &&
        exec(q, QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion));
    if (!ok) {
        db.rollback();
        return false;
    }
    return db.commit();
}

bool ScheduleFile::keepAside()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const QString keptAs = m_path + QStringLiteral(".unreadable-") +
                           Clock::shared()->currentDateTimeUtc().toLocalTime().toString(
                               QStringLiteral("yyyyMMdd-HHmmss"));
    // Moved while the connection is open: closing it could touch the file.
    const bool kept = QFile::rename(m_path, keptAs);
    if (kept) {
        for (const char *suffix : {"-journal", "-wal", "-shm"}) {
            const QString from = m_path + QLatin1String(suffix);
            if (QFile::exists(from) && !QFile::rename(from, keptAs + QLatin1String(suffix)))
                NSLog(lcSchedule(), QtCriticalMsg, "schedules: could not keep %@ aside", from);
        }
    }
    db.close();
    if (!kept) {
        NSLog(lcSchedule(), QtCriticalMsg, "schedules: could not keep %@ aside", m_path);
        m_error = QStringLiteral("the file cannot be read, nor be put aside");
        return false;
    }
    NSLog(lcSchedule(), QtWarningMsg, "schedules file could not be read; kept it as %@", keptAs);
    m_keptAs = keptAs;
    return true;
}

bool ScheduleFile::exec(QSqlQuery &q, const QString &sql, const QVariantList &values)
{
    bool ok = q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    ok = ok && q.exec();
    if (!ok) {
        m_error = q.lastError().text();
        NSLog(lcSchedule(), QtWarningMsg, "schedules: %@ failed: %@", sql.left(60), m_error);
    }
    return ok;
}

bool ScheduleFile::write(const QString &sql, const QVariantList &values)
{
    if (!m_open) {
        m_error = QStringLiteral("the schedules file is not open");
        return false;
    }
    if (m_readOnly) {
        m_error = kNewerFile;
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    return exec(q, sql, values);
}

bool ScheduleFile::load(QList<Schedule> *schedules, QList<Problem> *problems)
{
    schedules->clear();
    problems->clear();
    if (!m_open)
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!exec(q, QStringLiteral("SELECT id, %1, handled_until FROM schedules ORDER BY id")
                     .arg(kColumns)))
        return false;
    while (q.next()) {
        Schedule s;
        const QString why = readRow(q, s);
        if (why.isEmpty()) {
            schedules->append(s);
            continue;
        }
        const QString message =
            QStringLiteral("Schedule %1 was refused: %2.").arg(q.value(0).toString(), why);
        NSLog(lcSchedule(), QtWarningMsg, "schedules: %@", message);
        problems->append({q.value(0).toLongLong(), message});
    }
    return true;
}

qint64 ScheduleFile::insert(const Schedule &s)
{
    if (!m_open || m_readOnly) {
        m_error = m_open ? kNewerFile : QStringLiteral("the schedules file is not open");
        return 0;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    QVariantList row = values(s);
    row << s.handledUntil.toMSecsSinceEpoch();
    if (!exec(q,
              QStringLiteral("INSERT INTO schedules (%1, handled_until) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                  .arg(kColumns),
              row))
        return 0;
    return q.lastInsertId().toLongLong();
}

bool ScheduleFile::update(const Schedule &s)
{
    QVariantList row = values(s);
    row << s.handledUntil.toMSecsSinceEpoch() << s.id;
    return write(QStringLiteral("UPDATE schedules SET program_name = ?, program_url = ?, "
                                "program_image = ?, action = ?, start_date = ?, start_time = ?, "
                                "weekdays = ?, length_minutes = ?, enabled = ?, "
                                "fade_in_seconds = ?, volume = ?, handled_until = ? WHERE id = ?"),
                 row);
}

bool ScheduleFile::remove(qint64 id)
{
    return write(QStringLiteral("DELETE FROM schedules WHERE id = ?"), {id});
}

bool ScheduleFile::setHandledUntil(qint64 id, const QDateTime &until)
{
    return write(QStringLiteral("UPDATE schedules SET handled_until = ? WHERE id = ?"),
                 {until.toMSecsSinceEpoch(), id});
}
