// The copy of one entry: a file's bytes, modes and times, a folder and all it holds, a link as a link.
#include "platform/files/CopyEntry.h"

#include "platform/files/FileOperations.h"
#include "platform/runtime/Dispatch.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lg {

namespace {

// The folder that holds path ("/" for an item at the top).
QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

void recordCopied(CopyContext &ctx, const QByteArray &relative, const struct stat &st)
{
    if (ctx.copied)
        ctx.copied->insert(relative, identityOfStat(st));
}

void tellMade(CopyContext &ctx, int fd)
{
    if (ctx.onMade)
        std::exchange(ctx.onMade, nullptr)(fd);
}

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
        // Quitting: the copy is abandoned, and what was made of it is removed.
        if (isShuttingDown())
            return ECANCELED;
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
    if (const int injected = injectedFileFault(FileStep::CopyData, decodedPath(source)))
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
    tellMade(ctx, out);
    int err = copyIntoDescriptor(source, st, out, ctx);
    if (::close(out) != 0 && !err)
        err = errno;
    if (err)
        ::unlink(target.constData());
    return err;
}

} // namespace

int copyFileUnnamed(const QByteArray &source, const struct stat &st, const QByteArray &target, CopyContext &ctx,
                    bool verify)
{
    static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
    if (!procFds)
        return ENOTSUP;
    const int out = ::open(folderOf(target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (out < 0)
        return (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) ? ENOTSUP : errno;
    int err = copyIntoDescriptor(source, st, out, ctx);
    recordCopied(ctx, QByteArray(), st);
    struct stat written;
    if (!err && verify && (::fstat(out, &written) != 0 || written.st_size != st.st_size))
        err = EIO;
    if (!err)
        err = injectedFileFault(FileStep::FinalRename, decodedPath(target));
    if (!err) {
        const QByteArray fdPath = "/proc/self/fd/" + QByteArray::number(out);
        if (::linkat(AT_FDCWD, fdPath.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) != 0)
            err = errno;
    }
    if (::close(out) != 0 && !err) {
        err = errno;
        ::unlink(target.constData());
    }
    return err;
}

int copyEntry(const QByteArray &source, const QByteArray &target, CopyContext &ctx, const QByteArray &relative)
{
    struct stat st;
    if (::lstat(source.constData(), &st) != 0)
        return errno;
    if (S_ISLNK(st.st_mode)) {
        if (const int injected = injectedFileFault(FileStep::MakeLink, decodedPath(target)))
            return injected;
        QByteArray link(qMax<qint64>(st.st_size, 255) + 1, '\0');
        const ssize_t n = ::readlink(source.constData(), link.data(), size_t(link.size()));
        if (n < 0)
            return errno;
        link.truncate(int(n));
        if (::symlink(link.constData(), target.constData()) != 0)
            return errno;
        tellMade(ctx, -1);
        keepTimes(target, st, true);
        recordCopied(ctx, relative, st);
        return 0;
    }
    if (S_ISREG(st.st_mode)) {
        const int err = copyRegularFile(source, target, st, ctx);
        if (!err)
            recordCopied(ctx, relative, st);
        return err;
    }
    if (!S_ISDIR(st.st_mode))
        return ENOTSUP;  // devices, sockets and pipes are not copied
    if (const int injected = injectedFileFault(FileStep::MakeFolder, decodedPath(target)))
        return injected;
    if (::mkdir(target.constData(), 0700) != 0)
        return errno;
    recordCopied(ctx, relative, st);
    tellMade(ctx, -1);
    const int folder = ::open(source.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return errno;
    std::vector<QByteArray> names;
    int err = 0;
    const bool listed = listFolderAt(folder, &names, &err);
    ::close(folder);
    if (!listed)
        return err;
    for (const QByteArray &name : names) {
        if (isShuttingDown())
            return ECANCELED;
        if (const int e = copyEntry(joinRawPath(source, name), joinRawPath(target, name), ctx,
                                   relative.isEmpty() ? name : relative + '/' + name))
            return e;
    }
    if (::chmod(target.constData(), st.st_mode & 07777) != 0)
        return errno;
    keepTimes(target, st, false);
    return 0;
}

} // namespace lg
