#include "platform/stream/Adts.h"

namespace adts {

std::optional<Header> headerFor(const uchar *config, qsizetype size)
{
    quint64 bits = 0;
    const int count = int(qMin<qsizetype>(size, 8)) * 8;
    for (int i = 0; i < count / 8; ++i)
        bits = bits << 8 | config[i];
    int used = 0;
    auto take = [&](int n) {
        used += n;
        return used > count ? -1 : int(bits >> (count - used) & ((1u << n) - 1));
    };
    int object = take(5);
    const int rate = take(4);
    const int channels = take(4);
    if (object == 5 || object == 29) { // SBR or PS: the core's object type follows
        if (take(4) == 15)
            take(24);
        object = take(5);
    }
    if (used > count || object < 1 || object > 4 || rate < 0 || rate > 12 || channels < 1 ||
        channels > 7)
        return {};
    return Header{0xFF,
                  0xF1, // MPEG-4, no CRC
                  uchar((object - 1) << 6 | rate << 2 | channels >> 2),
                  uchar((channels & 3) << 6),
                  0,
                  0x1F,
                  0xFC};
}

void appendFrame(const Header &header, const char *frame, qsizetype size, QByteArray *out)
{
    const qsizetype length = size + qsizetype(header.size());
    if (length > 0x1FFF)
        return;
    Header h = header;
    h[3] |= uchar(length >> 11);
    h[4] = uchar(length >> 3);
    h[5] = uchar((length & 7) << 5 | 0x1F);
    out->append(reinterpret_cast<const char *>(h.data()), qsizetype(h.size()));
    out->append(frame, size);
}

} // namespace adts
