#include "platform/plist/PlistLimits.h"

#include "platform/plist/PropertyList.h"

#include <QHash>

#include <algorithm>
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

// Reads the object graph of a binary property list once, without recursion,
// and works out the tree the parser would build from it: the parser copies
// an object at every reference to it, so a few hundred bytes of shared
// references can stand for millions of nodes. Each object is read once,
// children before their parents, and keeps the size and height of its tree;
// a second reference adds those numbers instead of walking the tree again.
// The work is linear in the file's size, and a file is refused as soon as
// its tree grows past the limits.
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

    // An object as the parser will see it: a container's references, or
    // how many characters or bytes a leaf holds.
    struct Object {
        bool container = false;
        quint64 refs = 0;  // where a container's references start
        quint64 count = 0; // how many there are
        quint64 text = 0;  // a string's characters, data's bytes
    };
    auto readObject = [&](quint64 index, Object *object) {
        const quint64 off =
            readBigEndian(data + tableOffset + index * quint64(offsetSize), offsetSize);
        if (off >= tableOffset)
            return fail("binary property list object out of range");
        const uchar marker = data[off];
        const int type = marker >> 4;
        const bool string = type == 0x5 || type == 0x6;
        const bool container = type == 0xA || type == 0xC || type == 0xD;
        if (!string && !container && type != 0x4)
            return true;
        quint64 count = marker & 0x0F;
        quint64 at = off + 1;
        if (count == 0x0F) {
            if (at >= tableOffset || (data[at] >> 4) != 0x1)
                return fail("malformed binary property list count");
            const int intSize = 1 << (data[at] & 0x0F);
            if (intSize > 8 || at + 1 + quint64(intSize) > tableOffset)
                return fail("malformed binary property list count");
            count = readBigEndian(data + at + 1, intSize);
            at += 1 + quint64(intSize);
        }
        if (count > quint64(size))
            return fail("binary property list object out of range");
        if (container) {
            object->container = true;
            object->refs = at;
            object->count = type == 0xD ? count * 2 : count; // keys count as nodes
            if (at + object->count * quint64(refSize) > tableOffset)
                return fail("binary property list references out of range");
            return true;
        }
        const quint64 unit = type == 0x6 ? 2 : 1;
        if (at + count * unit > tableOffset)
            return fail(string ? "binary property list string out of range"
                               : "binary property list data out of range");
        object->text = count;
        if (string) {
            // The parser cuts a string at a NUL byte, and XML cannot hold
            // one: such a string could not be kept whole.
            for (quint64 i = 0; i < count; ++i) {
                const uchar *c = data + at + i * unit;
                if (c[0] == 0 && (unit == 1 || c[1] == 0))
                    return fail("NUL character in a binary property list string");
            }
        }
        return true;
    };

    // The tree an object stands for once every reference is copied. Sizes
    // are checked after every addition, so they never get near overflowing.
    struct Tree {
        quint64 nodes = 1;
        quint64 text = 0; // characters and bytes of its strings and data
        int height = 1;
        bool complete = false; // false while its children are being read
    };
    struct Frame {
        quint64 object;
        Object read;
        quint64 next = 0; // the next reference to follow
        Tree tree;
    };
    QHash<quint64, Tree> trees; // every object read so far
    std::vector<Frame> path;    // the containers being read, outermost first
    // Adds a child's tree to the container being read, at the depth it is
    // referred from (the top object is at depth 1).
    auto addToParent = [&](const Tree &child) {
        if (qint64(path.size()) + child.height > kMaxDepth)
            return fail("binary property list nested too deeply");
        if (path.empty())
            return true;
        Tree &parent = path.back().tree;
        parent.nodes += child.nodes;
        parent.text += child.text;
        parent.height = std::max(parent.height, child.height + 1);
        if (parent.nodes > quint64(kMaxNodes))
            return fail("binary property list expands to too many objects");
        if (parent.text > quint64(kMaxFileSize))
            return fail("binary property list expands to too much text");
        return true;
    };
    auto enter = [&](quint64 index) {
        // Each object read is at least one node of the tree.
        if (trees.size() >= kMaxNodes)
            return fail("binary property list expands to too many objects");
        Object object;
        if (!readObject(index, &object))
            return false;
        Tree tree;
        tree.text = object.text;
        if (!object.container) {
            tree.complete = true;
            trees.insert(index, tree);
            return addToParent(tree);
        }
        if (qint64(path.size()) + 1 > kMaxDepth)
            return fail("binary property list nested too deeply");
        trees.insert(index, tree);
        path.push_back({index, object, 0, tree});
        return true;
    };

    if (!enter(topObject))
        return false;
    while (!path.empty()) {
        Frame &f = path.back();
        if (f.next == f.read.count) {
            Tree done = f.tree;
            done.complete = true;
            trees.insert(f.object, done);
            path.pop_back();
            if (!addToParent(done))
                return false;
            continue;
        }
        const quint64 ref = readBigEndian(data + f.read.refs + f.next * quint64(refSize), refSize);
        ++f.next;
        if (ref >= numObjects)
            return fail("binary property list reference out of range");
        const auto known = trees.constFind(ref);
        if (known == trees.cend()) {
            if (!enter(ref))
                return false;
        } else if (!known->complete) {
            return fail("binary property list object contains itself");
        } else if (!addToParent(*known)) {
            return false;
        }
    }
    return true;
}

} // namespace propertylist
