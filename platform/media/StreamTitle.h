#pragma once

#include <QByteArray>
#include <QString>

// What a stream announces as playing now, from ICY metadata or tags.
namespace streamtitle {

// Text from bytes of unknown encoding: UTF-8 when the bytes are valid UTF-8,
// otherwise Latin-1 (what most older stream servers send).
QString decode(const QByteArray &bytes);

// The StreamTitle value of an ICY metadata block
// ("StreamTitle='Artist - Song';StreamUrl='';"), decoded; empty if absent.
QString fromIcyMetadata(const QByteArray &block);

// "Artist - Title", or whichever of the two is present, trimmed.
QString compose(const QString &title, const QString &artist);

} // namespace streamtitle
