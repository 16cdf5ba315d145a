#include "record/FileNaming.h"

#include <QDir>
#include <QStandardPaths>

namespace filenaming {

QString cleanPart(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'/' || u == u'\\' || u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) ||
            QStringView(u"?:\"*<>|").contains(c))
            out += QLatin1Char('_');
        else
            out += c;
    }
    out = out.simplified();
    if (out == QLatin1String(".") || out == QLatin1String(".."))
        out = QStringLiteral("_");
    return out;
}

QString songFileName(const QDateTime &started, const QString &title, bool partial,
                     const QString &extension, int part)
{
    const QString prefix = started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")) +
                           QStringLiteral(" \u2013 ");
    const QString suffix = (part > 0 ? QStringLiteral(" (part %1)").arg(part) : QString()) +
                           (partial ? QStringLiteral(" (partial)") : QString()) + QLatin1Char('.') +
                           extension;
    QString middle = cleanPart(title);
    if (middle.isEmpty())
        middle = QStringLiteral("Untitled");
    const qsizetype room = kMaxNameBytes - qsizetype(sizeof(" (99)") - 1) - prefix.toUtf8().size() -
                           suffix.toUtf8().size();
    while (middle.toUtf8().size() > room) {
        middle.chop(1);
        if (!middle.isEmpty() && middle.back().isHighSurrogate())
            middle.chop(1);
    }
    return prefix + middle.trimmed() + suffix;
}

QString programFolder(const QString &folder, const QString &program, const QDate &date)
{
    QString base = folder;
    if (base.isEmpty()) {
        base = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        if (base.isEmpty())
            base = QDir::home().filePath(QStringLiteral("Music"));
        base = QDir(base).filePath(QStringLiteral("Orbitune"));
    }
    QString name = cleanPart(program);
    if (name.isEmpty())
        name = QStringLiteral("Radio");
    const QString dated =
        date.isValid() ? QLatin1Char(' ') + date.toString(Qt::ISODate) : QString();
    while ((name + dated).toUtf8().size() > kMaxNameBytes)
        name.chop(1);
    return QDir(base).filePath(name + dated);
}

} // namespace filenaming
