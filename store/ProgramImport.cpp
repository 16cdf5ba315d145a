#include "store/ProgramImport.h"

#include "platform/base/Log.h"
#include "platform/base/WebAddress.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace programimport {

namespace {

bool isDirectionControl(char32_t c)
{
    return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

} // namespace

FileResult readFile(const QString &path)
{
    FileResult result;
    const QFileInfo info(path);
    if (!info.isFile()) {
        result.error = ReadError::Unreadable;
        result.reason =
            info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("no such file");
        return result;
    }
    if (info.size() > kMaxFileBytes) {
        result.error = ReadError::TooLarge;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = ReadError::Unreadable;
        result.reason = file.errorString();
        return result;
    }
    // The file may grow between the look and the read.
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes) {
        result.error = ReadError::TooLarge;
        return result;
    }
    result.parsed = parse(bytes);
    if (result.parsed.format == Format::Unknown)
        result.error = ReadError::NotAPlaylist;
    return result;
}

QString cleanName(const QString &name)
{
    QString out;
    out.reserve(std::min<qsizetype>(name.size(), kMaxNameLength * 2));
    for (qsizetype i = 0; i < name.size() && out.size() < kMaxNameLength * 4; ++i) {
        const QChar c = name.at(i);
        if (c.category() == QChar::Other_Control) {
            // Tabs and line breaks separate words; other controls are dropped.
            if (c == u'\t' || c == u'\n' || c == u'\r')
                out += u' ';
            continue;
        }
        if (isDirectionControl(c.unicode()))
            continue;
        out += c;
    }
    out = out.simplified();
    if (out.size() > kMaxNameLength) {
        out.truncate(kMaxNameLength);
        if (out.back().isHighSurrogate())
            out.chop(1);
        // A cut after a space leaves no space at the end.
        out = out.trimmed();
    }
    return out;
}

QString usableUrl(const QString &url)
{
    const QString trimmed = url.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > kMaxUrlLength ||
        !(trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
          trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)))
        return {};
    return isWebAddress(QUrl(trimmed, QUrl::StrictMode)) ? trimmed : QString();
}

QString normalizedUrl(const QString &url)
{
    QUrl u(url.trimmed());
    if (!u.isValid())
        return url.trimmed();
    const QString scheme = u.scheme().toLower();
    u.setScheme(scheme);
    u.setHost(u.host().toLower());
    if ((scheme == QLatin1String("http") && u.port() == 80) ||
        (scheme == QLatin1String("https") && u.port() == 443))
        u.setPort(-1);
    if (u.path().isEmpty())
        u.setPath(QStringLiteral("/"));
    return u.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments)
        .toString(QUrl::FullyEncoded);
}

Merge newEntries(const QVariantList &existing, const QVariantList &incoming)
{
    QSet<QString> seen;
    seen.reserve(existing.size() + incoming.size());
    for (const QVariant &item : existing) {
        const QString url = program::url(item);
        if (!url.isEmpty())
            seen.insert(normalizedUrl(url));
    }
    Merge merge;
    for (const QVariant &item : incoming) {
        const QString key = normalizedUrl(program::url(item));
        if (seen.contains(key)) {
            ++merge.duplicates;
            continue;
        }
        seen.insert(key);
        merge.added << item;
    }
    return merge;
}

Outcome importInto(const Parsed &parsed)
{
    CacheManager *store = CacheManager::shareIntance();
    Merge merge = newEntries(store->getData(), parsed.entries);
    // A program of a group the list has joins it, whatever the case of the
    // file's spelling.
    QHash<QString, QString> groups;
    for (const QString &g : store->getGroups())
        groups.insert(g.toCaseFolded(), g);
    for (QVariant &item : merge.added) {
        const QString g = program::group(item);
        const QString existing = groups.value(g.toCaseFolded());
        if (g.isEmpty())
            continue;
        if (existing.isEmpty())
            groups.insert(g.toCaseFolded(), g);
        else if (existing != g)
            item = program::withGroup(item.toMap(), existing);
    }
    Outcome outcome;
    outcome.added = int(merge.added.size());
    outcome.duplicates = merge.duplicates;
    if (!merge.added.isEmpty())
        outcome.saved = store->appendData(merge.added);
    NSLog(lcStore(), QtInfoMsg, "import: %d new, %d already listed, %d without address%@",
          outcome.added, outcome.duplicates, parsed.withoutUrl,
          outcome.saved ? QString() : QStringLiteral(", not saved"));
    return outcome;
}

namespace {

QString programs(int n)
{
    return n == 1 ? QStringLiteral("1 program") : QStringLiteral("%L1 programs").arg(n);
}

} // namespace

QString summary(const FileResult &file, const Outcome &outcome)
{
    if (!outcome.saved)
        return QStringLiteral("The programs could not be imported: the change could not be "
                              "saved. The list is unchanged.");
    QString text =
        outcome.added == 0
            ? QStringLiteral("Nothing new to import: %1 already in the list.")
                  .arg(outcome.duplicates == 1
                           ? QStringLiteral("the 1 program is")
                           : QStringLiteral("all %L1 programs are").arg(outcome.duplicates))
            : QStringLiteral("Added %1, skipped %L2 already in the list.")
                  .arg(programs(outcome.added))
                  .arg(outcome.duplicates);
    const Parsed &parsed = file.parsed;
    if (parsed.withoutUrl > 0)
        text += QStringLiteral(" Left out %L1 without an http or https address.")
                    .arg(parsed.withoutUrl);
    if (parsed.truncated)
        text += QStringLiteral(" The file holds more than one import takes; only the first %1 "
                               "were read.")
                    .arg(programs(int(parsed.entries.size())));
    return text;
}

QString failure(const FileResult &file)
{
    switch (file.error) {
    case ReadError::TooLarge:
        return QStringLiteral("The file is larger than %L1 MB and was not imported. The list is "
                              "unchanged.")
            .arg(kMaxFileBytes / (1024 * 1024));
    case ReadError::Unreadable:
        return QStringLiteral("The file could not be read (%1). The list is unchanged.")
            .arg(file.reason);
    case ReadError::NotAPlaylist:
        return QStringLiteral("The file is not a station list Orbitune can read (M3U, PLS, XSPF, "
                              "Goodvibes or Radiotray-NG). The list is unchanged.");
    case ReadError::None: break;
    }
    return QStringLiteral("The file holds no station with an http or https address. Nothing was "
                          "imported; the list is unchanged.");
}

QList<Source> knownSources()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QList<Source> candidates{
        {QStringLiteral("Goodvibes"), config + QStringLiteral("/goodvibes/stations.xml")},
        {QStringLiteral("Goodvibes"), data + QStringLiteral("/goodvibes/stations.xml")},
        {QStringLiteral("Radiotray-NG"), config + QStringLiteral("/radiotray-ng/bookmarks.json")}};
    QList<Source> found;
    for (const Source &s : candidates)
        if (QFileInfo(s.path).isFile())
            found << s;
    return found;
}

} // namespace programimport
