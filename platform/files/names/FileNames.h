#pragma once
// A file name is bytes: these carry the names that are not valid UTF-8 (from a
// card written by another system: "\xff", Latin-1 letters) through the
// program's QString paths without losing them, so that such a file keeps its
// own identity and never collapses into a look-alike whose name holds U+FFFD.
//
// A byte that is not part of valid UTF-8 is carried as the lone low surrogate
// U+DC80 + (byte - 0x80), which no decoded text holds, and given back as that
// byte. Qt's own file classes know nothing of this (they write such a unit as
// U+FFFD, that is the look-alike's name): a path that holds one reaches the
// file system through toNative() only, and commands refuse it.
//
// Plain functions of their arguments, and three looks at the disk by a path's
// bytes (exists, isFolder, canonical) for the places that would otherwise ask Qt's file
// classes, which find the look-alike; any thread.
#include <QByteArray>
#include <QString>
#include <QUrl>

namespace lg::FileNames {

// The bytes as a path: valid UTF-8 decoded, every other byte carried.
QString fromNative(const QByteArray &bytes);
// The path's bytes for the file system: what fromNative read, byte for byte.
QByteArray toNative(const QString &path);
// Whether path carries bytes that are not valid UTF-8.
bool hasRawBytes(const QString &path);
// The text for a person: each carried byte shown as U+FFFD.
QString shown(const QString &text);
// The words of a refusal of a command on path, whose name is not valid
// UTF-8: it names the file (each carried byte as U+FFFD), says why, and what
// the user can do about it.
QString notTextMessage(const QString &path);
// The file URL of path: percent-encoded bytes, so that the carried ones stay
// apart from a look-alike's ("%FF", not "%EF%BF%BD").
QUrl urlOf(const QString &path);
// The path of a file URL, carried bytes included; empty for other URLs.
QString pathOf(const QUrl &url);
// Something is at path, links followed (a link whose target has gone is not);
// read by the path's bytes.
bool exists(const QString &path);
// A folder, or a link to one, is at path; read by the path's bytes.
bool isFolder(const QString &path);
// The path with every link resolved, read by its bytes (a name that is not
// UTF-8 is never resolved as its look-alike); empty when it does not exist.
QString canonical(const QString &path);

} // namespace lg::FileNames
