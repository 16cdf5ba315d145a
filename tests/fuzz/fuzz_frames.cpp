// Fuzz target for the frame boundaries recording cuts MP3 and ADTS AAC
// streams at, and for the ADTS header made from an AudioSpecificConfig.
// A frame start is a valid header at or after where the search began, and
// no frame is longer than its header can say.

#include "FuzzSupport.h"
#include "platform/stream/Adts.h"
#include "platform/stream/AudioFrames.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    for (const StreamTap::Format format : {StreamTap::Format::Mp3, StreamTap::Format::Aac}) {
        for (qsizetype at = 0; at < bytes.size(); ++at) {
            const qsizetype n = audioframes::frameLength(format, p + at, bytes.size() - at);
            fuzz::check(n >= 0 && n <= 0x1FFF, "a frame length no header can say");
        }
        qsizetype from = 0;
        for (int starts = 0; from < bytes.size() && starts < 64; ++starts) {
            const qsizetype start = audioframes::frameStart(format, bytes, from);
            if (start < 0)
                break;
            fuzz::check(start >= from && start < bytes.size(), "a frame start out of range");
            const qsizetype n = audioframes::frameLength(format, p + start, bytes.size() - start);
            fuzz::check(n > 0, "a frame start at no valid header");
            from = start + 1;
        }
    }
    audioframes::frameStart(StreamTap::Format::Ogg, bytes, 0);

    // The input's first bytes as an AudioSpecificConfig, the rest as a frame.
    const qsizetype configSize = size > 0 ? qMin<qsizetype>(p[0] % 8, bytes.size() - 1) : 0;
    if (const auto header = adts::headerFor(p + qMin<qsizetype>(1, size), configSize)) {
        QByteArray out;
        const QByteArray frame = bytes.mid(1 + configSize);
        adts::appendFrame(*header, frame.constData(), frame.size(), &out);
        fuzz::check(out.isEmpty() || out.size() == frame.size() + 7,
                    "a frame's header is not 7 bytes");
        if (!out.isEmpty())
            fuzz::check(audioframes::frameLength(StreamTap::Format::Aac,
                                                 reinterpret_cast<const uchar *>(out.constData()),
                                                 out.size()) == out.size(),
                        "an ADTS header we made does not read back");
    }
    return 0;
}
