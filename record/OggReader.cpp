#include "record/OggReader.h"

#include "platform/base/Log.h"
#include "platform/stream/OggPageReader.h"
#include "record/OggPages.h"

#include <ogg/ogg.h>

#include <cstring>

struct OggReader::State {
    enum class Phase { Waiting, Headers, Pages };
    OggPageReader pages;
    qint64 fed = 0;
    ogg_stream_state stream; // the chain's headers being gathered
    Phase phase = Phase::Waiting;
    Chain chain;
    int pagesTaken = 0;

    State() { ogg_stream_init(&stream, 0); }
    ~State() { ogg_stream_clear(&stream); }
    // Lets the gathered packets' memory go.
    void restartStream(int serial)
    {
        ogg_stream_clear(&stream);
        ogg_stream_init(&stream, serial);
    }
    void take(const QByteArray &bytes, const Sink &sink);
};

OggReader::OggReader() : d(std::make_unique<State>()) {}

OggReader::~OggReader() = default;

void OggReader::reset()
{
    d->pages.reset();
    d->restartStream(0);
    d->phase = State::Phase::Waiting;
    d->chain = {};
}

void OggReader::feed(const char *data, qsizetype size, const Sink &sink)
{
    d->pages.feed(d->fed, data, size, [&](qint64, const QByteArray &page) { d->take(page, sink); });
    d->fed += size;
}

qint64 OggReader::pendingBytes() const
{
    qint64 bytes = d->pages.pendingBytes() + d->stream.body_fill;
    for (const QByteArray &packet : std::as_const(d->chain.packets))
        bytes += packet.size();
    return bytes + d->chain.pages.size();
}

void OggReader::State::take(const QByteArray &bytes, const Sink &sink)
{
    ogg_page page;
    page.header = reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.constData()));
    page.header_len = long(OggPageReader::headerLength(bytes));
    page.body = page.header + page.header_len;
    page.body_len = long(bytes.size() - page.header_len);
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
    if (phase == Phase::Pages) {
        sink.page(bytes);
        return;
    }
    chain.pages += bytes;
    ++pagesTaken;
    ogg_stream_pagein(&stream, &page);
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
