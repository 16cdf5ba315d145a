#pragma once

#include "platform/stream/StreamTap.h"

#include <QByteArray>
#include <QString>

// What a recorded file is tagged and named with: the ID3v2.4 tag written in
// front of an MP3 file, the extension of each format.
namespace filetags {

// An ID3v2.4 tag with the given text frames (UTF-8; empty ones left out),
// made by TagLib.
QByteArray id3v24Tag(const QString &artist, const QString &title, const QString &album,
                     const QString &date);

// The file name extension of a format: "mp3", "aac", "ogg"; "bin" otherwise.
QString extension(StreamTap::Format format);

} // namespace filetags
