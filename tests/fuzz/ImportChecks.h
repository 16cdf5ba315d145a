#pragma once

// What an import of another player's station list promises, whatever the
// file holds: only http(s) addresses, clean names of bounded length, at most
// the entry limit, and nothing from a file of no known format.

#include "FuzzSupport.h"
#include "store/ProgramEntry.h"
#include "store/ProgramImport.h"

namespace fuzz {

inline void checkImport(const QByteArray &bytes)
{
    const programimport::Parsed parsed = programimport::parse(bytes);
    if (parsed.entries.size() > programimport::kMaxEntries)
        fuzz::fail("import took more entries than its limit");
    if (parsed.format == programimport::Format::Unknown && !parsed.entries.isEmpty())
        fuzz::fail("import took entries from a file it did not recognise");
    for (const QVariant &e : parsed.entries) {
        const QString name = program::name(e);
        if (name.size() > programimport::kMaxNameLength || name != programimport::cleanName(name))
            fuzz::fail("an imported name is not clean");
        if (programimport::usableUrl(program::url(e)) != program::url(e))
            fuzz::fail("an imported address is not http(s)");
        const QString image = program::image(e);
        if (!image.isEmpty() && programimport::usableUrl(image) != image)
            fuzz::fail("an imported picture address is not http(s)");
        if (program::group(e) != programimport::cleanName(program::group(e)))
            fuzz::fail("an imported group name is not clean");
    }
}

} // namespace fuzz
