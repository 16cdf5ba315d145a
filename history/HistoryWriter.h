#pragma once

#include <QString>
#include <QVariantList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class QSqlDatabase;
class QSqlQuery;

// Every write to the history file, made on a thread of its own through a
// connection of its own, in the order asked: recording a title only hands
// its row over, and never waits for the disk, for another process holding
// the file, or for the upkeep. The thread opens the file first; while
// another process holds it, it tries again after a pause (growing from a
// tenth of a second to a few seconds), and the writes handed over meanwhile
// wait. When no write is waiting, the thread does the file's upkeep a small
// step at a time: trimming the history to its bounds, merging the full-text
// index's segments, folding the log into the file. A write waits for at
// most the step under way.
class HistoryWriter {
public:
    using Job = std::function<bool(QSqlQuery &)>;

    // Where opening the file stands.
    enum class Opening { Busy, Ready, Failed };
    // One attempt at opening the file through the writer's connection (its
    // file and busy timeout set); tried again after a pause while it says
    // Busy, and once more when the writer ends before the file opened.
    using Opener = std::function<Opening(QSqlDatabase &db)>;

    struct Upkeep {
        bool merge = false;
        // Songs that began before this (ms since the epoch, UTC) go; 0 keeps
        // them.
        qint64 dropBefore = 0;
        // Songs beyond this many, oldest first, go; 0 keeps them.
        int keepAtMost = 0;
        bool checkpoint = false;
    };

    // What a connection waits for a file another process holds before the
    // write is given up.
    static constexpr int kBusyTimeoutMs = 250;
    // Work per upkeep step.
    static constexpr int kMergePagesPerStep = 16;
    static constexpr int kRowsPerStep = 50;

    // Runs `sql` with `values` bound in order; logs a failure to run it at
    // `level` and returns false.
    static bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values = {},
                     QtMsgType level = QtWarningMsg);

    // Opens `path` with `open` on the writer's thread, then calls `opened`
    // there with the outcome (Ready or Failed). Writes handed over to a file
    // that could not be opened are dropped.
    HistoryWriter(const QString &path, Opener open, std::function<void(Opening)> opened);
    // Writes what was handed over, then ends; an upkeep pass under way stops
    // after its current step.
    ~HistoryWriter();

    // Where opening the file stands; with `firstTry`, after waiting for the
    // first attempt to end.
    Opening opening(bool firstTry);

    // Hands a write over; it runs after every write handed over before.
    void post(Job job);
    // The same, waiting for its result.
    bool call(Job job);
    // Waits until every write handed over so far is done.
    void waitForWrites();
    // Asks for an upkeep pass; one asked for while another is pending or
    // under way is folded into the next.
    void upkeep(const Upkeep &pass);
    // Waits until no write and no upkeep is left (tests and benchmarks).
    void waitForUpkeep();

private:
    struct Pass;
    void run();
    // Tries until the file opens, cannot be opened, or the writer ends.
    bool open(QSqlDatabase &db);
    quint64 enqueue(Job job);
    void waitFor(quint64 sequence);

    QString m_path;
    Opener m_open;
    std::function<void(Opening)> m_opened;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    quint64 m_posted = 0;
    quint64 m_done = 0;
    std::optional<Upkeep> m_upkeep;
    bool m_upkeepRunning = false;
    bool m_stopping = false;
    bool m_tried = false;
    Opening m_opening = Opening::Busy;
    std::thread m_thread; // last: starts once the rest is made
};
