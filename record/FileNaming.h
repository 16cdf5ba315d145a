#pragma once

#include <QDateTime>
#include <QString>

// Names of recorded files and their folders.
namespace filenaming {

// The longest file name, in bytes of UTF-8, file systems accept.
constexpr qsizetype kMaxNameBytes = 255;

// `text` as a part of a file name: path separators, NUL, control
// characters and those FAT, exFAT and NTFS refuse (? : " * < > |) replaced,
// white space folded; "." and ".." made harmless.
QString cleanPart(const QString &text);

// "YYYY-MM-DD HH.MM.SS – <title>[ (part N)][ (partial)].<ext>" in local
// time, short enough that a " (99)" telling two files apart still fits in
// kMaxNameBytes: the title is shortened (never the date, the suffixes or
// the extension), without splitting a character. `part` 0: no part.
QString songFileName(const QDateTime &started, const QString &title, bool partial,
                     const QString &extension, int part = 0);

// <base>/Orbitune/<program>, or "<program> YYYY-MM-DD" for a valid `date`;
// base is the music folder (~/Music if there is none) unless `folder` names
// another one.
QString programFolder(const QString &folder, const QString &program, const QDate &date = {});

} // namespace filenaming
