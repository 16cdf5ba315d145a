#include "platform/plist/PlistValues.h"

#include "platform/plist/PropertyList.h"

#include <QDateTime>
#include <QTimeZone>

#include <cstring>
#include <limits>

namespace propertylist {
namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01).
constexpr qint64 kPlistEpoch = 978307200;

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

const char kUidKey[] = "CF$UID";

// libplist keeps whether an integer above the qint64 range is unsigned, but
// only shows it when writing: the same 64 bits read as -1 or 2^64-1.
bool isUnsignedAboveInt64(plist_t node, uint64_t v)
{
    if (v <= uint64_t(std::numeric_limits<qint64>::max()))
        return false;
    char *xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(node, &xml, &len);
    const bool negative = xml && std::strstr(xml, "<integer>-");
    plist_to_xml_free(xml);
    return !negative;
}

// An unsigned integer above the qint64 range; plist_new_uint() would mark it
// signed, so it comes from the parser, which marks it unsigned.
plist_t newLargeUnsigned(quint64 v)
{
    const QByteArray xml =
        "<plist version=\"1.0\"><integer>" + QByteArray::number(v) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    return node;
}

} // namespace

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
        // How a UID is written in XML.
        plist_t uid = plist_dict_get_size(node) == 1 ? plist_dict_get_item(node, kUidKey) : nullptr;
        if (uid && plist_get_node_type(uid) == PLIST_UINT) {
            uint64_t v = 0;
            plist_get_uint_val(uid, &v);
            return QVariant::fromValue(Uid{v});
        }
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
        // Through an iterator: for an array read from a binary file, getting
        // an item by its index walks the array from its start.
        QVariantList list;
        list.reserve(int(plist_array_get_size(node)));
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        for (plist_t item = nullptr;;) {
            plist_array_next_item(node, it, &item);
            if (!item)
                break;
            list.append(toVariant(item, depth + 1, ok));
        }
        free(it);
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
        if (isUnsignedAboveInt64(node, v))
            return quint64(v);
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
        return QVariant::fromValue(Uid{v});
    }
    default: ok = false; return {};
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
    case QMetaType::QString: return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::Bool: return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short: return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort: {
        const quint64 v = value.toULongLong();
        return v > quint64(std::numeric_limits<qint64>::max()) ? newLargeUnsigned(v)
                                                               : plist_new_uint(v);
    }
    case QMetaType::Double:
    case QMetaType::Float: return plist_new_real(value.toDouble());
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
        if (value.metaType() == QMetaType::fromType<Uid>())
            return plist_new_uid(value.value<Uid>().value);
        return nullptr;
    }
}

} // namespace propertylist
