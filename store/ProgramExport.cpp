#include "store/ProgramExport.h"

#include "store/ProgramEntry.h"

#include <QSaveFile>
#include <QUrl>
#include <QXmlStreamWriter>

namespace programexport {

namespace {

// One line of text: a line break in a name would start a new playlist line.
QString oneLine(QString text)
{
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control)
            c = u' ';
    return text.simplified();
}

// An address as other players (and our import) read it: one a strict reading
// refuses, such as one holding a space or '"', percent-encoded. A quote
// left in it would also end M3U's tvg-logo attribute early.
QString address(const QString &text)
{
    const QString line = oneLine(text);
    if (QUrl(line, QUrl::StrictMode).isValid())
        return line;
    const QUrl tolerant(line);
    return tolerant.isValid() ? tolerant.toString(QUrl::FullyEncoded) : line;
}

} // namespace

Format formatForPath(const QString &path)
{
    return path.endsWith(QLatin1String(".xspf"), Qt::CaseInsensitive) ? Format::XSPF : Format::M3U;
}

QByteArray toM3u(const QVariantList &list)
{
    QString out = QStringLiteral("#EXTM3U\n");
    for (const QVariant &item : list) {
        const QString url = address(program::url(item));
        if (url.isEmpty())
            continue;
        const QString image = address(program::image(item)).remove(u'"');
        const QString group = oneLine(program::group(item));
        out += QStringLiteral("#EXTINF:-1");
        if (!image.isEmpty())
            out += QStringLiteral(" tvg-logo=\"%1\"").arg(image);
        if (!group.isEmpty())
            out += QStringLiteral(" group-title=\"%1\"").arg(QString(group).remove(u'"'));
        out += QLatin1Char(',') + oneLine(program::name(item)) + QLatin1Char('\n');
        // For the players that read the group from a line of its own, and
        // whole: a quote cannot stand in group-title.
        if (!group.isEmpty())
            out += QStringLiteral("#EXTGRP:") + group + QLatin1Char('\n');
        out += url + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray toXspf(const QVariantList &list)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("playlist"));
    xml.writeDefaultNamespace(QStringLiteral("http://xspf.org/ns/0/"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
    xml.writeStartElement(QStringLiteral("trackList"));
    for (const QVariant &item : list) {
        const QString url = address(program::url(item));
        if (url.isEmpty())
            continue;
        xml.writeStartElement(QStringLiteral("track"));
        xml.writeTextElement(QStringLiteral("location"), url);
        xml.writeTextElement(QStringLiteral("title"), oneLine(program::name(item)));
        const QString image = address(program::image(item));
        if (!image.isEmpty())
            xml.writeTextElement(QStringLiteral("image"), image);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

bool writeFile(const QString &path, const QVariantList &list, QString *error)
{
    const QByteArray bytes = formatForPath(path) == Format::XSPF ? toXspf(list) : toM3u(list);
    QSaveFile file(path);
    // Unbuffered, so a short write shows in write()'s result instead of
    // commit() installing a cut-off file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

} // namespace programexport
