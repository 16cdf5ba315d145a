#include "platform/stream/TimelineRing.h"

#include "platform/base/Log.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One block of the whole capacity, taken at the first write and never
// filled in: the system gives it pages only as the stream writes them, so a
// long buffer costs memory only for what was kept so far, and growing it
// never leaves copies behind.
class MemoryRing : public TimelineRing {
public:
    explicit MemoryRing(qint64 capacity) : TimelineRing(capacity) {}
    bool isFile() const override { return false; }

protected:
    bool put(qint64 at, const char *bytes, qint64 n) override
    {
        if (!m_bytes)
            m_bytes.reset(new char[size_t(capacity())]);
        std::memcpy(m_bytes.get() + at, bytes, size_t(n));
        m_written = qMax(m_written, at + n);
        return true;
    }
    void get(qint64 at, char *into, qint64 n) const override
    {
        const qint64 have = qBound<qint64>(0, m_written - at, n);
        if (have > 0)
            std::memcpy(into, m_bytes.get() + at, size_t(have));
        std::memset(into + have, 0, size_t(n - have)); // never written
    }

private:
    std::unique_ptr<char[]> m_bytes;
    qint64 m_written = 0;
};

// A file unlinked as soon as it is open: only our descriptor keeps it, so
// the system removes it when we quit, or crash, and nothing is left for the
// next start to clean. It grows as written, like the memory ring.
class FileRing : public TimelineRing {
public:
    FileRing(qint64 capacity, int fd) : TimelineRing(capacity), m_fd(fd) {}
    ~FileRing() override { ::close(m_fd); }
    bool isFile() const override { return true; }

protected:
    bool put(qint64 at, const char *bytes, qint64 n) override
    {
        for (qint64 done = 0; done < n;) {
            const ssize_t wrote = ::pwrite(m_fd, bytes + done, size_t(n - done), at + done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                if (!m_failed)
                    NSLog(lcMedia(), QtWarningMsg, "time-shift: cannot write its file: %@",
                          QString::fromLocal8Bit(std::strerror(errno)));
                m_failed = true;
                return false;
            }
            done += wrote;
        }
        return true;
    }
    void get(qint64 at, char *into, qint64 n) const override
    {
        qint64 done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd, into + done, size_t(n - done), at + done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
        std::memset(into + done, 0, size_t(n - done)); // never written, or unreadable
    }

private:
    int m_fd;
    bool m_failed = false;
};

} // namespace

std::unique_ptr<TimelineRing> TimelineRing::make(qint64 capacity, bool keptInFile)
{
    if (keptInFile) {
        if (auto ring = inFile(capacity, fileDirectory()))
            return ring;
        NSLog(lcMedia(), QtWarningMsg, "time-shift: no file in %@; keeping %@ MB in memory",
              fileDirectory(), QString::number(capacity >> 20));
    }
    return inMemory(capacity);
}

std::unique_ptr<TimelineRing> TimelineRing::inMemory(qint64 capacity)
{
    return std::unique_ptr<TimelineRing>(new MemoryRing(qMax<qint64>(1, capacity)));
}

std::unique_ptr<TimelineRing> TimelineRing::inFile(qint64 capacity, const QString &dir)
{
    if (!QDir().mkpath(dir))
        return nullptr;
    const QByteArray path = QFile::encodeName(dir);
    int fd = ::open(path.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) { // a file system without O_TMPFILE
        QByteArray name = path + "/timeline-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.constData());
    }
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<TimelineRing>(new FileRing(qMax<qint64>(1, capacity), fd));
}

QString TimelineRing::fileDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/timeline");
}

bool TimelineRing::write(qint64 offset, const char *bytes, qint64 n)
{
    if (n > m_capacity) {
        bytes += n - m_capacity;
        offset += n - m_capacity;
        n = m_capacity;
    }
    const qint64 at = offset % m_capacity;
    const qint64 first = qMin(n, m_capacity - at);
    return put(at, bytes, first) && (first == n || put(0, bytes + first, n - first));
}

void TimelineRing::read(qint64 offset, char *into, qint64 n) const
{
    n = qMin(n, m_capacity);
    const qint64 at = offset % m_capacity;
    const qint64 first = qMin(n, m_capacity - at);
    get(at, into, first);
    if (first < n)
        get(0, into + first, n - first);
}
