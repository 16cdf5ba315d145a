// Fuzz target for fragmented MP4 segments (HLS): the first audio track's
// samples as an elementary stream. The input is read as one segment, and as
// an init segment followed by a media segment cut where its first byte
// says. Each sample takes bytes of its own from the segment and gains at
// most an ADTS header of 7 bytes, so the audio is never more than 8 times
// the segment, and what feed returns is what it handed on.

#include "FuzzSupport.h"
#include "platform/stream/Fmp4Audio.h"

#include <cstdint>

namespace {

void readSegment(Fmp4Audio &reader, const QByteArray &segment)
{
    QByteArray handed;
    reader.audio = [&handed](const char *p, qsizetype n) { handed.append(p, n); };
    const QByteArray out = reader.feed(segment);
    fuzz::check(out == handed, "feed returned other audio than it handed on");
    fuzz::check(out.size() <= 8 * segment.size(), "audio out of proportion to the segment");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    Fmp4Audio::looksLike(bytes);
    Fmp4Audio whole;
    readSegment(whole, bytes);

    const qsizetype cut = bytes.size() * data[0] / 256;
    Fmp4Audio split;
    readSegment(split, bytes.left(cut));
    readSegment(split, bytes.mid(cut));
    split.reset(true);
    readSegment(split, bytes);
    return 0;
}
