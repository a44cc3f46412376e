// The copy of one entry: a file's bytes, modes and times, a folder and all it holds, a link as a link.
#include "platform/files/operations/CopyEntry.h"
#include "platform/base/HandlePath.h"
#include "platform/files/names/RawPaths.h"

#include "platform/files/recovery/FileFaults.h"
#include "platform/runtime/Dispatch.h"

#include <QUtf8StringView>

#include <algorithm>
#include <functional>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lg {

namespace {

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

// The kind of the file system that holds the open file fd, asked once per
// device and copy.
FileSystemKind kindOf(CopyContext &ctx, int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return FileSystemKind::Ordinary;
    const auto known = ctx.kinds.find(st.st_dev);
    if (known != ctx.kinds.end())
        return known->second;
    return ctx.kinds.emplace(st.st_dev, fileSystemKindOf(fd)).first->second;
}

// A link's times (a link cannot be opened).
void keepLinkTimes(const QByteArray &path, const struct stat &st)
{
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW);
}

// A descriptor closed with its owner.
struct Descriptor
{
    explicit Descriptor(int opened) : fd(opened) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    const int fd;
};

// The copy at target.
struct CopyTarget
{
    int fd = -1;
    const QByteArray &path;
};

// Copies length bytes from in's position to out's position (both move on):
// in the kernel where it can (copy_file_range, sendfile), else through a
// buffer. Each write that fails is caught where it happens. A copy that is
// synced at its end has the disk start writing each chunk as soon as it is
// copied, so that the sync waits for little more than the last one while
// the reading goes on.
int copyStream(int in, const CopyTarget &to, qint64 length, CopyContext &ctx)
{
    const size_t chunk = ctx.syncFiles ? size_t(4) << 20 : size_t(16) << 20;
    const int out = to.fd;
    qint64 done = 0;
    bool useRange = true, useSendfile = true;
    while (done < length) {
        // Quitting: the copy is abandoned, and what was made of it is removed.
        if (isShuttingDown())
            return ECANCELED;
        const size_t want = size_t(std::min<qint64>(qint64(chunk), length - done));
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
        if (ctx.syncFiles)
            ::sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);   // a failure shows at the sync
        done += n;
        if (ctx.onBytes)
            ctx.onBytes(n);
        injectedFileFault(FileStep::CopiedChunk, decodedPath(to.path));
    }
    return 0;
}

// Copies the bytes of the regular file st describes, from in to out (both
// at their start). A file with holes (fewer blocks than its size needs) has
// only its data copied: each stretch that SEEK_DATA and SEEK_HOLE find goes
// to the same offset of out, which gets its whole size at the end (by
// ftruncate, or where the file system refuses that, by a zero written as its
// last byte). A hole counts as copied for the progress.
int copyFileData(int in, const CopyTarget &to, const struct stat &st, CopyContext &ctx)
{
    const int out = to.fd;
    const QByteArray &target = to.path;
    const qint64 size = st.st_size;
    if (qint64(st.st_blocks) * 512 >= size)
        return copyStream(in, to, size, ctx);
    qint64 at = 0;
    while (at < size) {
        if (isShuttingDown())
            return ECANCELED;
        off_t data = ::lseek(in, off_t(at), SEEK_DATA);
        if (data < 0 && errno != ENXIO)
            data = off_t(at);   // cannot tell: the rest is copied as data
        const qint64 from = data < 0 ? size : std::min<qint64>(data, size);   // ENXIO: a hole up to the end
        off_t hole = from < size ? ::lseek(in, off_t(from), SEEK_HOLE) : off_t(size);
        const qint64 end = hole < 0 ? size : std::clamp<qint64>(hole, from, size);
        if (from > at && ctx.onBytes)
            ctx.onBytes(from - at);
        if (end > from) {
            if (::lseek(in, off_t(from), SEEK_SET) < 0 || ::lseek(out, off_t(from), SEEK_SET) < 0)
                return errno;
            if (const int err = copyStream(in, to, end - from, ctx))
                return err;
            // A stretch that came short (the file shrank) is never padded with
            // zeros by the size set below.
            if (::lseek(out, 0, SEEK_CUR) != off_t(end))
                return changedWhileCopied;
            injectedFileFault(FileStep::CopiedStretch, decodedPath(target));
        }
        at = std::max(end, from);
    }
    struct stat written;
    if (::fstat(out, &written) != 0)
        return errno;
    if (written.st_size >= size || size == 0)
        return 0;
    int err = injectedFileFault(FileStep::Truncate, decodedPath(target));
    if (!err && ::ftruncate(out, off_t(size)) != 0)
        err = errno;
    if (err) {
        const char zero = 0;
        if (::pwrite(out, &zero, 1, off_t(size - 1)) != 1)
            return errno;
    }
    return 0;
}

// ---- Extended attributes ----
// One entry's attributes, reached by its open descriptor, or by its path
// without following it (a symbolic link, which cannot be opened).
struct Attributes
{
    int fd = -1;
    QByteArray path;

    ssize_t list(char *buffer, size_t size) const
    {
        return fd >= 0 ? ::flistxattr(fd, buffer, size) : ::llistxattr(path.constData(), buffer, size);
    }
    ssize_t get(const char *name, char *buffer, size_t size) const
    {
        return fd >= 0 ? ::fgetxattr(fd, name, buffer, size) : ::lgetxattr(path.constData(), name, buffer, size);
    }
    int set(const char *name, const QByteArray &value) const
    {
        return fd >= 0 ? ::fsetxattr(fd, name, value.constData(), size_t(value.size()), 0)
                       : ::lsetxattr(path.constData(), name, value.constData(), size_t(value.size()), 0);
    }
};

// Reads a whole attribute list or value into buffer, growing it while a
// writer makes it longer; false with errno on failure.
// Read into what buffer holds first; most lists and values fit at once.
template <typename Read>
bool readWhole(QByteArray *buffer, Read read)
{
    if (buffer->size() < 4096)
        buffer->resize(4096);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t n = read(buffer->data(), size_t(buffer->size()));
        if (n >= 0) {
            buffer->resize(qsizetype(n));
            return true;
        }
        if (errno != ERANGE)
            return false;
        const ssize_t wanted = read(nullptr, 0);
        if (wanted < 0)
            return false;
        buffer->resize(qsizetype(wanted) + 1);
    }
    errno = ERANGE;
    return false;
}

// Attributes that only a privileged process may set: without the privilege
// they are skipped, as cp -a skips them.
bool isPrivileged(const char *name)
{
    return std::strncmp(name, "trusted.", 8) == 0 || std::strncmp(name, "security.", 9) == 0;
}

// The ACLs, which go last: set before the mode, they would be written again
// by the chmod (which rewrites an ACL's mask).
bool isAcl(const char *name) { return std::strncmp(name, "system.posix_acl_", 17) == 0; }

// Puts every extended attribute of from on to (the copy at target), and runs
// setMode (0 or an errno value, returned) after all but the ACLs: user.*
// attributes go while the copy may still be written, and an ACL after the
// mode leaves both as the source has them. An attribute the target cannot
// hold marks the entry in ctx.attributesNotKept; the copy goes on.
int copyAttributes(const Attributes &from, const Attributes &to, const QByteArray &target, const QByteArray &relative,
                   CopyContext &ctx, const std::function<int()> &setMode)
{
    static thread_local QByteArray names, value;
    if (!readWhole(&names, [&](char *buffer, size_t size) { return from.list(buffer, size); }) || names.isEmpty())
        return setMode ? setMode() : 0;   // none, or a file system that keeps none
    const int injected = injectedFileFault(FileStep::CopyAttributes, decodedPath(target));
    bool kept = true;
    int modeError = 0;
    for (const bool acls : {false, true}) {
        if (acls && setMode && (modeError = setMode()) != 0)
            break;
        for (qsizetype at = 0; at < names.size();) {
            const char *name = names.constData() + at;
            at += qsizetype(std::strlen(name)) + 1;
            if (!*name || isAcl(name) != acls)
                continue;
            if (!readWhole(&value, [&](char *buffer, size_t size) { return from.get(name, buffer, size); }))
                continue;   // gone meanwhile, or not readable by this process
            const int err = injected ? injected : (to.set(name, value) == 0 ? 0 : errno);
            if (err && !(isPrivileged(name) && (err == EPERM || err == EACCES)))
                kept = false;
        }
    }
    if (!kept && ctx.attributesNotKept)
        ctx.attributesNotKept->append(relative);   // each entry is copied once
    return modeError;
}

// Gives the copy at target (open as fd) its permissions. A target that
// refuses them (a FUSE FAT driver: EPERM, EOPNOTSUPP, ENOSYS, EINVAL for a
// file this process made) does not stop the copy: the entry is named in
// ctx.permissionsNotKept, unless the target is a card, whose file system
// holds no permissions at all. 0 or an errno value.
int keepMode(int fd, mode_t mode, const QByteArray &target, const QByteArray &relative, CopyContext &ctx)
{
    int err = injectedFileFault(FileStep::SetMode, decodedPath(target));
    if (!err && ::fchmod(fd, mode) != 0)
        err = errno;
    if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL) {
        if (ctx.permissionsNotKept && kindOf(ctx, fd) != FileSystemKind::Card)
            ctx.permissionsNotKept->append(relative);
        return 0;
    }
    return err;
}

bool sameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The file open as fd is still the one st describes, untouched: its size,
// modification time and change time.
bool isUnchanged(int fd, const struct stat &st)
{
    struct stat now;
    return ::fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino
           && now.st_size == st.st_size && sameTime(now.st_mtim, st.st_mtim) && sameTime(now.st_ctim, st.st_ctim);
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

// Copies the file's bytes, extended attributes, permissions and times into
// out (left open), the copy at target. The source is read once: what is
// written is what was read, and a write or sync that fails fails the copy.
// The attributes go before the permissions: a read-only copy could not take
// user.* attributes any more, and an ACL's mask is what the source's mode
// says it is.
int copyIntoDescriptor(const QByteArray &source, const struct stat &st, int out, const QByteArray &target,
                       const QByteArray &relative, CopyContext &ctx)
{
    if (const int injected = injectedFileFault(FileStep::CopyData, decodedPath(source)))
        return injected;
    int in = -1;
    if (const int err = openPlannedFile(source, st, &in))
        return err;
    int err = copyFileData(in, {out, target}, st, ctx);
    if (!err)
        err = copyAttributes({in, {}}, {out, {}}, target, relative, ctx, [&] {
            return keepMode(out, st.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID), target, relative, ctx);
        });
    // The source as it is now must be the file examined: one that grew,
    // shrank, or was written, given attributes or another mode meanwhile
    // (which moves its change time, where the driver keeps one) did not
    // arrive as it is.
    if (!err && !isUnchanged(in, st))
        err = changedWhileCopied;
    ::close(in);
    if (!err) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    if (!err && ctx.syncFiles) {
        err = injectedFileFault(FileStep::Sync, decodedPath(target));
        if (!err && ::fdatasync(out) != 0)
            err = errno;
    }
    return err;
}

// A later name of a file already copied becomes a name of that copy: while
// the source, as st shows it, still has the size, modification time, change
// time and mode it was copied with (the copy of a file edited since through
// any of its names, or of a new file under a reused inode, would not be it;
// the change time moves with every edit, also one that puts size and date
// back, an attribute or a mode), and the copy is still the file made, of the
// size made. Otherwise target gets a copy of its own, made anew
// (Changed: the file changed since its earlier name was copied). A copy on
// another disk than target is no reason to say a link was lost: target gets
// a file of its own.
enum class LinkOutcome { NotALaterName, Linked, CannotLink, Changed };
LinkOutcome linkToEarlierCopy(const QByteArray &target, const struct stat &st, CopyContext &ctx)
{
    const auto first = ctx.linkedFiles.find(std::make_pair(st.st_dev, st.st_ino));
    if (first == ctx.linkedFiles.end())
        return LinkOutcome::NotALaterName;
    const CopyContext::LinkedCopy &copy = first->second;
    if (copy.size != st.st_size || !sameTime(copy.modified, st.st_mtim) || !sameTime(copy.changed, st.st_ctim)
        || copy.mode != st.st_mode)
        return LinkOutcome::Changed;
    int err = injectedFileFault(FileStep::HardLink, decodedPath(target));
    if (!err) {
        // Linked by a handle on the copy checked, not by its name again.
        const Descriptor made(::open(copy.path.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat now;
        if (made.fd < 0 || ::fstat(made.fd, &now) != 0 || now.st_dev != copy.device || now.st_ino != copy.inode
            || now.st_size != copy.copySize) {
            // The copy is not the one made any more. A card could not have
            // linked it anyway (and its driver may not keep an inode).
            const Descriptor folder(::open(folderOf(target).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            return folder.fd >= 0 && kindOf(ctx, folder.fd) == FileSystemKind::Card ? LinkOutcome::CannotLink
                                                                                    : LinkOutcome::Changed;
        }
        const QByteArray handle = handlePath(made.fd);
        static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
        if (procFds ? ::linkat(AT_FDCWD, handle.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) != 0
                    : ::linkat(AT_FDCWD, copy.path.constData(), AT_FDCWD, target.constData(), 0) != 0)   // no /proc
            err = errno;
    }
    if (err == EXDEV)
        return LinkOutcome::NotALaterName;
    return err ? LinkOutcome::CannotLink : LinkOutcome::Linked;
}

// Notes the copy (open as out) at target of the file st describes, when that
// has more than one name: its later names become links to it. A newer copy
// takes the place of an older one of the same file.
void noteLinkedCopy(CopyContext &ctx, const struct stat &st, int out, const QByteArray &target)
{
    struct stat made;
    if (st.st_nlink < 2 || ::fstat(out, &made) != 0)
        return;
    ctx.linkedFiles.insert_or_assign(std::make_pair(st.st_dev, st.st_ino),
                                     CopyContext::LinkedCopy{target, made.st_dev, made.st_ino, made.st_size,
                                                             st.st_size, st.st_mtim, st.st_ctim, st.st_mode});
}

// Names the entry in ctx's list for how its link went: a file of its own
// where the target cannot link, or where the file changed since.
void tellLinkOutcome(CopyContext &ctx, LinkOutcome link, const QByteArray &relative)
{
    if (link == LinkOutcome::CannotLink && ctx.linksNotKept)
        ctx.linksNotKept->append(relative);
    else if (link == LinkOutcome::Changed && ctx.linksChanged)
        ctx.linksChanged->append(relative);
}

// err, or nameRefused where err is how a card's file system refuses a name
// (EINVAL from the kernel's drivers, EPERM from fusefat, ENOENT and EILSEQ
// from exfat-fuse) and target's name is one it refuses.
int cardRefusal(int err, const QByteArray &target, CopyContext &ctx)
{
    if (err != EINVAL && err != ENOENT && err != EILSEQ && err != EPERM)
        return err;
    if (!isNameACardRefuses(target.mid(target.lastIndexOf('/') + 1)))
        return err;
    const Descriptor folder(::open(folderOf(target).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0 || kindOf(ctx, folder.fd) == FileSystemKind::Ordinary)
        return err;
    return nameRefused;
}

int copyRegularFile(const QByteArray &source, const QByteArray &target, const QByteArray &relative,
                    const struct stat &st, CopyContext &ctx)
{
    const LinkOutcome link = linkToEarlierCopy(target, st, ctx);
    if (link == LinkOutcome::Linked) {
        tellMade(ctx, -1);   // the link at target is what was made (a temporary's owner records it)
        return 0;
    }
    int err = injectedFileFault(FileStep::MakeFile, decodedPath(target));
    const int out = err ? -1 : ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return cardRefusal(err ? err : errno, target, ctx);
    tellMade(ctx, out);
    err = copyIntoDescriptor(source, st, out, target, relative, ctx);
    if (!err && link != LinkOutcome::CannotLink)
        noteLinkedCopy(ctx, st, out, target);
    if (::close(out) != 0 && !err)
        err = errno;
    if (err)
        ::unlink(target.constData());
    else
        tellLinkOutcome(ctx, link, relative);   // a file of its own now: said, never silent
    return err;
}

} // namespace

int copyFileUnnamed(const QByteArray &source, const struct stat &st, const QByteArray &target, CopyContext &ctx,
                    bool verify)
{
    static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
    if (!procFds)
        return ENOTSUP;
    // Another name of a file an earlier item of the command copied.
    const LinkOutcome link = linkToEarlierCopy(target, st, ctx);
    if (link == LinkOutcome::Linked) {
        recordCopied(ctx, QByteArray(), st);
        return 0;
    }
    const int out = ::open(folderOf(target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (out < 0)
        return (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) ? ENOTSUP : errno;
    int err = copyIntoDescriptor(source, st, out, target, QByteArray(), ctx);
    recordCopied(ctx, QByteArray(), st);
    struct stat written;
    if (!err && verify && (::fstat(out, &written) != 0 || written.st_size != st.st_size))
        err = EIO;
    if (!err) {
        // The copy takes its name: a card may refuse that name.
        err = injectedFileFault(FileStep::FinalRename, decodedPath(target));
        const QByteArray fdPath = handlePath(out);
        if (!err && ::linkat(AT_FDCWD, fdPath.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) != 0)
            err = errno;
        err = cardRefusal(err, target, ctx);
    }
    if (!err && link != LinkOutcome::CannotLink)
        noteLinkedCopy(ctx, st, out, target);
    if (::close(out) != 0 && !err) {
        err = errno;
        ::unlink(target.constData());
    }
    if (!err)
        tellLinkOutcome(ctx, link, QByteArray());
    return err;
}

void linkedCopiesMoved(CopyContext &ctx, const QByteArray &temporary, const QByteArray &target)
{
    for (auto &[source, copy] : ctx.linkedFiles) {
        if (copy.path == temporary)
            copy.path = target;
        else if (isAtOrUnder(copy.path, temporary))
            copy.path = target + copy.path.mid(temporary.size());
    }
}

void linkedNamesRemoved(CopyContext &ctx, const QHash<std::pair<dev_t, ino_t>, UnlinkedName> &unlinked)
{
    for (auto it = ctx.linkedFiles.begin(); it != ctx.linkedFiles.end();) {
        const auto removed = unlinked.constFind(it->first);
        if (removed == unlinked.cend()) {
            ++it;
            continue;
        }
        if (removed->gone) {
            it = ctx.linkedFiles.erase(it);
            continue;
        }
        // Only a name that was the file as this copy has it moves on the
        // change time its later names must show; a name removed of a file
        // that changed since leaves the copy as old as it is.
        CopyContext::LinkedCopy &copy = it->second;
        if (copy.size == removed->size && sameTime(copy.modified, removed->modified)
            && sameTime(copy.changed, removed->changedBefore))
            copy.changed = removed->changedAfter;
        ++it;
    }
}

int refusedNameOr(int err, const QByteArray &target, CopyContext &ctx) { return cardRefusal(err, target, ctx); }

QByteArray charactersACardRefuses(const QByteArray &name)
{
    QByteArray found;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u == 0x7f || std::strchr(":?*<>|\"\\", c)) && !found.contains(c))
            found.append(c);
    }
    return found;
}

bool isNameACardRefuses(const QByteArray &name)
{
    return !charactersACardRefuses(name).isEmpty() || !QUtf8StringView(name).isValidUtf8();
}

namespace {

// The entry of target's folder that holds target's name although the folder
// holds no entry of exactly that name: its file system does not tell upper
// from lower case. Empty where it cannot be told which (a FUSE driver gives
// each spelling a number of its own); none where target's name is its own or
// nothing holds it.
std::optional<QByteArray> entryHoldingNameOf(const QByteArray &target)
{
    struct stat there;
    if (::lstat(target.constData(), &there) != 0)
        return std::nullopt;
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    const Descriptor folder(::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<QByteArray> names;
    int err = 0;
    if (folder.fd < 0 || !listFolderAt(folder.fd, &names, &err)
        || std::find(names.cbegin(), names.cend(), name) != names.cend())
        return std::nullopt;
    const QString spelled = decodedPath(name);
    for (const QByteArray &other : names)
        if (decodedPath(other).compare(spelled, Qt::CaseInsensitive) == 0)
            return other;
    return QByteArray();
}

} // namespace

std::optional<RefusedEntry> refusalOf(int err, const QByteArray &source, const QByteArray &target,
                                      const QByteArray &relative, CopyContext &ctx)
{
    if (err == nameRefused)
        return RefusedEntry{relative, EntryRefusal::Name, {}};
    struct stat st;
    if (err == 0 || ::lstat(source.constData(), &st) != 0)
        return std::nullopt;
    if (err == ENOTSUP && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        return RefusedEntry{relative,
                            S_ISFIFO(st.st_mode)   ? EntryRefusal::Pipe
                            : S_ISSOCK(st.st_mode) ? EntryRefusal::Socket
                                                   : EntryRefusal::Device,
                            {}};
    // No symbolic links: FUSE's FAT and exFAT drivers say ENOSYS, the
    // kernel's EPERM (which an ordinary disk never says of a link made in a
    // folder this copy made).
    if (S_ISLNK(st.st_mode) && (err == ENOSYS || err == EOPNOTSUPP || err == EPERM)) {
        const Descriptor folder(::open(folderOf(target).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (err != EPERM || (folder.fd >= 0 && kindOf(ctx, folder.fd) != FileSystemKind::Ordinary))
            return RefusedEntry{relative, EntryRefusal::Link, {}};
    }
    // Within a folder this copy made, a name in use that no entry has exactly
    // is one another entry took under another case.
    if (err == EEXIST && !relative.isEmpty()) {
        if (const std::optional<QByteArray> holder = entryHoldingNameOf(target)) {
            const qsizetype slash = relative.lastIndexOf('/');
            const QByteArray takenBy = holder->isEmpty() || slash < 0 ? *holder : relative.left(slash + 1) + *holder;
            return RefusedEntry{relative, EntryRefusal::CaseTaken, takenBy};
        }
    }
    return std::nullopt;
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
            return cardRefusal(errno, target, ctx);
        tellMade(ctx, -1);
        copyAttributes({-1, source}, {-1, target}, target, relative, ctx, {});
        keepLinkTimes(target, st);
        recordCopied(ctx, relative, st);
        return 0;
    }
    if (S_ISREG(st.st_mode)) {
        const int err = copyRegularFile(source, target, relative, st, ctx);
        if (!err)
            recordCopied(ctx, relative, st);
        return err;
    }
    if (!S_ISDIR(st.st_mode))
        return ENOTSUP;  // devices, sockets and pipes are not copied
    if (const int injected = injectedFileFault(FileStep::MakeFolder, decodedPath(target)))
        return cardRefusal(injected, target, ctx);
    if (::mkdir(target.constData(), 0700) != 0)
        return cardRefusal(errno, target, ctx);
    recordCopied(ctx, relative, st);
    tellMade(ctx, -1);
    constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const Descriptor from(::open(source.constData(), folderFlags));
    if (from.fd < 0)
        return errno;
    std::vector<QByteArray> names;
    int err = 0;
    if (!listFolderAt(from.fd, &names, &err))
        return err;
    for (const QByteArray &name : names) {
        if (isShuttingDown())
            return ECANCELED;
        const QByteArray below = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray from = joinRawPath(source, name), to = joinRawPath(target, name);
        if (const int e = copyEntry(from, to, ctx, below)) {
            // An entry the target cannot hold fails alone: it is named.
            const std::optional<RefusedEntry> refused =
                ctx.entriesRefused ? refusalOf(e, from, to, below, ctx) : std::nullopt;
            if (!refused)
                return e;
            ctx.entriesRefused->append(*refused);
        }
    }
    // Its attributes once its entries are in: a default ACL given earlier
    // would be taken on by entries that have none of their own.
    const Descriptor to(::open(target.constData(), folderFlags));
    if (to.fd < 0)
        return errno;
    if (const int e = copyAttributes({from.fd, {}}, {to.fd, {}}, target, relative, ctx, [&] {
            return keepMode(to.fd, st.st_mode & 07777, target, relative, ctx);
        }))
        return e;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(to.fd, times);
    return 0;
}

} // namespace lg
