#include "platform/media/StreamTitle.h"

#include <QStringDecoder>

namespace streamtitle {

QString decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QString fromIcyMetadata(const QByteArray &block)
{
    // The block is NUL-padded to a multiple of 16 bytes.
    QByteArray data = block;
    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    static const QByteArray key = QByteArrayLiteral("StreamTitle='");
    const qsizetype start = data.indexOf(key);
    if (start < 0)
        return {};
    const qsizetype from = start + key.size();
    // Titles may themselves contain quotes; the value ends at "';" or at the
    // last quote of the block.
    qsizetype end = data.indexOf("';", from);
    if (end < 0)
        end = data.lastIndexOf('\'');
    if (end < from)
        end = data.size();
    return decode(data.mid(from, end - from)).trimmed();
}

QString compose(const QString &title, const QString &artist)
{
    const QString t = title.trimmed();
    const QString a = artist.trimmed();
    if (a.isEmpty())
        return t;
    if (t.isEmpty())
        return a;
    // Some servers already put the artist into the title.
    if (t.startsWith(a + QStringLiteral(" - ")))
        return t;
    return a + QStringLiteral(" - ") + t;
}

} // namespace streamtitle
