#include "platform/plist/PlistLimits.h"

#include "platform/plist/PropertyList.h"

#include <cstring>
#include <vector>

namespace propertylist {
namespace {

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

quint64 readBigEndian(const uchar *p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

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
        const bool string = type == 0x5 || type == 0x6;
        if (type != 0xA && type != 0xC && type != 0xD && !string)
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
        if (string) {
            // The parser cuts a string at a NUL byte, and XML cannot hold
            // one: such a string could not be kept whole.
            const quint64 unit = type == 0x6 ? 2 : 1;
            if (count > quint64(size) || refs + count * unit > tableOffset)
                return fail("binary property list string out of range");
            for (quint64 i = 0; i < count; ++i) {
                const uchar *c = data + refs + i * unit;
                if (c[0] == 0 && (unit == 1 || c[1] == 0))
                    return fail("NUL character in a binary property list string");
            }
            continue;
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

} // namespace propertylist
