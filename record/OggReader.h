#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// An Ogg stream as it arrives, in reads of any size, taken apart with
// libogg: whole pages whose checksums hold, and where each chained stream
// begins, with its header packets and the title in its comments. Bytes
// outside pages, pages before the first stream begins and pages of another
// logical stream than the chain's first are let go, as a player's demuxer
// lets them go.
class OggReader {
public:
    struct Chain {
        quint32 serial = 0;
        QList<QByteArray> packets; // none: its headers were too large to keep
        QString title;             // "Artist - Title" from its comments
        QByteArray pages;          // its header pages as sent
    };
    // What the pages read are handed to: a chain's header pages once they
    // are all there (or given up), then its other pages one by one.
    struct Sink {
        std::function<void(const Chain &)> chainBegins;
        std::function<void(const QByteArray &)> page;
    };
    // A chain whose header pages take more than this cannot be recorded:
    // its headers are not gathered further, its pages pass as they come.
    static constexpr qsizetype kMaxHeaderBytes = 256 * 1024;

    OggReader();
    ~OggReader();
    OggReader(const OggReader &) = delete;
    OggReader &operator=(const OggReader &) = delete;

    // Forgets a page or headers partly read (a new connection).
    void reset();
    void feed(const char *data, qsizetype size, const Sink &sink);
    // Bytes held for a page or a chain's headers not complete yet.
    qint64 pendingBytes() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
