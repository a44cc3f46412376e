#pragma once
// Paths by their bytes, as the file layer hands them to the system calls (a
// path's bytes themselves are FileNames::toNative and FileNames::fromNative).
// Not for use outside this room (the rest of the program goes through
// FileNames.h). Any thread; nothing fails.
#include <QByteArray>
#include <QString>

namespace lg {

// folder and name joined by one '/'.
QByteArray joinRaw(const QByteArray &folder, const QByteArray &name);
// The folder that holds path: "/" for an item at the top, "." for a bare name.
QByteArray folderOf(const QByteArray &path);

} // namespace lg
