#include "record/OggPages.h"

#include "platform/stream/StreamTitle.h"

#include <ogg/ogg.h>
#include <taglib/xiphcomment.h>

namespace oggpages {

namespace {

enum class Codec { Vorbis, Opus, Speex, Flac, Other };

Codec codecOf(const QList<QByteArray> &packets)
{
    const QByteArray first = packets.value(0);
    if (first.startsWith("\x01vorbis"))
        return Codec::Vorbis;
    if (first.startsWith("OpusHead"))
        return Codec::Opus;
    if (first.startsWith("Speex   "))
        return Codec::Speex;
    if (first.startsWith("\x7f"
                         "FLAC"))
        return Codec::Flac;
    return Codec::Other;
}

// Ogg FLAC's first packet: its mapping header, then the STREAMINFO block,
// whose first byte says whether more metadata blocks follow.
constexpr qsizetype kFlacFirstBlock = 13;

// Which header packet holds the comments, and where in it they begin;
// {-1, 0} if none does.
std::pair<qsizetype, qsizetype> commentsOf(const QList<QByteArray> &packets)
{
    const QByteArray second = packets.value(1);
    switch (codecOf(packets)) {
    case Codec::Vorbis: return second.startsWith("\x03vorbis") ? std::pair{1, 7} : std::pair{-1, 0};
    case Codec::Opus: return second.startsWith("OpusTags") ? std::pair{1, 8} : std::pair{-1, 0};
    case Codec::Speex: return packets.size() > 1 ? std::pair{1, 0} : std::pair{-1, 0};
    case Codec::Flac:
        for (qsizetype i = 1; i < packets.size(); ++i) {
            if (packets.at(i).size() >= 4 && (uchar(packets.at(i)[0]) & 0x7F) == 4)
                return {i, 4};
        }
        return {-1, 0};
    case Codec::Other: break;
    }
    return {-1, 0};
}

TagLib::ByteVector bytesFrom(const QByteArray &packet, qsizetype at)
{
    return TagLib::ByteVector(packet.constData() + at, uint(packet.size() - at));
}

QString fromTag(const TagLib::String &text)
{
    return QString::fromStdString(text.to8Bit(true));
}

} // namespace

bool headersComplete(const QList<QByteArray> &packets)
{
    switch (codecOf(packets)) {
    case Codec::Vorbis: return packets.size() >= 3;
    case Codec::Opus:
    case Codec::Speex: return packets.size() >= 2;
    case Codec::Flac: {
        const QByteArray &last = packets.last();
        const qsizetype at = packets.size() == 1 ? kFlacFirstBlock : 0;
        return last.size() > at && (uchar(last[at]) & 0x80);
    }
    case Codec::Other: return !packets.isEmpty();
    }
    return false;
}

QString titleFromComments(const QList<QByteArray> &packets)
{
    const auto [index, at] = commentsOf(packets);
    if (index < 0)
        return {};
    const TagLib::Ogg::XiphComment comments(bytesFrom(packets.at(index), at));
    const TagLib::Ogg::FieldListMap &fields = comments.fieldListMap();
    auto first = [&fields](const char *key) {
        const auto it = fields.find(key);
        return it == fields.end() || it->second.isEmpty() ? QString() : fromTag(it->second.front());
    };
    return streamtitle::compose(first("TITLE"), first("ARTIST"));
}

QList<QByteArray> withComments(QList<QByteArray> packets,
                               const QList<QPair<QByteArray, QString>> &fields)
{
    const auto [index, at] = commentsOf(packets);
    if (index < 0)
        return packets;
    const Codec codec = codecOf(packets);
    QByteArray &packet = packets[index];
    TagLib::Ogg::XiphComment comments(bytesFrom(packet, at));
    for (const auto &[key, value] : fields) {
        const TagLib::String name(key.constData());
        comments.removeFields(name);
        if (!value.isEmpty())
            comments.addField(name, TagLib::String(value.toStdString(), TagLib::String::UTF8));
    }
    // Vorbis ends its comments with a framing bit.
    const TagLib::ByteVector body = comments.render(codec == Codec::Vorbis);
    if (codec == Codec::Flac && body.size() >= (1u << 24))
        return packets;
    packet = packet.left(at) + QByteArray(body.data(), qsizetype(body.size()));
    if (codec == Codec::Flac) { // the block's length, 24 bits big-endian
        packet[1] = char(body.size() >> 16);
        packet[2] = char(body.size() >> 8);
        packet[3] = char(body.size());
    }
    return packets;
}

QByteArray headerPages(const QList<QByteArray> &packets, quint32 serial)
{
    ogg_stream_state stream;
    ogg_stream_init(&stream, int(serial));
    QByteArray out;
    auto flush = [&] {
        ogg_page page;
        while (ogg_stream_flush(&stream, &page) != 0) {
            out.append(reinterpret_cast<const char *>(page.header), page.header_len);
            out.append(reinterpret_cast<const char *>(page.body), page.body_len);
        }
    };
    for (qsizetype i = 0; i < packets.size(); ++i) {
        ogg_packet packet{};
        packet.packet =
            reinterpret_cast<unsigned char *>(const_cast<char *>(packets.at(i).constData()));
        packet.bytes = long(packets.at(i).size());
        packet.b_o_s = i == 0;
        packet.packetno = ogg_int64_t(i);
        ogg_stream_packetin(&stream, &packet);
        if (i == 0)
            flush();
    }
    flush();
    ogg_stream_clear(&stream);
    return out;
}

} // namespace oggpages
