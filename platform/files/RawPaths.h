#pragma once
// Paths by their bytes, as the file layer hands them to the system calls.
// Not for use outside this room (the rest of the program goes through
// FileNames.h). Any thread; nothing fails.
#include <QByteArray>
#include <QString>

namespace lg {

// A path's bytes on disk (a name that is not UTF-8 keeps its own bytes).
QByteArray enc(const QString &path);
// A path's bytes read back as a QString.
QString decoded(const QByteArray &path);
// folder and name joined by one '/'.
QByteArray joinRaw(const QByteArray &folder, const QByteArray &name);
// The folder that holds path: "/" for an item at the top, "." for a bare name.
QByteArray folderOf(const QByteArray &path);

} // namespace lg
