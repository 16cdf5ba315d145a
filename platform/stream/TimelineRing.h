#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// The bytes of a StreamTimeline: a ring of `capacity` bytes where the byte
// at offset o lives at o % capacity, so a write over the end overwrites the
// oldest. Kept in memory, or in a file under the cache directory (for long
// buffers). The caller keeps track of which offsets are still held.
class TimelineRing {
public:
    // In a file under the cache directory if `keptInFile` (in memory if none
    // can be made: logged), in memory otherwise.
    static std::unique_ptr<TimelineRing> make(qint64 capacity, bool keptInFile);
    static std::unique_ptr<TimelineRing> inMemory(qint64 capacity);
    // Null if no file could be made in `dir` (made if missing).
    static std::unique_ptr<TimelineRing> inFile(qint64 capacity, const QString &dir);
    // Where the files go: the cache directory's "timeline" folder.
    static QString fileDirectory();

    virtual ~TimelineRing() = default;
    qint64 capacity() const { return m_capacity; }
    virtual bool isFile() const = 0;
    // `n` bytes from `bytes` at `offset` on; only the last `capacity` of
    // them stay when n is larger. False when they could not all be kept (a
    // full disk): what is there from `offset` on is then not theirs.
    bool write(qint64 offset, const char *bytes, qint64 n);
    // `n` (at most capacity) bytes from `offset` on into `into`.
    void read(qint64 offset, char *into, qint64 n) const;

protected:
    explicit TimelineRing(qint64 capacity) : m_capacity(capacity) {}
    // Within the ring: `at + n` never passes capacity.
    virtual bool put(qint64 at, const char *bytes, qint64 n) = 0;
    virtual void get(qint64 at, char *into, qint64 n) const = 0;

private:
    qint64 m_capacity;
};
