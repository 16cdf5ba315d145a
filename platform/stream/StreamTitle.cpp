#include "platform/stream/StreamTitle.h"

#include <QStringDecoder>

#include <iconv.h>
#include <uchardet.h>

#include <memory>

namespace streamtitle {
namespace {

struct DetectorRelease {
    void operator()(uchardet *d) const { uchardet_delete(d); }
};
struct IconvRelease {
    void operator()(void *cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

bool isUtf8(const QByteArray &bytes, QString *text = nullptr)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    if (text)
        *text = decoded;
    return !utf8.hasError();
}

// The charset the bytes look like, upper case; empty if unknown.
QByteArray detectCharset(const QByteArray &bytes)
{
    std::unique_ptr<uchardet, DetectorRelease> detector(uchardet_new());
    if (!detector || uchardet_handle_data(detector.get(), bytes.constData(), size_t(bytes.size())))
        return {};
    uchardet_data_end(detector.get());
    return QByteArray(uchardet_get_charset(detector.get())).toUpper();
}

bool isLatin1Family(const QByteArray &charset)
{
    return charset.isEmpty() || charset == "ASCII" || charset == "ISO-8859-1" ||
           charset == "ISO-8859-15" || charset == "WINDOWS-1252";
}

// `bytes` in `charset` as text; null when they are not valid in it.
QString convert(const QByteArray &bytes, const QByteArray &charset)
{
    const iconv_t raw = iconv_open("UTF-8", charset.constData());
    if (raw == iconv_t(-1))
        return {};
    std::unique_ptr<void, IconvRelease> cd(raw);
    QByteArray in = bytes;
    QByteArray out(bytes.size() * 4 + 16, Qt::Uninitialized);
    char *inPtr = in.data();
    char *outPtr = out.data();
    size_t inLeft = size_t(in.size());
    size_t outLeft = size_t(out.size());
    if (iconv(raw, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft)
        return {};
    out.truncate(out.size() - qsizetype(outLeft));
    QString text;
    return isUtf8(out, &text) ? text : QString();
}

// Text of bytes that are not UTF-8. Latin text has an accent here and
// there; text in another charset is mostly bytes above ASCII, and only then
// is its charset detected. Latin-1 when no other charset is recognised.
QString fromLegacyBytes(const QByteArray &bytes)
{
    int letters = 0;
    int high = 0;
    for (char b : bytes) {
        const uchar c = uchar(b);
        if (c >= 0x80)
            ++high;
        if (c >= 0x80 || QChar::isLetter(c))
            ++letters;
    }
    if (high * 10 >= letters * 3) {
        const QByteArray charset = detectCharset(bytes);
        if (!isLatin1Family(charset)) {
            const QString text = convert(bytes, charset);
            if (!text.isNull())
                return text;
        }
    }
    return QString::fromLatin1(bytes);
}

} // namespace

QString decode(const QByteArray &bytes)
{
    QString text;
    return isUtf8(bytes, &text) ? text : fromLegacyBytes(bytes);
}

QString repairLatin1(const QString &title)
{
    for (QChar c : title) {
        if (c.unicode() > 0xff)
            return title; // text beyond Latin-1: not a Latin-1 reading
    }
    const QByteArray bytes = title.toLatin1();
    return isUtf8(bytes) ? title : fromLegacyBytes(bytes);
}

QString decodeCharacterReferences(const QString &title)
{
    auto digitValue = [](char16_t c, bool hex) {
        if (c >= u'0' && c <= u'9')
            return int(c - u'0');
        if (hex && c >= u'a' && c <= u'f')
            return int(c - u'a') + 10;
        if (hex && c >= u'A' && c <= u'F')
            return int(c - u'A') + 10;
        return -1;
    };
    QString out;
    qsizetype from = 0; // what is not yet copied to `out`
    for (qsizetype at = title.indexOf(QLatin1String("&#")); at >= 0;
         at = title.indexOf(QLatin1String("&#"), at + 1)) {
        qsizetype first = at + 2;
        const bool hex =
            first < title.size() && (title.at(first) == u'x' || title.at(first) == u'X');
        if (hex)
            ++first;
        // Eight digits hold any character (with leading zeros) and cannot
        // overflow; a longer number is no character.
        char32_t code = 0;
        qsizetype end = first;
        for (int v; end < title.size() && end - first < 8 &&
                    (v = digitValue(title.at(end).unicode(), hex)) >= 0;
             ++end)
            code = code * (hex ? 16 : 10) + char32_t(v);
        if (end == first || end >= title.size() || title.at(end) != u';' || code == 0 ||
            code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            continue;
        out += QStringView(title).mid(from, at - from);
        out += QString::fromUcs4(&code, 1);
        from = end + 1;
        at = end;
    }
    if (from == 0)
        return title;
    out += QStringView(title).mid(from);
    return out;
}

QString fromTags(const QByteArray &title, const QByteArray &artist)
{
    // GStreamer reads a title that is not UTF-8 as Latin-1; read as a whole,
    // its bytes tell the charset the station really used. References are
    // plain ASCII, so they are decoded last.
    return decodeCharacterReferences(repairLatin1(compose(decode(title), decode(artist))));
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
    // Titles typed into Icecast's admin page come with character references.
    return decodeCharacterReferences(decode(data.mid(from, end - from))).trimmed();
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

namespace streamtitle {

Parts split(const QString &streamTitle)
{
    const QString whole = streamTitle.trimmed();
    const qsizetype at = whole.indexOf(QLatin1String(" - "));
    if (at < 0)
        return {QString(), whole};
    Parts parts{whole.left(at).trimmed(), whole.mid(at + 3).trimmed()};
    if (parts.artist.isEmpty() || parts.title.isEmpty())
        return {QString(), whole};
    return parts;
}

} // namespace streamtitle
