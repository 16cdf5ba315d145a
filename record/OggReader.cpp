#include "record/OggReader.h"

#include "platform/base/Log.h"
#include "record/OggPages.h"

#include <ogg/ogg.h>

#include <cstring>

struct OggReader::State {
    enum class Phase { Waiting, Headers, Pages };
    ogg_sync_state sync;
    ogg_stream_state stream; // the chain's headers being gathered
    Phase phase = Phase::Waiting;
    Chain chain;
    int pagesTaken = 0;

    State()
    {
        ogg_sync_init(&sync);
        ogg_stream_init(&stream, 0);
    }
    ~State()
    {
        ogg_sync_clear(&sync);
        ogg_stream_clear(&stream);
    }
    // Lets the gathered packets' memory go.
    void restartStream(int serial)
    {
        ogg_stream_clear(&stream);
        ogg_stream_init(&stream, serial);
    }
    void take(const ogg_page &page, const Sink &sink);
};

OggReader::OggReader() : d(std::make_unique<State>()) {}

OggReader::~OggReader() = default;

void OggReader::reset()
{
    ogg_sync_reset(&d->sync);
    d->restartStream(0);
    d->phase = State::Phase::Waiting;
    d->chain = {};
}

void OggReader::feed(const char *data, qsizetype size, const Sink &sink)
{
    while (size > 0) {
        const long n = long(qMin<qsizetype>(size, 65536));
        char *buffer = ogg_sync_buffer(&d->sync, n);
        if (!buffer)
            return;
        std::memcpy(buffer, data, size_t(n));
        ogg_sync_wrote(&d->sync, n);
        data += n;
        size -= n;
        ogg_page page;
        for (int r; (r = ogg_sync_pageout(&d->sync, &page)) != 0;) {
            if (r > 0) // else bytes that were no page were skipped
                d->take(page, sink);
        }
    }
}

qint64 OggReader::pendingBytes() const
{
    qint64 bytes = qint64(d->sync.fill - d->sync.returned) + d->stream.body_fill;
    for (const QByteArray &packet : std::as_const(d->chain.packets))
        bytes += packet.size();
    return bytes + d->chain.pages.size();
}

void OggReader::State::take(const ogg_page &page, const Sink &sink)
{
    const int serial = ogg_page_serialno(&page);
    if (ogg_page_bos(&page)) {
        // A stream multiplexed with the chain's first: its pages are not kept.
        if (phase == Phase::Headers && pagesTaken == 1 && serial != int(chain.serial))
            return;
        phase = Phase::Headers;
        chain = Chain{quint32(serial), {}, {}, {}};
        pagesTaken = 0;
        restartStream(serial);
    }
    if (phase == Phase::Waiting || serial != int(chain.serial))
        return;
    const QByteArray bytes =
        QByteArray(reinterpret_cast<const char *>(page.header), page.header_len) +
        QByteArray::fromRawData(reinterpret_cast<const char *>(page.body), page.body_len);
    if (phase == Phase::Pages) {
        sink.page(bytes);
        return;
    }
    chain.pages += bytes;
    ++pagesTaken;
    ogg_stream_pagein(&stream, const_cast<ogg_page *>(&page));
    ogg_packet packet;
    while (!oggpages::headersComplete(chain.packets)) {
        const int r = ogg_stream_packetout(&stream, &packet);
        if (r == 0)
            break;
        if (r > 0)
            chain.packets << QByteArray(reinterpret_cast<const char *>(packet.packet),
                                        qsizetype(packet.bytes));
    }
    if (oggpages::headersComplete(chain.packets)) {
        chain.title = oggpages::titleFromComments(chain.packets);
    } else if (chain.pages.size() > kMaxHeaderBytes) {
        NSLog(lcRecord(), QtWarningMsg,
              "an Ogg stream's headers take more than %ld bytes: it cannot be recorded",
              qint64(kMaxHeaderBytes));
        chain.packets.clear();
        chain.pages.clear();
    } else {
        return;
    }
    phase = Phase::Pages;
    sink.chainBegins(std::exchange(chain, Chain{chain.serial, {}, {}, {}}));
    restartStream(serial);
}
