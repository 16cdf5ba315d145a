#include "record/OggPages.h"

#include "platform/media/StreamTitle.h"

#include <QtEndian>

#include <array>

namespace oggpages {

namespace {
constexpr qsizetype kHeaderSize = 27;
}

qsizetype pageLength(const char *data, qsizetype size)
{
    if (size < 4)
        return 0;
    if (qstrncmp(data, "OggS", 4) != 0 || (size > 4 && data[4] != 0))
        return -1;
    if (size < kHeaderSize)
        return 0;
    const int segments = uchar(data[26]);
    if (size < kHeaderSize + segments)
        return 0;
    qsizetype body = 0;
    for (int i = 0; i < segments; ++i)
        body += uchar(data[kHeaderSize + i]);
    const qsizetype length = kHeaderSize + segments + body;
    return size < length ? 0 : length;
}

bool beginsStream(const QByteArray &page)
{
    return page.size() > 5 && (page[5] & 0x02);
}

void collectPackets(const QByteArray &page, QByteArray *partial, QList<QByteArray> *done)
{
    if (page.size() < kHeaderSize)
        return;
    const int segments = uchar(page[26]);
    qsizetype at = kHeaderSize + segments;
    for (int i = 0; i < segments && at <= page.size(); ++i) {
        const int lacing = uchar(page[kHeaderSize + i]);
        partial->append(page.mid(at, lacing));
        at += lacing;
        if (lacing < 255)
            done->append(std::exchange(*partial, QByteArray()));
    }
}

int headerPacketCount(const QByteArray &firstPacket)
{
    if (firstPacket.startsWith("\x01vorbis"))
        return 3;
    if (firstPacket.startsWith("OpusHead") || firstPacket.startsWith("Speex   "))
        return 2;
    if (firstPacket.startsWith("\x7f"
                               "FLAC") &&
        firstPacket.size() >= 9)
        return 1 + qFromBigEndian<quint16>(firstPacket.constData() + 7);
    return 1;
}

QString titleFromComments(const QByteArray &packet)
{
    qsizetype at = 0;
    if (packet.startsWith("\x03vorbis"))
        at = 7;
    else if (packet.startsWith("OpusTags"))
        at = 8;
    else
        return {};
    auto readLength = [&](quint32 *out) {
        if (at + 4 > packet.size())
            return false;
        *out = qFromLittleEndian<quint32>(packet.constData() + at);
        at += 4;
        return true;
    };
    quint32 vendor = 0;
    quint32 count = 0;
    if (!readLength(&vendor) || vendor > quint32(packet.size() - at))
        return {};
    at += vendor;
    if (!readLength(&count))
        return {};
    QString title;
    QString artist;
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        if (!readLength(&length) || length > quint32(packet.size() - at))
            break;
        const QByteArray comment = packet.mid(at, length);
        at += length;
        const qsizetype eq = comment.indexOf('=');
        const QByteArray key = comment.left(eq).toUpper();
        const QString value = QString::fromUtf8(comment.mid(eq + 1));
        if (key == "TITLE" && title.isEmpty())
            title = value;
        else if (key == "ARTIST" && artist.isEmpty())
            artist = value;
    }
    return streamtitle::compose(title, artist);
}

namespace {

quint32 crc(const QByteArray &bytes)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    quint32 c = 0;
    for (const char byte : bytes)
        c = (c << 8) ^ table[((c >> 24) ^ uchar(byte)) & 0xFF];
    return c;
}

QByteArray le32(quint32 n)
{
    QByteArray b(4, 0);
    qToLittleEndian(n, b.data());
    return b;
}

// One page of `segments` lacing values and their `body`.
QByteArray page(quint8 flags, quint32 serial, quint32 sequence, qint64 granule,
                const QByteArray &lacing, const QByteArray &body)
{
    QByteArray out("OggS\0", 5);
    out += char(flags);
    QByteArray g(8, 0);
    qToLittleEndian(granule, g.data());
    out += g + le32(serial) + le32(sequence) + le32(0) + char(lacing.size()) + lacing + body;
    const QByteArray sum = le32(crc(out));
    out.replace(22, 4, sum);
    return out;
}

} // namespace

QByteArray withComments(const QByteArray &packet, const QList<QPair<QByteArray, QString>> &fields)
{
    const bool vorbis = packet.startsWith("\x03vorbis");
    if (!vorbis && !packet.startsWith("OpusTags"))
        return packet;
    qsizetype at = vorbis ? 7 : 8;
    const QByteArray magic = packet.left(at);
    auto readLength = [&](quint32 *out) {
        if (at + 4 > packet.size())
            return false;
        *out = qFromLittleEndian<quint32>(packet.constData() + at);
        at += 4;
        return true;
    };
    quint32 vendorLength = 0;
    quint32 count = 0;
    if (!readLength(&vendorLength) || vendorLength > quint32(packet.size() - at))
        return packet;
    const QByteArray vendor = packet.mid(at, vendorLength);
    at += vendorLength;
    if (!readLength(&count))
        return packet;
    QList<QByteArray> comments;
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        if (!readLength(&length) || length > quint32(packet.size() - at))
            return packet;
        const QByteArray comment = packet.mid(at, length);
        at += length;
        const QByteArray key = comment.left(comment.indexOf('=')).toUpper();
        bool replaced = false;
        for (const auto &field : fields)
            replaced = replaced || key == field.first;
        if (!replaced)
            comments << comment;
    }
    for (const auto &[key, value] : fields) {
        if (!value.isEmpty())
            comments << key + '=' + value.toUtf8();
    }
    QByteArray out = magic + le32(quint32(vendor.size())) + vendor + le32(quint32(comments.size()));
    for (const QByteArray &comment : std::as_const(comments))
        out += le32(quint32(comment.size())) + comment;
    if (vorbis)
        out += char(1); // the framing bit
    return out;
}

QByteArray headerPages(const QList<QByteArray> &packets, quint32 serial)
{
    if (packets.isEmpty())
        return {};
    auto lacing = [](const QByteArray &p) {
        QByteArray l(p.size() / 255, char(255));
        l += char(p.size() % 255);
        return l;
    };
    QByteArray out = page(0x02, serial, 0, 0, lacing(packets.first()), packets.first());
    // The other header packets, on as many pages as their lacing needs.
    QByteArray pendingLacing;
    QByteArray pendingBody;
    for (qsizetype i = 1; i < packets.size(); ++i) {
        pendingLacing += lacing(packets.at(i));
        pendingBody += packets.at(i);
    }
    quint32 sequence = 1;
    bool continued = false;
    while (!pendingLacing.isEmpty()) {
        const qsizetype segments = qMin<qsizetype>(255, pendingLacing.size());
        const QByteArray lace = pendingLacing.left(segments);
        qsizetype bodySize = 0;
        for (const char l : lace)
            bodySize += uchar(l);
        const bool endsPacket = uchar(lace.back()) < 255;
        out += page(continued ? 0x01 : 0x00, serial, sequence++, endsPacket ? 0 : -1, lace,
                    pendingBody.left(bodySize));
        pendingLacing.remove(0, segments);
        pendingBody.remove(0, bodySize);
        continued = !endsPacket;
    }
    return out;
}

quint32 serialOf(const QByteArray &page)
{
    return page.size() >= 18 ? qFromLittleEndian<quint32>(page.constData() + 14) : 0;
}

} // namespace oggpages
