// Removal of a whole tree by directory handle, never crossing into another disk.
#include "platform/files/recovery/Removal.h"
#include "platform/base/HandlePath.h"
#include "platform/files/names/RawPaths.h"
#include "platform/files/names/FileNames.h"

#include "platform/runtime/Dispatch.h"
#include "platform/files/recovery/FileFaults.h"
#include "platform/files/recovery/FolderRecords.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <chrono>
#include <mutex>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace lg {

namespace {

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
    injectedFileFault(FileStep::MountTable, QStringLiteral("/proc/self/mountinfo"));
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

// The mount table of one removal or check: read the first time it is needed.
class MountTable
{
public:
    bool contains(const QByteArray &path)
    {
        if (!m_points)
            m_points = mountPointsFromTable();
        return m_points->contains(path);
    }

private:
    std::optional<QSet<QByteArray>> m_points;
};

// True when the folder name in folderFd, examined as st, is the top of a mount:
// another file system, or a bind mount of the same one. The kernel says so
// where it can (statx); else a device other than its folder's, or the mount
// table, tells.
bool isMountTopAt(int folderFd, const QByteArray &name, const struct stat &st, dev_t folderDevice, MountTable &table)
{
    struct statx sx;
    if (::statx(folderFd, name.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &sx) == 0
        && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        && injectedFileFault(FileStep::MountFlag, FileNames::fromNative(name)) == 0)
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    if (st.st_dev != folderDevice)
        return true;
    const QByteArray folder = pathOfHandle(folderFd);
    return !folder.isEmpty() && table.contains(joinRaw(folder, name));
}

bool isSameEntry(int fd, const struct stat &examined)
{
    struct stat opened;
    return ::fstat(fd, &opened) == 0 && S_ISDIR(opened.st_mode) && opened.st_dev == examined.st_dev
           && opened.st_ino == examined.st_ino;
}

// A folder of ours that we may not read: made readable and writable through a
// handle that needs no permission (O_PATH), then opened through that handle.
// *record holds the record of its mode while it is open (see OpenedUpFolder).
int openUpFolderAt(int folderFd, const QByteArray &folderPath, const QByteArray &name, const struct stat &examined,
                   bool *openedUp, OpenedUpFolder *record)
{
    const int pathFd = ::openat(folderFd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (pathFd < 0)
        return -1;
    int fd = -1;
    if (isSameEntry(pathFd, examined)) {
        *record = OpenedUpFolder::record(folderFd, folderPath, name, examined, (examined.st_mode | S_IRWXU) & 07777);
        *openedUp = ::chmod(handlePath(pathFd).constData(), (examined.st_mode | S_IRWXU) & 07777) == 0;
        fd = ::open(handlePath(pathFd).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && *openedUp) {
            // Not opened after all: its mode goes back as it was.
            const int err = errno;
            ::chmod(handlePath(pathFd).constData(), examined.st_mode & 07777);
            *openedUp = false;
            errno = err;
        }
        if (!*openedUp)
            record->done();
    } else {
        errno = ELOOP;
    }
    const int err = errno;
    ::close(pathFd);
    errno = err;
    return fd;
}

// Opens the folder name in folderFd for its removal, when it is still the
// folder examined (st), and makes it writable where it is ours to open up
// (*openedUp then says so). 0 with *fd open; ENOENT when it has gone;
// otherwise the error.
int enterFolderAt(int folderFd, const QByteArray &folderPath, const QByteArray &name, const struct stat &examined,
                  int *fd, bool *openedUp, OpenedUpFolder *record)
{
    *openedUp = false;
    *fd = ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (*fd < 0 && errno == EACCES)
        *fd = openUpFolderAt(folderFd, folderPath, name, examined, openedUp, record);
    if (*fd < 0)
        return errno == ELOOP || errno == ENOTDIR ? changedWhileRemoved : errno;
    if (!isSameEntry(*fd, examined)) {
        if (*openedUp)
            ::fchmod(*fd, examined.st_mode & 07777);
        record->done();
        ::close(*fd);
        *fd = -1;
        return changedWhileRemoved;
    }
    if (::faccessat(*fd, ".", W_OK | X_OK, AT_EACCESS) != 0) {   // a read-only folder of ours
        if (!*openedUp)
            *record = OpenedUpFolder::record(folderFd, folderPath, name, examined, (examined.st_mode | S_IRWXU) & 07777);
        *openedUp = ::fchmod(*fd, (examined.st_mode | S_IRWXU) & 07777) == 0 || *openedUp;
        if (!*openedUp)
            record->done();
    }
    return 0;
}

// How many folders deep a removal goes: one handle each. A tree deeper than
// this (made with relative paths; no path names its bottom) is left below that
// depth, and the removal says so.
constexpr int maxRemovalDepth = 2048;

// Still exactly what was copied: a folder by its device, inode and type (its
// size and times change as it is emptied), anything else by its size,
// modification time and inode change time too. Where this removal took
// another name of the file (which changed its change time), the change time
// must be the one that unlink left (changedByUs), so that an edit made
// through this name since still counts.
bool isAsCopied(const CopiedEntries &copied, const QByteArray &relative, const struct stat &st,
                const struct timespec *changedByUs)
{
    const auto it = copied.constFind(relative);
    if (it == copied.cend())
        return false;
    const FileIdentity now = identityOfStat(st);
    if (!now.sameObject(*it) || now.type != it->type)
        return false;
    return S_ISDIR(st.st_mode)
           || (now.size == it->size && now.modifiedSeconds == it->modifiedSeconds
               && now.modifiedNanoseconds == it->modifiedNanoseconds
               && (changedByUs ? st.st_ctim.tv_sec == changedByUs->tv_sec && st.st_ctim.tv_nsec == changedByUs->tv_nsec
                               : now.changedSeconds == it->changedSeconds
                                     && now.changedNanoseconds == it->changedNanoseconds));
}

// The clock the bound of a removal at quit is measured by (ms); tests set their own.
// Never destroyed: a removal may run while exit() runs the static destructors.
std::mutex &g_clockMutex = *new std::mutex;
std::function<qint64()> &g_clock = *new std::function<qint64()>;

qint64 removalNow()
{
    {
        std::lock_guard<std::mutex> lock(g_clockMutex);
        if (g_clock)
            return g_clock();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One removal: a walk down a stack of folder handles.
class Removal
{
public:
    // With finishAtQuit, the quit stops it only quitRemovalBoundMs after it first sees it.
    Removal(const CopiedEntries *copied, QByteArray *failedAt, bool finishAtQuit = false)
        : m_copied(copied), m_failedAt(failedAt), m_finishAtQuit(finishAtQuit)
    {
    }

    int run(int folderFd, dev_t folderDevice, const QByteArray &folderPath, const QByteArray &name,
            std::optional<uid_t> owner);

    qint64 kept() const { return m_kept; }
    const QStringList &keptEntries() const { return m_keptEntries; }
    const QList<QByteArray> &mountPoints() const { return m_mountPoints; }
    const QHash<std::pair<dev_t, ino_t>, UnlinkedName> &unlinked() const { return m_unlinked; }

private:
    struct Frame
    {
        int fd = -1;
        struct stat st {};      // the folder as examined
        QByteArray name;        // its name in the folder below it on the stack
        QByteArray path;        // for messages and the fault hook
        QByteArray relative;    // below the top, for what was copied
        std::vector<QByteArray> names;
        size_t next = 0;
        bool openedUp = false;  // its mode was widened for the removal
        OpenedUpFolder modeRecord;   // and recorded, for the cleanup after a kill
        bool incomplete = false;   // something in it stays
    };
    enum class Visit { Gone, Left, Entered };

    bool stopsForQuit();
    Visit visit(int parentFd, dev_t parentDevice, const QByteArray &path, const QByteArray &relative,
                const QByteArray &name, int depth, std::optional<uid_t> owner, Frame *entered);
    bool finish(Frame &frame, int parentFd);
    void keepArrivedSinceListed(Frame &frame);
    Visit fail(int err, const QByteArray &path)
    {
        if (!m_error) {
            m_error = err;
            *m_failedAt = path;
        }
        return Visit::Left;
    }

    // An entry left because it is not what was copied; the first few are named.
    void keep(const QByteArray &relative)
    {
        ++m_kept;
        if (m_keptEntries.size() < maxNamedKept)
            m_keptEntries.append(FileNames::fromNative(relative));
    }
    static constexpr qsizetype maxNamedKept = 8;

    const CopiedEntries *m_copied;
    QByteArray *m_failedAt;
    int m_error = 0;
    qint64 m_kept = 0;
    QStringList m_keptEntries;
    // Regular files one name of which this removal took: the change time
    // that unlink left the ones with other names.
    QHash<std::pair<dev_t, ino_t>, UnlinkedName> m_unlinked;
    QList<QByteArray> m_mountPoints;
    MountTable m_table;
    bool m_finishAtQuit = false;
    std::optional<qint64> m_quitSeenAt;   // when this removal first saw the quit
};

bool Removal::stopsForQuit()
{
    if (!isShuttingDown())
        return false;
    if (!m_finishAtQuit)
        return true;
    const qint64 now = removalNow();
    if (!m_quitSeenAt)
        m_quitSeenAt = now;
    return now - *m_quitSeenAt >= quitRemovalBoundMs;
}

Removal::Visit Removal::visit(int parentFd, dev_t parentDevice, const QByteArray &path, const QByteArray &relative,
                              const QByteArray &name, int depth, std::optional<uid_t> owner, Frame *entered)
{
    if (stopsForQuit())
        return fail(ECANCELED, path);
    if (const int injected = injectedFileFault(FileStep::Remove, FileNames::fromNative(path)))
        return fail(injected, path);
    struct stat st;
    if (::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Visit::Gone : fail(errno, path);
    if (owner && st.st_uid != *owner)
        return fail(EPERM, path);
    const auto unlinked = m_unlinked.constFind({st.st_dev, st.st_ino});
    if (m_copied
        && !isAsCopied(*m_copied, relative, st,
                       unlinked == m_unlinked.cend() || unlinked->gone ? nullptr : &unlinked->changedAfter)) {
        keep(relative);   // arrived or changed since it was copied
        return Visit::Left;
    }
    if (!S_ISDIR(st.st_mode)) {   // a bind-mounted file cannot be unlinked either (EBUSY)
        // A file with other names is held by a handle while this one goes:
        // the change time the unlink leaves is what its other names must
        // show when they are reached.
        int held = -1;
        if (m_copied && st.st_nlink > 1) {
            held = ::openat(parentFd, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
            struct stat opened;
            if (held >= 0 && (::fstat(held, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino)) {
                ::close(held);
                held = -1;
            }
        }
        const bool gone = ::unlinkat(parentFd, name.constData(), 0) == 0;
        const int err = errno;
        if (gone && m_copied && S_ISREG(st.st_mode)) {
            // The file as it was before its first name here went, and what
            // the unlink left: another change time, or no name at all.
            struct stat after;
            const bool lastName = held < 0 || ::fstat(held, &after) != 0 || after.st_nlink == 0;
            const bool first = !m_unlinked.contains({st.st_dev, st.st_ino});
            UnlinkedName &noted = m_unlinked[{st.st_dev, st.st_ino}];
            if (first) {
                noted.size = st.st_size;
                noted.modified = st.st_mtim;
                noted.changedBefore = st.st_ctim;
            }
            noted.gone = lastName;
            if (!lastName)
                noted.changedAfter = after.st_ctim;
        }
        if (held >= 0)
            ::close(held);
        if (gone || err == ENOENT)
            return Visit::Gone;
        return fail(err, path);
    }
    if (isMountTopAt(parentFd, name, st, parentDevice, m_table)) {
        m_mountPoints.append(path);
        return fail(EBUSY, path);
    }
    if (depth >= maxRemovalDepth)
        return fail(tooDeepToRemove, path);
    if (const int injected = injectedFileFault(FileStep::EnterFolder, FileNames::fromNative(path)))
        return fail(injected, path);
    Frame frame;
    const QByteArray parentPath = path.size() > name.size() + 1 ? path.chopped(name.size() + 1) : QByteArray("/");
    if (const int err = enterFolderAt(parentFd, parentPath, name, st, &frame.fd, &frame.openedUp, &frame.modeRecord))
        return err == ENOENT ? Visit::Gone : fail(err, path);
    int err = 0;
    if (!listFolderAt(frame.fd, &frame.names, &err)) {
        if (frame.openedUp)
            ::fchmod(frame.fd, st.st_mode & 07777);
        ::close(frame.fd);
        return fail(err, path);
    }
    frame.st = st;
    frame.name = name;
    frame.path = path;
    frame.relative = relative;
    *entered = std::move(frame);
    return Visit::Entered;
}

// The entries the folder of frame holds now that it did not hold when it was
// listed: they arrived meanwhile and stay.
void Removal::keepArrivedSinceListed(Frame &frame)
{
    std::vector<QByteArray> now;
    int err = 0;
    if (!listFolderAt(frame.fd, &now, &err))
        return;
    std::sort(frame.names.begin(), frame.names.end());
    std::sort(now.begin(), now.end());
    std::vector<QByteArray> arrived;
    std::set_difference(now.begin(), now.end(), frame.names.begin(), frame.names.end(), std::back_inserter(arrived));
    for (const QByteArray &name : arrived)
        keep(frame.relative.isEmpty() ? name : frame.relative + '/' + name);
}

// Removes the emptied folder of frame from parentFd; true when it has gone.
// A folder that stays gets back the mode it had.
bool Removal::finish(Frame &frame, int parentFd)
{
    bool gone = false;
    if (!frame.incomplete) {
        // The name may have been given to something else while the folder was emptied.
        struct stat now;
        if (::fstatat(parentFd, frame.name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
            gone = errno == ENOENT;
            if (!gone)
                fail(errno, frame.path);
        } else if (now.st_dev != frame.st.st_dev || now.st_ino != frame.st.st_ino) {
            fail(changedWhileRemoved, frame.path);
        } else if (::unlinkat(parentFd, frame.name.constData(), AT_REMOVEDIR) == 0) {
            gone = true;
        } else if (!m_copied || (errno != ENOTEMPTY && errno != EEXIST)) {
            fail(errno, frame.path);
        }
    }
    if (!gone && m_copied)
        keepArrivedSinceListed(frame);
    if (!gone && frame.openedUp)
        ::fchmod(frame.fd, frame.st.st_mode & 07777);
    frame.modeRecord.done();
    ::close(frame.fd);
    frame.fd = -1;
    return gone;
}

int Removal::run(int folderFd, dev_t folderDevice, const QByteArray &folderPath, const QByteArray &name,
                 std::optional<uid_t> owner)
{
    std::vector<Frame> stack;
    Frame top;
    if (visit(folderFd, folderDevice, joinRaw(folderPath, name), QByteArray(), name, 0, owner, &top) == Visit::Entered)
        stack.push_back(std::move(top));
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next < frame.names.size()) {
            const QByteArray &child = frame.names[frame.next++];
            const QByteArray relative = !m_copied ? QByteArray()
                                        : frame.relative.isEmpty() ? child
                                                                   : frame.relative + '/' + child;
            Frame entered;
            const Visit v = visit(frame.fd, frame.st.st_dev, joinRaw(frame.path, child), relative, child,
                                  int(stack.size()), std::nullopt, &entered);
            if (v == Visit::Left)
                frame.incomplete = true;
            else if (v == Visit::Entered)
                stack.push_back(std::move(entered));   // frame is not used after this
            continue;
        }
        Frame done = std::move(frame);
        stack.pop_back();
        const bool gone = finish(done, stack.empty() ? folderFd : stack.back().fd);
        if (!gone && !stack.empty())
            stack.back().incomplete = true;
    }
    return m_error;
}

// 0 when the entry name of folderFd (examined as st) and all it holds could be
// removed now: see canRemove. Walks a stack of folder handles.
int checkRemovableAt(int folderFd, const QByteArray &folderPath, const QByteArray &name, const struct stat &st,
                     uid_t user, QByteArray *failedAt, MountTable &table)
{
    struct Frame
    {
        int fd = -1;
        struct stat st {};
        QByteArray path;
        std::vector<QByteArray> names;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    const auto closeAll = [&stack] {
        for (Frame &frame : stack)
            ::close(frame.fd);
    };
    // Opens the folder name of parentFd for its check and stacks it; 0 also
    // when it is not a folder of ours to look into.
    const auto enter = [&](int parentFd, const QByteArray &path, const QByteArray &entry, const struct stat &examined,
                           int depth) {
        if (!S_ISDIR(examined.st_mode))
            return 0;
        if (depth >= maxRemovalDepth) {
            *failedAt = path;
            return tooDeepToRemove;
        }
        const int fd = ::openat(parentFd, entry.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (const int openErr = fd < 0 ? errno : 0; openErr == EMFILE || openErr == ENFILE || openErr == ENOMEM) {
            *failedAt = path;   // out of handles: nothing can be told, and the removal would fail
            return openErr;
        }
        if (fd < 0 || !isSameEntry(fd, examined)) {
            if (fd >= 0)
                ::close(fd);
            return 0;   // ours, opened up when it is removed; or changed, and the removal finds out
        }
        if (::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0) {
            const int err = errno;
            if (err == EROFS || (examined.st_uid != user && user != 0)) {
                ::close(fd);
                *failedAt = path;
                return err;
            }
        }
        Frame frame;
        frame.fd = fd;
        frame.st = examined;
        frame.path = path;
        int err = 0;
        if (!listFolderAt(fd, &frame.names, &err) && (err == EMFILE || err == ENFILE || err == ENOMEM)) {
            ::close(fd);
            *failedAt = path;
            return err;
        }
        stack.push_back(std::move(frame));
        return 0;
    };
    int err = enter(folderFd, joinRaw(folderPath, name), name, st, 0);
    while (!err && !stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next >= frame.names.size()) {
            ::close(frame.fd);
            stack.pop_back();
            continue;
        }
        if (isShuttingDown()) {
            *failedAt = frame.path;
            err = ECANCELED;
            break;
        }
        const QByteArray &child = frame.names[frame.next++];
        const QByteArray path = joinRaw(frame.path, child);
        struct stat childStat;
        if (::fstatat(frame.fd, child.constData(), &childStat, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(childStat.st_mode) && isMountTopAt(frame.fd, child, childStat, frame.st.st_dev, table)) {
            *failedAt = path;
            err = EBUSY;
            break;
        }
        err = enter(frame.fd, path, child, childStat, int(stack.size()));
    }
    closeAll();
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

namespace {

int removeEntryWith(Removal &removal, int folderFd, const QByteArray &folderPath, const QByteArray &name,
                    QByteArray *failedAt, std::optional<uid_t> owner)
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
    return removal.run(folderFd, folder.st_dev, folderPath, name, owner);
}

} // namespace

int removeEntryAt(int folderFd, const QByteArray &folderPath, const QByteArray &name, QByteArray *failedAt,
                  std::optional<uid_t> owner)
{
    Removal removal(nullptr, failedAt);
    return removeEntryWith(removal, folderFd, folderPath, name, failedAt, owner);
}

namespace {

RemovalResult removeReporting(const QString &path, const CopiedEntries *copied, bool finishAtQuit)
{
    QByteArray folder, name, at;
    splitPath(lg::FileNames::toNative(path), &folder, &name);
    RemovalResult result;
    Removal removal(copied, &at, finishAtQuit);
    // The folder it lies in is the caller's; what lies below is examined.
    const int folderFd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        result.error = errno == ENOENT ? 0 : errno;
        at = folder;
    } else {
        result.error = removeEntryWith(removal, folderFd, folder, name, &at, std::nullopt);
        ::close(folderFd);
    }
    if (result.error)
        result.failedAt = FileNames::fromNative(at);
    result.kept = removal.kept();
    result.keptEntries = removal.keptEntries();
    result.unlinkedNames = removal.unlinked();
    for (const QByteArray &point : removal.mountPoints())
        result.mountPoints.append(FileNames::fromNative(point));
    return result;
}

} // namespace

RemovalResult removeTreeReporting(const QString &path, const CopiedEntries *copied)
{
    return removeReporting(path, copied, false);
}

int removeTree(const QString &path, QString *failedAt)
{
    const RemovalResult result = removeTreeReporting(path);
    if (result.error && failedAt)
        *failedAt = result.failedAt;
    return result.error;
}

int removeMadeByThisRun(const QString &path, QString *failedAt)
{
    const RemovalResult result = removeReporting(path, nullptr, true);
    if (result.error && failedAt)
        *failedAt = result.failedAt;
    return result.error;
}

RemovalResult removeMadeByThisRunReporting(const QString &path) { return removeReporting(path, nullptr, true); }

void setRemovalClockForTesting(std::function<qint64()> nowMs)
{
    std::lock_guard<std::mutex> lock(g_clockMutex);
    g_clock = std::move(nowMs);
}

int canRemove(const QString &path, QString *reason)
{
    QByteArray folder, name;
    splitPath(lg::FileNames::toNative(path), &folder, &name);
    struct stat st, parent;
    const auto refused = [&](int err, const QByteArray &where) {
        if (reason)
            *reason = QStringLiteral("“%1” cannot be changed (%2).").arg(FileNames::fromNative(where), removalReason(err));
        return err;
    };
    const int folderFd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return refused(errno, folder);
    if (::fstat(folderFd, &parent) != 0 || ::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        ::close(folderFd);
        return refused(err, joinRaw(folder, name));
    }
    MountTable table;
    const uid_t user = fileSystemUser();
    QByteArray failedAt = folder;
    int err = ::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
    if (!err && (parent.st_mode & S_ISVTX) && user != 0 && st.st_uid != user && parent.st_uid != user)
        err = EPERM;   // a sticky folder keeps others' items
    if (!err) {
        failedAt = joinRaw(folder, name);
        if (S_ISDIR(st.st_mode) && isMountTopAt(folderFd, name, st, parent.st_dev, table))
            err = EBUSY;
    }
    if (!err) {
        failedAt.clear();
        err = checkRemovableAt(folderFd, folder, name, st, user, &failedAt, table);
    }
    ::close(folderFd);
    return err ? refused(err, failedAt) : 0;
}

QString removalReason(int err)
{
    if (err == EBUSY)
        return QStringLiteral("another file system is mounted there");
    if (err == changedWhileRemoved)
        return QStringLiteral("it was changed while it was being removed");
    if (err == tooDeepToRemove)
        return QStringLiteral("it lies too many folders deep");
    if (err == ECANCELED)
        return QStringLiteral("the program is quitting");
    return errnoClause(err);
}

uid_t fileSystemUser() { return uid_t(::setfsuid(uid_t(-1))); }

} // namespace lg
