#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The header packets of an Ogg stream (Vorbis, Opus, Speex, FLAC): when they
// are all there, the title in their comments, the comments set afresh and
// the packets paged afresh for a file of their own.
namespace oggpages {

// Whether `packets`, the first packets of a stream, hold all its headers:
// Vorbis 3, Opus and Speex 2, FLAC up to the metadata block marked last,
// anything else 1.
bool headersComplete(const QList<QByteArray> &packets);

// "Artist - Title" from the comments among the header packets; empty if none.
QString titleFromComments(const QList<QByteArray> &packets);

// The header packets with the comment fields named in `fields` ("TITLE",
// ...) set to the given values (empty ones removed) and the other comments
// kept.
QList<QByteArray> withComments(QList<QByteArray> packets,
                               const QList<QPair<QByteArray, QString>> &fields);

// The header packets paged for a file of their own: the first alone on the
// page that begins the stream, the others after it, under the stream's
// serial number, with checksums; the audio that follows begins a new page.
QByteArray headerPages(const QList<QByteArray> &packets, quint32 serial);

} // namespace oggpages
