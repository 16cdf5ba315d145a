#include "platform/media/StreamFormat.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

QString StreamFormat::shortCodecName(const QString &description)
{
    const QString d = description.simplified();
    // "Free Lossless Audio Codec (FLAC)", "MPEG-1 Layer 3 (MP3)"
    static const QRegularExpression bracketed(QStringLiteral("\\(([^()]{1,12})\\)$"));
    const QRegularExpressionMatch m = bracketed.match(d);
    if (m.hasMatch())
        return m.captured(1);
    if (d.contains(QLatin1String("AAC"), Qt::CaseInsensitive))
        return QStringLiteral("AAC");
    return d;
}

QString StreamFormat::text() const
{
    const QLocale c = QLocale::c();
    QStringList parts;
    if (!codec.isEmpty())
        parts << shortCodecName(codec);
    if (bitrate > 0)
        parts << QStringLiteral("%1 kbit/s").arg(qRound(bitrate / 1000.0));
    if (sampleRate > 0) {
        // 44100 -> "44.1", 48000 -> "48", 22050 -> "22.05"
        QString khz = c.toString(sampleRate / 1000.0, 'f', 3);
        while (khz.endsWith(QLatin1Char('0')))
            khz.chop(1);
        if (khz.endsWith(QLatin1Char('.')))
            khz.chop(1);
        parts << khz + QStringLiteral(" kHz");
    }
    return parts.join(QStringLiteral(" · "));
}
