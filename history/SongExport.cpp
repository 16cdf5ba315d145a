#include "history/SongExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace songexport {

namespace {

QString isoUtc(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QByteArray csvField(QString text)
{
    static const QString risky = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && risky.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char('"')) || text.contains(QLatin1Char(',')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text.toUtf8();
}

} // namespace

QString line(const HistoryStore::Song &song)
{
    if (!song.artist.isEmpty() && !song.song.isEmpty())
        return song.artist + QStringLiteral(" - ") + song.song;
    return song.title;
}

QByteArray csv(const QList<HistoryStore::Song> &songs)
{
    QByteArray out = "started,ended,program,stream_url,artist,song,title,favourite\r\n";
    for (const HistoryStore::Song &s : songs) {
        const QList<QByteArray> fields{csvField(isoUtc(s.started)), csvField(isoUtc(s.ended)),
                                       csvField(s.program),         csvField(s.streamUrl),
                                       csvField(s.artist),          csvField(s.song),
                                       csvField(s.title),           s.favourite ? "1" : "0"};
        out += fields.join(',') + "\r\n";
    }
    return out;
}

QByteArray json(const QList<HistoryStore::Song> &songs)
{
    QJsonArray array;
    for (const HistoryStore::Song &s : songs) {
        array.append(QJsonObject{
            {QStringLiteral("started"), isoUtc(s.started)},
            {QStringLiteral("ended"),
             s.ended.isValid() ? QJsonValue(isoUtc(s.ended)) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("program"), s.program},
            {QStringLiteral("stream_url"), s.streamUrl},
            {QStringLiteral("artist"), s.artist},
            {QStringLiteral("song"), s.song},
            {QStringLiteral("title"), s.title},
            {QStringLiteral("favourite"), s.favourite},
        });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray encode(const QList<HistoryStore::Song> &songs, Format format)
{
    return format == Format::Csv ? csv(songs) : json(songs);
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace songexport
