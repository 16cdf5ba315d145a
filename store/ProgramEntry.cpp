#include "store/ProgramEntry.h"

#include <QVariantList>

#include <cmath>

namespace program {

bool isEqual(const QVariant &a, const QVariant &b)
{
    const int type = a.metaType().id();
    if (type != b.metaType().id())
        return false;
    if (type == QMetaType::QVariantMap) {
        const QVariantMap ma = a.toMap();
        const QVariantMap mb = b.toMap();
        if (ma.size() != mb.size())
            return false;
        for (auto ia = ma.cbegin(), ib = mb.cbegin(); ia != ma.cend(); ++ia, ++ib) {
            if (ia.key() != ib.key() || !isEqual(ia.value(), ib.value()))
                return false;
        }
        return true;
    }
    if (type == QMetaType::QVariantList) {
        const QVariantList la = a.toList();
        const QVariantList lb = b.toList();
        if (la.size() != lb.size())
            return false;
        for (qsizetype i = 0; i < la.size(); ++i) {
            if (!isEqual(la.at(i), lb.at(i)))
                return false;
        }
        return true;
    }
    if (type == QMetaType::Double) {
        // A NaN read from the file must still equal itself, or the entry
        // holding it could never be deleted.
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    return a == b;
}

} // namespace program
