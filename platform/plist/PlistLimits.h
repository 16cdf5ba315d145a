#pragma once

#include <QByteArray>
#include <QString>

// Checks made on a file's raw bytes before the parser sees them: the parser
// (and freeing or converting what it builds) recurses once per nesting level,
// so depth and size are bounded first (see kMaxDepth and kMaxNodes).
namespace propertylist {

// Whether an XML property list stays within kMaxDepth levels of nesting.
bool xmlWithinLimits(const QByteArray &bytes, QString *error);
// Whether a binary property list's object graph stays shallow and small.
bool binaryWithinLimits(const QByteArray &bytes, QString *error);

} // namespace propertylist
