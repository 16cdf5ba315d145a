// Telling the formats apart by content and reading each of them into
// program entries within the limits of ProgramImport.h.
#include "platform/base/Log.h"
#include "store/ProgramEntry.h"
#include "store/ProgramImport.h"

#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <utility>

namespace programimport {

namespace {

// Keys, tags and white space of one entry in the data file.
constexpr qint64 kEntryOverhead = 160;

// Room a string takes in the XML data file: markup characters become
// entities.
qint64 xmlSize(const QString &s)
{
    qint64 size = s.toUtf8().size();
    for (QChar c : s)
        if (c == u'&' || c == u'<' || c == u'>')
            size += 4;
    return size;
}

// Gathers entries within the limits.
class Collector {
public:
    explicit Collector(Format format) { out.format = format; }

    bool full() const { return out.truncated; }

    void add(const QString &name, const QString &url, const QString &image,
             const QString &groupName = QString())
    {
        if (out.truncated)
            return;
        const QString stream = usableUrl(url);
        if (stream.isEmpty()) {
            ++out.withoutUrl;
            return;
        }
        QString title = cleanName(name);
        if (title.isEmpty())
            title = cleanName(QUrl(stream).host());
        const QString picture = usableUrl(image);
        const QString group = cleanName(groupName);
        const qint64 size =
            xmlSize(title) + xmlSize(stream) + xmlSize(picture) + xmlSize(group) + kEntryOverhead;
        if (out.entries.size() >= kMaxEntries || m_bytes + size > kMaxImportBytes) {
            out.truncated = true;
            return;
        }
        m_bytes += size;
        out.entries << program::withGroup(program::make(title, picture, stream), group);
    }

    Parsed out;

private:
    qint64 m_bytes = 0;
};

QByteArrayView skipBomAndSpace(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    while (!bytes.isEmpty() && (bytes.front() == ' ' || bytes.front() == '\t' ||
                                bytes.front() == '\r' || bytes.front() == '\n'))
        bytes = bytes.sliced(1);
    return bytes;
}

// Text lines without their line ends, read one at a time: a file of empty
// lines must not become millions of strings at once.
class Lines {
public:
    explicit Lines(QByteArrayView bytes) : m_bytes(bytes) {}
    bool next(QByteArrayView *line)
    {
        if (m_pos >= m_bytes.size())
            return false;
        qsizetype end = m_bytes.indexOf('\n', m_pos);
        if (end < 0)
            end = m_bytes.size();
        QByteArrayView l = m_bytes.sliced(m_pos, end - m_pos);
        if (l.endsWith('\r'))
            l.chop(1);
        m_pos = end + 1;
        *line = l;
        return true;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

// UTF-8, or Latin-1 for the old single-byte playlists that are not.
QString decode(QByteArrayView bytes)
{
    const QString utf8 = QString::fromUtf8(bytes);
    if (utf8.contains(QChar::ReplacementCharacter) && !bytes.contains("\xEF\xBF\xBD"))
        return QString::fromLatin1(bytes);
    return utf8;
}

QString firstTextLine(QByteArrayView bytes)
{
    Lines lines(skipBomAndSpace(bytes));
    QByteArrayView line;
    return lines.next(&line)
               ? decode(line.first(std::min<qsizetype>(line.size(), 64))).trimmed().toLower()
               : QString();
}

bool startsWithCi(QByteArrayView line, const char *prefix)
{
    const QByteArrayView p(prefix);
    return line.size() >= p.size() && line.first(p.size()).compare(p, Qt::CaseInsensitive) == 0;
}

Format xmlRoot(QByteArrayView bytes)
{
    QXmlStreamReader reader(QByteArray::fromRawData(bytes.data(), bytes.size()));
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement) {
            if (reader.name() == u"playlist")
                return Format::XSPF;
            if (reader.name() == u"Stations")
                return Format::Goodvibes;
            return Format::Unknown;
        }
    }
    return Format::Unknown;
}

bool looksLikeUrlList(QByteArrayView bytes)
{
    Lines lines(bytes);
    QByteArrayView line;
    for (int seen = 0; seen < 50 && lines.next(&line);) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        ++seen;
        if (startsWithCi(line, "#EXTINF") || startsWithCi(line, "http://") ||
            startsWithCi(line, "https://"))
            return true;
    }
    return false;
}

void parseM3u(QByteArrayView bytes, Collector &out)
{
    static const QRegularExpression logo(QStringLiteral("tvg-logo=\"([^\"]*)\""));
    static const QRegularExpression groupTitle(QStringLiteral("group-title=\"([^\"]*)\""));
    Lines lines(bytes);
    QByteArrayView line;
    bool pending = false;
    QString name;
    QString image;
    // The entry's group: group-title on its #EXTINF, else an #EXTGRP line
    // before its address.
    QString group;
    QString extgrp;
    while (!out.full() && lines.next(&line)) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (startsWithCi(line, "#EXTINF:")) {
            if (pending)
                ++out.out.withoutUrl;
            // "#EXTINF:<duration> <attributes>,<title>"; the attributes are
            // quoted and may hold commas themselves.
            const QString info = decode(line.sliced(8));
            qsizetype comma = -1;
            bool quoted = false;
            for (qsizetype i = 0; i < info.size() && comma < 0; ++i) {
                if (info.at(i) == u'"')
                    quoted = !quoted;
                else if (info.at(i) == u',' && !quoted)
                    comma = i;
            }
            name = comma < 0 ? QString() : info.sliced(comma + 1);
            const QString attributes = comma < 0 ? info : info.first(comma);
            const auto match = logo.match(attributes);
            image = match.hasMatch() ? match.captured(1) : QString();
            const auto inGroup = groupTitle.match(attributes);
            group = inGroup.hasMatch() ? inGroup.captured(1) : QString();
            pending = true;
            continue;
        }
        if (startsWithCi(line, "#EXTGRP:")) {
            extgrp = decode(line.sliced(8));
            continue;
        }
        if (line.startsWith('#'))
            continue;
        const QString inGroup = !extgrp.isEmpty() ? extgrp : pending ? group : QString();
        out.add(pending ? name : QString(), decode(line), pending ? image : QString(), inGroup);
        pending = false;
        extgrp.clear();
    }
    if (pending && !out.full())
        ++out.out.withoutUrl;
}

void parsePls(QByteArrayView bytes, Collector &out)
{
    struct Item {
        QString url;
        QString title;
    };
    QMap<int, Item> items;
    Lines lines(bytes);
    QByteArrayView line;
    while (lines.next(&line)) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArrayView key = line.first(eq).trimmed();
        const bool isFile = startsWithCi(key, "File");
        const bool isTitle = startsWithCi(key, "Title");
        if (!isFile && !isTitle)
            continue;
        bool ok = false;
        const int index = key.sliced(isFile ? 4 : 5).toInt(&ok);
        if (!ok)
            continue;
        if (!items.contains(index) && items.size() >= 4 * kMaxEntries) {
            out.out.truncated = true;
            continue;
        }
        Item &item = items[index];
        (isFile ? item.url : item.title) = decode(line.sliced(eq + 1));
    }
    const bool truncated = out.out.truncated;
    out.out.truncated = false;
    for (const Item &item : std::as_const(items)) {
        if (out.full())
            break;
        out.add(item.title, item.url, QString());
    }
    out.out.truncated = out.out.truncated || truncated;
}

// XSPF's <track> and Goodvibes' <Station>: one entry per `entryTag`, its
// fields from the child elements named in `fields` (name, address, picture).
void parseXml(QByteArrayView bytes, const QString &entryTag, const QStringList &fields,
              Collector &out)
{
    QXmlStreamReader reader(QByteArray::fromRawData(bytes.data(), bytes.size()));
    bool inEntry = false;
    QString values[3];
    while (!out.full() && !reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (reader.name() == entryTag) {
                inEntry = true;
                for (QString &v : values)
                    v.clear();
                continue;
            }
            if (!inEntry)
                continue;
            const qsizetype field = fields.indexOf(reader.name().toString());
            if (field < 0)
                continue;
            const QString text =
                reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            // The first http(s) address wins; a track may list several.
            QString &value = values[field];
            if (value.isEmpty() || (field != 0 && usableUrl(value).isEmpty()))
                value = text;
        } else if (token == QXmlStreamReader::EndElement && inEntry && reader.name() == entryTag) {
            inEntry = false;
            out.add(values[0], values[1], values[2]);
        }
    }
    if (reader.hasError())
        NSLog(lcStore(), QtInfoMsg, "import stopped at an XML error: %@", reader.errorString());
}

void parseRadiotray(QByteArrayView bytes, Collector &out)
{
    const QJsonArray groups = QJsonDocument::fromJson(bytes.toByteArray()).array();
    for (const QJsonValue &group : groups) {
        const QJsonArray stations = group.toObject().value(QLatin1String("stations")).toArray();
        // "root" is Radiotray-NG's top level: the stations of no group.
        QString name = group.toObject().value(QLatin1String("group")).toString();
        if (name == QLatin1String("root"))
            name.clear();
        for (const QJsonValue &station : stations) {
            if (out.full())
                return;
            const QJsonObject s = station.toObject();
            out.add(s.value(QLatin1String("name")).toString(),
                    s.value(QLatin1String("url")).toString(),
                    s.value(QLatin1String("image")).toString(), name);
        }
    }
}

} // namespace

Format detect(const QByteArray &bytes)
{
    // Text formats never hold NUL bytes; binary junk almost always does.
    if (bytes.contains('\0'))
        return Format::Unknown;
    const QByteArrayView start = skipBomAndSpace(bytes);
    if (start.isEmpty())
        return Format::Unknown;
    if (firstTextLine(start) == QLatin1String("[playlist]"))
        return Format::PLS;
    if (start.front() == '<')
        return xmlRoot(start);
    if (start.front() == '[') {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(start.toByteArray(), &error);
        return error.error == QJsonParseError::NoError && doc.isArray() ? Format::RadiotrayNG
                                                                        : Format::Unknown;
    }
    if (startsWithCi(start, "#EXTM3U") || looksLikeUrlList(start))
        return Format::M3U;
    return Format::Unknown;
}

Parsed parse(const QByteArray &bytes)
{
    const Format format = detect(bytes);
    Collector out(format);
    switch (format) {
    case Format::Unknown: break;
    case Format::M3U: parseM3u(bytes, out); break;
    case Format::PLS: parsePls(bytes, out); break;
    case Format::XSPF:
        parseXml(bytes, QStringLiteral("track"),
                 {QStringLiteral("title"), QStringLiteral("location"), QStringLiteral("image")},
                 out);
        break;
    case Format::Goodvibes:
        parseXml(bytes, QStringLiteral("Station"),
                 {QStringLiteral("name"), QStringLiteral("uri"), QStringLiteral("image")}, out);
        break;
    case Format::RadiotrayNG: parseRadiotray(bytes, out); break;
    }
    return out.out;
}

} // namespace programimport
