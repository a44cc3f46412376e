#include "platform/Removal.h"

#include "platform/FileOperations.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace lg {

namespace {

QByteArray joinRaw(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QString decoded(const QByteArray &path) { return QFile::decodeName(path); }

QByteArray handlePath(int fd) { return "/proc/self/fd/" + QByteArray::number(fd); }

// The path the kernel knows for an open handle; empty when it cannot tell.
QByteArray pathOfHandle(int fd)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(handlePath(fd).constData(), buffer, sizeof buffer);
    return n > 0 && n < ssize_t(sizeof buffer) ? QByteArray(buffer, qsizetype(n)) : QByteArray();
}

// Mount points as /proc/self/mountinfo lists them (for kernels whose statx
// cannot tell); octal escapes undone.
QSet<QByteArray> mountPointsFromTable()
{
    QSet<QByteArray> points;
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return points;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const QByteArray &escaped = fields.at(4);
        QByteArray point;
        for (qsizetype i = 0; i < escaped.size(); ++i) {
            if (escaped.at(i) == '\\' && i + 3 < escaped.size()) {
                point.append(char(escaped.mid(i + 1, 3).toInt(nullptr, 8)));
                i += 3;
            } else {
                point.append(escaped.at(i));
            }
        }
        points.insert(point);
    }
    return points;
}

// True when the folder name in folderFd, examined as st, is the top of a mount:
// another file system, or a bind mount of the same one. The kernel says so
// where it can (statx); else a device other than its folder's, or the mount
// table, tells.
bool isMountTopAt(int folderFd, const QByteArray &name, const struct stat &st, dev_t folderDevice)
{
    struct statx sx;
    if (::statx(folderFd, name.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &sx) == 0
        && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    if (st.st_dev != folderDevice)
        return true;
    const QByteArray folder = pathOfHandle(folderFd);
    return !folder.isEmpty() && mountPointsFromTable().contains(joinRaw(folder, name));
}

bool isSameEntry(int fd, const struct stat &examined)
{
    struct stat opened;
    return ::fstat(fd, &opened) == 0 && S_ISDIR(opened.st_mode) && opened.st_dev == examined.st_dev
           && opened.st_ino == examined.st_ino;
}

// A folder of ours that we may not read: made readable and writable through a
// handle that needs no permission (O_PATH), then opened through that handle.
int openUpFolderAt(int folderFd, const QByteArray &name, const struct stat &examined)
{
    const int pathFd = ::openat(folderFd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (pathFd < 0)
        return -1;
    int fd = -1;
    if (isSameEntry(pathFd, examined)) {
        ::chmod(handlePath(pathFd).constData(), (examined.st_mode | S_IRWXU) & 07777);
        fd = ::open(handlePath(pathFd).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        errno = ELOOP;
    }
    const int err = errno;
    ::close(pathFd);
    errno = err;
    return fd;
}

// Opens the folder name in folderFd for its removal, when it is still the
// folder examined (st), and makes it writable where it is ours to open up. 0
// with *fd open; ENOENT when it has gone; otherwise the error.
int enterFolderAt(int folderFd, const QByteArray &name, const struct stat &examined, int *fd)
{
    *fd = ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (*fd < 0 && errno == EACCES)
        *fd = openUpFolderAt(folderFd, name, examined);
    if (*fd < 0)
        return errno == ELOOP || errno == ENOTDIR ? changedWhileRemoved : errno;
    if (!isSameEntry(*fd, examined)) {
        ::close(*fd);
        *fd = -1;
        return changedWhileRemoved;
    }
    if (::faccessat(*fd, ".", W_OK | X_OK, AT_EACCESS) != 0)
        ::fchmod(*fd, (examined.st_mode | S_IRWXU) & 07777);   // a read-only folder of ours
    return 0;
}

// How many folders deep a removal goes: one handle and one stack frame each.
// A tree deeper than this (made with relative paths; no path names its
// bottom) is left below that depth, and the removal says so.
constexpr int maxRemovalDepth = 2048;

int removeAt(int folderFd, dev_t folderDevice, const QByteArray &folderPath, const QByteArray &name,
             QByteArray *failedAt, std::optional<uid_t> owner, int depth = 0)
{
    const QByteArray path = joinRaw(folderPath, name);
    const auto failed = [&](int err) {
        if (failedAt->isEmpty())
            *failedAt = path;
        return err;
    };
    if (const int injected = injectedFileFault(FileStep::Remove, decoded(path)))
        return failed(injected);
    struct stat st;
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : failed(errno);
    if (owner && st.st_uid != *owner)
        return failed(EPERM);
    if (!S_ISDIR(st.st_mode))   // a bind-mounted file cannot be unlinked either (EBUSY)
        return ::unlinkat(folderFd, name.constData(), 0) == 0 || errno == ENOENT ? 0 : failed(errno);
    if (isMountTopAt(folderFd, name, st, folderDevice))
        return failed(EBUSY);
    if (depth >= maxRemovalDepth)
        return failed(tooDeepToRemove);
    if (const int injected = injectedFileFault(FileStep::EnterFolder, decoded(path)))
        return failed(injected);
    int fd = -1;
    if (const int err = enterFolderAt(folderFd, name, st, &fd))
        return err == ENOENT ? 0 : failed(err);
    std::vector<QByteArray> names;
    int err = 0;
    if (!listFolderAt(fd, &names, &err)) {
        ::close(fd);
        return failed(err);
    }
    int first = 0;
    for (const QByteArray &child : names) {
        const int e = removeAt(fd, st.st_dev, path, child, failedAt, std::nullopt, depth + 1);
        first = first ? first : e;
    }
    ::close(fd);
    if (first)
        return first;
    // The name may have been given to something else while the folder was emptied.
    struct stat now;
    if (::fstatat(folderFd, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : failed(errno);
    if (now.st_dev != st.st_dev || now.st_ino != st.st_ino)
        return failed(changedWhileRemoved);
    return ::unlinkat(folderFd, name.constData(), AT_REMOVEDIR) == 0 ? 0 : failed(errno);
}

// 0 when the entry name of folderFd (examined as st) and all it holds could be
// removed now: see canRemove.
int checkRemovableAt(int folderFd, const QByteArray &folderPath, const QByteArray &name, const struct stat &st,
                     uid_t user, QByteArray *failedAt, int depth = 0)
{
    if (!S_ISDIR(st.st_mode))
        return 0;
    const QByteArray path = joinRaw(folderPath, name);
    if (depth >= maxRemovalDepth) {
        *failedAt = path;
        return tooDeepToRemove;
    }
    const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !isSameEntry(fd, st)) {
        if (fd >= 0)
            ::close(fd);
        return 0;   // ours, opened up when it is removed; or changed, and the removal finds out
    }
    if (::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        const int err = errno;
        if (err == EROFS || (st.st_uid != user && user != 0)) {
            ::close(fd);
            *failedAt = path;
            return err;
        }
    }
    std::vector<QByteArray> names;
    int err = 0;
    if (listFolderAt(fd, &names, &err)) {
        for (const QByteArray &child : names) {
            struct stat childStat;
            if (::fstatat(fd, child.constData(), &childStat, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(childStat.st_mode) && isMountTopAt(fd, child, childStat, st.st_dev)) {
                *failedAt = joinRaw(path, child);
                err = EBUSY;
                break;
            }
            if ((err = checkRemovableAt(fd, path, child, childStat, user, failedAt, depth + 1)) != 0)
                break;
        }
    } else {
        err = 0;
    }
    ::close(fd);
    return err;
}

// The folder and name of a path; the name is empty for "/".
void splitPath(const QByteArray &given, QByteArray *folder, QByteArray *name)
{
    QByteArray path = given;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf('/');
    *folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    *name = path.mid(slash + 1);
}

} // namespace

bool listFolderAt(int folderFd, std::vector<QByteArray> *names, int *err)
{
    // A handle of its own, so that the caller's stays open and unread.
    const int own = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        *err = errno;
        if (own >= 0)
            ::close(own);
        return false;
    }
    while (dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names->emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return true;
}

int removeEntryAt(int folderFd, const QByteArray &folderPath, const QByteArray &name, QByteArray *failedAt,
                  std::optional<uid_t> owner)
{
    struct stat folder;
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/')) {
        *failedAt = joinRaw(folderPath, name);
        return EINVAL;
    }
    if (::fstat(folderFd, &folder) != 0) {
        *failedAt = folderPath;
        return errno;
    }
    return removeAt(folderFd, folder.st_dev, folderPath, name, failedAt, owner);
}

int removeTree(const QString &path, QString *failedAt)
{
    QByteArray folder, name, at;
    splitPath(QFile::encodeName(path), &folder, &name);
    int err = 0;
    // The folder it lies in is the caller's; what lies below is examined.
    const int folderFd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        err = errno == ENOENT ? 0 : errno;
        at = folder;
    } else {
        err = removeEntryAt(folderFd, folder, name, &at);
        ::close(folderFd);
    }
    if (err && failedAt)
        *failedAt = decoded(at);
    return err;
}

int canRemove(const QString &path, QString *reason)
{
    QByteArray folder, name;
    splitPath(QFile::encodeName(path), &folder, &name);
    struct stat st, parent;
    const int folderFd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return errno;
    if (::fstat(folderFd, &parent) != 0 || ::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        ::close(folderFd);
        return err;
    }
    const uid_t user = fileSystemUser();
    QByteArray failedAt = folder;
    int err = ::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
    if (!err && (parent.st_mode & S_ISVTX) && user != 0 && st.st_uid != user && parent.st_uid != user)
        err = EPERM;   // a sticky folder keeps others' items
    if (!err) {
        failedAt = joinRaw(folder, name);
        if (S_ISDIR(st.st_mode) && isMountTopAt(folderFd, name, st, parent.st_dev))
            err = EBUSY;
    }
    if (!err) {
        failedAt.clear();
        err = checkRemovableAt(folderFd, folder, name, st, user, &failedAt);
    }
    ::close(folderFd);
    if (err && reason)
        *reason = QStringLiteral("“%1” cannot be changed (%2).").arg(decoded(failedAt), removalReason(err));
    return err;
}

QString removalReason(int err)
{
    if (err == EBUSY)
        return QStringLiteral("another file system is mounted there");
    if (err == changedWhileRemoved)
        return QStringLiteral("it was changed while it was being removed");
    if (err == tooDeepToRemove)
        return QStringLiteral("it lies too many folders deep");
    return QString::fromLocal8Bit(std::strerror(err));
}

uid_t fileSystemUser() { return uid_t(::setfsuid(uid_t(-1))); }

} // namespace lg
