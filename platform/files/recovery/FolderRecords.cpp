// Records of read-only folders opened up and of placeholders, and how the cleanup settles them after a kill.
#include "platform/files/recovery/FolderRecords.h"
#include "platform/files/recovery/TemporariesShared.h"
#include "platform/files/recovery/JournalShared.h"
#include "platform/base/HandlePath.h"

#include "platform/files/names/FileIdentity.h"
#include "platform/files/recovery/NoReplaceRename.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/Temporaries.h"

#include <QList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace lg {

using namespace temporaries;

namespace {

// ---- Records of opened-up folders and of placeholders ----
constexpr char openedHeader[] = "[Lumen Gallery opened folder]";
constexpr char placeholderHeader[] = "[Lumen Gallery placeholder]";

// What the record of a folder opened up says.
struct OpenedRecord
{
    QByteArray name;           // the folder's name beside the record
    QByteArray folder;         // "<device>:<inode>"
    unsigned mode = 0;         // its own mode
    unsigned given = 0;        // the mode it was given
    QByteArray volume;         // the volume of the record's folder ("uuid:..." or "fsid:..."); may be empty
};

QByteArray openedText(const OpenedRecord &record)
{
    QByteArray text = QByteArray(openedHeader) + "\nName=" + record.name.toPercentEncoding() + "\nFolder="
                      + record.folder + "\nMode=" + QByteArray::number(record.mode)
                      + "\nGiven=" + QByteArray::number(record.given) + "\n";
    if (!record.volume.isEmpty())
        text += "Volume=" + record.volume.toPercentEncoding(":") + "\n";
    return text;
}

// A mode as the records write it: decimal, permission bits only.
std::optional<unsigned> modeOfText(const QByteArray &text)
{
    bool ok = false;
    const uint mode = text.toUInt(&ok);
    if (!ok || mode > 07777 || QByteArray::number(mode) != text)
        return std::nullopt;
    return mode;
}

bool isAbsoluteRawPath(const QByteArray &path)
{
    return path.startsWith('/') && !path.contains('\0') && path.size() <= 4095;
}

// A volume as records name it: "uuid:<UUID>" or "fsid:<type>:<hex>".
bool isVolumeText(const QByteArray &volume)
{
    return (volume.startsWith("uuid:") || volume.startsWith("fsid:")) && volume.size() < 256 && !volume.contains('\n')
           && !volume.contains('\0');
}

// The record, when text is byte for byte what OpenedUpFolder writes: one
// name (of what lies in the record's own folder), an identity, and two
// different modes the second of which only adds the user's bits to the first
// (so setting it back only ever takes bits away). A record naming any other
// place (an older version's "MovedTo", a path, a "..") is not ours.
std::optional<OpenedRecord> parseOpened(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    if ((lines.size() != 6 && lines.size() != 7) || lines.at(0) != openedHeader || !lines.at(1).startsWith("Name=")
        || !lines.at(2).startsWith("Folder=") || !lines.at(3).startsWith("Mode=") || !lines.at(4).startsWith("Given="))
        return std::nullopt;
    OpenedRecord record;
    record.name = QByteArray::fromPercentEncoding(lines.at(1).mid(5));
    record.folder = lines.at(2).mid(7);
    const std::optional<unsigned> mode = modeOfText(lines.at(3).mid(5));
    const std::optional<unsigned> given = modeOfText(lines.at(4).mid(6));
    if (lines.size() == 7) {
        record.volume = QByteArray::fromPercentEncoding(lines.at(5).mid(7));
        if (!lines.at(5).startsWith("Volume=") || !isVolumeText(record.volume))
            return std::nullopt;
    }
    if (!mode || !given || *mode == *given || (*mode & ~*given) != 0 || (*given & ~(*mode | S_IRWXU)) != 0
        || !isOneName(record.name)
        || !isNumberList(record.folder, 2))
        return std::nullopt;
    record.mode = *mode;
    record.given = *given;
    if (text != openedText(record))
        return std::nullopt;
    return record;
}

// st is the folder recorded (id "<device>:<inode>"), found in the folder open
// as dirFd, on that folder's own volume (never a disk mounted inside it): the
// same inode, on the device recorded or, where that volume (cameBack: the one
// recorded) came back under another device number, on that folder's. Where
// the disk numbers its files afresh at each mount, an inode says nothing:
// never then.
bool isRecordedFolder(const struct stat &st, const QByteArray &id, int dirFd, bool cameBack)
{
    const QList<QByteArray> parts = id.split(':');
    struct stat folder;
    if (parts.size() != 2 || !S_ISDIR(st.st_mode) || quint64(st.st_ino) != parts.at(1).toULongLong()
        || ::fstat(dirFd, &folder) != 0 || folder.st_dev != st.st_dev)
        return false;
    const quint64 device = parts.at(0).toULongLong();
    return quint64(st.st_dev) == device || (cameBack && !numbersFilesPerMount(dirFd));
}

// A record that names a volume counts only on that volume: another card's
// record is obeyed in nothing, whatever the device numbers say (a card's
// driver numbers its devices and files afresh, and a copy of the card may be
// mounted where it was).
bool isOfAnotherVolume(FolderLook &look, const QByteArray &volume)
{
    return !volume.isEmpty() && look.volume() != volume;
}

// The folder name in dirFd, reached by handle without following a link, gets
// its mode back when it is the one recorded, the user's, with exactly the mode
// it was given; true when it is the one.
bool setModeBackAt(int dirFd, const QByteArray &name, const OpenedRecord &record, uid_t user, bool cameBack)
{
    if (!isOneName(name))
        return false;
    const int fd = ::openat(dirFd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    const bool found = ::fstat(fd, &st) == 0 && isRecordedFolder(st, record.folder, dirFd, cameBack);
    if (found && st.st_uid == user && (st.st_mode & 07777) == record.given)
        ::chmod(handlePath(fd).constData(), record.mode);
    ::close(fd);
    return found;
}

// The folder recorded gets its mode back where it is: under its name in the
// record's own folder, or renamed within that folder. Anywhere else (a folder
// moved to another parent has a record of its own there) it is left as it is.
void setModeBack(FolderLook &look, const OpenedRecord &record, uid_t user)
{
    if (isOfAnotherVolume(look, record.volume))
        return;
    const int folderFd = look.fd();
    struct stat folder;
    const bool cameBack = ::fstat(folderFd, &folder) == 0
                          && quint64(folder.st_dev) != record.folder.split(':').first().toULongLong()
                          && !record.volume.isEmpty();
    if (setModeBackAt(folderFd, record.name, record, user, cameBack))
        return;
    for (const QByteArray &name : look.foldersWithInode(record.folder.split(':').last().toULongLong())) {
        struct stat st;
        if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && isRecordedFolder(st, record.folder, folderFd, cameBack)) {
            setModeBackAt(folderFd, name, record, user, cameBack);
            return;
        }
    }
}

// What the record of a placeholder says: only the name it holds in the
// record's own folder, where the rename comes from and, once made, what was
// made there.
struct PlaceholderText
{
    QByteArray name;   // the target's name beside the record
    // The item renamed, as reached from the record's folder on its disk
    // ("../" where it lies above); may be empty.
    QByteArray from;
    QByteArray made;   // "<device>:<inode>:<type>" of the placeholder; empty when not recorded
    unsigned mode = 0;   // its mode as made (a disk without modes gives its own)
    QByteArray volume;   // the volume of the record's folder; may be empty
};

QByteArray placeholderText(const PlaceholderText &record)
{
    QByteArray text = QByteArray(placeholderHeader) + "\nName=" + record.name.toPercentEncoding() + "\n";
    if (!record.from.isEmpty())
        text += "From=" + record.from.toPercentEncoding("/") + "\n";
    if (!record.made.isEmpty())
        text += "Made=" + record.made + "\nMode=" + QByteArray::number(record.mode) + "\n";
    if (!record.made.isEmpty() && !record.volume.isEmpty())
        text += "Volume=" + record.volume.toPercentEncoding(":") + "\n";
    return text;
}

// A path as a placeholder's record names where its rename came from: names
// below the record's folder, after any number of "..".
bool isReachedPath(const QByteArray &path)
{
    const QList<QByteArray> parts = path.split('/');
    qsizetype up = 0;
    while (up < parts.size() && parts.at(up) == "..")
        ++up;
    if (up == parts.size())
        return false;
    for (qsizetype i = up; i < parts.size(); ++i)
        if (!isOneName(parts.at(i)))
            return false;
    return true;
}

std::optional<PlaceholderText> parsePlaceholder(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 3 || lines.at(0) != placeholderHeader || !lines.at(1).startsWith("Name="))
        return std::nullopt;
    PlaceholderText record;
    record.name = QByteArray::fromPercentEncoding(lines.at(1).mid(5));
    if (lines.at(2).startsWith("From=")) {
        record.from = QByteArray::fromPercentEncoding(lines.at(2).mid(5));
        if (!isReachedPath(record.from))
            return std::nullopt;
        lines.removeAt(2);
    }
    if (lines.size() != 3 && lines.size() != 5 && lines.size() != 6)
        return std::nullopt;
    if (lines.size() >= 5) {
        if (!lines.at(2).startsWith("Made=") || !isNumberList(lines.at(2).mid(5), 3) || !lines.at(3).startsWith("Mode="))
            return std::nullopt;
        const std::optional<unsigned> mode = modeOfText(lines.at(3).mid(5));
        if (!mode)
            return std::nullopt;
        record.made = lines.at(2).mid(5);
        record.mode = *mode;
    }
    if (lines.size() == 6) {
        record.volume = QByteArray::fromPercentEncoding(lines.at(4).mid(7));
        if (!lines.at(4).startsWith("Volume=") || !isVolumeText(record.volume))
            return std::nullopt;
    }
    if (!isOneName(record.name) || text != placeholderText(record))
        return std::nullopt;
    return record;
}

// st is the item made ("<device>:<inode>:<type>") on the volume recorded
// (the folder's, looked at before), come back under another device number
// (a card mounted again): the same inode and type, on the disk of the folder
// open as folderFd, whose number is not the one recorded. Never where the
// disk numbers its files afresh.
bool isMadeOnReturnedDisk(const PlaceholderText &record, const struct stat &st, int folderFd)
{
    const QList<QByteArray> parts = record.made.split(':');
    struct stat folder;
    if (parts.size() != 3 || ::fstat(folderFd, &folder) != 0 || folder.st_dev != st.st_dev)
        return false;
    const FileIdentity id = identityOfStat(st);
    return parts.at(0).toULongLong() != quint64(st.st_dev) && parts.at(1).toULongLong() == id.inode
           && parts.at(2).toUInt() == id.type && !numbersFilesPerMount(folderFd) && !record.volume.isEmpty();
}

// Removes the placeholder a dead process's record names, when it is one: see
// PlaceholderRecord.
void removeRecordedPlaceholder(FolderLook &look, const PlaceholderText &record, uid_t user)
{
    if (isOfAnotherVolume(look, record.volume))
        return;
    const int folderFd = look.fd();
    struct stat st, folder;
    if (::fstatat(folderFd, record.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != user
        || ::fstat(folderFd, &folder) != 0 || folder.st_dev != st.st_dev
        || !(S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_size == 0 && st.st_nlink == 1)))
        return;
    // The very item recorded, with the mode it was made with; with no
    // identity recorded yet (a kill right after it was made), only what a
    // placeholder alone looks like, on a disk that keeps modes (none at all),
    // from before this process. On a disk that numbers its files afresh at
    // each mount nothing else tells a placeholder from the card's own empty
    // folder or file: there it must be exactly the one recorded.
    const bool recorded = (isExactly(record.made, identityOfStat(st)) || isMadeOnReturnedDisk(record, st, folderFd))
                          && (st.st_mode & 07777) == record.mode;
    const bool unrecorded = record.made.isEmpty() && !numbersFilesPerMount(folderFd)
                            && isOlderThanThisProcess(st.st_mtim) && (st.st_mode & 07777) == placeholderMode;
    if (!recorded && !unrecorded)
        return;
    if (S_ISDIR(st.st_mode)) {
        ::unlinkat(folderFd, record.name.constData(), AT_REMOVEDIR);   // only while empty
        return;
    }
    struct stat again;
    if (::fstatat(folderFd, record.name.constData(), &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_ino == st.st_ino
        && again.st_dev == st.st_dev && again.st_size == 0)
        ::unlinkat(folderFd, record.name.constData(), 0);
}

// A card's placeholder folder at record.name, made by the process whose
// record's lock has token, that a kill stopped while it was being filled (see
// renameWithoutReplacingRaw): the user's, holding its marker and more; or
// one left empty, its marker gone, right before the rename onto it. The
// filling is finished from the folder the record names (the rest of a copy
// made whole before the filling began, or of a folder being moved), reached
// from the record's folder by handle, never through a link nor into another
// file system; where that folder is gone (emptied and removed before the
// kill), only the marker goes. Entries are only moved, never removed: what
// cannot be finished (a name the user took there meanwhile) stays where it
// is, the marker with it.
void finishFilledPlaceholder(FolderLook &look, const PlaceholderText &record, const QByteArray &token, uid_t user)
{
    struct stat st;
    if (record.from.isEmpty()
        || ::fstatat(look.fd(), record.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
        return;
    const int fd = ::openat(look.fd(), record.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    std::vector<QByteArray> names;
    int err = 0;
    const QByteArray markerName = placeholderMarker(token);
    struct stat marker;
    const bool listed = ::fstat(fd, &st) == 0 && st.st_uid == user && listFolderAt(fd, &names, &err);
    const bool marked = listed && names.size() > 1
                        && ::fstatat(fd, markerName.constData(), &marker, AT_SYMLINK_NOFOLLOW) == 0
                        && S_ISREG(marker.st_mode) && marker.st_size == 0;
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
    const int fromFolder = marked || (listed && names.empty())
                               ? int(::syscall(SYS_openat2, look.fd(), folderOf(record.from).constData(), &how, sizeof how))
                               : -1;
    if (fromFolder >= 0) {
        const QByteArray name = record.from.mid(record.from.lastIndexOf('/') + 1);
        const QByteArray from = joinRaw(handlePath(fromFolder), name);
        const QByteArray to = handlePath(fd);
        const QByteArray markerPath = marked ? joinRaw(to, markerName) : QByteArray();
        struct stat source;
        if (::fstatat(fromFolder, name.constData(), &source, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && marked)
                ::unlink(markerPath.constData());
        } else if (S_ISDIR(source.st_mode) && source.st_uid == user && source.st_dev == st.st_dev) {
            (void)fillPlaceholder(from, to, markerPath);
        }
        ::close(fromFolder);
    }
    ::close(fd);
}

// A card's placeholder, made by the process whose record's lock has token:
// at name in the folder look reads stands the user's file holding exactly
// the token, or a folder whose one entry is its marker (placeholderMarker).
// It goes, whatever its inode number (a card's driver makes those up anew at
// each mount, so a card's own empty folder or file may have the one
// recorded); anything else stays.
void removeMarkedPlaceholder(FolderLook &look, const QByteArray &name, const QByteArray &token, uid_t user)
{
    const int folderFd = look.fd();
    struct stat st, again;
    // Only a folder or a plain file is opened (never a device or a pipe).
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
        || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
        return;
    const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::fstat(fd, &st) != 0 || st.st_uid != user) {
        ::close(fd);
        return;
    }
    if (S_ISREG(st.st_mode)) {
        QByteArray held(tokenLength + 1, '\0');
        const bool marked = st.st_nlink == 1 && st.st_size == tokenLength
                            && ::pread(fd, held.data(), size_t(held.size()), 0) == tokenLength
                            && held.left(tokenLength) == token;
        // Still that file under its name.
        if (marked && ::fstatat(folderFd, name.constData(), &again, AT_SYMLINK_NOFOLLOW) == 0
            && again.st_ino == st.st_ino && again.st_dev == st.st_dev && again.st_size == tokenLength)
            ::unlinkat(folderFd, name.constData(), 0);
    } else if (S_ISDIR(st.st_mode)) {
        std::vector<QByteArray> names;
        int err = 0;
        const QByteArray marker = placeholderMarker(token);
        struct stat markerSt;
        if (listFolderAt(fd, &names, &err) && names.size() == 1 && names.front() == marker
            && ::fstatat(fd, marker.constData(), &markerSt, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(markerSt.st_mode)
            && markerSt.st_size == 0 && ::unlinkat(fd, marker.constData(), 0) == 0)
            ::unlinkat(folderFd, name.constData(), AT_REMOVEDIR);   // only while empty
    }
    ::close(fd);
}

} // namespace

namespace temporaries {

QByteArray placeholderMarker(const QByteArray &token) { return ".lgplaceholder-" + token; }

bool looksLikePlaceholder(const QByteArray &path)
{
    struct stat st;
    // Only a folder or a plain file is opened (never a device or a pipe).
    if (::lstat(path.constData(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool looks = false;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        std::vector<QByteArray> names;
        int err = 0;
        const QByteArray prefix = placeholderMarker({});
        looks = listFolderAt(fd, &names, &err)
                && (names.empty() ? (st.st_mode & 07777) == placeholderMode
                                  : names.size() == 1 && names.front().startsWith(prefix)
                                        && isToken(names.front().mid(prefix.size())));
    } else if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        QByteArray held(tokenLength, '\0');
        looks = st.st_size == 0 ? (st.st_mode & 07777) == placeholderMode
                                : st.st_size == tokenLength && ::pread(fd, held.data(), size_t(tokenLength), 0) == tokenLength
                                      && isToken(held);
    }
    ::close(fd);
    return looks;
}

const QByteArray &FolderLook::volume()
{
    if (!m_volume)
        m_volume = volumeOfPath(handlePath(m_fd));
    return *m_volume;
}

std::vector<QByteArray> FolderLook::foldersWithInode(quint64 inode)
{
    if (!m_folders) {
        m_folders.emplace();
        std::vector<QByteArray> names;
        int err = 0;
        if (listFolderAt(m_fd, &names, &err)) {
            for (const QByteArray &name : names) {
                struct stat st;
                if (::fstatat(m_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
                    m_folders->emplace(quint64(st.st_ino), name);
            }
        }
    }
    std::vector<QByteArray> found;
    const auto [first, last] = m_folders->equal_range(inode);
    for (auto it = first; it != last; ++it)
        found.push_back(it->second);
    return found;
}

bool FolderLook::numbersFilesPerMount()
{
    if (!m_numbersFilesPerMount)
        m_numbersFilesPerMount = temporaries::numbersFilesPerMount(m_fd);
    return *m_numbersFilesPerMount;
}

bool FolderLook::isOwnByName(const QByteArray &token)
{
    return m_listed && m_listed->count(token) > 0 && numbersFilesPerMount();
}

bool settleFolderRecord(FolderLook &look, const QByteArray &text, const QByteArray &token, uid_t user)
{
    if (const std::optional<OpenedRecord> opened = parseOpened(text)) {
        setModeBack(look, *opened, user);
        return true;
    }
    if (const std::optional<PlaceholderText> placeholder = parsePlaceholder(text)) {
        if (look.numbersFilesPerMount()) {
            finishFilledPlaceholder(look, *placeholder, token, user);
            removeMarkedPlaceholder(look, placeholder->name, token, user);
        } else {
            removeRecordedPlaceholder(look, *placeholder, user);
        }
        return true;
    }
    return false;
}

bool isFolderRecord(const QByteArray &text) { return parseOpened(text) || parsePlaceholder(text); }

} // namespace temporaries

RecordLock::RecordLock(RecordLock &&other) noexcept { *this = std::move(other); }

RecordLock &RecordLock::operator=(RecordLock &&other) noexcept
{
    if (this != &other) {
        release();
        m_dirFd = std::exchange(other.m_dirFd, -1);
        m_lockFd = std::exchange(other.m_lockFd, -1);
        m_lockName = std::move(other.m_lockName);
        m_folder = std::move(other.m_folder);
        m_listed = std::exchange(other.m_listed, false);
    }
    return *this;
}

QByteArray RecordLock::token() const
{
    return m_lockFd < 0 ? QByteArray() : m_lockName.mid(qsizetype(std::strlen(lockPrefix)));
}

RecordLock RecordLock::make(int dirFd, const QByteArray &folder, const QByteArray &text)
{
    RecordLock lock;
    lock.m_dirFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (lock.m_dirFd < 0)
        return lock;
    lock.m_folder = folder;
    journalAcquire(folder);
    // On a card, what is ours is known by its token, listed in the journal before the lock is made.
    const bool onCard = numbersFilesPerMount(lock.m_dirFd);
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QByteArray token = newToken();
        const QByteArray name = lockPrefix + token;
        lock.m_listed = onCard && journalListToken(folder, token, true);
        const int fd = ::openat(lock.m_dirFd, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const int openErr = errno;
        if (fd < 0 && lock.m_listed)
            journalListToken(folder, token, false);
        lock.m_listed = lock.m_listed && fd >= 0;
        if (fd < 0 && openErr == EEXIST)
            continue;
        if (fd < 0)
            break;
        // Locked before anything is written, as a temporary's lock is.
        // Synced where the disk can sync a file.
        struct stat st;
        if (::flock(fd, LOCK_EX) != 0 || ::write(fd, text.constData(), size_t(text.size())) != text.size()
            || (::fdatasync(fd) != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            || ::fstat(fd, &st) != 0) {
            ::unlinkat(lock.m_dirFd, name.constData(), 0);
            ::close(fd);
            if (std::exchange(lock.m_listed, false))
                journalListToken(folder, token, false);
            break;
        }
        noteOwnLock(quint64(st.st_dev), quint64(st.st_ino), true);
        lock.m_lockFd = fd;
        lock.m_lockName = name;
        return lock;
    }
    lock.release();
    return lock;
}

bool RecordLock::rewrite(const QByteArray &text)
{
    return m_lockFd >= 0 && replaceRecordFile(m_dirFd, m_lockName, newRecordName(m_lockName), &m_lockFd, text);
}

void RecordLock::release()
{
    if (m_lockFd >= 0) {
        struct stat st, named;
        if (::fstat(m_lockFd, &st) == 0) {
            // Only while its name still leads to this very lock.
            if (::fstatat(m_dirFd, m_lockName.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
                && named.st_dev == st.st_dev && named.st_ino == st.st_ino
                && ::unlinkat(m_dirFd, m_lockName.constData(), 0) == 0 && m_listed)
                journalListToken(m_folder, token(), false);
            noteOwnLock(quint64(st.st_dev), quint64(st.st_ino), false);
        }
        ::close(m_lockFd);
        m_lockFd = -1;
        m_listed = false;
    }
    if (m_dirFd >= 0) {
        ::close(m_dirFd);
        m_dirFd = -1;
        journalRelease(m_folder, false);
    }
}

OpenedUpFolder OpenedUpFolder::record(int parentFd, const QByteArray &parentPath, const QByteArray &name,
                                      const struct stat &examined, unsigned given, const QByteArray &movedTo)
{
    OpenedUpFolder opened;
    OpenedRecord record;
    record.name = name;
    record.folder = QByteArray::number(quint64(examined.st_dev)) + ':' + QByteArray::number(quint64(examined.st_ino));
    record.mode = examined.st_mode & 07777;
    record.given = given & 07777;
    if (!isOneName(name) || record.mode == record.given)
        return opened;
    // By its volume too: a card mounted again under another device number is put right all the same.
    if (const QByteArray volume = volumeOfPath(parentPath); isVolumeText(volume))
        record.volume = volume;
    opened.m_lock = RecordLock::make(parentFd, parentPath, openedText(record));
    // Where it goes, a record of its own names it in the folder it goes into.
    QByteArray to = movedTo;
    while (to.size() > 1 && to.endsWith('/'))
        to.chop(1);
    record.name = to.mid(to.lastIndexOf('/') + 1);
    if (opened.m_lock.isValid() && isAbsoluteRawPath(to) && isOneName(record.name)) {
        const QByteArray folder = folderOf(to);
        const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd >= 0) {
            opened.m_movedLock = RecordLock::make(folderFd, folder, openedText(record));
            ::close(folderFd);
        }
    }
    return opened;
}

OpenedUpFolder OpenedUpFolder::record(const QByteArray &path, const struct stat &examined, unsigned given,
                                      const QByteArray &movedTo)
{
    QByteArray trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/'))
        trimmed.chop(1);
    const QByteArray folder = folderOf(trimmed);
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return {};
    OpenedUpFolder opened =
        record(folderFd, folder, trimmed.mid(trimmed.lastIndexOf('/') + 1), examined, given, movedTo);
    ::close(folderFd);
    return opened;
}

namespace {

// from (an absolute path) as reached from folder on their disk, by their real
// folders: "name" beside it, "../Album/name" elsewhere; empty where that
// cannot be told.
QByteArray reachedFrom(const QByteArray &folder, const QByteArray &from)
{
    char *here = ::realpath(folder.constData(), nullptr);
    char *there = ::realpath(folderOf(from).constData(), nullptr);
    QByteArray path;
    if (here && there) {
        const QList<QByteArray> a = QByteArray(here).split('/'), b = QByteArray(there).split('/');
        qsizetype common = 0;
        while (common < a.size() && common < b.size() && a.at(common) == b.at(common))
            ++common;
        for (qsizetype i = common; i < a.size(); ++i)
            path += a.at(i).isEmpty() ? QByteArray() : QByteArray("../");
        for (qsizetype i = common; i < b.size(); ++i)
            path += b.at(i).isEmpty() ? QByteArray() : b.at(i) + '/';
        path += from.mid(from.lastIndexOf('/') + 1);
    }
    std::free(here);
    std::free(there);
    return isReachedPath(path) ? path : QByteArray();
}

// path with a leading "/proc/self/fd/N" (a folder this process holds open)
// spelled as the folder's own path; empty when that cannot be told.
QByteArray withoutHandle(const QByteArray &path)
{
    constexpr char handles[] = "/proc/self/fd/";
    if (!path.startsWith(handles))
        return path;
    const qsizetype slash = path.indexOf('/', qsizetype(sizeof handles) - 1);
    char buffer[4096];
    const ssize_t n = ::readlink(path.left(slash < 0 ? path.size() : slash).constData(), buffer, sizeof buffer);
    if (n <= 0 || n >= ssize_t(sizeof buffer) || buffer[0] != '/')
        return {};
    const QByteArray folder(buffer, qsizetype(n));
    return slash < 0 ? folder : joinRaw(folder, path.mid(slash + 1));
}

} // namespace

PlaceholderRecord PlaceholderRecord::before(const QByteArray &from, const QByteArray &target)
{
    PlaceholderRecord placeholder;
    PlaceholderText record;
    const QByteArray to = withoutHandle(target);
    record.name = to.mid(to.lastIndexOf('/') + 1);
    if (!isAbsoluteRawPath(withoutHandle(from)) || !isAbsoluteRawPath(to) || !isOneName(record.name))
        return placeholder;
    const QByteArray folder = folderOf(to);
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return placeholder;
    record.from = reachedFrom(folder, withoutHandle(from));
    placeholder.m_record = placeholderText(record);
    if (const QByteArray volume = volumeOfPath(folder); isVolumeText(volume))
        placeholder.m_volume = volume;
    placeholder.m_lock = RecordLock::make(folderFd, folder, placeholder.m_record);
    ::close(folderFd);
    return placeholder;
}

void PlaceholderRecord::made(const struct stat &placeholder)
{
    if (!m_lock.isValid())
        return;
    const FileIdentity id = identityOfStat(placeholder);
    m_record += "Made=" + madeText(id.device, id.inode, id.type) + "\nMode="
                + QByteArray::number(unsigned(placeholder.st_mode & 07777)) + "\n";
    if (!m_volume.isEmpty())
        m_record += "Volume=" + m_volume.toPercentEncoding(":") + "\n";
    m_lock.rewrite(m_record);
}

} // namespace lg
