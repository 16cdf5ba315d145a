// Fuzz target for MPEG transport stream segments (HLS): the audio of the
// first audio stream the program map lists. Fed once whole and once in
// pieces of any size, a reader must hand on the same audio, never more than
// it was given, and only after it told the format.

#include "FuzzSupport.h"
#include "platform/stream/TsAudio.h"

#include <cstdint>

namespace {

struct Read {
    QByteArray audio;
    QList<StreamTap::Format> told;
};

Read readStream(const QList<QByteArray> &pieces)
{
    Read read;
    TsAudio ts;
    ts.started = [&read](StreamTap::Format f) { read.told << f; };
    ts.audio = [&read](const char *p, qsizetype n) {
        fuzz::check(!read.told.isEmpty() && read.told.last() != StreamTap::Format::Unknown,
                    "audio before its format was told");
        read.audio.append(p, n);
    };
    ts.reset();
    for (const QByteArray &piece : pieces)
        ts.feed(piece);
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const Read whole = readStream({bytes});
    fuzz::check(whole.audio.size() <= bytes.size(), "more audio than the stream held");
    const Read cut = readStream(fuzz::pieces(bytes, data[0] + 1u));
    fuzz::check(cut.audio == whole.audio, "the audio depends on how the stream was cut");
    // Before its first packet, a stream is told Unknown once more than four
    // packets' worth of bytes came in one piece without one; the formats
    // told of its audio are the same however it is cut.
    const auto known = [](const QList<StreamTap::Format> &told) {
        QList<StreamTap::Format> out;
        for (const StreamTap::Format f : told) {
            if (f != StreamTap::Format::Unknown)
                out << f;
        }
        return out;
    };
    fuzz::check(known(cut.told) == known(whole.told),
                "the format told depends on how the stream was cut");

    // The same reader going on after a discontinuity, on the same bytes.
    TsAudio again;
    QByteArray audio;
    again.audio = [&audio](const char *p, qsizetype n) { audio.append(p, n); };
    again.feed(bytes);
    again.reset(true);
    again.feed(bytes);
    fuzz::check(audio.size() <= 2 * bytes.size(), "more audio than two reads held");
    return 0;
}
