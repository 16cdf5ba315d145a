#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// Property-list files (XML, and binary on input) as plain Qt values:
// dict → QVariantMap, array → QVariantList, string → QString, integer →
// qint64 (quint64 above the qint64 range), real → double, true/false →
// bool, date → QDateTime (UTC), data → QByteArray, UID → propertylist::Uid.
// Writing always produces an XML property list, version 1.0, with Apple's
// header and DOCTYPE; a UID is written as Apple writes it in XML (a
// dictionary holding only "CF$UID"), which reads back as a UID.
namespace propertylist {

// A keyed-archiver object reference, kept apart from integers and
// dictionaries so it is written back as it was read.
struct Uid {
    quint64 value = 0;
    friend bool operator==(const Uid &a, const Uid &b) { return a.value == b.value; }
    friend bool operator!=(const Uid &a, const Uid &b) { return a.value != b.value; }
};

// Limits applied before anything is handed to the parser, whose recursion
// would otherwise follow whatever a file asks for. A binary file's tree, once
// its shared references are copied, holds at most kMaxNodes values and
// kMaxFileSize characters and bytes of text and data: a list of 10,000
// programs is about 70,000 nodes.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
constexpr int kMaxDepth = 256;
constexpr qint64 kMaxNodes = 200'000;

enum class FileState { Missing, Empty, Value, Unreadable };

struct ReadResult {
    FileState state = FileState::Missing;
    QVariant value; // the top-level value when state is Value
    QString error;  // why the file was unreadable
};

// Parses bytes as a property list. Returns an invalid QVariant and sets
// `error` when the bytes are not a property list we accept.
QVariant parse(const QByteArray &bytes, QString *error = nullptr);
QByteArray toXml(const QVariant &value);

ReadResult readFile(const QString &path);
// Writes atomically: a temporary file in the same directory, flushed to disk,
// then renamed over `path`. Either the old or the new file survives a crash.
// Refuses (false) what would be larger than kMaxFileSize: it could not be
// read back.
bool writeFile(const QString &path, const QVariant &value, QString *error = nullptr);

} // namespace propertylist

Q_DECLARE_METATYPE(propertylist::Uid)
