#pragma once

#include "platform/stream/OggPageReader.h"

#include <QByteArray>
#include <QList>

#include <deque>

// Where the pages of an Ogg stream begin, and the header pages of each of its
// chains (a chain's BOS pages and the pages after them up to its first audio
// page), read from the stream's bytes as they come, pages whose checksums
// hold (OggPageReader). Playback that starts
// over in the middle of a chain starts at a page and, when the decoder was
// in another chain (a reconnect begins a new one), is handed that chain's
// headers first: without them its audio cannot be decoded.
class OggChains {
public:
    // The stream's next bytes, which begin at `offset`.
    void append(qint64 offset, const QByteArray &bytes);
    // A new connection, whose bytes begin at `offset`: a new chain. A page
    // cut short by the old one's end does not go on.
    void restart(qint64 offset);
    // Everything before `offset` has gone, but the headers of the chain
    // that plays there.
    void forgetBefore(qint64 offset);

    // How to start playing over at `offset` when the decoder was last
    // handed the bytes from `handed` up to `handedEnd`: at the page `offset`
    // is in (at the start of the headers it is within, if it is), and
    // whether that is in another chain than some of those bytes (the
    // decoder may be in either), whose headers go first when they are
    // behind it.
    struct Start {
        qint64 offset = 0;
        bool otherChain = false;
        QByteArray headers;
    };
    Start startAt(qint64 offset, qint64 handed, qint64 handedEnd) const;

    // Bytes per second of audio, from the granule positions of the pages
    // read so far; 0 until a few seconds are known.
    double byteRate() const;

private:
    struct Chain {
        qint64 start = 0;
        qint64 headersEnd = 0;
        QByteArray headers;
        bool complete = false; // its headers are
        int rate = 0;          // of its granule positions, per second; 0: not known
        qint64 granule = -1;   // the last one seen, and where its page ends
        qint64 end = 0;
    };
    void page(qint64 offset, const QByteArray &page);
    // The chain that plays at `offset`, or null.
    const Chain *chainAt(qint64 offset) const;

    QList<Chain> m_chains;
    std::deque<qint64> m_pages; // where each page begins
    OggPageReader m_reader;
    qint64 m_bytes = 0; // of audio pages timed, and their time
    double m_seconds = 0;
};
