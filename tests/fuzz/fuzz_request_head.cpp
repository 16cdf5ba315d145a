// Fuzz target for the stream server's reading of a request head: whatever a
// host on the network sends. Besides crashes it checks what the reader
// promises: it looks at no more than RequestHead::kMaxBytes, a head it calls
// complete has a request line of an upper-case method and a target starting
// with "/" without spaces or control bytes, and more bytes never turn a
// finished verdict back into "incomplete".

#include "platform/upnp/RequestHead.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "request head invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const RequestHead head = RequestHead::parse(bytes);
    if (size > size_t(RequestHead::kMaxBytes) && head.status == RequestHead::Status::Incomplete)
        fail("incomplete past the limit");
    // Only the first kMaxBytes count.
    if (size > size_t(RequestHead::kMaxBytes)) {
        const RequestHead cut = RequestHead::parse(bytes.first(RequestHead::kMaxBytes));
        if (head.status == RequestHead::Status::Complete &&
            (cut.status != head.status || cut.target != head.target))
            fail("read past the limit");
    }
    if (head.status == RequestHead::Status::Complete) {
        if (head.method.isEmpty() || !head.target.startsWith('/'))
            fail("complete without a request line");
        for (const char c : head.method) {
            if (c < 'A' || c > 'Z')
                fail("method not upper-case letters");
        }
        for (const char c : head.target) {
            if (uchar(c) <= ' ' || uchar(c) >= 0x7f)
                fail("space or control byte in the target");
        }
    } else if (!head.method.isEmpty() || !head.target.isEmpty() || head.icyMetadata) {
        fail("fields of an unfinished head");
    }
    // A verdict stands whatever follows.
    if (head.status != RequestHead::Status::Incomplete &&
        size < 2 * size_t(RequestHead::kMaxBytes)) {
        QByteArray more = bytes.toByteArray();
        more.append("\r\n\r\nGET / HTTP/1.1\r\n\r\n");
        if (RequestHead::parse(more).status != head.status)
            fail("verdict changed by what followed");
    }
    return 0;
}
