// Fuzz target for what a Cast device sends: the bytes of its connection cut
// into frames, each decoded as a CastMessage. Besides crashes it checks that
// the reader never holds more than a frame, that a refused frame stays
// refused, and that a decoded message encodes to one that decodes the same.

#include "platform/cast/CastFrameReader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "cast frame invariant broken: %s\n", what);
    std::abort();
}

void checkRoundTrip(const CastMessage &message)
{
    const std::optional<CastMessage> again = CastMessage::decode(message.encode());
    if (!again || again->nameSpace != message.nameSpace || again->sourceId != message.sourceId ||
        again->destinationId != message.destinationId ||
        again->payloadType != message.payloadType ||
        (message.payloadType == CastMessage::PayloadType::String
             ? again->payloadUtf8 != message.payloadUtf8
             : again->payloadBinary != message.payloadBinary))
        fail("a decoded message does not encode to itself");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says how the bytes arrive: in pieces of 1..256.
    const qsizetype piece = qsizetype(data[0]) + 1;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const qsizetype total = qsizetype(size - 1);
    if (const std::optional<CastMessage> whole = CastMessage::decode(QByteArrayView(bytes, total)))
        checkRoundTrip(*whole);
    CastFrameReader reader;
    qsizetype fed = 0;
    bool refused = false;
    while (fed < total) {
        const qsizetype taken = reader.feed(bytes + fed, std::min(piece, total - fed));
        if (reader.room() < 0 || taken < 0)
            fail("holds more than a frame");
        fed += taken;
        CastMessage message;
        CastFrameReader::Result result;
        while ((result = reader.next(&message)) != CastFrameReader::Result::NeedMore) {
            if (result == CastFrameReader::Result::Message)
                checkRoundTrip(message);
            if (result == CastFrameReader::Result::TooLarge) {
                refused = true;
                break;
            }
        }
        if (refused)
            break;
        if (taken == 0)
            fail("no room, yet no whole frame");
    }
    if (refused &&
        (reader.room() != 0 || reader.next(nullptr) != CastFrameReader::Result::TooLarge))
        fail("a refused reader took more");
    return 0;
}
