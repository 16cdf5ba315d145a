#pragma once

#include <QString>
#include <QVariantList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class QSqlQuery;

// Every write to the history file, made on a thread of its own through a
// connection of its own, in the order asked: recording a title only hands
// its row over, and never waits for the disk, for another process holding
// the file, or for the upkeep. When no write is waiting, the thread does the
// file's upkeep a small step at a time: trimming the history to its bounds,
// merging the full-text index's segments, folding the log into the file. A
// write waits for at most the step under way.
class HistoryWriter {
public:
    using Job = std::function<bool(QSqlQuery &)>;

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

    explicit HistoryWriter(const QString &path);
    // Writes what was handed over, then ends; an upkeep pass under way stops
    // after its current step.
    ~HistoryWriter();

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
    quint64 enqueue(Job job);
    void waitFor(quint64 sequence);

    QString m_path;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    quint64 m_posted = 0;
    quint64 m_done = 0;
    std::optional<Upkeep> m_upkeep;
    bool m_upkeepRunning = false;
    bool m_stopping = false;
    std::thread m_thread;
};
