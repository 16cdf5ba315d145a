#pragma once

#include "platform/stream/StreamTap.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A point in the kept audio: a new connection, a title the station
// announced there, or an Ogg chained stream beginning (always a new song,
// titled by its comments). Offsets count every byte kept since the keeping
// began.
struct StreamMark {
    enum class Kind { Start, Title, Chain };
    Kind kind = Kind::Title;
    qint64 offset = 0;
    qint64 wallMs = 0; // UTC, when it arrived
    // A chain's title may be left empty: its comments tell it.
    QString title;
    // Unknown: what follows cannot be recorded.
    StreamTap::Format format = StreamTap::Format::Unknown;
    // Starts a song: a connection, or a title change (not the first title
    // after a connection, which names the song already on).
    bool beginsSong = true;
};

// The playing stream's compressed audio as some part of the program keeps
// it, read by the recorder: the bytes between two offsets, where the pieces
// they came in begin (a file starts at one: for Ogg a whole page, the header
// pages of a chain counting as one), when they arrived, the connections and
// titles marked, and each Ogg chain's headers. Read on the thread the
// implementation says.
class KeptAudio {
public:
    // The Ogg stream going on at an offset: where it began, how long its
    // header pages are, its header packets (none: it cannot be recorded)
    // and serial number.
    struct OggHeaders {
        qint64 offset = -1;
        qint64 pagesSize = 0;
        QList<QByteArray> packets;
        quint32 serial = 0;
    };

    virtual ~KeptAudio() = default;
    virtual qint64 startOffset() const = 0;
    virtual qint64 endOffset() const = 0;
    // Where the newest piece begins (what plays now); the end if none.
    virtual qint64 newestPieceStart() const = 0;
    // The first piece that begins at or after `offset`; the end if none.
    virtual qint64 pieceStartFrom(qint64 offset) const = 0;
    // The bytes of [from, to) that are still held.
    virtual QByteArray read(qint64 from, qint64 to) const = 0;
    // When the byte at `offset` arrived (UTC ms); 0 if not held.
    virtual qint64 wallMsAt(qint64 offset) const = 0;
    // The marks of what is held, with the one the oldest song held began at.
    virtual QList<StreamMark> marks() const = 0;
    virtual OggHeaders oggHeadersAt(qint64 offset) const = 0;
};
