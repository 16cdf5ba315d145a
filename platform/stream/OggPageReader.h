#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

// Whole Ogg pages out of a stream's bytes as they come, in reads of any
// size, taken apart with libogg: each page whose checksum holds, with where
// it begins in the stream. Bytes outside pages are skipped. Between reads
// it holds at most what a page takes.
class OggPageReader {
public:
    using Page = std::function<void(qint64 offset, const QByteArray &page)>;

    OggPageReader();
    ~OggPageReader();
    OggPageReader(const OggPageReader &) = delete;
    OggPageReader &operator=(const OggPageReader &) = delete;

    // The stream's next bytes, which begin at `offset`; bytes that do not
    // follow the last ones read begin afresh, as after reset().
    void feed(qint64 offset, const char *data, qsizetype size, const Page &page);
    // Forgets a page partly read (a new connection).
    void reset();
    // Bytes held for a page not complete yet.
    qint64 pendingBytes() const;

    // A page's parts, for libogg's own functions: the header (with its
    // segment table) and the body that follows it.
    static qsizetype headerLength(const QByteArray &page);

private:
    struct State;
    std::unique_ptr<State> d;
};
