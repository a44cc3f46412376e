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
// path is folder itself or lies inside it, by whole components ("Trip 2" is
// not inside "Trip") and by the bytes as given, nothing cleaned: "/" holds
// every absolute path. The spelling of a QString path: LexicalPaths::isInside.
bool isAtOrUnder(const QByteArray &path, const QByteArray &folder);

} // namespace lg
