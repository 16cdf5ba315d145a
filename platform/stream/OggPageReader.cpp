#include "platform/stream/OggPageReader.h"

#include <ogg/ogg.h>

#include <cstring>

struct OggPageReader::State {
    ogg_sync_state sync;
    qint64 next = 0; // where the first byte libogg holds and has not paged begins
    qint64 end = -1; // just past the bytes read

    State() { ogg_sync_init(&sync); }
    ~State() { ogg_sync_clear(&sync); }
};

OggPageReader::OggPageReader() : d(std::make_unique<State>()) {}

OggPageReader::~OggPageReader() = default;

void OggPageReader::reset()
{
    ogg_sync_reset(&d->sync);
    d->end = -1;
}

void OggPageReader::feed(qint64 offset, const char *data, qsizetype size, const Page &page)
{
    if (offset != d->end) {
        ogg_sync_reset(&d->sync);
        d->next = offset;
    }
    d->end = offset + size;
    while (size > 0) {
        const long n = long(qMin<qsizetype>(size, 65536));
        char *buffer = ogg_sync_buffer(&d->sync, n);
        if (!buffer) {
            reset();
            return;
        }
        std::memcpy(buffer, data, size_t(n));
        ogg_sync_wrote(&d->sync, n);
        data += n;
        size -= n;
        ogg_page p;
        for (long r; (r = ogg_sync_pageseek(&d->sync, &p)) != 0;) {
            if (r < 0) { // bytes that begin no page
                d->next -= r;
                continue;
            }
            QByteArray bytes(reinterpret_cast<const char *>(p.header), p.header_len);
            bytes.append(reinterpret_cast<const char *>(p.body), p.body_len);
            const qint64 at = d->next;
            d->next += r;
            page(at, bytes);
        }
    }
}

qint64 OggPageReader::pendingBytes() const
{
    return qint64(d->sync.fill - d->sync.returned);
}

qsizetype OggPageReader::headerLength(const QByteArray &page)
{
    return page.size() < 27 ? page.size() : 27 + uchar(page.at(26));
}
