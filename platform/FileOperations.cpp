#include "platform/FileOperations.h"

#include "platform/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMetaObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QSet>
#include <QStringDecoder>
#include <QtConcurrent>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace lg {

namespace {

// ---- Fault hook ----
std::mutex g_faultMutex;
FileFaultHook g_fault;

int injectedFault(FileStep step, const QString &path)
{
    FileFaultHook hook;
    {
        std::lock_guard<std::mutex> lock(g_faultMutex);
        if (!g_fault)
            return 0;
        hook = g_fault;
    }
    return hook(step, path);
}

void registerTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<lg::FileOpProgress>("lg::FileOpProgress");
        qRegisterMetaType<lg::FileOpResult>("lg::FileOpResult");
        qRegisterMetaType<QList<lg::FileOpResult>>("QList<lg::FileOpResult>");
    });
}

// Queued signals of other classes may carry these before any FileOperation exists.
Q_CONSTRUCTOR_FUNCTION(registerTypes)

QByteArray enc(const QString &path) { return QFile::encodeName(path); }

QString parentOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString nameOf(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool lstatPath(const QString &path, struct stat *st)
{
    return ::lstat(enc(path).constData(), st) == 0;
}

bool isRealDir(const struct stat &st) { return S_ISDIR(st.st_mode); }

FileOpError errorForErrno(int err)
{
    switch (err) {
    case 0: return FileOpError::None;
    case ENOENT: return FileOpError::SourceMissing;
    case ENOSPC:
    case EDQUOT: return FileOpError::NoSpace;
    case EACCES:
    case EPERM:
    case EROFS: return FileOpError::Denied;
    case EEXIST:
    case ENOTEMPTY: return FileOpError::TargetExists;
    default: return FileOpError::Other;
    }
}

QString reasonFor(FileOpError error)
{
    switch (error) {
    case FileOpError::None: return {};
    case FileOpError::TargetExists: return QStringLiteral("An item with the same name already exists.");
    case FileOpError::SameFile: return QStringLiteral("An item cannot replace itself.");
    case FileOpError::IntoItself: return QStringLiteral("A folder cannot be put inside itself.");
    case FileOpError::InvalidName: return QStringLiteral("The name is not valid.");
    case FileOpError::SourceMissing: return QStringLiteral("The item does not exist.");
    case FileOpError::NoSpace: return QStringLiteral("There is not enough space.");
    case FileOpError::Denied: return QStringLiteral("Permission denied.");
    case FileOpError::Cancelled: return QStringLiteral("Cancelled.");
    case FileOpError::Other: return QStringLiteral("The operation failed.");
    }
    return {};
}

FileOpResult failure(FileOpError error, const QString &source, const QString &target, const QString &message = {})
{
    FileOpResult r;
    r.error = error;
    r.source = source;
    r.target = target;
    r.message = message.isEmpty() ? reasonFor(error) : message;
    return r;
}

// An error of our own beside the errno values.
constexpr int changedWhileCopied = -2;

FileOpResult errnoFailure(int err, const QString &source, const QString &target)
{
    if (err == changedWhileCopied)
        return failure(FileOpError::Other, source, target, QStringLiteral("The item changed while it was copied."));
    return failure(errorForErrno(err), source, target, QString::fromLocal8Bit(std::strerror(err)));
}

FileOpResult success(const QString &source, const QString &target)
{
    FileOpResult r;
    r.source = source;
    r.target = target;
    return r;
}

// ---- Raw paths ----
// Inside a walk, paths stay the bytes the file system gave, so that a name
// that is not valid UTF-8 is copied, measured and removed as it is.
QByteArray joinRaw(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QString decoded(const QByteArray &path) { return QFile::decodeName(path); }

// Entry names of a folder without "." and ".."; false when it cannot be read.
bool listNames(const QByteArray &folder, std::vector<QByteArray> *names, int *err)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        *err = errno;
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

// The user the file system checks permissions for (setfsuid(-1) changes nothing).
uid_t fileSystemUser() { return uid_t(::setfsuid(uid_t(-1))); }

// ---- Renames ----
// rename() that never replaces; falls back to a check and rename where the file
// system lacks RENAME_NOREPLACE.
int renameNoReplaceRaw(const QByteArray &f, const QByteArray &t)
{
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    struct stat st;
    if (::lstat(t.constData(), &st) == 0)
        return EEXIST;
    return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
}

int renameNoReplace(const QString &from, const QString &to) { return renameNoReplaceRaw(enc(from), enc(to)); }

// ---- Removal ----
#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

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

// True when the folder at path is the top of a mount: another file system, or
// a bind mount of the same one. The kernel says so where it can (statx); else a
// device other than its parent's (device), or the mount table, tells.
bool isMountTop(const QByteArray &path, const struct stat &st, dev_t device)
{
    struct statx sx;
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &sx) == 0
        && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    if (st.st_dev != device)
        return true;
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) && mountPointsFromTable().contains(QByteArray(resolved));
}

// Removes path and all it holds, making folders writable first, and never
// crossing into another file system: a mount point inside is left (EBUSY).
// Goes on past a failure and returns the first error; *failedAt names where
// it happened.
int removeRaw(const QByteArray &path, QByteArray *failedAt, std::optional<dev_t> device = std::nullopt)
{
    const auto failed = [&](int err) {
        if (failedAt->isEmpty())
            *failedAt = path;
        return err;
    };
    if (const int injected = injectedFault(FileStep::Remove, decoded(path)))
        return failed(injected);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT ? 0 : failed(errno);
    if (device && isRealDir(st) && isMountTop(path, st, *device))
        return failed(EBUSY);   // a bind-mounted file cannot be unlinked either
    if (!isRealDir(st))
        return ::unlink(path.constData()) == 0 ? 0 : failed(errno);
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK | X_OK, AT_EACCESS) != 0)
        ::chmod(path.constData(), (st.st_mode | S_IRWXU) & 07777);   // a read-only folder of ours
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(path, &names, &err))
        return failed(err);
    int first = 0;
    for (const QByteArray &name : names) {
        const int e = removeRaw(joinRaw(path, name), failedAt, st.st_dev);
        first = first ? first : e;
    }
    if (first)
        return first;
    return ::rmdir(path.constData()) == 0 ? 0 : failed(errno);
}

// The reason a removal stopped at a place, for messages.
QString removalReason(int err)
{
    return err == EBUSY ? QStringLiteral("another file system is mounted there")
                        : QString::fromLocal8Bit(std::strerror(err));
}

int removeTree(const QString &path, QString *failedAt = nullptr)
{
    QByteArray at;
    const int err = removeRaw(enc(path), &at);
    if (err && failedAt)
        *failedAt = decoded(at);
    return err;
}

// 0 when path and all it holds could be removed now: its folder may be written
// and every folder inside may be written or is ours to open up.
int checkRemovable(const QByteArray &path, const struct stat &st, uid_t user, QByteArray *failedAt)
{
    if (!isRealDir(st))
        return 0;
    if (::faccessat(AT_FDCWD, path.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        const int err = errno;
        if (err == EROFS || (st.st_uid != user && user != 0)) {
            *failedAt = path;
            return err;
        }
    }
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(path, &names, &err))
        return 0;   // ours, opened up when it is removed
    for (const QByteArray &name : names) {
        const QByteArray child = joinRaw(path, name);
        struct stat childStat;
        if (::lstat(child.constData(), &childStat) != 0)
            continue;
        if (isRealDir(childStat) && isMountTop(child, childStat, st.st_dev)) {
            *failedAt = child;
            return EBUSY;
        }
        if (const int e = checkRemovable(child, childStat, user, failedAt))
            return e;
    }
    return 0;
}

// ---- Copying ----
struct CopyContext
{
    std::function<void(qint64 bytes)> onBytes;  // may be empty
    bool syncFiles = false;                      // fdatasync each file (moves across devices)
};

void keepTimes(const QByteArray &path, const struct stat &st, bool noFollow)
{
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.constData(), times, noFollow ? AT_SYMLINK_NOFOLLOW : 0);
}

int copyFileData(int in, int out, qint64 size, CopyContext &ctx)
{
    constexpr size_t chunk = size_t(16) << 20;
    qint64 done = 0;
    bool useRange = true, useSendfile = true;
    while (done < size) {
        const size_t want = size_t(std::min<qint64>(qint64(chunk), size - done));
        ssize_t n = -1;
        if (useRange) {
            n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP
                          || errno == EBADF || errno == EPERM)) {
                useRange = false;
                continue;
            }
        } else if (useSendfile) {
            n = ::sendfile(out, in, nullptr, want);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                useSendfile = false;
                continue;
            }
        } else {
            static thread_local std::vector<char> buffer(size_t(1) << 20);
            n = ::read(in, buffer.data(), std::min(want, buffer.size()));
            if (n > 0) {
                ssize_t written = 0;
                while (written < n) {
                    const ssize_t w = ::write(out, buffer.data() + written, size_t(n - written));
                    if (w < 0) {
                        if (errno == EINTR)
                            continue;
                        return errno;
                    }
                    written += w;
                }
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;  // the file shrank while it was copied
        done += n;
        if (ctx.onBytes)
            ctx.onBytes(n);
    }
    return 0;
}

// Opens the regular file that st describes for reading. Opened without
// blocking and without following a link, so that an item swapped meanwhile for
// a pipe or a link is refused instead of waited on.
int openPlannedFile(const QByteArray &source, const struct stat &st, int *in)
{
    *in = ::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (*in < 0)
        return errno == ELOOP ? changedWhileCopied : errno;
    struct stat opened;
    int err = 0;
    if (::fstat(*in, &opened) != 0)
        err = errno;
    else if (!S_ISREG(opened.st_mode) || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino)
        err = changedWhileCopied;
    else if (const int flags = ::fcntl(*in, F_GETFL); flags < 0 || ::fcntl(*in, F_SETFL, flags & ~O_NONBLOCK) != 0)
        err = errno;
    if (err) {
        ::close(*in);
        *in = -1;
    }
    return err;
}

// Copies the file's bytes, permissions and times into out (left open).
int copyIntoDescriptor(const QByteArray &source, const struct stat &st, int out, CopyContext &ctx)
{
    if (const int injected = injectedFault(FileStep::CopyData, decoded(source)))
        return injected;
    int in = -1;
    if (const int err = openPlannedFile(source, st, &in))
        return err;
    int err = copyFileData(in, out, st.st_size, ctx);
    ::close(in);
    if (!err && ::fchmod(out, st.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID)) != 0)
        err = errno;
    if (!err) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    if (!err && ctx.syncFiles && ::fdatasync(out) != 0)
        err = errno;
    return err;
}

int copyRegularFile(const QByteArray &source, const QByteArray &target, const struct stat &st, CopyContext &ctx)
{
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return errno;
    int err = copyIntoDescriptor(source, st, out, ctx);
    if (::close(out) != 0 && !err)
        err = errno;
    if (err)
        ::unlink(target.constData());
    return err;
}

// A file that gets a name only once it is complete: an unnamed file in the
// target's folder (O_TMPFILE) linked in at the end, which never replaces.
// ENOTSUP when the file system cannot do it; the caller then uses a temporary name.
int copyFileUnnamed(const QString &source, const struct stat &st, const QString &target, CopyContext &ctx,
                    bool verify)
{
    static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
    if (!procFds)
        return ENOTSUP;
    const int out = ::open(enc(parentOf(target)).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (out < 0)
        return (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) ? ENOTSUP : errno;
    int err = copyIntoDescriptor(enc(source), st, out, ctx);
    struct stat written;
    if (!err && verify && (::fstat(out, &written) != 0 || written.st_size != st.st_size))
        err = EIO;
    if (!err)
        err = injectedFault(FileStep::FinalRename, target);
    if (!err) {
        const QByteArray fdPath = "/proc/self/fd/" + QByteArray::number(out);
        if (::linkat(AT_FDCWD, fdPath.constData(), AT_FDCWD, enc(target).constData(), AT_SYMLINK_FOLLOW) != 0)
            err = errno;
    }
    if (::close(out) != 0 && !err) {
        err = errno;
        ::unlink(enc(target).constData());
    }
    return err;
}

// Copies source (any kind, links as links) to target, which must not exist.
// On failure whatever was made at target is left for the caller to remove.
int copyTree(const QByteArray &source, const QByteArray &target, CopyContext &ctx)
{
    struct stat st;
    if (::lstat(source.constData(), &st) != 0)
        return errno;
    if (S_ISLNK(st.st_mode)) {
        if (const int injected = injectedFault(FileStep::MakeLink, decoded(target)))
            return injected;
        QByteArray link(qMax<qint64>(st.st_size, 255) + 1, '\0');
        const ssize_t n = ::readlink(source.constData(), link.data(), size_t(link.size()));
        if (n < 0)
            return errno;
        link.truncate(int(n));
        if (::symlink(link.constData(), target.constData()) != 0)
            return errno;
        keepTimes(target, st, true);
        return 0;
    }
    if (S_ISREG(st.st_mode))
        return copyRegularFile(source, target, st, ctx);
    if (!isRealDir(st))
        return ENOTSUP;  // devices, sockets and pipes are not copied
    if (const int injected = injectedFault(FileStep::MakeFolder, decoded(target)))
        return injected;
    if (::mkdir(target.constData(), 0700) != 0)
        return errno;
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(source, &names, &err))
        return err;
    for (const QByteArray &name : names) {
        if (const int e = copyTree(joinRaw(source, name), joinRaw(target, name), ctx))
            return e;
    }
    if (::chmod(target.constData(), st.st_mode & 07777) != 0)
        return errno;
    keepTimes(target, st, false);
    return 0;
}

// What a copy must match (bytes of regular files, number of entries), and a
// stamp of every entry's identity, size and modification time that tells
// whether the item changed meanwhile.
struct TreeSize
{
    qint64 bytes = 0;
    qint64 entries = 0;
    quint64 stamp = 0;
    bool sameShape(const TreeSize &other) const { return bytes == other.bytes && entries == other.entries; }
    bool operator==(const TreeSize &) const = default;
};

TreeSize measureTree(const QByteArray &path)
{
    TreeSize size;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return size;
    ++size.entries;
    if (S_ISREG(st.st_mode))
        size.bytes += st.st_size;
    size.stamp += qHashMulti(0, quint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
                             qint64(st.st_mtim.tv_nsec));
    if (isRealDir(st)) {
        std::vector<QByteArray> names;
        int err = 0;
        if (listNames(path, &names, &err)) {
            for (const QByteArray &name : names) {
                const TreeSize child = measureTree(joinRaw(path, name));
                size.bytes += child.bytes;
                size.entries += child.entries;
                size.stamp += child.stamp;
            }
        }
    }
    return size;
}

// ---- Temporaries and their locks ----
constexpr char lockPrefix[] = ".lglock-";
constexpr char recordHeader[] = "[Lumen Gallery temporary]";
constexpr int tokenLength = 16;

const char *kindTag(TemporaryKind kind)
{
    switch (kind) {
    case TemporaryKind::Copy: return "copy";
    case TemporaryKind::Write: return "write";
    case TemporaryKind::SetAside: return "old";
    }
    return "copy";
}

std::optional<TemporaryKind> kindOfTag(const QByteArray &tag)
{
    for (TemporaryKind kind : {TemporaryKind::Copy, TemporaryKind::Write, TemporaryKind::SetAside})
        if (tag == kindTag(kind))
            return kind;
    return std::nullopt;
}

// What a lock file says, when it is one of ours.
struct LockRecord
{
    TemporaryKind kind = TemporaryKind::Copy;
    QByteArray name;        // the target's whole name
    QByteArray temporary;   // the temporary's name
};

QByteArray recordText(TemporaryKind kind, const QByteArray &name, const QByteArray &temporary)
{
    return QByteArray(recordHeader) + "\nKind=" + kindTag(kind) + "\nName=" + name.toPercentEncoding()
           + "\nTemporary=" + temporary.toPercentEncoding() + "\n";
}

std::optional<LockRecord> parseRecord(const QByteArray &text, const QByteArray &token)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 5 || lines.at(0) != recordHeader || !lines.at(4).isEmpty())
        return std::nullopt;
    const auto field = [&](int line, const char *key) -> std::optional<QByteArray> {
        const QByteArray prefix = QByteArray(key) + '=';
        if (!lines.at(line).startsWith(prefix))
            return std::nullopt;
        return QByteArray::fromPercentEncoding(lines.at(line).mid(prefix.size()));
    };
    const auto kind = field(1, "Kind");
    const auto name = field(2, "Name");
    const auto temporary = field(3, "Temporary");
    if (!kind || !name || !temporary || !kindOfTag(*kind))
        return std::nullopt;
    // The lock file vouches only for the temporary that carries its own token.
    if (name->isEmpty() || name->contains('/') || *name == "." || *name == ".." || temporary->contains('/')
        || !temporary->startsWith('.') || !temporary->endsWith("-" + token))
        return std::nullopt;
    return LockRecord{*kindOfTag(*kind), *name, *temporary};
}

// The hidden name of a temporary: "." + name, cut at a character to fit 255
// bytes, + ".lg<tag>-<token>".
QByteArray temporaryName(const QByteArray &name, TemporaryKind kind, const QByteArray &token)
{
    const QByteArray suffix = QByteArray(".lg") + kindTag(kind) + '-' + token;
    QByteArray stem = name.left(255 - 1 - suffix.size());
    if (stem.size() < name.size())
        while (!stem.isEmpty() && (uchar(name.at(stem.size())) & 0xC0) == 0x80)
            stem.chop(1);   // never cut inside a UTF-8 character
    return '.' + stem + suffix;
}

// Puts an item that was set aside back under its own name, else under the next
// free numbered name; false (and it stays where it is) when neither can be done.
bool putBack(const QByteArray &folder, const QByteArray &temporary, const QByteArray &name)
{
    const QByteArray from = joinRaw(folder, temporary);
    if (injectedFault(FileStep::Rename, decoded(from)) != 0)
        return false;
    int err = renameNoReplaceRaw(from, joinRaw(folder, name));
    if (err != EEXIST)
        return err == 0;
    struct stat st;
    NameNumbering numbering;
    numbering.isFolder = ::lstat(from.constData(), &st) == 0 && isRealDir(st);
    numbering.tryPlainNameFirst = false;
    FreeNameFinder names(decoded(folder));
    for (int attempt = 0; attempt < 1000 && err == EEXIST; ++attempt)
        err = renameNoReplaceRaw(from, joinRaw(folder, enc(names.take(decoded(name), numbering))));
    return err == 0;
}

// Result of looking at one lock file.
enum class LockState { Held, Done, Kept };

LockState cleanOne(const QByteArray &folder, const QByteArray &lockName)
{
    const QByteArray token = lockName.mid(qsizetype(std::strlen(lockPrefix)));
    if (token.size() != tokenLength)
        return LockState::Kept;
    const QByteArray lockPath = joinRaw(folder, lockName);
    const int fd = ::open(lockPath.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return LockState::Kept;
    const auto finish = [fd](LockState state) {
        ::close(fd);
        return state;
    };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return finish(errno == EWOULDBLOCK ? LockState::Held : LockState::Kept);
    struct stat opened, named;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || ::lstat(lockPath.constData(), &named) != 0
        || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino || opened.st_size > 4096)
        return finish(LockState::Kept);
    QByteArray text(qsizetype(opened.st_size), '\0');
    if (::pread(fd, text.data(), size_t(text.size()), 0) != text.size())
        return finish(LockState::Kept);
    const std::optional<LockRecord> record = parseRecord(text, token);
    if (!record)
        return finish(LockState::Kept);   // not written by us, or not yet
    const QByteArray temporary = joinRaw(folder, record->temporary);
    struct stat st;
    bool gone = ::lstat(temporary.constData(), &st) != 0 && errno == ENOENT;
    if (!gone) {
        if (record->kind == TemporaryKind::SetAside) {
            gone = putBack(folder, record->temporary, record->name);
        } else {
            QByteArray failedAt;
            gone = removeRaw(temporary, &failedAt) == 0;
        }
    }
    if (gone)
        ::unlink(lockPath.constData());
    return finish(gone ? LockState::Done : LockState::Kept);
}

// What killed processes left in folder: see TemporaryOwner. A folder is looked
// at once per process, and again while a lock in it was held.
std::mutex g_cleanedMutex;
QSet<QByteArray> g_cleaned;

void cleanLeftovers(const QByteArray &folder)
{
    {
        std::lock_guard<std::mutex> lock(g_cleanedMutex);
        if (g_cleaned.contains(folder))
            return;
    }
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(folder, &names, &err))
        return;
    bool held = false;
    for (const QByteArray &name : names)
        if (name.startsWith(lockPrefix))
            held = cleanOne(folder, name) == LockState::Held || held;
    if (!held) {
        std::lock_guard<std::mutex> lock(g_cleanedMutex);
        g_cleaned.insert(folder);
    }
}

// ---- Putting a new item in place ----
// What of a replaced item could not be removed.
struct Leftover
{
    QString path;    // the replaced item, under the name it has now
    QString where;   // the first place inside it that could not go
    int error = 0;
    bool isEmpty() const { return path.isEmpty(); }
};

// Renames from to to. Without replacing, a taken name gives EEXIST. When
// replacing, a file goes over a file by one rename; otherwise the two are
// swapped in one step, so that the target is never missing, and the old item,
// now at from, is removed. *leftover says what of it could not be removed.
int putInPlace(const QString &from, const QString &to, bool replacing, Leftover *leftover)
{
    struct stat old;
    if (!replacing || !lstatPath(to, &old)) {
        if (const int injected = injectedFault(FileStep::FinalRename, to))
            return injected;
        return renameNoReplace(from, to);
    }
    struct stat incoming;
    if (!lstatPath(from, &incoming))
        return errno;
    if (const int injected = injectedFault(FileStep::FinalRename, to))
        return injected;
    if (!isRealDir(old) && !isRealDir(incoming))
        return ::rename(enc(from).constData(), enc(to).constData()) == 0 ? 0 : errno;
    QString replaced = from;
    TemporaryOwner aside;
    int swapped = injectedFault(FileStep::Swap, to);
    if (!swapped
        && ::renameat2(AT_FDCWD, enc(from).constData(), AT_FDCWD, enc(to).constData(), RENAME_EXCHANGE) != 0)
        swapped = errno;
    if (swapped) {
        if (swapped != EINVAL && swapped != ENOSYS && swapped != EOPNOTSUPP)
            return swapped;
        // A file system that cannot swap: the old item goes aside first, under
        // a lock that brings it back should this process be killed meanwhile.
        int err = 0;
        aside = TemporaryOwner::claim(to, TemporaryKind::SetAside, &err);
        if (!aside.isValid())
            return err;
        replaced = aside.path();
        if ((err = renameNoReplace(to, replaced)) != 0)
            return err;
        err = injectedFault(FileStep::FinalRename, to);
        if (!err)
            err = renameNoReplace(from, to);
        if (err) {
            if (renameNoReplace(replaced, to) != 0)
                *leftover = {replaced, replaced, err};   // left under its lock: the cleanup brings it back
            return err;
        }
        aside.setKind(TemporaryKind::Copy);   // replaced as asked: what is left of it goes
    }
    QString failedAt;
    if (const int err = removeTree(replaced, &failedAt))
        *leftover = {replaced, failedAt, err};
    return 0;
}

// ---- Shared checks of copy and move ----
struct Plan
{
    QString source;
    QString target;
    bool replacing = false;
    bool sourceIsDir = false;
    struct stat sourceStat {};
};

std::optional<FileOpResult> plan(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                                 const QString &targetName, Plan *p)
{
    const QString name = targetName.isEmpty() ? nameOf(source) : targetName;
    p->source = source;
    p->target = joinPath(targetFolder, name);
    if (!isValidFileName(name))
        return failure(FileOpError::InvalidName, source, p->target);
    if (!lstatPath(source, &p->sourceStat)) {
        const int err = errno;
        if (const QString unreadable = unreadableNameMessage(source); !unreadable.isEmpty())
            return failure(FileOpError::InvalidName, source, p->target, unreadable);
        return errnoFailure(err, source, p->target);
    }
    p->sourceIsDir = isRealDir(p->sourceStat);
    struct stat folder;
    if (::stat(enc(targetFolder).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        if (const QString unreadable = unreadableNameMessage(targetFolder); !unreadable.isEmpty())
            return failure(FileOpError::InvalidName, source, p->target, unreadable);
        return failure(FileOpError::Other, source, p->target,
                       QStringLiteral("The folder “%1” does not exist.").arg(targetFolder));
    }
    if (p->sourceIsDir && isInsideCanonical(targetFolder, source))
        return failure(FileOpError::IntoItself, source, p->target);
    struct stat existing;
    if (!lstatPath(p->target, &existing))
        return std::nullopt;
    switch (onConflict) {
    case ConflictPolicy::Refuse:
        return failure(FileOpError::TargetExists, source, p->target);
    case ConflictPolicy::KeepBoth: {
        NameNumbering numbering;
        numbering.isFolder = p->sourceIsDir;
        p->target = joinPath(targetFolder, freeName(targetFolder, name, numbering));
        return std::nullopt;
    }
    case ConflictPolicy::Replace:
        if ((existing.st_dev == p->sourceStat.st_dev && existing.st_ino == p->sourceStat.st_ino)
            || isSameFile(source, p->target))
            return failure(FileOpError::SameFile, source, p->target);
        if (isRealDir(existing) && isInsideCanonical(source, p->target))
            return failure(FileOpError::IntoItself, source, p->target);
        p->replacing = true;
        return std::nullopt;
    }
    return std::nullopt;
}

// The item is in place; a replaced item that could not be removed entirely is
// told, and a file system mounted inside it is named as left in place.
FileOpResult placed(const Plan &p, const Leftover &leftover)
{
    FileOpResult r = success(p.source, p.target);
    if (!leftover.isEmpty()) {
        QString text = QStringLiteral("The item is in place, but the one it replaced could not be removed entirely: "
                                      "what is left of it is at “%1”.").arg(leftover.path);
        if (leftover.error == EBUSY)
            text += QStringLiteral(" “%1” was left in place: %2.").arg(leftover.where, removalReason(EBUSY));
        r = failure(FileOpError::Other, p.source, p.target, text);
        r.itemInPlace = true;
    }
    return r;
}

// Copies p.source beside p.target and puts it in place.
FileOpResult copyPlanned(const Plan &p, CopyContext &ctx, bool verify)
{
    if (!p.replacing && S_ISREG(p.sourceStat.st_mode)) {
        const int err = copyFileUnnamed(p.source, p.sourceStat, p.target, ctx, verify);
        if (err != ENOTSUP)
            return err ? errnoFailure(err, p.source, p.target) : success(p.source, p.target);
    }
    int err = 0;
    const TemporaryOwner owner = TemporaryOwner::claim(p.target, TemporaryKind::Copy, &err);
    if (!owner.isValid())
        return errnoFailure(err, p.source, p.target);
    const QString temporary = owner.path();
    err = copyTree(enc(p.source), enc(temporary), ctx);
    if (!err && verify && !measureTree(enc(temporary)).sameShape(measureTree(enc(p.source))))
        err = EIO;
    Leftover leftover;
    if (!err)
        err = putInPlace(temporary, p.target, p.replacing, &leftover);
    if (err) {
        QString failedAt;
        FileOpResult r = errnoFailure(err, p.source, p.target);
        if (removeTree(temporary, &failedAt) != 0)
            r.message += QStringLiteral(" The unfinished copy could not be removed: it is left at “%1”.").arg(temporary);
        if (!leftover.isEmpty())
            r.message += QStringLiteral(" The item it was to replace is at “%1” and goes back under its name the "
                                        "next time this folder is written.").arg(leftover.path);
        return r;
    }
    return placed(p, leftover);
}

FileOpResult copyOnce(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    Plan p;
    if (auto refused = plan(source, targetFolder, onConflict, targetName, &p))
        return *refused;
    return copyPlanned(p, ctx, false);
}

// A folder moves to another parent only when it may be written (its ".."
// changes): a read-only folder is opened up for the move and closed again.
int moveReadOnlyFolder(const Plan &p, Leftover *leftover)
{
    const mode_t mode = p.sourceStat.st_mode & 07777;
    if (::chmod(enc(p.source).constData(), mode | S_IWUSR) != 0)
        return EACCES;
    const int err = putInPlace(p.source, p.target, p.replacing, leftover);
    ::chmod(enc(err ? p.source : p.target).constData(), mode);
    return err;
}

FileOpResult moveOnce(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    // Made a copy of in the folder it lies in, a move changes nothing.
    struct stat here, there;
    if (onConflict == ConflictPolicy::KeepBoth && (targetName.isEmpty() || targetName == nameOf(source))
        && lstatPath(source, &here) && ::stat(enc(parentOf(source)).constData(), &here) == 0
        && ::stat(enc(targetFolder).constData(), &there) == 0 && here.st_dev == there.st_dev
        && here.st_ino == there.st_ino)
        return success(source, source);
    Plan p;
    if (auto refused = plan(source, targetFolder, onConflict, targetName, &p))
        return *refused;
    Leftover leftover;
    int err = injectedFault(FileStep::Rename, source);
    if (!err)
        err = putInPlace(p.source, p.target, p.replacing, &leftover);
    if (err == EACCES && p.sourceIsDir && !(p.sourceStat.st_mode & S_IWUSR))
        err = moveReadOnlyFolder(p, &leftover);
    if (!err)
        return placed(p, leftover);
    if (err != EXDEV)
        return errnoFailure(err, p.source, p.target);
    // Another file system: copy, check the copy, and only then delete the
    // source, when it is still what was copied.
    const TreeSize before = measureTree(enc(p.source));
    CopyContext syncing = ctx;
    syncing.syncFiles = true;
    FileOpResult copied = copyPlanned(p, syncing, true);
    if (!copied.ok() && !copied.itemInPlace)
        return copied;
    if (!(measureTree(enc(p.source)) == before)) {
        copied.error = FileOpError::Other;
        copied.itemInPlace = true;
        copied.message = QStringLiteral("The item changed while it was moved: the original was kept, and the copy is "
                                        "at “%1”.").arg(p.target);
        return copied;
    }
    QString failedAt;
    if (const int removeErr = removeTree(p.source, &failedAt)) {
        copied.error = errorForErrno(removeErr);
        if (copied.error == FileOpError::SourceMissing || copied.error == FileOpError::TargetExists)
            copied.error = FileOpError::Other;
        copied.itemInPlace = true;
        copied.message = QStringLiteral("The item was copied to “%1”, but the original could not be removed "
                                        "entirely: “%2” is left (%3).")
                             .arg(p.target, failedAt, removalReason(removeErr));
    }
    return copied;
}

// A numbered name taken by someone else between the check and the claim (made
// with O_EXCL, RENAME_NOREPLACE or a link, which never replace) is numbered
// again, from the disk, until a free one is claimed.
template <typename Step>
FileOpResult withRetries(Step step, ConflictPolicy onConflict)
{
    FileOpResult r = step();
    for (int attempt = 0; attempt < 1000 && onConflict == ConflictPolicy::KeepBoth
                          && r.error == FileOpError::TargetExists; ++attempt)
        r = step();
    return r;
}

FileOpResult copyWith(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    return withRetries([&] { return copyOnce(source, targetFolder, onConflict, targetName, ctx); }, onConflict);
}

FileOpResult moveWith(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    return withRetries([&] { return moveOnce(source, targetFolder, onConflict, targetName, ctx); }, onConflict);
}

qint64 bytesOf(const QString &path) { return measureTree(enc(path)).bytes; }


} // namespace

// ---- Names ----
bool isValidFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

FreeNameFinder::FreeNameFinder(const QString &folder)
    : m_folder(folder)
{
    std::vector<QByteArray> names;
    int err = 0;
    if (listNames(enc(folder), &names, &err)) {
        m_taken.reserve(qsizetype(names.size()));
        for (const QByteArray &entry : names)
            m_taken.insert(QFile::decodeName(entry).toLower());
    }
}

void FreeNameFinder::addTaken(const QString &name)
{
    m_taken.insert(name.toLower());
}

bool FreeNameFinder::isFree(const QString &candidate) const
{
    // The listing may be old by now: the disk has the last word.
    struct stat st;
    return !m_taken.contains(candidate.toLower()) && !lstatPath(joinPath(m_folder, candidate), &st);
}

QString numberedName(const QString &name, std::optional<qint64> number, const NameNumbering &numbering)
{
    QString base = name, extension;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (!numbering.isFolder && dot > 0 && dot < name.size() - 1) {
        base = name.left(dot);
        extension = name.mid(dot);
    }
    const QString count = number ? numbering.separator + QString::number(*number) : QString();
    const auto bytes = [](const QString &text) { return enc(text).size(); };
    if (bytes(count + extension) >= numbering.maxBytes) {   // no room beside the extension
        base = name;
        extension.clear();
    }
    while (!base.isEmpty() && bytes(base + count + extension) > numbering.maxBytes)
        base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
    return base + count + extension;
}

QString FreeNameFinder::peek(const QString &name, const NameNumbering &numbering) const
{
    if (numbering.tryPlainNameFirst) {
        const QString plain = numberedName(name, std::nullopt, numbering);
        if (isFree(plain))
            return plain;
    }
    for (qint64 n = numbering.firstNumber;; ++n) {
        const QString candidate = numberedName(name, n, numbering);
        if (isFree(candidate))
            return candidate;
    }
}

QString FreeNameFinder::take(const QString &name, const NameNumbering &numbering)
{
    const QString free = peek(name, numbering);
    addTaken(free);
    return free;
}

QString freeName(const QString &folder, const QString &name, const NameNumbering &numbering,
                 const QStringList &alsoTaken)
{
    FreeNameFinder finder(folder);
    for (const QString &other : alsoTaken)
        finder.addTaken(other);
    return finder.peek(name, numbering);
}

NameCase nameCaseForFileSystem(qint64 statfsType)
{
    switch (quint32(statfsType)) {
    case MSDOS_SUPER_MAGIC:   // vfat, msdos
    case 0x2011BAB0u:         // exfat
    case 0x5346544Eu:         // ntfs
    case 0x7366746Eu:         // ntfs3
    case 0x482Bu:             // hfsplus
    case 0xFF534D42u:         // cifs
    case 0xFE534D42u:         // smb2
    case SMB_SUPER_MAGIC:
        return NameCase::Insensitive;
    default:
        return NameCase::Sensitive;
    }
}

NameCase nameCaseOf(const QString &folder)
{
    struct statfs fs;
    if (::statfs(enc(folder).constData(), &fs) != 0)
        return NameCase::Sensitive;
    return nameCaseForFileSystem(qint64(fs.f_type));
}

QString nameKey(const QString &name, NameCase nameCase)
{
    return nameCase == NameCase::Insensitive ? name.toCaseFolded() : name;
}

QString unreadableNameMessage(const QString &path)
{
    // Up to the nearest part that exists; the part below it is looked for by
    // the bytes of its folder's entries.
    QString existing = QDir::cleanPath(path);
    QString missing;
    struct stat st;
    while (!existing.isEmpty() && existing != QLatin1String("/") && !lstatPath(existing, &st)) {
        if (errno != ENOENT)
            return {};
        missing = existing;
        existing = parentOf(existing);
    }
    if (missing.isEmpty())
        return {};
    const QString name = nameOf(missing);
    if (!name.contains(QChar::ReplacementCharacter))
        return {};
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(enc(existing), &names, &err))
        return {};
    for (const QByteArray &entry : names) {
        if (decoded(entry) != name)
            continue;
        QStringDecoder strict(QStringDecoder::Utf8);
        const QString text = strict.decode(entry);
        if (strict.hasError())
            return QStringLiteral("The name of “%1” cannot be read: it is not valid UTF-8 text.").arg(missing);
    }
    return {};
}

// ---- Temporaries beside a target ----
TemporaryOwner::TemporaryOwner(TemporaryOwner &&other) noexcept { *this = std::move(other); }

TemporaryOwner &TemporaryOwner::operator=(TemporaryOwner &&other) noexcept
{
    if (this != &other) {
        release();
        m_lockFd = std::exchange(other.m_lockFd, -1);
        m_lockPath = std::move(other.m_lockPath);
        m_temporary = std::move(other.m_temporary);
        m_targetName = std::move(other.m_targetName);
        m_kind = other.m_kind;
    }
    return *this;
}

TemporaryOwner::~TemporaryOwner() { release(); }

void TemporaryOwner::release()
{
    if (m_lockFd < 0)
        return;
    struct stat st;
    if (::lstat(m_temporary.constData(), &st) != 0 && errno == ENOENT) {
        ::unlink(m_lockPath.constData());
    } else {
        // Something is left: the folder is looked at again by the next cleanup.
        const qsizetype slash = m_lockPath.lastIndexOf('/');
        std::lock_guard<std::mutex> lock(g_cleanedMutex);
        g_cleaned.remove(slash <= 0 ? QByteArray("/") : m_lockPath.left(slash));
    }
    ::close(m_lockFd);
    m_lockFd = -1;
}

QString TemporaryOwner::path() const { return decoded(m_temporary); }

bool TemporaryOwner::writeRecord()
{
    const QByteArray text = recordText(m_kind, m_targetName, m_temporary.mid(m_temporary.lastIndexOf('/') + 1));
    return ::ftruncate(m_lockFd, 0) == 0
           && ::pwrite(m_lockFd, text.constData(), size_t(text.size()), 0) == text.size();
}

bool TemporaryOwner::setKind(TemporaryKind kind)
{
    if (m_lockFd < 0)
        return false;
    m_kind = kind;
    return writeRecord();
}

TemporaryOwner TemporaryOwner::claim(const QString &target, TemporaryKind kind, int *error)
{
    const QByteArray folder = enc(parentOf(target));
    cleanLeftovers(folder);
    TemporaryOwner owner;
    owner.m_kind = kind;
    owner.m_targetName = enc(nameOf(target));
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        const QByteArray token = QByteArray::number(QRandomGenerator::system()->generate64(), 16)
                                     .rightJustified(tokenLength, '0');
        const QByteArray lockPath = joinRaw(folder, lockPrefix + token);
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            err = errno;
            continue;
        }
        // Locked before anything is written: a record is only ever read under the lock.
        if (::flock(fd, LOCK_EX) != 0) {
            err = errno;
            ::unlink(lockPath.constData());
            ::close(fd);
            break;
        }
        owner.m_lockFd = fd;
        owner.m_lockPath = lockPath;
        owner.m_temporary = joinRaw(folder, temporaryName(owner.m_targetName, kind, token));
        struct stat st;
        const bool stray = ::lstat(owner.m_temporary.constData(), &st) == 0;   // that very name: not ours
        errno = 0;
        if (!stray && owner.writeRecord())
            return owner;
        err = stray ? EEXIST : (errno ? errno : EIO);
        ::unlink(lockPath.constData());
        ::close(fd);
        owner.m_lockFd = -1;
    }
    if (error)
        *error = err;
    return {};
}

TemporaryFile createTemporaryFile(const QString &target, TemporaryKind kind)
{
    TemporaryFile file;
    file.owner = TemporaryOwner::claim(target, kind, &file.error);
    if (!file.owner.isValid())
        return file;
    file.path = file.owner.path();
    file.fd = ::open(enc(file.path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file.fd < 0)
        file.error = errno;
    return file;
}

// ---- Comparisons ----
bool isSameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (::stat(enc(a).constData(), &sa) != 0 || ::stat(enc(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {
// The canonical form of path; a part that does not exist yet is kept as given
// under its nearest existing ancestor.
QString canonicalOf(const QString &path)
{
    QString existing = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    QStringList rest;
    while (true) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty()) {
            QString result = canonical;
            for (auto it = rest.crbegin(); it != rest.crend(); ++it)
                result = joinPath(result, *it);
            return result;
        }
        if (existing == QLatin1String("/"))
            return QDir::cleanPath(path);
        rest.append(nameOf(existing));
        existing = parentOf(existing);
    }
}
} // namespace

bool isInsideCanonical(const QString &path, const QString &folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    const QString p = canonicalOf(path);
    const QString f = canonicalOf(folder);
    if (p == f || f == QLatin1String("/"))
        return true;
    return p.startsWith(f + QLatin1Char('/'));
}

bool existsOrLink(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && lstatPath(path, &st);
}

// ---- Single items ----
FileOpResult copyItem(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName)
{
    CopyContext ctx;
    return copyWith(source, targetFolder, onConflict, targetName, ctx);
}

FileOpResult moveItem(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName)
{
    CopyContext ctx;
    return moveWith(source, targetFolder, onConflict, targetName, ctx);
}

namespace {
// True when folder holds an entry of exactly this name (not merely one that a
// file system ignoring case finds under it).
bool hasExactEntry(const QString &folder, const QString &name)
{
    std::vector<QByteArray> names;
    int err = 0;
    const QByteArray wanted = enc(name);
    return listNames(enc(folder), &names, &err) && std::find(names.cbegin(), names.cend(), wanted) != names.cend();
}
} // namespace

FileOpResult renameItem(const QString &path, const QString &newName)
{
    const QString target = joinPath(parentOf(path), newName);
    if (!isValidFileName(newName))
        return failure(FileOpError::InvalidName, path, target);
    struct stat st;
    if (!lstatPath(path, &st)) {
        const int err = errno;
        if (const QString unreadable = unreadableNameMessage(path); !unreadable.isEmpty())
            return failure(FileOpError::InvalidName, path, target, unreadable);
        return errnoFailure(err, path, target);
    }
    if (nameOf(path) == newName)
        return success(path, path);
    int err = injectedFault(FileStep::Rename, path);
    if (!err)
        err = renameNoReplace(path, target);
    // A change of case only, on a file system that ignores case, finds the
    // item itself under the new name: it goes there by way of a hidden name.
    // Links are never followed, and another entry (a hard link) is never replaced.
    struct stat other;
    if (err == EEXIST && newName.compare(nameOf(path), Qt::CaseInsensitive) == 0 && lstatPath(target, &other)
        && other.st_dev == st.st_dev && other.st_ino == st.st_ino && !hasExactEntry(parentOf(path), newName)) {
        TemporaryOwner owner = TemporaryOwner::claim(path, TemporaryKind::SetAside, &err);
        if (owner.isValid()) {
            const QString aside = owner.path();
            err = renameNoReplace(path, aside);
            if (!err && (err = renameNoReplace(aside, target)) != 0)
                renameNoReplace(aside, path);   // else the cleanup puts it back
        }
    }
    return err ? errnoFailure(err, path, target) : success(path, target);
}

int canRemove(const QString &path, QString *reason)
{
    const QString folder = parentOf(path);
    struct stat st, parent;
    if (!lstatPath(path, &st) || !lstatPath(folder, &parent))
        return errno;
    const uid_t user = fileSystemUser();
    QByteArray failedAt = enc(folder);
    int err = ::faccessat(AT_FDCWD, failedAt.constData(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
    if (!err && (parent.st_mode & S_ISVTX) && user != 0 && st.st_uid != user && parent.st_uid != user)
        err = EPERM;   // a sticky folder keeps others' items
    if (!err) {
        failedAt.clear();
        err = checkRemovable(enc(path), st, user, &failedAt);
    }
    if (err && reason)
        *reason = QStringLiteral("“%1” cannot be changed (%2).")
                      .arg(QFile::decodeName(failedAt), removalReason(err));
    return err;
}

FileOpResult createFolder(const QString &folder, const QString &name)
{
    const QString target = joinPath(folder, name);
    if (!isValidFileName(name))
        return failure(FileOpError::InvalidName, target, target);
    int err = injectedFault(FileStep::MakeFolder, target);
    if (!err && ::mkdir(enc(target).constData(), 0777) != 0)
        err = errno;
    if (err == ENOENT)
        return failure(FileOpError::SourceMissing, target, target,
                       QStringLiteral("The folder “%1” does not exist.").arg(folder));
    return err ? errnoFailure(err, target, target) : success(target, target);
}

// ---- Batches ----
QList<FileOpResult> FileOperation::runNow(FileOpKind kind, const QList<FileOpItem> &items,
                                          const std::atomic<bool> *cancel,
                                          const std::function<void(const FileOpProgress &)> &progress)
{
    registerTypes();
    FileOpProgress state;
    state.itemsTotal = items.size();
    // Bytes of each item, measured before anything moves.
    QList<qint64> itemBytes;
    if (kind != FileOpKind::Trash) {
        for (const FileOpItem &item : items) {
            itemBytes.append(bytesOf(item.source));
            state.bytesTotal += itemBytes.last();
        }
    }
    QElapsedTimer sinceReport;
    sinceReport.start();
    const auto report = [&](bool force) {
        if (progress && (force || sinceReport.elapsed() >= 30)) {
            progress(state);
            sinceReport.restart();
        }
    };
    CopyContext ctx;
    ctx.onBytes = [&](qint64 bytes) {
        state.bytesDone += bytes;
        report(false);
    };
    report(true);

    QList<FileOpResult> results;
    results.reserve(items.size());
    qint64 bytesBefore = 0;
    for (const FileOpItem &item : items) {
        const QString target = item.targetFolder.isEmpty()
                                   ? QString()
                                   : joinPath(item.targetFolder,
                                              item.targetName.isEmpty() ? nameOf(item.source) : item.targetName);
        if (cancel && cancel->load()) {
            results.append(failure(FileOpError::Cancelled, item.source, target));
            continue;
        }
        switch (kind) {
        case FileOpKind::Copy:
            results.append(copyWith(item.source, item.targetFolder, item.onConflict, item.targetName, ctx));
            break;
        case FileOpKind::Move:
            results.append(moveWith(item.source, item.targetFolder, item.onConflict, item.targetName, ctx));
            break;
        case FileOpKind::Trash:
            results.append(moveToTrash(item.source));
            break;
        }
        ++state.itemsDone;
        bytesBefore += itemBytes.value(results.size() - 1);
        state.bytesDone = bytesBefore;   // a failed or renamed item counts as done too
        report(false);
    }
    report(true);
    return results;
}

struct FileOperation::Private
{
    FileOpKind kind;
    QList<FileOpItem> items;
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    bool autoDelete = true;
    bool started = false;
    QFutureWatcher<QList<FileOpResult>> *watcher = nullptr;
};

FileOperation::FileOperation(FileOpKind kind, QList<FileOpItem> items, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    registerTypes();
    d->kind = kind;
    d->items = std::move(items);
}

FileOperation::~FileOperation()
{
    d->cancelled->store(true);
    if (d->watcher)
        d->watcher->waitForFinished();  // ends after the item in hand
}

void FileOperation::start()
{
    if (d->started)
        return;
    d->started = true;
    d->watcher = new QFutureWatcher<QList<FileOpResult>>(this);
    connect(d->watcher, &QFutureWatcherBase::finished, this, [this] {
        const QList<FileOpResult> results = d->watcher->result();
        Q_EMIT finished(results);
        if (d->autoDelete)
            deleteLater();
    });
    QPointer<FileOperation> self(this);
    const auto cancelled = d->cancelled;
    const auto post = [self](const FileOpProgress &state) {
        if (self)
            QMetaObject::invokeMethod(self.data(), [self, state] {
                if (self)
                    Q_EMIT self->progress(state);
            }, Qt::QueuedConnection);
    };
    d->watcher->setFuture(QtConcurrent::run([kind = d->kind, items = d->items, cancelled, post] {
        return runNow(kind, items, cancelled.get(), post);
    }));
}

void FileOperation::cancel() { d->cancelled->store(true); }
bool FileOperation::isCancelled() const { return d->cancelled->load(); }
FileOpKind FileOperation::kind() const { return d->kind; }
void FileOperation::setAutoDelete(bool autoDelete) { d->autoDelete = autoDelete; }

std::optional<FailureSummary> failureSummary(const QList<FileOpResult> &results)
{
    int failed = 0;
    const FileOpResult *first = nullptr;
    for (const FileOpResult &r : results) {
        if (r.ok() || r.error == FileOpError::Cancelled)
            continue;
        ++failed;
        if (!first)
            first = &r;
    }
    if (!failed)
        return std::nullopt;
    FailureSummary summary;
    summary.title = QStringLiteral("Some items could not be processed.");
    const QString firstError = QStringLiteral("“%1”: %2").arg(nameOf(first->source), first->message);
    summary.text = failed == 1 ? QStringLiteral("1 item could not be processed. %1").arg(firstError)
                               : QStringLiteral("%1 items could not be processed. The first error: %2")
                                     .arg(failed)
                                     .arg(firstError);
    return summary;
}

void setFileFaultForTesting(FileFaultHook hook)
{
    std::lock_guard<std::mutex> lock(g_faultMutex);
    g_fault = std::move(hook);
}

} // namespace lg
