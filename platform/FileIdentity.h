#pragma once
// Which file a name stands for: the device and inode of what the name names
// now (the link itself for a symbolic link). A file renamed over the name, or
// replaced as a file manager's Replace does (written beside, renamed over),
// has another identity; the same file rewritten in place keeps its own. Any
// thread; a name that names nothing (or cannot be read) has no identity.
#include <QString>
#include <QtGlobal>

#include <optional>

namespace lg {

struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

// The identity of what path names now (lstat); none when nothing is there.
std::optional<FileIdentity> fileIdentity(const QString &path);

} // namespace lg
