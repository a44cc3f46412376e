// What makes a file the one the user saw: device, inode, type, size and times (birth, modification, inode change).
#include "platform/files/names/FileIdentity.h"
#include "platform/files/names/FileNames.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace lg {

namespace {

std::optional<FileIdentity> identityFromStatx(int dirFd, const char *name, int flags)
{
    struct statx sx {};
    const unsigned mask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME;
    if (::statx(dirFd, name, flags | AT_STATX_SYNC_AS_STAT, mask, &sx) == 0) {
        FileIdentity id;
        id.device = (quint64(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
        id.inode = sx.stx_ino;
        id.type = sx.stx_mode & S_IFMT;
        if (sx.stx_mask & STATX_BTIME) {
            id.birthSeconds = sx.stx_btime.tv_sec;
            id.birthNanoseconds = sx.stx_btime.tv_nsec;
        }
        id.size = qint64(sx.stx_size);
        id.modifiedSeconds = sx.stx_mtime.tv_sec;
        id.modifiedNanoseconds = sx.stx_mtime.tv_nsec;
        id.changedSeconds = sx.stx_ctime.tv_sec;
        id.changedNanoseconds = sx.stx_ctime.tv_nsec;
        return id;
    }
    if (errno != ENOSYS)
        return std::nullopt;
    struct stat st {};
    const int rc = (flags & AT_EMPTY_PATH) ? ::fstat(dirFd, &st)
                                           : ::fstatat(dirFd, name, &st, flags & AT_SYMLINK_NOFOLLOW);
    if (rc != 0)
        return std::nullopt;
    return identityOfStat(st);
}

std::mutex g_kindMutex;
FileSystemKindHook g_kindHook;

constexpr long exfatMagic = 0x2011BAB0;   // not in every linux/magic.h
constexpr long fuseMagic = 0x65735546;

// The type field of the mount table's line for device (major:minor), as
// "vfat", "fuse.fusefat" or "fuseblk"; empty when it is not listed.
QByteArray mountTypeOf(dev_t device)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wanted = QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3 || fields.at(2) != wanted)
            continue;
        const qsizetype dash = fields.indexOf("-", 6);
        return dash > 0 && dash + 1 < fields.size() ? fields.at(dash + 1) : QByteArray();
    }
    return {};
}

} // namespace

FileSystemKind fileSystemKindOf(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return FileSystemKind::Ordinary;
    {
        std::lock_guard<std::mutex> lock(g_kindMutex);
        if (g_kindHook) {
            if (const std::optional<FileSystemKind> kind = g_kindHook(st.st_dev))
                return *kind;
        }
    }
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return FileSystemKind::Ordinary;
    if (long(fs.f_type) == MSDOS_SUPER_MAGIC || long(fs.f_type) == exfatMagic)
        return FileSystemKind::Card;
    if (long(fs.f_type) != fuseMagic)
        return FileSystemKind::Ordinary;
    // fusefat mounts as "fuse.fusefat", exfat-fuse as "fuseblk" (a block
    // device's driver: exFAT or NTFS, which keep no change time either).
    const QByteArray type = mountTypeOf(st.st_dev).toLower();
    if (type == "fuseblk" || type.endsWith("fat") || type.endsWith(".exfat") || type.endsWith(".msdos"))
        return FileSystemKind::Card;
    return FileSystemKind::Fuse;
}

void setFileSystemKindForTesting(FileSystemKindHook hook)
{
    std::lock_guard<std::mutex> lock(g_kindMutex);
    g_kindHook = std::move(hook);
}

FileIdentity identityOfStat(const struct stat &st)
{
    FileIdentity id;
    id.device = (quint64(major(st.st_dev)) << 32) | minor(st.st_dev);
    id.inode = st.st_ino;
    id.type = st.st_mode & S_IFMT;
    id.size = st.st_size;
    id.modifiedSeconds = st.st_mtim.tv_sec;
    id.modifiedNanoseconds = quint32(st.st_mtim.tv_nsec);
    id.changedSeconds = st.st_ctim.tv_sec;
    id.changedNanoseconds = quint32(st.st_ctim.tv_nsec);
    return id;
}

std::optional<FileIdentity> fileIdentity(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    return identityFromStatx(AT_FDCWD, lg::FileNames::toNative(path).constData(), AT_SYMLINK_NOFOLLOW);
}

std::optional<FileIdentity> fileIdentityFollowing(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    return identityFromStatx(AT_FDCWD, lg::FileNames::toNative(path).constData(), 0);
}

std::optional<FileIdentity> fileIdentityAt(int dirFd, const char *name)
{
    if (!name || !*name)
        return std::nullopt;
    return identityFromStatx(dirFd, name, AT_SYMLINK_NOFOLLOW);
}

std::optional<FileIdentity> fileIdentityOf(int fd)
{
    if (fd < 0)
        return std::nullopt;
    return identityFromStatx(fd, "", AT_EMPTY_PATH);
}

} // namespace lg
