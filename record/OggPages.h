#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading Ogg pages as they arrive: where a page ends, which pages begin a
// stream (and hold its header packets), and the title in its comments.
namespace oggpages {

// The length of the whole page starting at `data`: 0 while it is not
// complete in `size` bytes, -1 when no page starts there.
qsizetype pageLength(const char *data, qsizetype size);

// Whether a page begins a logical stream (a new song of a chained stream).
bool beginsStream(const QByteArray &page);

// Adds the packets a page completes to `done`; `partial` carries a packet
// that goes on in the next page.
void collectPackets(const QByteArray &page, QByteArray *partial, QList<QByteArray> *done);

// How many header packets a stream has, from its first packet: Vorbis 3,
// Opus and Speex 2, FLAC as its mapping says, anything else 1.
int headerPacketCount(const QByteArray &firstPacket);

// "Artist - Title" from a Vorbis or Opus comment packet; empty if none.
QString titleFromComments(const QByteArray &packet);

// `packet` (Vorbis or Opus comments) with the fields named in `fields`
// ("TITLE", ...) set to the given values (empty ones removed) and the other
// comments kept; other packets are returned as they are.
QByteArray withComments(const QByteArray &packet, const QList<QPair<QByteArray, QString>> &fields);

// The header packets of a stream paged afresh for a file of its own: the
// first alone on a page that begins the stream, the others after it, under
// the stream's serial number, with checksums.
QByteArray headerPages(const QList<QByteArray> &packets, quint32 serial);

// The serial number of the stream a page belongs to.
quint32 serialOf(const QByteArray &page);

} // namespace oggpages
