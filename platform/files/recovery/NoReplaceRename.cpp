// A rename that cannot replace where the file system lacks RENAME_NOREPLACE.
#include "platform/files/recovery/NoReplaceRename.h"

#include "platform/files/names/FileNames.h"
#include "platform/files/names/RawPaths.h"
#include "platform/files/recovery/FileFaults.h"
#include "platform/files/recovery/FolderRecords.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/files/recovery/TemporariesShared.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lg {

namespace {

// A folder made anew for one moved gets its mode and times.
void keepFolderModeAndTimes(const QByteArray &path, const struct stat &st)
{
    ::chmod(path.constData(), st.st_mode & 07777);   // a FAT driver keeps no modes: no matter
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.constData(), times, 0);
}

// Renames from onto the placeholder to, made just now as made, when to is
// still that placeholder; otherwise, or when the rename fails, the placeholder
// goes again (only while it is the one made) and nothing else changes.
//
// A driver that refuses any rename onto a name that is taken, an empty
// folder too (a FUSE FAT driver: EPERM), gets a folder by another way,
// since such a driver may also lose a folder's contents when it renames the
// folder (fusefat does): the placeholder itself is filled, each entry of the
// folder moved into it (fillPlaceholder), and the emptied folder goes. A
// kill meanwhile leaves the entries in the two places, none lost: the
// placeholder's record names where they came from, and the cleanup finishes
// the filling (a card's placeholder holds its marker until from is gone); a
// failure puts them back. A file is never renamed otherwise than onto its
// placeholder: it would replace whatever file came in that moment.
int renameOntoPlaceholder(const QByteArray &f, const QByteArray &t, const struct stat &made, QByteArray marker)
{
    const auto isPlaceholder = [&] {
        struct stat now;
        return ::lstat(t.constData(), &now) == 0 && now.st_dev == made.st_dev && now.st_ino == made.st_ino;
    };
    const auto unmark = [&marker] {
        if (!marker.isEmpty())
            ::unlink(marker.constData());
        marker.clear();
    };
    int err = EEXIST;
    if (isPlaceholder()) {
        err = injectedFileFault(FileStep::PlaceholderRename, FileNames::fromNative(t));
        if (!err && ::rename(f.constData(), t.constData()) == 0)
            return 0;
        // A folder goes onto its placeholder only once the placeholder is
        // empty: its marker goes right before the rename (a driver that
        // refuses any rename onto a taken name has it filled below, marker and all).
        if (!err && (errno == ENOTEMPTY || errno == EEXIST) && !marker.isEmpty() && isPlaceholder()) {
            unmark();
            injectedFileFault(FileStep::PlaceholderUnmarked, FileNames::fromNative(t));
            if (::rename(f.constData(), t.constData()) == 0)
                return 0;
        }
        if (!err)
            err = errno == ENOTEMPTY ? EEXIST : errno;
        const bool refused = err == EPERM || err == EACCES || err == EOPNOTSUPP || err == ENOSYS || err == EBUSY;
        struct stat folder;
        if (refused && S_ISDIR(made.st_mode) && isPlaceholder() && ::lstat(f.constData(), &folder) == 0
            && S_ISDIR(folder.st_mode)) {
            ::chmod(t.constData(), 0700);   // a placeholder has no mode bits: the user may fill it
            err = fillPlaceholder(f, t, marker);
            if (!err)
                return 0;
            unmark();
            moveEntriesInto(t, f);   // back where they were
        }
    }
    unmark();
    if (isPlaceholder())
        S_ISDIR(made.st_mode) ? ::rmdir(t.constData()) : ::unlink(t.constData());
    return err;
}

} // namespace

int moveEntriesInto(const QByteArray &from, const QByteArray &to)
{
    if (const int injected = injectedFileFault(FileStep::PlaceholderRename, FileNames::fromNative(to)))
        return injected;
    const int fromFd = ::open(from.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fromFd < 0)
        return errno;
    std::vector<QByteArray> names;
    int err = 0;
    const bool listed = listFolderAt(fromFd, &names, &err);
    ::close(fromFd);
    if (!listed)
        return err;
    for (const QByteArray &name : names) {
        const QByteArray source = joinRaw(from, name);
        const QByteArray target = joinRaw(to, name);
        struct stat st, there;
        if (::lstat(source.constData(), &st) != 0)
            return errno;
        const bool free = ::lstat(target.constData(), &there) != 0 && errno == ENOENT;
        if (!S_ISDIR(st.st_mode)) {
            if (!free)
                return EEXIST;
            if (::rename(source.constData(), target.constData()) != 0)
                return errno;
            injectedFileFault(FileStep::PlaceholderFilled, FileNames::fromNative(target));
            continue;
        }
        if (!free && !S_ISDIR(there.st_mode))
            return EEXIST;
        if (free && ::mkdir(target.constData(), 0700) != 0)
            return errno;
        if (const int e = moveEntriesInto(source, target))
            return e;
        keepFolderModeAndTimes(target, st);
        if (::rmdir(source.constData()) != 0)
            return errno;
    }
    return 0;
}

int fillPlaceholder(const QByteArray &from, const QByteArray &to, const QByteArray &marker)
{
    struct stat folder;
    if (::lstat(from.constData(), &folder) != 0)
        return errno;
    if (const int err = moveEntriesInto(from, to))
        return err;
    if (::rmdir(from.constData()) != 0)
        return errno;
    if (!marker.isEmpty())
        ::unlink(marker.constData());
    keepFolderModeAndTimes(to, folder);
    return 0;
}

namespace {

// A placeholder at t is to hold its record's token: t's folder is on a disk
// that numbers its files afresh (a card), where nothing else tells it from
// the card's own empty folder or file.
bool marksPlaceholderAt(const QByteArray &t, const QByteArray &token)
{
    const int folderFd = token.isEmpty() ? -1 : ::open(folderOf(t).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return false;
    const bool onCard = temporaries::numbersFilesPerMount(folderFd);
    ::close(folderFd);
    return onCard;
}

// The placeholder folder t, just made, holds its marker where it is to be
// marked; the marker's path, or empty.
QByteArray markPlaceholderFolder(const QByteArray &t, const QByteArray &token)
{
    if (!marksPlaceholderAt(t, token))
        return {};
    const QByteArray marker = joinRaw(t, temporaries::placeholderMarker(token));
    const int fd = ::open(marker.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return {};
    ::close(fd);
    return marker;
}

// A rename that cannot replace, for file systems without RENAME_NOREPLACE
// (NFS, CIFS, some FUSE): a file gets its new name by link() (which never
// replaces) and loses the old one; a folder goes onto a fresh empty folder
// made there with mkdir (which never replaces), a rename onto a folder
// succeeding only while it is empty. Where a file cannot be linked, an empty
// file made with O_EXCL holds the name for it. A placeholder has no mode bits
// at all (placeholderMode), so one that a kill left is known as ours. EEXIST
// when the name is taken.
} // namespace

int renameWithoutReplacingRaw(const QByteArray &f, const QByteArray &t)
{
    struct stat st;
    if (::lstat(f.constData(), &st) != 0)
        return errno;
    if (const int injected = injectedFileFault(FileStep::NoReplaceFallback, FileNames::fromNative(t)))
        return injected;
    struct stat made;
    if (S_ISDIR(st.st_mode)) {
        // Recorded beside it too, where the disk cannot keep its mode.
        PlaceholderRecord record = PlaceholderRecord::before(f, t);
        if (::mkdir(t.constData(), placeholderMode) != 0)
            return errno;
        if (::lstat(t.constData(), &made) != 0)
            return errno;
        const QByteArray marker = markPlaceholderFolder(t, record.token());
        record.made(made);
        injectedFileFault(FileStep::PlaceholderMade, FileNames::fromNative(t));
        return renameOntoPlaceholder(f, t, made, marker);
    }
    if (::linkat(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), 0) == 0) {
        if (::unlink(f.constData()) == 0)
            return 0;
        const int err = errno;
        ::unlink(t.constData());
        return err;
    }
    const int err = errno;
    if (err != EPERM && err != EOPNOTSUPP && err != ENOSYS && err != EMLINK)
        return err;
    PlaceholderRecord record = PlaceholderRecord::before(f, t);
    const int fd = ::open(t.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, placeholderMode);
    if (fd < 0)
        return errno;
    // A file placeholder holds the token as its bytes, where it is to be marked.
    const QByteArray token = record.token();
    const bool marked = !marksPlaceholderAt(t, token) || ::write(fd, token.constData(), size_t(token.size())) == token.size();
    const int statErr = !marked ? EIO : ::fstat(fd, &made) == 0 ? 0 : errno;
    ::close(fd);
    if (statErr) {
        ::unlink(t.constData());
        return statErr;
    }
    record.made(made);
    injectedFileFault(FileStep::PlaceholderMade, FileNames::fromNative(t));
    return renameOntoPlaceholder(f, t, made, {});
}

} // namespace lg
