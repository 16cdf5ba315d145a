#include "platform/upnp/PlayForm.h"

#include <QRegularExpression>

namespace {

// Spellings renderers use for the three stream types we serve.
QStringList aliases(const QString &mime)
{
    if (mime == QLatin1String("audio/mpeg"))
        return {mime, QStringLiteral("audio/mp3"), QStringLiteral("audio/x-mpeg"),
                QStringLiteral("audio/mpeg3")};
    if (mime == QLatin1String("audio/aac"))
        return {mime, QStringLiteral("audio/aacp"), QStringLiteral("audio/x-aac"),
                QStringLiteral("audio/vnd.dlna.adts")};
    if (mime == QLatin1String("application/ogg"))
        return {mime, QStringLiteral("audio/ogg"), QStringLiteral("audio/x-ogg"),
                QStringLiteral("audio/x-vorbis+ogg"), QStringLiteral("audio/opus")};
    return {mime};
}

} // namespace

PlayForm PlayForm::choose(const QStringList &sink, const QString &mime, const QString &url)
{
    PlayForm form;
    const QStringList names = aliases(mime);
    if (sink.isEmpty()) {
        form = {true, mime, url, QStringLiteral("http-get:*:%1:*").arg(mime)};
        return form;
    }
    bool rincon = false;
    for (const QString &entry : sink) {
        const QStringList field = entry.trimmed().split(QLatin1Char(':'));
        if (field.size() < 4)
            continue;
        const QString protocol = field[0].toLower();
        const QString type = field[2].toLower();
        if (protocol == QLatin1String("x-rincon-mp3radio"))
            rincon = true;
        if (protocol != QLatin1String("http-get") || form.playable)
            continue;
        QString announced = type == QLatin1String("*") || names.contains(type) ? type : QString();
        // "audio/*": every subtype of it.
        for (const QString &name : names) {
            if (announced.isEmpty() && type.endsWith(QLatin1String("/*")) &&
                name.startsWith(type.chopped(1)))
                announced = name;
        }
        if (!announced.isEmpty()) {
            if (announced == QLatin1String("*"))
                announced = mime;
            form = {true, announced, url, QStringLiteral("http-get:*:%1:*").arg(announced)};
        }
    }
    // Sonos refuses a plain HTTP radio stream (error 714) but plays MP3 in
    // its own form of the same address.
    if (rincon && mime == QLatin1String("audio/mpeg")) {
        QString radio = url;
        radio.replace(QRegularExpression(QStringLiteral("^https?://")),
                      QStringLiteral("x-rincon-mp3radio://"));
        form = {true, mime, radio, QStringLiteral("x-rincon-mp3radio:*:*:*")};
    }
    return form;
}
