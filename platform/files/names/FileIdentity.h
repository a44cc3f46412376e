#pragma once
// Which file a name stands for, and in what state: the device and inode of what
// the name names now (the link itself for a symbolic link), its type, its birth
// time where the file system keeps one, its size, its modification time and its
// inode change time. A file renamed over the name, deleted and written again
// (which on ext4 often gets the same inode back), or changed in place by another
// program has another identity, also when that program put the size and the
// modification time back (`exiftool -P`): the change time cannot be set back.
// A file left alone keeps its own. The change time moves with a rename, a
// chmod or an attribute written too: who acts on a file takes its identity
// again afterwards. A path reaches the disk by its exact bytes (lg::FileNames),
// so a name that is not valid UTF-8 is never read as its look-alike. Any
// thread; a name that names nothing (or cannot be read) has no identity.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <sys/types.h>

struct stat;

namespace lg {

struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    quint32 type = 0;          // st_mode & S_IFMT
    qint64 birthSeconds = 0;   // 0 with birthNanoseconds 0: the file system keeps none
    quint32 birthNanoseconds = 0;
    qint64 size = 0;
    qint64 modifiedSeconds = 0;
    quint32 modifiedNanoseconds = 0;
    qint64 changedSeconds = 0;   // the inode change time (st_ctim)
    quint32 changedNanoseconds = 0;
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;

    // The same file object (device and inode), whatever its content now.
    bool sameObject(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// The identity of what path names now (statx without following a final link,
// lstat where statx is missing); none when nothing is there.
std::optional<FileIdentity> fileIdentity(const QString &path);
// The identity of the file path leads to, a final link followed (what opening
// path reads); none when it leads nowhere.
std::optional<FileIdentity> fileIdentityFollowing(const QString &path);
// The same for an open descriptor, or for name inside the folder dirFd (no
// following of a final link); none on failure, with errno set.
std::optional<FileIdentity> fileIdentityAt(int dirFd, const char *name);
std::optional<FileIdentity> fileIdentityOf(int fd);
// The identity a stat describes (no birth time: stat has none).
FileIdentity identityOfStat(const struct stat &st);

// What the file system that holds a file can tell and keep, as copies and
// moves need to know it.
enum class FileSystemKind {
    Ordinary,   // ext4, xfs, btrfs, tmpfs, NFS ...: every write moves the change time
    Card,       // FAT or exFAT, by the kernel or through FUSE (fusefat, exfat-fuse on a
                // block device): no permissions, no links, no change time of its own
                // (a writer that puts the date back leaves no trace), names by the
                // card's rules (no : ? * < > | " \ or control characters, valid UTF-8)
    Fuse,       // another FUSE driver: what it reports of times need not move with a write
};
// The kind of the file system that holds the open file fd (fstatfs; for FUSE
// the mount table says which driver). Ordinary when it cannot be told.
FileSystemKind fileSystemKindOf(int fd);
// Tests: the kind of the file system of each device (none: as the disk says);
// an empty hook puts the disk's word back.
using FileSystemKindHook = std::function<std::optional<FileSystemKind>(dev_t device)>;
void setFileSystemKindForTesting(FileSystemKindHook hook);

} // namespace lg
