#include "record/OggPages.h"

#include "platform/media/StreamTitle.h"

#include <QtEndian>

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

} // namespace oggpages
