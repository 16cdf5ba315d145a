#include "record/RecordingWriter.h"

#include "platform/base/Log.h"
#include "platform/base/SerialWorker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

struct RecordingWriter::File {
    QFile file;
    QString error; // the writer's thread only
    std::atomic_bool failed = false;

    void fail(const QString &text)
    {
        error = text;
        failed = true;
    }
};

bool RecordingWriter::hasFailed(const Handle &file)
{
    return file && file->failed;
}

namespace {

// `name`, or for n > 1 "name (n)"; names leave room for it.
QString candidate(const QString &name, int n)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return n == 1 ? name : name.left(dot) + QStringLiteral(" (%1)").arg(n) + name.mid(dot);
}

// Opens a file that did not exist before: nothing of the listener's is
// overwritten.
bool openNew(QFile &file, const QString &folder, const QString &name)
{
    for (int n = 1; n < 100; ++n) {
        file.setFileName(QDir(folder).filePath(candidate(name, n)));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        if (file.error() != QFileDevice::OpenError || !QFile::exists(file.fileName()))
            return false;
    }
    return false;
}

bool writeAll(QFile &file, const QByteArray &bytes)
{
    const qint64 before = file.size();
    if (file.write(bytes) == bytes.size())
        return true;
    // A full disk took part of it: the file ends where the last whole
    // write did, which plays.
    file.resize(before);
    return false;
}

} // namespace

RecordingWriter::RecordingWriter(QObject *receiver)
    : m_receiver(receiver),
      m_worker(std::make_unique<SerialWorker>(QStringLiteral("recording-writer")))
{
}

RecordingWriter::~RecordingWriter() = default;

void RecordingWriter::finish()
{
    m_worker->wait();
    asynctask::ReplyTo(m_receiver).deliverQueued();
}

RecordingWriter::Handle RecordingWriter::open(const QString &folder, const QString &name,
                                              const QByteArray &header)
{
    auto handle = std::make_shared<File>();
    *m_pending += header.size();
    m_worker->post([handle, folder, name, header, pending = m_pending] {
        *pending -= header.size();
        if (!QDir().mkpath(folder)) {
            handle->fail(QStringLiteral("Cannot make the folder %1").arg(folder));
            return;
        }
        if (!openNew(handle->file, folder, name)) {
            handle->fail(QStringLiteral("Cannot write %1: %2")
                             .arg(handle->file.fileName(), handle->file.errorString()));
            return;
        }
        if (!header.isEmpty() && !writeAll(handle->file, header))
            handle->fail(QStringLiteral("Cannot write %1: %2")
                             .arg(handle->file.fileName(), handle->file.errorString()));
    });
    return handle;
}

void RecordingWriter::append(const Handle &file, const QByteArray &bytes)
{
    if (!file || bytes.isEmpty())
        return;
    *m_pending += bytes.size();
    m_worker->post([file, bytes, pending = m_pending] {
        *pending -= bytes.size();
        if (!file->error.isEmpty() || !file->file.isOpen())
            return;
        if (!writeAll(file->file, bytes))
            file->fail(QStringLiteral("Cannot write %1: %2")
                           .arg(file->file.fileName(), file->file.errorString()));
    });
}

void RecordingWriter::close(const Handle &file, const QString &rename, bool drop, Done done)
{
    if (!file)
        return;
    using Outcome = std::pair<QString, QString>;
    auto work = [file, rename, drop]() -> Outcome {
        QString path = file->file.fileName();
        const bool opened = file->file.isOpen();
        file->file.close();
        if (!opened) {
            path.clear();
        } else if (drop) {
            QFile::remove(path);
            path.clear();
        } else if (!rename.isEmpty()) {
            // A file that exists is never replaced.
            const QDir folder = QFileInfo(path).dir();
            for (int n = 1; n < 100 && !file->file.rename(folder.filePath(candidate(rename, n)));)
                ++n;
            path = file->file.fileName();
        }
        const QString error = file->error;
        if (!error.isEmpty())
            NSLog(lcRecord(), QtWarningMsg, "recording: %@", error);
        return {path, error};
    };
    m_worker->post(m_receiver, std::move(work), [done = std::move(done)](const Outcome &outcome) {
        done(outcome.first, outcome.second);
    });
}
