#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class SerialWorker;

// Writes recorded files on a worker thread of its own, in the order asked,
// so that the main thread never waits for the disk. What happened comes back
// on the main thread through the callbacks, delivered to `receiver`.
class RecordingWriter {
public:
    struct File;
    using Handle = std::shared_ptr<File>;
    // The file ended: where it is (empty when it was dropped or never made)
    // and an error text when a write failed.
    using Done = std::function<void(const QString &path, const QString &error)>;

    explicit RecordingWriter(QObject *receiver);
    // Waits for what is still to be written.
    ~RecordingWriter();

    // A new file in `folder` (made if missing) named `name`, or "name (2)"
    // and so on if that is taken, starting with `header`.
    Handle open(const QString &folder, const QString &name, const QByteArray &header);
    void append(const Handle &file, const QByteArray &bytes);
    // Closes the file, renamed `rename` (or "rename (2)" and so on if that is
    // taken) unless that is empty; `drop` removes it. `done` hears the
    // outcome.
    void close(const Handle &file, const QString &rename, bool drop, Done done);
    // Bytes asked for and not written yet.
    qint64 pendingBytes() const { return m_pending->load(); }
    // Whether a write to the file failed (safe to ask while it is written).
    static bool hasFailed(const Handle &file);
    // Waits for what is still to be written and delivers the outcomes now,
    // on the receiver's thread (a receiver going away takes them itself).
    void finish();

private:
    QObject *m_receiver;
    std::unique_ptr<SerialWorker> m_worker;
    std::shared_ptr<std::atomic<qint64>> m_pending = std::make_shared<std::atomic<qint64>>(0);
};
