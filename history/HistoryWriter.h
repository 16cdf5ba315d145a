#pragma once

#include "platform/base/SerialWorker.h"

#include <QString>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>

class QObject;
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
    // with the outcome (Ready or Failed) on `receiver`'s thread while the
    // receiver lives. Writes handed over to a file that could not be opened
    // are dropped.
    HistoryWriter(const QString &path, Opener open, QObject *receiver,
                  std::function<void(Opening)> opened);
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
    struct Connection;
    // On the writer's thread.
    Opening openFile();
    bool write(const Job &job);
    bool upkeepStep();
    void closeFile();

    QString m_path;
    Opener m_open;
    // The writer's thread only.
    std::unique_ptr<Connection> m_connection;
    std::optional<Upkeep> m_upkeep;
    std::unique_ptr<Pass> m_pass;
    bool m_tried = false;
    // Told to the other threads.
    std::atomic<Opening> m_opening = Opening::Busy;
    std::promise<void> m_firstTry;
    std::shared_future<void> m_firstTried = m_firstTry.get_future().share();
    std::atomic<qint64> m_writesWaiting = 0;
    SerialWorker m_worker; // last: its thread runs what is posted once the rest is made
};
