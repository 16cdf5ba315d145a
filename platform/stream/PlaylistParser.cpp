#include "platform/stream/PlaylistParser.h"

#include <QMap>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace playlist {
namespace {

QByteArray normalizedType(const QByteArray &contentType)
{
    QByteArray t = contentType;
    const qsizetype semi = t.indexOf(';');
    if (semi >= 0)
        t.truncate(semi);
    return t.trimmed().toLower();
}

// The body without a UTF-8 byte order mark and leading white space.
QByteArray start(const QByteArray &body)
{
    QByteArray b = body.left(4096);
    if (b.startsWith("\xEF\xBB\xBF"))
        b.remove(0, 3);
    return b.trimmed();
}

QList<QByteArray> lines(const QByteArray &body)
{
    QByteArray b = body;
    if (b.startsWith("\xEF\xBB\xBF"))
        b.remove(0, 3);
    b.replace('\r', '\n');
    return b.split('\n');
}

bool isUrlLine(const QByteArray &line)
{
    if (line.isEmpty() || line.contains(' ') || line.contains('<') || line.contains('>'))
        return false;
    return line.contains("://");
}

QUrl resolve(const QByteArray &text, const QUrl &base)
{
    const QString s = QString::fromUtf8(text).trimmed();
    if (s.isEmpty())
        return {};
    QUrl url(s, QUrl::TolerantMode);
    if (url.isRelative())
        url = base.resolved(url);
    return url;
}

void add(QList<QUrl> &out, const QUrl &url, int maxEntries)
{
    if (out.size() < maxEntries && url.isValid() && isNetworkUrl(url) && !out.contains(url))
        out.append(url);
}

// ASX is XML in name only: tags in any case, attributes unquoted, bare
// ampersands. Read the hrefs of <ref> inside <entry> in order, tolerantly.
void asxEntries(QList<QUrl> &out, const QByteArray &body, const QUrl &base, int maxEntries)
{
    static const QRegularExpression entry(QStringLiteral("<entry\\b(.*?)(</entry\\s*>|$)"),
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression ref(
        QStringLiteral("<ref\\b[^>]*?\\bhref\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromUtf8(body);
    auto entries = entry.globalMatch(text);
    while (entries.hasNext() && out.size() < maxEntries) {
        const QString inside = entries.next().captured(1);
        auto refs = ref.globalMatch(inside);
        while (refs.hasNext()) {
            const QRegularExpressionMatch m = refs.next();
            QString href = m.captured(1) + m.captured(2) + m.captured(3);
            href.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
            add(out, resolve(href.toUtf8(), base), maxEntries);
        }
    }
}

} // namespace

bool isBinary(const QByteArray &head)
{
    for (char c : head.left(512)) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0 || (u < 0x20 && c != '\n' && c != '\r' && c != '\t'))
            return true;
    }
    return false;
}

bool isNetworkUrl(const QUrl &url)
{
    static const QStringList schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                        QStringLiteral("rtsp"), QStringLiteral("rtmp"),
                                        QStringLiteral("mms"),  QStringLiteral("mmsh"),
                                        QStringLiteral("icy"),  QStringLiteral("icyx")};
    return schemes.contains(url.scheme().toLower()) && !url.host().isEmpty();
}

bool isMediaContentType(const QByteArray &contentType)
{
    const QByteArray t = normalizedType(contentType);
    if (t.contains("mpegurl") || t.contains("scpls") || t.contains("xspf") ||
        t.contains("x-ms-asf") || t.contains("x-ms-wax") || t.contains("x-ms-wvx") ||
        t.contains("asx") || t.contains("x-pn-realaudio"))
        return false;
    return t.startsWith("audio/") || t.startsWith("video/") || t == "application/ogg";
}

bool looksLikeHtml(const QByteArray &body)
{
    const QByteArray head = start(body).left(512).toLower();
    return head.startsWith("<!doctype html") || head.startsWith("<html") ||
           (head.startsWith("<") && head.contains("<html"));
}

Kind detect(const QByteArray &contentType, const QByteArray &body)
{
    const QByteArray head = start(body);
    if (head.isEmpty() || isBinary(head))
        return Kind::NotPlaylist;
    const QByteArray lower = head.toLower();
    if (lower.startsWith("[playlist]"))
        return Kind::Pls;
    if (lower.startsWith("#extm3u") || lower.startsWith("#ext-x-") || lower.startsWith("#extinf")) {
        const QByteArray all = body.left(64 * 1024);
        return all.contains("#EXT-X-") ? Kind::Hls : Kind::M3u;
    }
    if (lower.startsWith("<")) {
        if (lower.contains("<asx"))
            return Kind::Asx;
        if (lower.contains("<playlist") &&
            (lower.contains("xspf.org/ns") || lower.contains("<tracklist")))
            return Kind::Xspf;
        return Kind::NotPlaylist;
    }
    // A bare list of URLs: only when the server calls it a playlist or plain
    // text, and every line that is not a comment is a URL.
    const QByteArray t = normalizedType(contentType);
    const bool textual = t.contains("mpegurl") || t == "text/plain" || t.isEmpty() ||
                         t == "application/octet-stream";
    if (!textual)
        return Kind::NotPlaylist;
    bool anyUrl = false;
    for (const QByteArray &raw : lines(body.left(64 * 1024))) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (!isUrlLine(line))
            return Kind::NotPlaylist;
        anyUrl = true;
    }
    return anyUrl ? Kind::M3u : Kind::NotPlaylist;
}

QList<QUrl> entries(Kind kind, const QByteArray &body, const QUrl &base, int maxEntries)
{
    QList<QUrl> out;
    switch (kind) {
    case Kind::NotPlaylist:
    case Kind::Hls: break;
    case Kind::M3u:
        for (const QByteArray &raw : lines(body)) {
            if (out.size() >= maxEntries)
                break;
            const QByteArray line = raw.trimmed();
            if (!line.isEmpty() && !line.startsWith('#'))
                add(out, resolve(line, base), maxEntries);
        }
        break;
    case Kind::Pls: {
        // FileN=url, ordered by N; entries without a number keep file order
        // after the numbered ones.
        QMap<int, QUrl> numbered;
        QList<QUrl> rest;
        for (const QByteArray &raw : lines(body)) {
            const QByteArray line = raw.trimmed();
            const qsizetype eq = line.indexOf('=');
            if (eq < 4 || !line.left(4).toLower().startsWith("file"))
                continue;
            const QUrl url = resolve(line.mid(eq + 1), base);
            bool ok = false;
            const int n = line.mid(4, eq - 4).trimmed().toInt(&ok);
            if (ok && !numbered.contains(n))
                numbered.insert(n, url);
            else
                rest.append(url);
        }
        for (const QUrl &url : std::as_const(numbered))
            add(out, url, maxEntries);
        for (const QUrl &url : std::as_const(rest))
            add(out, url, maxEntries);
        break;
    }
    case Kind::Asx: asxEntries(out, body, base, maxEntries); break;
    case Kind::Xspf: {
        QXmlStreamReader xml(body);
        bool inTrack = false;
        while (!xml.atEnd() && out.size() < maxEntries) {
            xml.readNext();
            if (xml.isStartElement()) {
                if (xml.name() == QLatin1String("track")) {
                    inTrack = true;
                } else if (inTrack && xml.name() == QLatin1String("location")) {
                    const QString text = xml.readElementText();
                    if (!xml.hasError())
                        add(out, resolve(text.toUtf8(), base), maxEntries);
                    inTrack = false; // first location of a track only
                }
            } else if (xml.isEndElement() && xml.name() == QLatin1String("track")) {
                inTrack = false;
            }
        }
        break;
    }
    }
    return out;
}

} // namespace playlist
