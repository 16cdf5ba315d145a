// Fuzz target for stream titles: ICY metadata blocks, text of unknown
// encoding, titles read as Latin-1 and repaired, character references and
// the split into artist and title. Valid UTF-8 reads as itself, and nothing
// makes a title longer than its bytes allow.

#include "FuzzSupport.h"
#include "platform/stream/StreamTitle.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const QString decoded = streamtitle::decode(bytes);
    fuzz::check(decoded.size() <= bytes.size(), "decoded text longer than its bytes");
    const QString utf8 = QString::fromUtf8(bytes);
    if (utf8.toUtf8() == bytes)
        fuzz::check(decoded == utf8, "valid UTF-8 did not read as itself");

    const QString latin1 = QString::fromLatin1(bytes);
    fuzz::check(streamtitle::repairLatin1(latin1).size() <= latin1.size(),
                "a repaired title is longer than the one read");
    fuzz::check(streamtitle::decodeCharacterReferences(decoded).size() <= decoded.size(),
                "references decoded into more than they took");

    const qsizetype half = bytes.indexOf('\0');
    streamtitle::fromTags(bytes.left(half < 0 ? bytes.size() : half),
                          half < 0 ? QByteArray() : bytes.mid(half + 1));
    const QString icy = streamtitle::fromIcyMetadata(bytes);
    fuzz::check(icy.size() <= bytes.size(), "a StreamTitle longer than its block");

    const streamtitle::Parts parts = streamtitle::split(decoded);
    fuzz::check(parts.artist.isEmpty() || !parts.title.isEmpty(),
                "an artist split off without a title");
    fuzz::check(parts.artist.size() + parts.title.size() <= decoded.size(),
                "the split is longer than the title");
    return 0;
}
