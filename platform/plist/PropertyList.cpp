#include "platform/plist/PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace propertylist {
namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01).
constexpr qint64 kPlistEpoch = 978307200;

// libplist formats and parses reals with the C library, which follows the
// process locale; Qt sets that from the environment at start, so pin the
// numeric conventions to "C" for the duration of each call.
class CNumericLocale {
public:
    CNumericLocale()
    {
        static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        m_previous = uselocale(c);
    }
    ~CNumericLocale() { uselocale(m_previous); }

private:
    locale_t m_previous;
};

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

bool startsWith(const char *p, const char *end, const char *prefix)
{
    const size_t len = std::strlen(prefix);
    return size_t(end - p) >= len && std::memcmp(p, prefix, len) == 0;
}

// Where a construct that begins at `from` ends: just past the first `term`.
// Whether the parser skips double-quoted text while it looks for the
// terminator depends on the construct (and on the library version), so take
// the later of both readings. `end` when there is no terminator.
const char *constructEnd(const char *from, const char *end, const char *term)
{
    const size_t len = std::strlen(term);
    const char *plain = from;
    while (plain < end && !startsWith(plain, end, term))
        ++plain;
    const char *quoted = from;
    while (quoted < end && !startsWith(quoted, end, term)) {
        if (*quoted == '"') {
            quoted =
                static_cast<const char *>(std::memchr(quoted + 1, '"', size_t(end - quoted - 1)));
            if (!quoted)
                return end;
        }
        ++quoted;
    }
    const char *last = std::max(plain, quoted);
    return last < end ? last + len : end;
}

bool isContainerName(const char *name, const char *end)
{
    return startsWith(name, end, "dict") || startsWith(name, end, "array");
}

// Nesting of an XML property list, counted on the raw text before the parser
// sees it: the parser itself is iterative, but freeing and converting what it
// builds recurses once per level. Every <dict> or <array> that does not close
// itself opens a level and its end tag closes one. Comments, processing
// instructions, the DOCTYPE and CDATA sections are skipped the way the parser
// skips them; where the parser could read a construct as ending later than
// we do, we take the later end, and a level opened inside anything we skip
// still counts while an end tag there does not. The count can only come out
// too high, never too low.
bool xmlWithinLimits(const QByteArray &bytes, QString *error)
{
    int depth = 0;
    auto open = [&] {
        if (++depth <= kMaxDepth)
            return true;
        if (error)
            *error = QStringLiteral("nesting deeper than %1 levels").arg(kMaxDepth);
        return false;
    };
    // Levels that anything skipped might open.
    auto openAllIn = [&](const char *from, const char *to) {
        for (const char *q = from; q < to; ++q) {
            if (*q == '<' && isContainerName(q + 1, to) && !open())
                return false;
        }
        return true;
    };

    const char *p = bytes.constData();
    const char *end = p + bytes.size();
    while ((p = static_cast<const char *>(std::memchr(p, '<', size_t(end - p))))) {
        const char *next;
        if (startsWith(p, end, "<!--"))
            next = constructEnd(p + 4, end, "-->");
        else if (startsWith(p, end, "<![CDATA["))
            next = constructEnd(p + 9, end, "]]>");
        else if (startsWith(p, end, "<?"))
            next = constructEnd(p + 2, end, "?>");
        else if (startsWith(p, end, "<!")) {
            // A DOCTYPE ends at '>' unless it has an internal subset, which
            // ends at "]>".
            next = constructEnd(p + 2, end, ">");
            if (std::memchr(p + 2, '[', size_t(next - (p + 2))))
                next = std::max(next, constructEnd(p + 2, end, "]>"));
        } else {
            const bool closing = p + 1 < end && p[1] == '/';
            const char *name = closing ? p + 2 : p + 1;
            next = constructEnd(name, end, ">");
            if (isContainerName(name, end)) {
                // Self-closing only when both readings of the tag's end agree.
                const char *plainGt =
                    static_cast<const char *>(std::memchr(name, '>', size_t(end - name)));
                const bool selfClosing =
                    plainGt && plainGt[-1] == '/' && next[-1] == '>' && next[-2] == '/';
                if (closing)
                    depth = std::max(depth - 1, 0);
                else if (!selfClosing && !open())
                    return false;
            }
            if (!openAllIn(name, next))
                return false;
            p = next;
            continue;
        }
        if (!openAllIn(p + 1, next))
            return false;
        p = next;
    }
    return true;
}

quint64 readBigEndian(const uchar *p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Walks the object graph of a binary property list without recursion and
// checks that the tree the parser would build stays shallow and small. Shared
// references count once per use, as the parser copies them.
bool binaryWithinLimits(const QByteArray &bytes, QString *error)
{
    auto fail = [error](const char *why) {
        if (error)
            *error = QString::fromLatin1(why);
        return false;
    };
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < 8 + 32)
        return fail("truncated binary property list");
    const uchar *trailer = data + size - 32;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 numObjects = readBigEndian(trailer + 8, 8);
    const quint64 topObject = readBigEndian(trailer + 16, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || numObjects == 0 ||
        topObject >= numObjects || tableOffset >= quint64(size - 32) ||
        numObjects > quint64(size) ||
        numObjects * quint64(offsetSize) > quint64(size - 32) - tableOffset)
        return fail("malformed binary property list trailer");

    auto objectOffset = [&](quint64 index) {
        return readBigEndian(data + tableOffset + index * quint64(offsetSize), offsetSize);
    };
    struct Frame {
        quint64 object;
        int depth;
    };
    std::vector<Frame> stack{{topObject, 1}};
    qint64 visited = 0;
    while (!stack.empty()) {
        const Frame f = stack.back();
        stack.pop_back();
        if (++visited > kMaxNodes)
            return fail("binary property list expands to too many objects");
        if (f.depth > kMaxDepth)
            return fail("binary property list nested too deeply");
        const quint64 off = objectOffset(f.object);
        if (off >= tableOffset)
            return fail("binary property list object out of range");
        const uchar marker = data[off];
        const int type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD)
            continue;
        quint64 count = marker & 0x0F;
        quint64 refs = off + 1;
        if (count == 0x0F) {
            if (refs >= tableOffset || (data[refs] >> 4) != 0x1)
                return fail("malformed binary property list count");
            const int intSize = 1 << (data[refs] & 0x0F);
            if (intSize > 8 || refs + 1 + quint64(intSize) > tableOffset)
                return fail("malformed binary property list count");
            count = readBigEndian(data + refs + 1, intSize);
            refs += 1 + quint64(intSize);
        }
        const quint64 n = type == 0xD ? count * 2 : count;
        if (count > quint64(size) || refs + n * quint64(refSize) > tableOffset)
            return fail("binary property list references out of range");
        for (quint64 i = 0; i < n; ++i) {
            const quint64 ref = readBigEndian(data + refs + i * quint64(refSize), refSize);
            if (ref >= numObjects)
                return fail("binary property list reference out of range");
            if (ref == f.object)
                return fail("binary property list refers to itself");
            stack.push_back({ref, f.depth + 1});
        }
    }
    return true;
}

// Strings must be UTF-8: anything else would be altered (replacement
// characters) on the next rewrite, so such a file counts as unreadable.
bool isValidUtf8(const char *s)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    while (*p) {
        const unsigned char c = *p;
        int extra;
        char32_t cp;
        if (c < 0x80) {
            ++p;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        p += extra + 1;
    }
    return true;
}

// Converts a parsed tree; clears `ok` when something in it cannot be carried
// over intact.
QVariant toVariant(plist_t node, int depth, bool &ok)
{
    if (!node || depth > kMaxDepth) {
        ok = false;
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            // A key cut short at a NUL byte could collide with another key.
            if (key && (!isValidUtf8(key) || map.contains(QString::fromUtf8(key))))
                ok = false;
            map.insert(QString::fromUtf8(key), toVariant(value, depth + 1, ok));
            free(key);
        }
        free(it);
        return map;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(int(n));
        for (uint32_t i = 0; i < n; ++i)
            list.append(toVariant(plist_array_get_item(node, i), depth + 1, ok));
        return list;
    }
    case PLIST_STRING: {
        // Through the pointer: plist_get_string_val() asserts (and aborts the
        // process) when the string holds a NUL byte. Such a string could not
        // be written back whole, so it makes the file unreadable.
        uint64_t len = 0;
        const char *s = plist_get_string_ptr(node, &len);
        if (!s)
            return QString();
        if (std::memchr(s, 0, size_t(len)) || !isValidUtf8(s)) {
            ok = false;
            return {};
        }
        return QString::fromUtf8(s, qsizetype(len));
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        // Negative integers come back as their two's complement; reading
        // them as signed keeps them intact on the way back out.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return qint64(v);
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return QDateTime::fromMSecsSinceEpoch((kPlistEpoch + sec) * 1000 + usec / 1000, Qt::UTC);
    }
    case PLIST_DATA: {
        char *buf = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &buf, &len);
        QByteArray out(buf, qsizetype(len));
        free(buf);
        return out;
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QVariantMap{{QStringLiteral("CF$UID"), qint64(v)}};
    }
    default:
        ok = false;
        return {};
    }
}

plist_t fromVariant(const QVariant &value, int depth)
{
    if (depth > kMaxDepth)
        return nullptr;
    switch (value.metaType().id()) {
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (plist_t child = fromVariant(it.value(), depth + 1))
                plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant &v : value.toList()) {
            if (plist_t child = fromVariant(v, depth + 1))
                plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kPlistEpoch * 1000;
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        return plist_new_date(int32_t(sec), int32_t((ms - sec * 1000) * 1000));
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    default:
        return nullptr;
    }
}

} // namespace

QVariant parse(const QByteArray &bytes, QString *error)
{
    if (bytes.size() > kMaxFileSize) {
        if (error)
            *error = QStringLiteral("file larger than %1 bytes").arg(kMaxFileSize);
        return {};
    }
    const bool binary = plist_is_binary(bytes.constData(), uint32_t(bytes.size()));
    // XML cannot hold NUL bytes; the parser would keep them inside strings
    // and keys, where they cut the text short.
    if (!binary && bytes.contains('\0')) {
        if (error)
            *error = QStringLiteral("NUL byte in an XML property list");
        return {};
    }
    if (binary ? !binaryWithinLimits(bytes, error) : !xmlWithinLimits(bytes, error))
        return {};

    plist_t root = nullptr;
    {
        CNumericLocale cLocale;
        if (binary)
            plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
        else
            plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &root);
    }
    PlistPtr guard(root);
    if (!root) {
        if (error)
            *error = QStringLiteral("not a property list");
        return {};
    }
    bool ok = true;
    QVariant value = toVariant(root, 0, ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("unsupported property-list value or invalid UTF-8");
        return {};
    }
    return value;
}

QByteArray toXml(const QVariant &value)
{
    PlistPtr root(fromVariant(value, 0));
    if (!root)
        return {};
    char *xml = nullptr;
    uint32_t len = 0;
    {
        CNumericLocale cLocale;
        plist_to_xml(root.get(), &xml, &len);
    }
    QByteArray out(xml, qsizetype(len));
    plist_to_xml_free(xml);
    return out;
}

ReadResult readFile(const QString &path)
{
    ReadResult result;
    QFile file(path);
    if (!file.exists())
        return result;
    if (!file.open(QIODevice::ReadOnly)) {
        result.state = FileState::Unreadable;
        result.error = file.errorString();
        return result;
    }
    if (file.size() > kMaxFileSize) {
        result.state = FileState::Unreadable;
        result.error = QStringLiteral("file larger than %1 bytes").arg(kMaxFileSize);
        return result;
    }
    // Sized to the file: reading up to the limit would allocate the whole
    // limit on every read.
    const QByteArray bytes = file.read(file.size() + 1);
    if (bytes.isEmpty() && file.error() == QFile::NoError) {
        result.state = FileState::Empty;
        return result;
    }
    result.value = parse(bytes, &result.error);
    result.state = result.value.isValid() ? FileState::Value : FileState::Unreadable;
    return result;
}

bool writeFile(const QString &path, const QVariant &value, QString *error)
{
    const QByteArray xml = toXml(value);
    if (xml.isEmpty()) {
        if (error)
            *error = QStringLiteral("nothing to write");
        return false;
    }
    QSaveFile file(path);
    // QSaveFile writes a temporary file beside `path`, syncs it to disk on
    // commit and renames it over the old file. Unbuffered, so a short write
    // (disk full, file size limit) shows in write()'s result: through the
    // buffer it would go unnoticed and commit() would install a cut-off file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(xml) != xml.size() ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    // Make the rename itself durable.
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

} // namespace propertylist
