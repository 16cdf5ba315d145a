// Fuzz target for Ogg streams as they arrive, paged by OggPageReader for both
// of its users: time-shift's OggChains (where pages and chains begin, each
// chain's header pages, the byte rate, where playing starts over) and
// recording's OggReader (each chain's header packets taken apart with libogg,
// and its title). The stream comes in pieces of any size and, from a point
// its first bytes choose, over a new connection. What holds for any stream: a
// start is within what was read, headers are handed only with one in another
// chain, the byte rate is a finite non-negative number, every page recording
// passes on is a page, and what it holds back stays bounded.

#include "FuzzSupport.h"
#include "platform/stream/OggChains.h"
#include "record/OggReader.h"

#include <cmath>
#include <cstdint>

namespace {

void readChains(const QList<QByteArray> &pieces, qsizetype reconnectAt, qint64 total)
{
    OggChains chains;
    qint64 offset = 0;
    for (const QByteArray &piece : pieces) {
        if (offset >= reconnectAt && offset - qint64(piece.size()) < reconnectAt)
            chains.restart(offset);
        chains.append(offset, piece);
        offset += piece.size();
        const double rate = chains.byteRate();
        fuzz::check(std::isfinite(rate) && rate >= 0, "a byte rate that is no rate");
    }
    for (const qint64 at : {qint64(0), total / 3, total / 2, total - 1}) {
        const OggChains::Start s = chains.startAt(at, 0, total);
        fuzz::check(s.offset >= 0 && s.offset <= total, "a start outside what was read");
        fuzz::check(s.headers.isEmpty() || s.otherChain, "headers handed within one chain");
    }
    chains.forgetBefore(total / 2);
    const OggChains::Start s = chains.startAt(total - 1, total / 2, total);
    fuzz::check(s.offset >= 0 && s.offset <= total, "a start outside what is kept");
    chains.byteRate();
}

void readPages(const QList<QByteArray> &pieces, qsizetype reconnectAt)
{
    OggReader reader;
    OggReader::Sink sink;
    qsizetype headers = 0;
    sink.chainBegins = [&headers](const OggReader::Chain &chain) {
        fuzz::check(chain.pages.size() <= OggReader::kMaxHeaderBytes + 65307,
                    "a chain's header pages beyond the limit");
        fuzz::check(chain.pages.isEmpty() || chain.pages.startsWith("OggS"),
                    "header pages that are no pages");
        headers += chain.pages.size();
    };
    sink.page = [](const QByteArray &page) {
        fuzz::check(page.startsWith("OggS") && page.size() >= 27 && page.size() <= 65307,
                    "a page passed on that is no page");
    };
    qsizetype offset = 0;
    for (const QByteArray &piece : pieces) {
        if (offset >= reconnectAt && offset - piece.size() < reconnectAt)
            reader.reset();
        reader.feed(piece.constData(), piece.size(), sink);
        offset += piece.size();
        fuzz::check(reader.pendingBytes() <= 2 * (OggReader::kMaxHeaderBytes + 65536),
                    "recording holds back more than a chain's headers");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const QList<QByteArray> pieces = fuzz::pieces(bytes, data[0]);
    const qsizetype reconnectAt = data[1] == 0 ? -1 : bytes.size() * data[1] / 255;
    if (!bytes.isEmpty()) // where to start in nothing is no question
        readChains(pieces, reconnectAt, bytes.size());
    readPages(pieces, reconnectAt);
    return 0;
}
