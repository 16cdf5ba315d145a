#include "find/Station.h"

#include "platform/base/WebAddress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <QUrl>

namespace {

// Longer names are the directory's junk, not something to lay out.
constexpr qsizetype kMaxTextLength = 300;

// A string field; anything else (missing, number, null, array) reads as "".
// Line breaks and other control characters become spaces so a row stays
// one line.
QString text(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return {};
    QString s = value.toString().left(kMaxTextLength);
    for (QChar &c : s) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return s.simplified();
}

QString webUrl(const QString &candidate)
{
    return isWebAddress(QUrl(candidate, QUrl::StrictMode)) ? candidate : QString();
}

} // namespace

QString Station::formatText() const
{
    const QString kbps = bitrate > 0 ? QStringLiteral("%1 kbps").arg(bitrate) : QString();
    if (codec.isEmpty())
        return kbps;
    return kbps.isEmpty() ? codec : codec + QStringLiteral(" · ") + kbps;
}

namespace stationjson {

Result parse(const QByteArray &body)
{
    Result result;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        result.error = QStringLiteral("The station directory's answer could not be read "
                                      "(not JSON).");
        return result;
    }
    if (!doc.isArray()) {
        result.error = QStringLiteral("The station directory's answer could not be read "
                                      "(not a list of stations).");
        return result;
    }
    result.ok = true;
    const QJsonArray entries = doc.array();
    for (const QJsonValue &value : entries) {
        if (!value.isObject()) {
            ++result.skipped;
            continue;
        }
        const QJsonObject object = value.toObject();
        Station s;
        s.name = text(object, "name");
        s.streamUrl = webUrl(text(object, "url_resolved"));
        if (s.streamUrl.isEmpty())
            s.streamUrl = webUrl(text(object, "url"));
        if (s.name.isEmpty() || s.streamUrl.isEmpty()) {
            ++result.skipped;
            continue;
        }
        s.uuid = text(object, "stationuuid");
        s.favicon = webUrl(text(object, "favicon"));
        s.country = text(object, "country");
        s.language = text(object, "language");
        QStringList tags;
        for (const QString &tag : text(object, "tags").split(QLatin1Char(',')))
            if (!tag.trimmed().isEmpty())
                tags << tag.trimmed();
        s.tags = tags.join(QStringLiteral(", "));
        s.codec = text(object, "codec");
        const QJsonValue bitrate = object.value(QLatin1String("bitrate"));
        if (bitrate.isDouble() && bitrate.toDouble() > 0 && bitrate.toDouble() < 100000)
            s.bitrate = int(bitrate.toDouble());
        result.stations << s;
    }
    return result;
}

} // namespace stationjson
