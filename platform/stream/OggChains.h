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

    // The chain that plays at `offset`: where it begins, where its header
    // pages end, those pages (none when they were too large to keep) and
    // whether they are all there; `start` -1 when there is none.
    struct Headers {
        qint64 start = -1;
        qint64 end = 0;
        QByteArray pages;
        bool complete = false;
    };
    Headers headersAt(qint64 offset) const;
    // Where the pages within [from, to), whole or in part, begin and end,
    // pages that follow each other as one; bytes outside pages are not in it.
    QList<std::pair<qint64, qint64>> pagesIn(qint64 from, qint64 to) const;
    // Where what can be read whole ends: the last page read, or before it
    // a chain whose header pages are not all there yet; `end` when neither.
    qint64 wholeEnd(qint64 end) const;
    // The first page that begins at or after `offset`; -1 if none yet.
    qint64 pageFrom(qint64 offset) const;

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
    std::deque<qint64> m_pages;    // where each page begins
    std::deque<qint64> m_pageEnds; // and ends
    OggPageReader m_reader;
    qint64 m_bytes = 0; // of audio pages timed, and their time
    double m_seconds = 0;
};
