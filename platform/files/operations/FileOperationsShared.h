#pragma once
// What the files of the file layer (FileOperations.cpp, FileNamesOnDisk.cpp,
// FileOperationRun.cpp) share: the path helpers, a folder's listing by bytes and
// the registration of the result types for queued signals. Not for use
// outside this room. Any thread.
#include "platform/files/names/RawPaths.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <vector>

namespace lg::fileops {

// The result types, registered once for queued signals.
void registerTypes();

// The folder above path ("/" for a top-level item); its last part; the two joined.
QString parentOf(const QString &path);
QString nameOf(const QString &path);
QString joinPath(const QString &folder, const QString &name);
// lstat by the path's bytes; false when nothing is there (errno says why).
bool lstatPath(const QString &path, struct stat *st);
// The same file object (device and inode).
bool sameInode(const struct stat &a, const struct stat &b);
// Entry names of a folder without "." and ".."; false when it cannot be read.
bool listNames(const QByteArray &folder, std::vector<QByteArray> *names, int *err);

} // namespace lg::fileops
