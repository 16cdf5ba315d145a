// Fuzz target for reading other players' station lists (M3U, PLS, XSPF,
// Goodvibes' XML, Radiotray-NG's JSON): what an import keeps of any file
// (see ImportChecks.h), and that it keeps the same of a file however it is
// told. The store target reads the same way, beside the data file; this one
// runs the import alone, many times faster, over the lists' own corpus.

#include "ImportChecks.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    fuzz::checkImport(bytes);
    const programimport::Parsed parsed = programimport::parse(bytes);
    fuzz::check(programimport::detect(bytes) == parsed.format,
                "the format read is not the format detected");
    fuzz::check(parsed.withoutUrl >= 0, "a negative count of entries left out");
    qint64 text = 0;
    for (const QVariant &e : parsed.entries)
        text += program::name(e).size() + program::url(e).size() + program::image(e).size();
    fuzz::check(text <= programimport::kMaxImportBytes, "import took more text than its limit");
    const programimport::Merge merge = programimport::newEntries({}, parsed.entries);
    fuzz::check(merge.added.size() + merge.duplicates == parsed.entries.size(),
                "merging into an empty list lost entries");
    return 0;
}
