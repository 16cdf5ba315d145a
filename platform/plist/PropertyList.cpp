#include "platform/plist/PropertyList.h"

#include "platform/plist/PlistLimits.h"
#include "platform/plist/PlistValues.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QThreadPool>
#include <QTimeZone>

#include <plist/plist.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstring>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <limits>
#include <locale.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace propertylist {
namespace {

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

// The last file read with what it held. The windows read the whole file on
// every call so that each sees what another wrote last; reading the bytes is
// cheap, parsing a long list is not. Only bytes identical to the last ones
// reuse the result, so a change by anyone shows at once.
struct LastRead {
    QMutex mutex;
    QString path;
    QByteArray bytes;
    ReadResult result;
};

// After a large file was parsed into a tree and converted, or a large value
// converted into one and written, the C library keeps the freed nodes'
// pages, which lie between the values kept: the process would stay as large
// as at its peak, megabytes more than it holds for a long list. They are
// handed back to the system on a worker thread, one hand-back at a time: it
// takes tens of milliseconds for a heap of such a list.
constexpr qsizetype kGiveBackBytes = 1024 * 1024;
void giveBackFreedMemory()
{
#if defined(__GLIBC__)
    static std::atomic_bool underWay = false;
    if (underWay.exchange(true))
        return;
    QThreadPool::globalInstance()->start([] {
        malloc_trim(0);
        underWay = false;
    });
#endif
}

LastRead &lastRead()
{
    static LastRead last;
    return last;
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
    guard.reset();
    if (bytes.size() >= kGiveBackBytes)
        giveBackFreedMemory();
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
    LastRead &last = lastRead();
    {
        QMutexLocker lock(&last.mutex);
        if (last.path == path && last.bytes == bytes)
            return last.result;
    }
    result.value = parse(bytes, &result.error);
    result.state = result.value.isValid() ? FileState::Value : FileState::Unreadable;
    QMutexLocker lock(&last.mutex);
    last.path = path;
    last.bytes = bytes;
    last.result = result;
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
    // A small binary file can share one array many times over; written out
    // as XML it may grow past what readFile() accepts. Such a file would
    // replace a readable one with one that is never read again.
    if (xml.size() > kMaxFileSize) {
        if (error)
            *error = QStringLiteral("%1 bytes to write, more than the %2 a read accepts")
                         .arg(xml.size())
                         .arg(kMaxFileSize);
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
    if (xml.size() >= kGiveBackBytes)
        giveBackFreedMemory();
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
