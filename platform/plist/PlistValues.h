#pragma once

#include <QVariant>

#include <plist/plist.h>

// Converting between libplist's trees and Qt values (see PropertyList.h for
// the mapping).
namespace propertylist {

// Converts a parsed tree; clears `ok` when something in it cannot be carried
// over intact.
QVariant toVariant(plist_t node, int depth, bool &ok);
// Builds a tree for `value`; null when it holds something a property list
// cannot.
plist_t fromVariant(const QVariant &value, int depth);

} // namespace propertylist
