// The journal of folders holding temporaries, and the start-up cleanup of the folders that killed runs' entries name.
#include "platform/files/recovery/Journal.h"
#include "platform/files/recovery/JournalShared.h"
#include "platform/files/recovery/TemporariesShared.h"
#include "platform/files/recovery/Temporaries.h"

#include "platform/base/XdgDirectories.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/names/RawPaths.h"
#include "platform/files/recovery/FileFaults.h"
#include "platform/files/recovery/Removal.h"
#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <blkid.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <thread>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace lg {

using namespace temporaries;

namespace {


constexpr char journalHeader[] = "[Lumen Gallery folder]";
constexpr qint64 missingFolderDays = 30;   // a folder missing this long is forgotten

} // namespace

// The journal's folder, made (0700) where missing; -1 when it cannot be.
namespace temporaries {

QByteArray journalFolder()
{
    return FileNames::toNative(xdgBaseDirectory(XdgKind::State) + QStringLiteral("/lumengallery/temporaries"));
}

int openDeadEntry(int dirFd, const QByteArray &name, int access, uid_t user, QByteArray *text)
{
    struct stat named, opened;
    if (::fstatat(dirFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)
        || named.st_uid != user || named.st_nlink != 1 || named.st_size > maxJournalBytes)
        return -1;
    const int fd = ::openat(dirFd, name.constData(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    text->resize(qsizetype(named.st_size));
    if (::fstat(fd, &opened) != 0 || opened.st_ino != named.st_ino || opened.st_dev != named.st_dev
        || opened.st_nlink != 1 || ::flock(fd, LOCK_EX | LOCK_NB) != 0   // its process lives
        || ::pread(fd, text->data(), size_t(text->size()), 0) != text->size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int openJournalFolder(bool make)
{
    const QByteArray path = journalFolder();
    if (make) {
        for (qsizetype slash = path.indexOf('/', 1); slash >= 0; slash = path.indexOf('/', slash + 1))
            ::mkdir(path.left(slash).constData(), 0700);
        ::mkdir(path.constData(), 0700);
    }
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace temporaries

namespace {

// The disk a folder lies on, as the mount table names it: where it is
// mounted, its device ("<major>:<minor>") and the part of that file system
// mounted there; and the file system's own identity (volume), by which it is
// found wherever it is mounted later: "uuid:<UUID>" as /dev/disk/by-uuid names
// its device, else "fsid:<type>:<hex>" (statfs's f_fsid, which most disk file
// systems derive from their UUID), else empty. An unplugged card, a disk
// mounted elsewhere and a share not mounted yet are not there.
struct Disk
{
    QByteArray mountPoint, device, root, volume;
    bool isEmpty() const { return mountPoint.isEmpty(); }
    // Mounted as recorded: the same place, device and part.
    bool sameMount(const Disk &other) const
    {
        return mountPoint == other.mountPoint && device == other.device && root == other.root;
    }
};

// One line of the mount table: the disk (without its volume) and its file system's type.
struct Mount
{
    Disk disk;
    QByteArray type;
    QByteArray source;   // what was mounted ("/dev/sdb1" for a card, also through FUSE)
};

// A field of /proc/self/mountinfo with its octal escapes undone.
QByteArray unescapedField(const QByteArray &escaped)
{
    QByteArray field;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped.at(i) == '\\' && i + 3 < escaped.size()) {
            field.append(char(escaped.mid(i + 1, 3).toInt(nullptr, 8)));
            i += 3;
        } else {
            field.append(escaped.at(i));
        }
    }
    return field;
}

// Every mount now, in the table's order (later mounts over earlier ones);
// empty when the table cannot be read. Reads only the table: no mounted
// file system is touched (a share whose server is away blocks whoever does).
std::vector<Mount> mountedDisks()
{
    std::vector<Mount> mounts;
    if (injectedFileFault(FileStep::MountTable, QStringLiteral("/proc/self/mountinfo")) != 0)
        return mounts;
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return mounts;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const qsizetype dash = fields.indexOf("-");
        mounts.push_back({{unescapedField(fields.at(4)), fields.at(2), unescapedField(fields.at(3)), {}},
                          dash > 0 && dash + 1 < fields.size() ? fields.at(dash + 1) : QByteArray(),
                          dash > 0 && dash + 2 < fields.size() ? unescapedField(fields.at(dash + 2)) : QByteArray()});
    }
    return mounts;
}

// What path (at or under top) adds to top: empty, or "/" and the rest.
QByteArray below(const QByteArray &path, const QByteArray &top)
{
    return top == "/" ? (path == "/" ? QByteArray() : path) : path.mid(top.size());
}

// top with rest (empty, or "/" and more) added.
QByteArray joined(const QByteArray &top, const QByteArray &rest)
{
    return rest.isEmpty() ? top : top == "/" ? rest : top + rest;
}

// The UUIDs that /dev/disk/by-uuid gives the devices, by "<major>:<minor>";
// empty where there is no such folder (no udev).
std::map<QByteArray, QByteArray> uuidsByDevice()
{
    std::map<QByteArray, QByteArray> uuids;
    const int dirFd = ::open("/dev/disk/by-uuid", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return uuids;
    std::vector<QByteArray> names;
    int err = 0;
    if (listFolderAt(dirFd, &names, &err)) {
        for (const QByteArray &name : names) {
            struct stat st;
            if (!name.startsWith('.') && ::fstatat(dirFd, name.constData(), &st, 0) == 0 && S_ISBLK(st.st_mode))
                uuids[QByteArray::number(major(st.st_rdev)) + ':' + QByteArray::number(minor(st.st_rdev))] = name;
        }
    }
    ::close(dirFd);
    return uuids;
}

// "fsid:<type>:<hex>" of the file system path is on; empty when it has none.
// May block on a share whose server is away: only for a folder of its own.
QByteArray fsidVolume(const QByteArray &path, const QByteArray &type)
{
    struct statfs fs;
    if (type.isEmpty() || ::statfs(path.constData(), &fs) != 0)
        return {};
    quint64 id = 0;
    static_assert(sizeof(fs.f_fsid) == sizeof(id));
    std::memcpy(&id, &fs.f_fsid, sizeof(id));
    return id == 0 ? QByteArray() : "fsid:" + type + ':' + QByteArray::number(id, 16);
}

// The volume of a mounted disk: the UUID of its device, or of the block
// device it was mounted from (a card through FUSE has a device number of its
// own), else its file system's id. Touches the mounted file system only for
// the id (statfs), never for a UUID.
// The UUID (or serial number) in the superblock of the file system on the
// block device source, read with libblkid where the process may read the
// device (a system without udev's /dev/disk/by-uuid); empty otherwise.
QByteArray probedUuid(const QByteArray &source)
{
    blkid_probe probe = blkid_new_probe_from_filename(source.constData());
    if (!probe)
        return {};
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_UUID);
    const char *value = nullptr;
    size_t length = 0;
    QByteArray uuid;
    if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "UUID", &value, &length) == 0 && value)
        uuid = QByteArray(value);
    blkid_free_probe(probe);
    return uuid;
}

// "uuid:<UUID>" of a mounted disk: the UUID that /dev/disk/by-uuid gives its
// device, or the block device it was mounted from (a card through FUSE has a
// device number of its own), else the one that device's superblock holds.
// Touches no mounted file system.
QByteArray uuidVolumeOf(const Mount &mount, const std::map<QByteArray, QByteArray> &uuids)
{
    if (const auto it = uuids.find(mount.disk.device); it != uuids.end())
        return "uuid:" + it->second;
    struct stat source;
    if (!mount.source.startsWith("/dev/") || ::stat(mount.source.constData(), &source) != 0 || !S_ISBLK(source.st_mode))
        return {};
    const QByteArray device = QByteArray::number(major(source.st_rdev)) + ':' + QByteArray::number(minor(source.st_rdev));
    if (const auto it = uuids.find(device); it != uuids.end())
        return "uuid:" + it->second;
    const QByteArray probed = probedUuid(mount.source);
    return probed.isEmpty() ? QByteArray() : "uuid:" + probed;
}

// The volume of a mounted disk, by its UUID, else its file system's id.
QByteArray volumeOf(const Mount &mount, const QByteArray &pathOnIt, const std::map<QByteArray, QByteArray> &uuids)
{
    const QByteArray uuid = uuidVolumeOf(mount, uuids);
    return uuid.isEmpty() ? fsidVolume(pathOnIt, mount.type) : uuid;
}

// The mounted disk is the volume recorded, told the way it was recorded.
bool isVolume(const Mount &mount, const QByteArray &volume, const std::map<QByteArray, QByteArray> &uuids)
{
    if (volume.startsWith("uuid:"))
        return uuidVolumeOf(mount, uuids) == volume;
    return volume.startsWith("fsid:" + mount.type + ':') && fsidVolume(mount.disk.mountPoint, mount.type) == volume;
}

// The disk of folder: the last mount over it whose device is the folder's.
Disk diskOf(const QByteArray &folder)
{
    char resolved[PATH_MAX];
    struct stat st;
    if (!::realpath(folder.constData(), resolved) || ::stat(resolved, &st) != 0)
        return {};
    const QByteArray path(resolved);
    const QByteArray device = QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev));
    const Mount *found = nullptr;
    const std::vector<Mount> table = mountedDisks();
    for (const Mount &mount : table)
        if (mount.disk.device == device && isAtOrUnder(path, mount.disk.mountPoint)
            && (!found || mount.disk.mountPoint.size() >= found->disk.mountPoint.size()))
            found = &mount;
    if (!found)
        return {};
    Disk disk = found->disk;
    disk.volume = volumeOf(*found, path, uuidsByDevice());
    return disk;
}

// The volume disk names is mounted as recorded: the same place, device and
// part, and (where the record names it) the same volume, so that another card
// of the same make mounted at the same place is not taken for it.
bool isMounted(const Disk &disk, const std::vector<Mount> &table, const std::map<QByteArray, QByteArray> &uuids)
{
    return std::any_of(table.cbegin(), table.cend(), [&](const Mount &mount) {
        return mount.disk.sameMount(disk) && (disk.volume.isEmpty() || isVolume(mount, disk.volume, uuids));
    });
}

// One entry of the journal: the folder, its disk when it was written (older
// entries lack it), since when (seconds since the epoch) the folder has been
// found missing, or 0, and the tokens of what the process may have left there
// on a disk whose driver numbers its files afresh (what is ours there is
// known by these names alone).
struct JournalText
{
    QByteArray folder;
    Disk disk;
    qint64 missingSince = 0;
    QList<QByteArray> tokens;
};

QByteArray journalText(const JournalText &entry)
{
    QByteArray text = QByteArray(journalHeader) + "\nFolder=" + entry.folder.toPercentEncoding("/") + "\n";
    if (!entry.disk.isEmpty())
        text += "Disk=" + entry.disk.mountPoint.toPercentEncoding("/") + "\nDevice=" + entry.disk.device
                + "\nRoot=" + entry.disk.root.toPercentEncoding("/") + "\n";
    if (!entry.disk.isEmpty() && !entry.disk.volume.isEmpty())
        text += "Volume=" + entry.disk.volume.toPercentEncoding(":") + "\n";
    if (!entry.tokens.isEmpty())
        text += "Tokens=" + entry.tokens.join(' ') + "\n";
    if (entry.missingSince > 0)
        text += "Missing=" + QByteArray::number(entry.missingSince) + "\n";
    return text;
}

// What an entry says, when text is exactly what this program writes: one
// absolute folder, and optionally its disk and since when it is missing.
std::optional<JournalText> parseJournal(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 3 || lines.size() > 9 || lines.at(0) != journalHeader || !lines.at(1).startsWith("Folder="))
        return std::nullopt;
    JournalText entry;
    entry.folder = QByteArray::fromPercentEncoding(lines.at(1).mid(7));
    qsizetype next = 2;
    if (lines.size() >= 6 && lines.at(2).startsWith("Disk=") && lines.at(3).startsWith("Device=")
        && lines.at(4).startsWith("Root=")) {
        entry.disk = {QByteArray::fromPercentEncoding(lines.at(2).mid(5)), lines.at(3).mid(7),
                      QByteArray::fromPercentEncoding(lines.at(4).mid(5)), {}};
        if (!entry.disk.mountPoint.startsWith('/') || !entry.disk.root.startsWith('/')
            || !isNumberList(entry.disk.device, 2))
            return std::nullopt;
        next = 5;
        if (lines.size() >= 7 && lines.at(5).startsWith("Volume=")) {
            entry.disk.volume = QByteArray::fromPercentEncoding(lines.at(5).mid(7));
            if (!entry.disk.volume.startsWith("uuid:") && !entry.disk.volume.startsWith("fsid:"))
                return std::nullopt;
            next = 6;
        }
    }
    if (next + 1 < lines.size() && lines.at(next).startsWith("Tokens=")) {
        entry.tokens = lines.at(next).mid(7).split(' ');
        if (!std::all_of(entry.tokens.cbegin(), entry.tokens.cend(), isToken))
            return std::nullopt;
        ++next;
    }
    if (next + 2 == lines.size() && lines.at(next).startsWith("Missing=")) {
        bool ok = false;
        entry.missingSince = lines.at(next).mid(8).toLongLong(&ok);
        if (!ok || entry.missingSince <= 0)
            return std::nullopt;
    }
    if (!entry.folder.startsWith('/') || entry.folder.contains('\0') || entry.folder.size() > 4095
        || text != journalText(entry))
        return std::nullopt;
    return entry;
}

// This process's entries, by folder: held open and locked while it has
// temporaries there, and for a while after (the last few folders written, so
// that a batch into one folder syncs one entry, not one per item); the folder
// of an idle entry holds nothing of ours unless left says so. An idle entry
// goes when it is the oldest of too many, and at the end of the process; a
// killed process's idle entries cost the next start one reading of their
// folders. An entry whose folder still holds something of ours (an owner
// still alive, or something left) never goes, whatever way the process ends.
struct JournalEntry
{
    int fd = -1;
    QByteArray name;
    int owners = 0;
    bool left = false;   // something of ours stays there: the entry stays too
    quint64 lastUse = 0;
    Disk disk;                  // as the entry names it
    QList<QByteArray> tokens;   // as the entry lists them
};

// Closes an entry no temporary uses any more; it goes unless something of
// ours was left in its folder.
void closeEntry(const JournalEntry &entry)
{
    if (entry.fd < 0)
        return;
    if (!entry.left && entry.owners == 0) {
        const int dirFd = openJournalFolder(false);
        if (dirFd >= 0) {
            ::unlinkat(dirFd, entry.name.constData(), 0);
            ::close(dirFd);
        }
    }
    ::close(entry.fd);   // a kept entry is a dead process's from now on
}

struct Journal
{
    std::map<QByteArray, JournalEntry> entries;
    quint64 uses = 0;
};
constexpr int maxIdleEntries = 8;
// Never destroyed: a worker may still release a temporary while exit() runs
// the static destructors (a lost display ends the program so, from any frame).
std::timed_mutex &g_journalMutex = *new std::timed_mutex;
Journal &g_journal = *new Journal;

// At the end of the process, however it comes (a return from main(), exit()
// anywhere, a lost display): the idle entries whose folders hold nothing of
// ours go; the others stay for the next start.
struct JournalAtExit
{
    ~JournalAtExit()
    {
        // A thread that holds the journal for good (stuck in the kernel)
        // leaves the idle entries to the next start.
        std::unique_lock<std::timed_mutex> lock(g_journalMutex, std::chrono::milliseconds(200));
        if (!lock.owns_lock())
            return;
        for (auto it = g_journal.entries.begin(); it != g_journal.entries.end();) {
            if (it->second.owners > 0) {
                ++it;   // a temporary is in use: its folder holds something of ours
                continue;
            }
            closeEntry(it->second);
            it = g_journal.entries.erase(it);
        }
    }
} g_journalAtExit;

} // namespace

namespace {

// Writes text, synced, as a new entry of the journal open as dirFd; its name,
// or empty on failure. With fd, the entry stays open and locked there (its
// process lives); without, it is closed and counts as a dead process's.
QByteArray writeJournalEntry(int dirFd, const QByteArray &text, int *fd)
{
    const QByteArray name = newToken();
    const QByteArray making = '.' + name + ".new";
    const int made = ::openat(dirFd, making.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    // Locked before it gets its name: an entry under its name is never taken
    // for a dead process's while its maker lives.
    if (made >= 0 && ::flock(made, LOCK_EX) == 0
        && ::write(made, text.constData(), size_t(text.size())) == text.size() && ::fsync(made) == 0
        && ::renameat(dirFd, making.constData(), dirFd, name.constData()) == 0) {
        if (fd)
            *fd = made;
        else
            ::close(made);
        return name;
    }
    if (made >= 0) {
        ::unlinkat(dirFd, making.constData(), 0);
        ::close(made);
    }
    return {};
}

} // namespace

// Notes, synced, that this process is about to hold temporaries in folder.
// Best effort: a journal that cannot be written does not stop the write.
namespace temporaries {

void journalAcquire(const QByteArray &folder)
{
    if (!folder.startsWith('/'))
        return;
    std::optional<Disk> disk;
    for (;;) {
        std::unique_lock<std::timed_mutex> lock(g_journalMutex);
        JournalEntry &entry = g_journal.entries[folder];
        if (entry.owners > 0 || entry.fd >= 0 || disk) {
            entry.lastUse = ++g_journal.uses;
            if (entry.owners++ > 0 || entry.fd >= 0)
                return;
            const int dirFd = openJournalFolder(true);
            if (dirFd < 0)
                return;
            entry.disk = *disk;
            entry.name = writeJournalEntry(dirFd, journalText({folder, *disk, 0, {}}), &entry.fd);
            ::close(dirFd);
            return;
        }
        if (entry.owners == 0 && entry.fd < 0)
            g_journal.entries.erase(folder);
        lock.unlock();
        // Read without the lock: the folder's disk may be a share whose
        // server is away, which blocks only the caller that writes there.
        disk = diskOf(folder);
    }
}

} // namespace temporaries

namespace temporaries {

bool journalListToken(const QByteArray &folder, const QByteArray &token, bool listed)
{
    std::lock_guard<std::timed_mutex> lock(g_journalMutex);
    const auto it = g_journal.entries.find(folder);
    if (it == g_journal.entries.end() || it->second.fd < 0)
        return false;
    JournalEntry &entry = it->second;
    QList<QByteArray> tokens = entry.tokens;
    if (listed)
        tokens.append(token);
    else if (!tokens.removeOne(token))
        return true;
    const QByteArray text = journalText({folder, entry.disk, 0, tokens});
    const int dirFd = text.size() <= maxJournalBytes ? openJournalFolder(false) : -1;
    if (dirFd < 0)
        return false;
    // A new entry renamed over the old one: a kill meanwhile leaves one of them whole.
    const bool written = replaceRecordFile(dirFd, entry.name, '.' + newToken() + ".new", &entry.fd, text);
    ::close(dirFd);
    if (written)
        entry.tokens = tokens;
    return written;
}

} // namespace temporaries

// One temporary in folder is done with; left says that something of it stays.
namespace temporaries {

void journalRelease(const QByteArray &folder, bool left)
{
    if (!folder.startsWith('/'))
        return;
    std::lock_guard<std::timed_mutex> lock(g_journalMutex);
    auto &entries = g_journal.entries;
    const auto it = entries.find(folder);
    if (it == entries.end())
        return;
    it->second.left = it->second.left || left;
    if (--it->second.owners > 0)
        return;
    if (it->second.fd < 0) {
        entries.erase(it);
        return;
    }
    for (;;) {
        auto oldest = entries.end();
        int idle = 0;
        for (auto e = entries.begin(); e != entries.end(); ++e) {
            if (e->second.owners > 0)
                continue;
            ++idle;
            if (oldest == entries.end() || e->second.lastUse < oldest->second.lastUse)
                oldest = e;
        }
        if (idle <= maxIdleEntries)
            break;
        closeEntry(oldest->second);
        entries.erase(oldest);
    }
}

} // namespace temporaries

namespace {

// One entry of a dead process, opened and locked by the run that read it.
struct DeadEntry
{
    int fd;
    QByteArray name;
    JournalText text;
};

// Where the folder of entry is now when its disk is not mounted as recorded:
// on a mount of the same file system (by its volume) whose mounted part holds
// the folder's place in that file system. Empty when none (or the entry does
// not record its volume). Touches only the mounts of the same type.
QByteArray foundElsewhere(const JournalText &entry, const std::vector<Mount> &table,
                          const std::map<QByteArray, QByteArray> &uuids)
{
    const Disk &was = entry.disk;
    if (was.volume.isEmpty() || !isAtOrUnder(entry.folder, was.mountPoint))
        return {};
    const QByteArray place = joined(was.root, below(entry.folder, was.mountPoint));
    for (auto it = table.crbegin(); it != table.crend(); ++it) {
        const Mount &mount = *it;
        if (!isAtOrUnder(place, mount.disk.root) || mount.disk.sameMount(was) || !isVolume(mount, was.volume, uuids))
            continue;
        return joined(mount.disk.mountPoint, below(place, mount.disk.root));
    }
    return {};
}

} // namespace

namespace temporaries {

QByteArray diskFieldOf(const QByteArray &path)
{
    const Disk disk = diskOf(path);
    if (disk.isEmpty())
        return {};
    return disk.mountPoint.toPercentEncoding() + ':' + disk.device.toPercentEncoding() + ':'
           + disk.root.toPercentEncoding() + ':' + disk.volume.toPercentEncoding();
}

QByteArray volumeOfPath(const QByteArray &path) { return diskOf(path).volume; }

bool isDiskField(const QByteArray &field)
{
    const QList<QByteArray> parts = field.split(':');
    if (parts.size() != 4)
        return false;
    const QByteArray mountPoint = QByteArray::fromPercentEncoding(parts.at(0));
    const QByteArray root = QByteArray::fromPercentEncoding(parts.at(2));
    const QByteArray volume = QByteArray::fromPercentEncoding(parts.at(3));
    const QByteArray device = QByteArray::fromPercentEncoding(parts.at(1));
    return mountPoint.startsWith('/') && root.startsWith('/') && isNumberList(device, 2)
           && (volume.isEmpty() || volume.startsWith("uuid:") || volume.startsWith("fsid:"))
           && field == mountPoint.toPercentEncoding() + ':' + device.toPercentEncoding() + ':'
                            + root.toPercentEncoding() + ':' + volume.toPercentEncoding();
}

std::optional<QByteArray> whereOnDiskNow(const QByteArray &path, const QByteArray &field)
{
    if (!isDiskField(field))
        return path;
    const QList<QByteArray> parts = field.split(':');
    JournalText entry;
    entry.folder = path;
    entry.disk = {QByteArray::fromPercentEncoding(parts.at(0)), QByteArray::fromPercentEncoding(parts.at(1)),
                  QByteArray::fromPercentEncoding(parts.at(2)), QByteArray::fromPercentEncoding(parts.at(3))};
    const std::vector<Mount> table = mountedDisks();
    const std::map<QByteArray, QByteArray> uuids = uuidsByDevice();
    if (isMounted(entry.disk, table, uuids))
        return path;
    if (const QByteArray found = foundElsewhere(entry, table, uuids); !found.isEmpty())
        return found;
    return std::nullopt;
}

} // namespace temporaries

namespace {

// Settles the entries that name folder, in this thread, and closes them: the
// folder is cleaned where it is now, and the entries go once it holds nothing
// of ours on its own disk, or is gone while that disk is there, or has been
// missing too long; an unplugged card or a share not mounted keeps them for a
// later look. A disk mounted at another place is found there by its volume.
void settleFolder(int dirFd, const QByteArray &folder, std::vector<DeadEntry> &entries)
{
    std::optional<std::vector<Mount>> table;   // read once, when needed
    const auto mounts = [&table]() -> const std::vector<Mount> & {
        if (!table)
            table = mountedDisks();
        return *table;
    };
    std::optional<std::map<QByteArray, QByteArray>> uuidTable;
    const auto uuids = [&uuidTable]() -> const std::map<QByteArray, QByteArray> & {
        if (!uuidTable)
            uuidTable = uuidsByDevice();
        return *uuidTable;
    };
    const auto mounted = [&](const Disk &disk) { return !disk.isEmpty() && isMounted(disk, mounts(), uuids()); };
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    bool drop = false, missing = false;
    if (!isShuttingDown()) {
        // The folder where its disk is now: where it was, unless its disk is
        // not mounted there but found at another place.
        QByteArray where = folder;
        bool elsewhere = false;
        bool away = !entries.empty();   // every entry names a disk that is not there
        for (const DeadEntry &entry : entries) {
            if (entry.text.disk.isEmpty() || mounted(entry.text.disk)) {
                away = false;
                continue;
            }
            if (entry.text.disk.volume.isEmpty())
                continue;
            if (const QByteArray found = foundElsewhere(entry.text, mounts(), uuids()); !found.isEmpty()) {
                where = found;
                elsewhere = true;
                break;
            }
        }
        // On a card, what is ours is known by the tokens the entries list.
        std::set<QByteArray> listed;
        for (const DeadEntry &entry : entries)
            listed.insert(entry.text.tokens.cbegin(), entry.text.tokens.cend());
        Scan scan;
        int openErr = 0;
        if (away && !elsewhere) {
            // Its disk is not there (another card may stand at its place):
            // nothing is touched, and the entries wait for it.
            missing = true;
        } else if (cleanLeftovers(where, true, &scan, &openErr, &listed)) {
            const bool clean = scan.complete && !scan.leftOurs && scan.held.empty();
            if (!elsewhere)
                for (const DeadEntry &entry : entries)
                    missing = missing || (!entry.text.disk.isEmpty() && !mounted(entry.text.disk));
            // A card that cannot be told from another by its volume (a copy
            // of it has the same, or none) is the one only where its own
            // records are found: without them the entries wait for it.
            missing = missing || (!listed.empty() && !scan.ownFound);
            drop = clean && !missing;
        } else if (openErr == ENOENT || openErr == ENOTDIR) {
            // Gone while its disk is there; on a card, only once the card is
            // known as the one (never where a look-alike lacks the folder).
            missing = !elsewhere || !listed.empty();
            drop = listed.empty()
                   && (elsewhere || std::all_of(entries.cbegin(), entries.cend(), [&mounted](const DeadEntry &entry) {
                           return mounted(entry.text.disk);
                       }));
        }
    }
    for (DeadEntry &entry : entries) {
        const bool tooLong = missing && entry.text.missingSince > 0
                             && now - entry.text.missingSince > missingFolderDays * 24 * 3600;
        if (drop || tooLong) {
            ::unlinkat(dirFd, entry.name.constData(), 0);
        } else if (missing && entry.text.missingSince == 0) {
            // Noted as missing from now on: a new entry renamed over the old
            // one, so a kill meanwhile leaves the old text or the new one.
            entry.text.missingSince = now;
            replaceRecordFile(dirFd, entry.name, '.' + newToken() + ".new", &entry.fd, journalText(entry.text));
        } else if (!missing && entry.text.missingSince > 0 && !isShuttingDown()) {
            // Found again: a new entry, then the old one goes.
            entry.text.missingSince = 0;
            if (!writeJournalEntry(dirFd, journalText(entry.text), nullptr).isEmpty())
                ::unlinkat(dirFd, entry.name.constData(), 0);
        }
        ::close(entry.fd);
    }
}

// The dead processes' entries of the journal open as dirFd, by folder, each
// opened and locked (an entry whose folder is being settled now is locked by
// that and left out). A damaged entry, or one half written, goes.
std::map<QByteArray, std::vector<DeadEntry>> deadEntries(int dirFd)
{
    std::map<QByteArray, std::vector<DeadEntry>> byFolder;
    std::vector<QByteArray> names;
    int err = 0;
    const uid_t user = fileSystemUser();
    if (!listFolderAt(dirFd, &names, &err))
        return byFolder;
    for (const QByteArray &name : names) {
        const bool making = name.startsWith('.') && name.endsWith(".new") && isToken(name.mid(1, name.size() - 5));
        if (!making && !isToken(name))
            continue;
        // One still being made is locked only after it exists: a newer one
        // may be a live writer's, between its open and its lock.
        struct stat made;
        if (making && (::fstatat(dirFd, name.constData(), &made, AT_SYMLINK_NOFOLLOW) != 0
                       || !isOlderThanThisProcess(made.st_mtim)))
            continue;
        QByteArray text;
        const int fd = openDeadEntry(dirFd, name, O_RDWR, user, &text);   // not while its folder is being settled
        if (fd < 0)
            continue;
        const std::optional<JournalText> entry = parseJournal(text);
        if (!entry) {   // half written by a killed process, or damaged: it names nothing
            ::unlinkat(dirFd, name.constData(), 0);
            ::close(fd);
            continue;
        }
        byFolder[entry->folder].push_back({fd, name, *entry});
    }
    return byFolder;
}

// The threads that settle one folder each, at most maxFolderThreads at once
// that have not yet been going for stalledFolderMs: a folder whose open() or
// stat() blocks in the kernel (a share whose server is away) holds up only its
// own thread, and once it has not answered for that long it no longer counts
// against the limit, so no number of hung folders holds the others. A thread
// blocked for good on a dead file system stays blocked: the threads are
// detached for that reason (nothing, the quit included, waits for them).
struct FolderThreads
{
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;                   // every folder thread still going
    std::map<quint64, qint64> counted;   // those that count against the limit, by number: since when (ms)
    quint64 next = 0;
    std::function<qint64()> clock;     // tests' clock (ms); empty: the steady clock
};
constexpr int maxFolderThreads = 16;
constexpr qint64 stalledFolderMs = 5000;
FolderThreads &g_folderThreads = *new FolderThreads;   // never destroyed: threads may outlive main()

// Now, by the clock the stall is measured by (ms). Under the mutex.
qint64 folderClockNow()
{
    if (g_folderThreads.clock)
        return g_folderThreads.clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The threads that count against the limit now, once those that have not
// answered for stalledFolderMs are left out. Under the mutex.
int countedFolderThreads()
{
    const qint64 now = folderClockNow();
    std::erase_if(g_folderThreads.counted,
                  [now](const auto &thread) { return now - thread.second >= stalledFolderMs; });
    return int(g_folderThreads.counted.size());
}

// Reads the journal and settles each folder on a thread of its own. With
// wait, returns once all the threads it started have ended.
void cleanRun(bool wait)
{
    const int dirFd = openJournalFolder(false);
    if (dirFd < 0)
        return;
    std::map<QByteArray, std::vector<DeadEntry>> byFolder = deadEntries(dirFd);
    ::close(dirFd);
    auto started = std::make_shared<int>(0);   // this run's threads still going, under the mutex
    for (auto &[folder, entries] : byFolder) {
        quint64 number = 0;
        {
            // Looks at the shutdown and at stalled folders now and then:
            // nothing waits for this thread, but it stops taking folders once
            // the quit has begun.
            std::unique_lock<std::mutex> lock(g_folderThreads.mutex);
            while (countedFolderThreads() >= maxFolderThreads && !isShuttingDown())
                g_folderThreads.ended.wait_for(lock, std::chrono::milliseconds(100));
            if (isShuttingDown()) {
                for (const DeadEntry &entry : entries)
                    ::close(entry.fd);
                continue;
            }
            ++g_folderThreads.running;
            number = ++g_folderThreads.next;
            g_folderThreads.counted[number] = folderClockNow();
            ++*started;
        }
        // Detached, never on a pool: a folder on a dead file system may block
        // it for good, and a pool is drained at quit.
        std::thread([folder = folder, entries = std::move(entries), started, number]() mutable {
            if (const int ownDirFd = openJournalFolder(false); ownDirFd >= 0) {
                settleFolder(ownDirFd, folder, entries);
                ::close(ownDirFd);
            } else {
                for (const DeadEntry &entry : entries)
                    ::close(entry.fd);
            }
            {
                std::lock_guard<std::mutex> lock(g_folderThreads.mutex);
                --g_folderThreads.running;
                g_folderThreads.counted.erase(number);
                --*started;
            }
            g_folderThreads.ended.notify_all();
        }).detach();
    }
    if (wait) {
        std::unique_lock<std::mutex> lock(g_folderThreads.mutex);
        g_folderThreads.ended.wait(lock, [&started] { return *started == 0; });
    }
}

} // namespace

void cleanFoldersLeftByKilledRuns()
{
    cleanRun(true);
}

namespace {

// The one run of the start-up cleanup at a time, on a thread of its own that
// nobody waits for; it hands each folder to a thread of its own and ends. A
// run asked for meanwhile follows the current one.
struct CleanupRuns
{
    std::mutex mutex;
    bool running = false;
    bool again = false;
};
CleanupRuns &g_runs = *new CleanupRuns;   // never destroyed: the thread may outlive main()

void runCleanupThread()
{
    {
        std::lock_guard<std::mutex> lock(g_runs.mutex);
        if (g_runs.running) {
            g_runs.again = true;
            return;
        }
        g_runs.running = true;
    }
    // Detached, never on a pool: the run reads folders on file systems that
    // may never answer (a hung network share), and a pool is drained at quit.
    std::thread([] {
        for (;;) {
            if (!isShuttingDown())
                cleanRun(false);
            std::lock_guard<std::mutex> lock(g_runs.mutex);
            if (!g_runs.again || isShuttingDown()) {
                g_runs.running = false;
                return;
            }
            g_runs.again = false;
        }
    }).detach();
}

} // namespace

namespace {

// The watch of the mount table, once the cleanup has begun to watch it.
QPointer<QSocketNotifier> &mountWatch()
{
    static QPointer<QSocketNotifier> watch;
    return watch;
}

} // namespace

void startCleaningFoldersLeftByKilledRuns()
{
    if (isShuttingDown())
        return;
    runCleanupThread();
    // A disk mounted later (a card put back, a share come up) gets a look
    // then: the mount table's file reports each change as an exception.
    if (QCoreApplication::instance() && isMainThread()) {
        QPointer<QSocketNotifier> &watch = mountWatch();
        if (watch)
            return;
        const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        watch = new QSocketNotifier(fd, QSocketNotifier::Exception, QCoreApplication::instance());
        QObject::connect(watch, &QSocketNotifier::activated, watch, [] {
            if (!isShuttingDown())
                runCleanupThread();
        });
        QObject::connect(watch, &QObject::destroyed, [fd] { ::close(fd); });
    }
}

void onMountTableChange(const QObject *context, std::function<void()> fn)
{
    if (QSocketNotifier *watch = mountWatch(); watch && context && isMainThread())
        QObject::connect(watch, &QSocketNotifier::activated, context, [fn = std::move(fn)] {
            if (!isShuttingDown())
                fn();
        });
}

void setFolderCleanupClockForTesting(std::function<qint64()> nowMs)
{
    std::lock_guard<std::mutex> lock(g_folderThreads.mutex);
    g_folderThreads.clock = std::move(nowMs);
}

bool isCleaningFoldersLeftByKilledRunsForTesting()
{
    {
        std::lock_guard<std::mutex> lock(g_runs.mutex);
        if (g_runs.running)
            return true;
    }
    std::lock_guard<std::mutex> lock(g_folderThreads.mutex);
    return g_folderThreads.running > 0;
}


} // namespace lg
