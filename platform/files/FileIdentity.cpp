// What makes a file the one the user saw: device, inode, type, size and times (birth, modification, inode change).
#include "platform/files/FileIdentity.h"
#include "platform/files/FileNames.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

} // namespace

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
