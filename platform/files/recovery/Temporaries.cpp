// Hidden temporaries beside a target, their lock records, and the cleanup of one folder's leftovers.
#include "platform/files/recovery/Temporaries.h"
#include "platform/files/recovery/TemporariesShared.h"
#include "platform/files/recovery/JournalShared.h"
#include "platform/files/recovery/TrashLeftovers.h"
#include "platform/base/HandlePath.h"
#include "platform/base/XdgDirectories.h"
#include "platform/files/names/FileNames.h"

#include "platform/runtime/Dispatch.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/files/recovery/FileFaults.h"
#include "platform/files/recovery/NoReplaceRename.h"
#include "platform/files/recovery/FolderRecords.h"
#include "platform/files/names/NumberedNames.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/StoppedMoves.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <set>
#include <thread>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>
#include <vector>


namespace lg {

using namespace temporaries;

namespace temporaries {

bool isToken(const QByteArray &token)
{
    return token.size() == tokenLength
           && std::all_of(token.cbegin(), token.cend(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

QByteArray newToken()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(tokenLength, '0');
}

bool isNumberList(const QByteArray &text, int count)
{
    const QList<QByteArray> parts = text.split(':');
    if (parts.size() != count)
        return false;
    for (const QByteArray &part : parts) {
        // Unsigned (inodes reach 2^64 on some file systems) or signed (times).
        bool ok = false;
        const qulonglong u = part.toULongLong(&ok);
        if (ok && QByteArray::number(u) == part)
            continue;
        const qlonglong n = part.toLongLong(&ok);
        if (!ok || QByteArray::number(n) != part)
            return false;
    }
    return true;
}

} // namespace temporaries

namespace {

constexpr char recordHeader[] = "[Lumen Gallery temporary]";
constexpr int maxRecordBytes = 4096;

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

} // namespace

namespace temporaries {

// One name a folder can hold on Linux: not empty, ".", "..", nor longer than
// a name may be; no '/' or NUL. Control bytes are names like any other.
bool isOneName(const QByteArray &name)
{
    return !name.isEmpty() && name.size() <= 255 && name != "." && name != ".."
           && !name.contains('/') && !name.contains('\0');
}

} // namespace temporaries

namespace {

// What a lock file says, when it is one of ours.
struct LockRecord
{
    TemporaryKind kind = TemporaryKind::Copy;
    QByteArray name;        // the target's whole name
    QByteArray temporary;   // the temporary's name
    QByteArray made;        // "<device>:<inode>:<type>" of the temporary as made; empty when not recorded
    QByteArray replaced;    // the same of the target it is exchanged with; empty when not recorded
    QByteArray trashInfo;   // "<device>:<inode>:<size>:<seconds>:<nanoseconds>" of its .trashinfo; may be empty
    bool brought = false;   // an item brought beside its target from another folder
};

QByteArray recordText(const LockRecord &record)
{
    QByteArray text = QByteArray(recordHeader) + "\nKind=" + kindTag(record.kind) + "\nName="
                      + record.name.toPercentEncoding() + "\nTemporary=" + record.temporary.toPercentEncoding()
                      + "\n";
    if (!record.made.isEmpty())
        text += "Made=" + record.made + "\n";
    if (record.brought)
        text += "Brought=1\n";
    if (!record.replaced.isEmpty())
        text += "Replaced=" + record.replaced + "\n";
    if (!record.trashInfo.isEmpty())
        text += "TrashInfo=" + record.trashInfo + "\n";
    return text;
}

} // namespace

namespace temporaries {

QByteArray madeText(quint64 device, quint64 inode, quint32 type)
{
    return QByteArray::number(device) + ':' + QByteArray::number(inode) + ':' + QByteArray::number(type);
}

} // namespace temporaries

namespace {

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

// The record of the lock file named for token, when text is byte for byte what
// this program writes there: a kind it writes, one valid name, the temporary
// made from that kind, name and token (a set-aside item that was then replaced
// keeps its name under the kind that removes it, which only a record of what
// was made may say), and optionally what was made and its Trash information.
// Anything else is not ours.
std::optional<LockRecord> parseRecord(const QByteArray &text, const QByteArray &token)
{
    if (!isToken(token))
        return std::nullopt;
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 5 || lines.size() > 9 || !lines.at(1).startsWith("Kind=") || !lines.at(2).startsWith("Name=")
        || !lines.at(3).startsWith("Temporary="))
        return std::nullopt;
    const std::optional<TemporaryKind> kind = kindOfTag(lines.at(1).mid(5));
    LockRecord record;
    record.name = QByteArray::fromPercentEncoding(lines.at(2).mid(5));
    record.temporary = QByteArray::fromPercentEncoding(lines.at(3).mid(10));
    if (!kind || !isOneName(record.name))
        return std::nullopt;
    record.kind = *kind;
    for (qsizetype i = 4; i + 1 < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.startsWith("Made=") && i == 4 && isNumberList(line.mid(5), 3))
            record.made = line.mid(5);
        else if (line == "Brought=1" && i == 5 && !record.made.isEmpty() && record.kind == TemporaryKind::SetAside)
            record.brought = true;
        else if (line.startsWith("Replaced=") && i >= 5 && !record.made.isEmpty() && isNumberList(line.mid(9), 3))
            record.replaced = line.mid(9);
        else if (line.startsWith("TrashInfo=") && record.kind == TemporaryKind::Copy && isNumberList(line.mid(10), 5))
            record.trashInfo = line.mid(10);
        else
            return std::nullopt;
    }
    const bool named = record.temporary == temporaryName(record.name, record.kind, token)
                       || (!record.made.isEmpty() && record.kind == TemporaryKind::Copy
                           && record.temporary == temporaryName(record.name, TemporaryKind::SetAside, token));
    if (!named || text != recordText(record))
        return std::nullopt;
    return record;
}

// rename() within one folder that never replaces, also where the file system
// lacks RENAME_NOREPLACE (then through the folder's handle, by the file
// layer's link or placeholder).
int renameNoReplaceAt(int folderFd, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(folderFd, from.constData(), folderFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    const QByteArray folder = handlePath(folderFd) + '/';
    return renameWithoutReplacingRaw(folder + from, folder + to);
}

// Puts an item that was set aside back under its own name, else under the next
// free numbered name; false (and it stays where it is) when neither can be done.
// An item that goes under a numbered name is told (note, as settled says)
// before it gets there.
bool putBack(int folderFd, const QByteArray &folder, const QByteArray &temporary, const QByteArray &name, bool isFolder,
             bool numbered, ReplaceNote &note, ReplaceSettled settled)
{
    if (injectedFileFault(FileStep::Rename, FileNames::fromNative(joinRaw(folder, temporary))) != 0)
        return false;
    int err = numbered ? EEXIST : renameNoReplaceAt(folderFd, temporary, name);
    for (qint64 n = 2; n < 10000 && err == EEXIST; ++n) {
        const QByteArray numberedName = numberedNameBytes(name, n, isFolder);
        struct stat taken;
        if (::fstatat(folderFd, numberedName.constData(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        note.write(settled, numberedName);
        err = renameNoReplaceAt(folderFd, temporary, numberedName);
    }
    if (err == 0)
        note.done();
    else
        note.drop();
    return err == 0;
}

// Nobody but the user (and the superuser) can have renamed anything onto a
// name in the folder open as folderFd: the user's own folder that no one else
// may write, or a sticky folder of the user or the superuser (where others move
// only their own entries).
bool nobodyElseRenamesIn(int folderFd, uid_t user)
{
    struct stat st;
    if (::fstat(folderFd, &st) != 0)
        return false;
    if (st.st_mode & S_ISVTX)
        return st.st_uid == user || st.st_uid == 0;
    return st.st_uid == user && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

} // namespace

namespace temporaries {

// The file system of the folder open as folderFd numbers its files afresh at
// each mount (FAT, exFAT, FUSE without its own numbers): an item's inode then
// says nothing once the card has been out.
bool numbersFilesPerMount(int folderFd)
{
    struct statfs fs;
    if (::fstatfs(folderFd, &fs) != 0)
        return false;
    switch (quint32(fs.f_type)) {
    case MSDOS_SUPER_MAGIC:
    case 0x2011BAB0u:   // exFAT
    case 0x65735546u:   // FUSE
        return true;
    default:
        return false;
    }
}

} // namespace temporaries

namespace {

// The item id, found in the folder open as folderFd, is the one the record
// says was made: the same inode and type, on the same device (or on the
// folder's own file system when that came back under another device number).
// Where files are numbered afresh at each mount, the type must match and
// either its name's token is listed in the user's journal for the folder
// (ownByName) or nobody but the user can have renamed anything there.
bool isItemMade(const QByteArray &made, const FileIdentity &id, int folderFd, uid_t user, bool ownByName)
{
    const QList<QByteArray> parts = made.split(':');
    if (parts.size() != 3)
        return false;
    const quint64 device = parts.at(0).toULongLong(), inode = parts.at(1).toULongLong();
    const quint32 type = parts.at(2).toUInt();
    if (id.type != type)
        return false;
    if (ownByName)
        return true;   // a card's numbers say nothing; its token's name, in the user's journal, does
    const std::optional<FileIdentity> folder = fileIdentityOf(folderFd);
    if (id.inode == inode
        && (id.device == device || (folder && folder->device == id.device && folder->device != device)))
        return true;
    return numbersFilesPerMount(folderFd) && nobodyElseRenamesIn(folderFd, user);
}

} // namespace

namespace temporaries {

// id is exactly the item recorded as made ("<device>:<inode>:<type>").
bool isExactly(const QByteArray &made, const FileIdentity &id)
{
    return !made.isEmpty() && made == madeText(id.device, id.inode, id.type);
}

} // namespace temporaries

namespace {

// When this process began (as the file system stamps times): something of
// ours left unlocked and unrecorded since before then was left by a process
// killed half-way, not one about to record it.
const struct timespec g_processStart = [] {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}();

// Lock files this process holds (device, inode): in work here, never a reason
// to read a folder again.
// Never destroyed: the start-up cleanup's thread is not waited for at exit.
std::mutex &g_mutex = *new std::mutex;
std::set<std::pair<quint64, quint64>> &g_ownLocks = *new std::set<std::pair<quint64, quint64>>;

} // namespace

namespace temporaries {

void noteOwnLock(quint64 device, quint64 inode, bool held)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (held)
        g_ownLocks.insert({device, inode});
    else
        g_ownLocks.erase({device, inode});
}

QByteArray newRecordName(const QByteArray &lockName) { return lockName + ".new"; }

QByteArray lockToken(const QByteArray &lockPath)
{
    return lockPath.mid(lockPath.lastIndexOf('/') + 1 + qsizetype(std::strlen(lockPrefix)));
}

bool replaceRecordFile(int dirFd, const QByteArray &name, const QByteArray &making, int *fd, const QByteArray &text,
                       bool sync)
{
    struct stat old, made;
    if (*fd < 0 || ::fstat(*fd, &old) != 0)
        return false;
    const int newFd = ::openat(dirFd, making.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (newFd < 0)
        return false;
    // Locked before it takes the record's name, as the first one was; synced
    // where the disk can sync a file, unless the caller syncs its records together.
    if (::flock(newFd, LOCK_EX) != 0 || ::write(newFd, text.constData(), size_t(text.size())) != text.size()
        || (sync && ::fdatasync(newFd) != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        || ::fstat(newFd, &made) != 0 || ::renameat(dirFd, making.constData(), dirFd, name.constData()) != 0) {
        const int err = errno;
        ::unlinkat(dirFd, making.constData(), 0);
        ::close(newFd);
        errno = err;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_ownLocks.erase({quint64(old.st_dev), quint64(old.st_ino)}))
            g_ownLocks.insert({quint64(made.st_dev), quint64(made.st_ino)});
    }
    ::close(std::exchange(*fd, newFd));
    return true;
}

} // namespace temporaries

namespace {

// Result of looking at one lock file.
enum class LockState {
    Held,      // locked by another process: in work there
    Done,      // what it named is dealt with, and the lock is gone
    Left,      // ours, and what it names is ours, but it could not be dealt with
    NotOurs,   // not our record, or it names nothing of ours: left alone
};

// Which records one look at a lock acts on.
enum class Records {
    Own,   // only those of opened-up folders and placeholders
    All,
};

// The lock file lockName (of the folder open as folderFd), taken and read:
// its open descriptor, its text and when it was last written; or, with fd
// -1, what it is without a look inside (another's, one in work, this
// process's own).
struct TakenLock
{
    int fd = -1;
    LockState state = LockState::NotOurs;
    QByteArray text;
    timespec modified{};
};

TakenLock takeLock(int folderFd, const QByteArray &lockName, uid_t user)
{
    // Looked at before it is opened: another user's lock, anything but a
    // plain file, or a file with another name too (a link to someone's file
    // planted under a lock's name), is never opened, let alone locked.
    struct stat named, opened;
    if (::fstatat(folderFd, lockName.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)
        || named.st_uid != user || named.st_nlink != 1)
        return {-1, LockState::NotOurs, {}, {}};
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_ownLocks.count({quint64(named.st_dev), quint64(named.st_ino)}))
            return {-1, LockState::Done, {}, {}};   // this process's own, in work
    }
    const int fd = ::openat(folderFd, lockName.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {-1, LockState::NotOurs, {}, {}};
    const auto finish = [fd](LockState state) {
        ::close(fd);
        return TakenLock{-1, state, {}, {}};
    };
    if (::fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        return finish(LockState::NotOurs);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return finish(errno == EWOULDBLOCK ? LockState::Held : LockState::NotOurs);
    // Still the file under that name, now that its maker has let go of it.
    if (::fstat(fd, &opened) != 0 || ::fstatat(folderFd, lockName.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino || opened.st_nlink != 1
        || opened.st_size > maxRecordBytes)
        return finish(LockState::NotOurs);
    QByteArray text(qsizetype(opened.st_size), '\0');
    if (::pread(fd, text.data(), size_t(text.size()), 0) != text.size())
        return finish(LockState::NotOurs);
    return {fd, LockState::Done, text, opened.st_mtim};
}

// The temporary record names, dealt with: removed, or put back where the
// user had it. A state when the lock's look ends there (the lock removed
// with an untouched placeholder, or not ours); else none, gone telling
// whether the temporary is no longer there.
std::optional<LockState> settleTemporary(int folderFd, const QByteArray &folder, const QByteArray &lockName,
                                         const LockRecord &record, uid_t user, bool ownByName, bool numbersAfresh,
                                         bool &gone)
{
    struct stat st;
    const bool there = ::fstatat(folderFd, record.temporary.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    gone = !there && errno == ENOENT;
    if (there) {
        // Only the very item made, or where nobody else can have put another.
        const std::optional<FileIdentity> id = fileIdentityAt(folderFd, record.temporary.constData());
        // After the exchange of a Replace the temporary holds the target it
        // replaced: it goes once the incoming item stands under the target's
        // name, as asked; otherwise it is put back like an item set aside.
        const bool replaced = id && isExactly(record.replaced, *id);
        const bool made = replaced
                          || (record.made.isEmpty() ? ownByName || nobodyElseRenamesIn(folderFd, user)
                                                     : id && isItemMade(record.made, *id, folderFd, user, ownByName));
        if (!made && removeLeftPlaceholderAt(folderFd, record.temporary)) {
            // Killed between holding the name and renaming onto it: the item
            // never moved.
            ::unlinkat(folderFd, lockName.constData(), 0);
            return LockState::Done;
        }
        if (!made || st.st_uid != user)   // another user's temporary is never touched
            return LockState::NotOurs;
        const std::optional<FileIdentity> atTarget = fileIdentityAt(folderFd, record.name.constData());
        const QByteArray token = lockName.mid(qsizetype(std::strlen(lockPrefix)));
        // What is left where, once a Replace was under way, is told at the start.
        ReplaceNote note(folder, record.name, token);
        const bool isFolder = S_ISDIR(st.st_mode);
        // An item brought to replace the target, with the very target it
        // was to replace still under its name (told by its identity, which
        // only a disk that keeps its numbers gives): the Replace asked for is
        // finished as it would have been, by one exchange; the old item goes.
        const bool finish = record.kind == TemporaryKind::SetAside && !replaced && record.brought && !numbersAfresh
                            && atTarget && isExactly(record.replaced, *atTarget)
                            && ::renameat2(folderFd, record.temporary.constData(), folderFd, record.name.constData(),
                                           RENAME_EXCHANGE) == 0;
        // The old item of a Replace whose new one stands in its place.
        const bool oldOfReplace = finish || replaced
                                  || (record.kind == TemporaryKind::Copy
                                      && record.temporary == temporaryName(record.name, TemporaryKind::SetAside, token));
        if (replaced && !(atTarget && isExactly(record.made, *atTarget))) {
            gone = putBack(folderFd, folder, record.temporary, record.name, isFolder, false, note,
                           ReplaceSettled::OldBeside);
        } else if (record.kind == TemporaryKind::SetAside && !replaced && !finish) {
            // The target's own item set aside goes back under its name; an
            // item brought beside its target from another folder stays in
            // this one (a record acts on nothing outside its own folder),
            // under the next free numbered name.
            gone = putBack(folderFd, folder, record.temporary, record.name, isFolder, record.brought, note,
                           record.brought ? ReplaceSettled::NewBeside : ReplaceSettled::OldBeside);
        } else {
            QByteArray failedAt;
            gone = removeEntryAt(folderFd, folder, record.temporary, &failedAt, user) == 0;
            if (gone && oldOfReplace && note.write(ReplaceSettled::Finished, record.name))
                note.done();
        }
    }
    return std::nullopt;
}

// A new record for the lock of token (".lglock-<token>.new") that a process
// killed before it renamed it over the lock left: it goes when it is the
// user's plain file, nobody holds it, it is older than this process (a newer
// one may be a live writer's, between its open and its lock), and it is
// empty or exactly a record this program writes.
LockState removeLeftNewRecord(int folderFd, const QByteArray &name, const QByteArray &token, uid_t user)
{
    struct stat st;
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
        || st.st_uid != user || st.st_nlink != 1 || !isOlderThanThisProcess(st.st_mtim))
        return LockState::NotOurs;
    const TakenLock taken = takeLock(folderFd, name, user);
    if (taken.fd < 0)
        return taken.state;
    if (taken.text.isEmpty() || parseRecord(taken.text, token) || isFolderRecord(taken.text))
        ::unlinkat(folderFd, name.constData(), 0);
    ::close(taken.fd);
    return LockState::Done;
}

LockState cleanOne(FolderLook &look, const QByteArray &folder, const QByteArray &lockName, uid_t user,
                   Records records = Records::All)
{
    const int folderFd = look.fd();
    const QByteArray token = lockName.mid(qsizetype(std::strlen(lockPrefix)));
    if (records == Records::All && token.size() == tokenLength + 4 && token.endsWith(".new")
        && isToken(token.left(tokenLength)))
        return removeLeftNewRecord(folderFd, lockName, token.left(tokenLength), user);
    if (!isToken(token))
        return LockState::NotOurs;
    const TakenLock taken = takeLock(folderFd, lockName, user);
    if (taken.fd < 0)
        return taken.state;
    const int fd = taken.fd;
    const QByteArray &text = taken.text;
    const auto finish = [fd](LockState state) {
        ::close(fd);
        return state;
    };
    if (text.isEmpty() && isOlderThanThisProcess(taken.modified)) {
        // Made by a process killed before it wrote its record (which is
        // written at once, under the lock): it names nothing.
        ::unlinkat(folderFd, lockName.constData(), 0);
        return finish(LockState::Done);
    }
    // A folder opened up, or a placeholder made, by a process killed before
    // it was done with them.
    if (settleFolderRecord(look, text, token, user)) {
        ::unlinkat(folderFd, lockName.constData(), 0);
        return finish(LockState::Done);
    }
    if (records == Records::Own)
        return finish(LockState::NotOurs);
    const std::optional<LockRecord> record = parseRecord(text, token);
    if (!record)
        return finish(LockState::NotOurs);   // not written by us, or not yet
    bool gone = false;
    if (const std::optional<LockState> ended =
            settleTemporary(folderFd, folder, lockName, *record, user, look.isOwnByName(token),
                            look.numbersFilesPerMount(), gone))
        return finish(*ended);
    if (gone && !record->trashInfo.isEmpty())
        removeTrashInfo(folderFd, record->name, record->trashInfo, user);
    if (!gone)
        return finish(LockState::Left);
    ::unlinkat(folderFd, lockName.constData(), 0);
    return finish(LockState::Done);
}
std::atomic<quint64> g_scans{0};

// Looks at the locks names (of the folder open as folderFd) into scan; false
// when the quit stopped it. A placeholder's record goes first: the item it
// names as where a rename came from may be a temporary the others remove.
bool cleanLocks(int folderFd, const QByteArray &folder, const std::vector<QByteArray> &names, Scan *scan,
                const std::set<QByteArray> *listed)
{
    const uid_t user = fileSystemUser();
    FolderLook look(folderFd, listed);
    for (const Records records : {Records::Own, Records::All}) {
        for (const QByteArray &name : names) {
            if (isShuttingDown())
                return false;
            const LockState state = cleanOne(look, folder, name, user, records);
            if (records == Records::Own)
                continue;
            if (look.isOwnByName(name.mid(qsizetype(std::strlen(lockPrefix)))))
                scan->ownFound = true;
            switch (state) {
            case LockState::Held: scan->held.push_back(name); break;
            case LockState::Left: scan->leftOurs = true; break;
            case LockState::Done:
            case LockState::NotOurs: break;
            }
        }
    }
    return true;
}

Scan scanFolder(int folderFd, const QByteArray &folder, const std::set<QByteArray> *listed)
{
    ++g_scans;
    Scan scan;
    std::vector<QByteArray> names;
    int err = 0;
    if (!listFolderAt(folderFd, &names, &err))
        return scan;
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QByteArray &name) { return !name.startsWith(lockPrefix); }),
                names.end());
    if (!cleanLocks(folderFd, folder, names, &scan, listed))
        return scan;
    // In a Trash: information that a kill left without its item.
    removeOrphanTrashInfos(folderFd, folder);
    scan.complete = true;
    return scan;
}

// Folders read by this process (device, inode, user), with the locks there
// that other processes held: read again only once something of ours was left
// there, or (a card's) once a disk was mounted or unmounted since; those
// locks alone are looked at again (their processes may since have been
// killed).
struct FolderKey
{
    quint64 device = 0, inode = 0;
    uid_t user = 0;
    auto operator<=>(const FolderKey &) const = default;
};
struct ScannedFolder
{
    std::vector<QByteArray> held;
    bool onCard = false;   // on a disk that numbers its files afresh
};
std::map<FolderKey, ScannedFolder> &g_scanned = *new std::map<FolderKey, ScannedFolder>;

std::optional<FolderKey> folderKey(int folderFd)
{
    struct stat st;
    if (::fstat(folderFd, &st) != 0)
        return std::nullopt;
    return FolderKey{quint64(st.st_dev), quint64(st.st_ino), fileSystemUser()};
}

// A disk was mounted or unmounted since the last call: the kernel reports
// each change of the mount table as an exceptional condition of
// /proc/self/mountinfo, seen once the table is read anew. True when that
// cannot be told. Under g_mutex.
bool mountTableChanged()
{
    static int table = -2;   // kept open for the process's life
    if (table == -2)
        table = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (table < 0)
        return true;
    struct pollfd watch = {table, POLLPRI, 0};
    if (::poll(&watch, 1, 0) <= 0 || !(watch.revents & (POLLPRI | POLLERR)))
        return false;
    char buffer[16384];
    ::lseek(table, 0, SEEK_SET);
    while (::read(table, buffer, sizeof buffer) > 0) {
    }
    return true;
}

void forgetScan(const QByteArray &folder)
{
    struct stat st;
    if (::stat(folder.constData(), &st) != 0)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_scanned.erase(FolderKey{quint64(st.st_dev), quint64(st.st_ino), fileSystemUser()});
}

} // namespace

namespace temporaries {

// What killed processes left in folder: see the header. With always, the
// folder is read even when this process read it before. *scan gets what was
// found; false when the folder cannot be opened (*err then says why).
bool cleanLeftovers(const QByteArray &folder, bool always, Scan *found, int *err, const std::set<QByteArray> *listed)
{
    if (const int injected = injectedFileFault(FileStep::OpenFolder, FileNames::fromNative(folder))) {
        if (err)
            *err = injected;
        return false;
    }
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        if (err)
            *err = errno;
        return false;
    }
    const std::optional<FolderKey> key = folderKey(folderFd);
    std::optional<std::vector<QByteArray>> held;
    if (!always && key) {
        std::lock_guard<std::mutex> lock(g_mutex);
        // A card put back, or another mounted at its place, may have the
        // device and folder numbers of one read before: a card's folders are
        // read anew once the mount table changed.
        if (mountTableChanged())
            std::erase_if(g_scanned, [](const auto &scanned) { return scanned.second.onCard; });
        if (const auto it = g_scanned.find(*key); it != g_scanned.end())
            held = it->second.held;
    }
    const bool onCard = numbersFilesPerMount(folderFd);
    Scan scan;
    if (held) {
        scan.complete = cleanLocks(folderFd, folder, *held, &scan, listed);
    } else {
        scan = scanFolder(folderFd, folder, listed);
    }
    ::close(folderFd);
    if (found)
        *found = scan;
    if (key && scan.complete) {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (scan.leftOurs)
            g_scanned.erase(*key);
        else
            g_scanned[*key] = {scan.held, onCard};
    }
    return true;
}

} // namespace temporaries

quint64 leftoverScansForTesting() { return g_scans.load(); }

bool removeLeftPlaceholderAt(int folderFd, const QByteArray &name)
{
    struct stat st;
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || (st.st_mode & 07777) != placeholderMode
        || st.st_uid != fileSystemUser() || !isOlderThanThisProcess(st.st_mtim))
        return false;
    if (S_ISDIR(st.st_mode))
        return ::unlinkat(folderFd, name.constData(), AT_REMOVEDIR) == 0;   // only while empty
    if (!S_ISREG(st.st_mode) || st.st_size != 0 || st.st_nlink != 1)
        return false;
    // Still that empty file.
    struct stat again;
    if (::fstatat(folderFd, name.constData(), &again, AT_SYMLINK_NOFOLLOW) != 0 || again.st_ino != st.st_ino
        || again.st_dev != st.st_dev || again.st_size != 0)
        return false;
    return ::unlinkat(folderFd, name.constData(), 0) == 0;
}

bool removeLeftPlaceholder(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0 || slash == path.size() - 1)
        return false;
    const int folderFd = ::open(slash == 0 ? "/" : path.left(slash).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return false;
    const bool removed = removeLeftPlaceholderAt(folderFd, path.mid(slash + 1));
    ::close(folderFd);
    return removed;
}

bool isOlderThanThisProcess(const struct timespec &stamp)
{
    return stamp.tv_sec < g_processStart.tv_sec
           || (stamp.tv_sec == g_processStart.tv_sec && stamp.tv_nsec < g_processStart.tv_nsec);
}


TemporaryOwner::TemporaryOwner(TemporaryOwner &&other) noexcept { *this = std::move(other); }

TemporaryOwner &TemporaryOwner::operator=(TemporaryOwner &&other) noexcept
{
    if (this != &other) {
        release();
        m_lockFd = std::exchange(other.m_lockFd, -1);
        m_lockPath = std::move(other.m_lockPath);
        m_folder = std::move(other.m_folder);
        m_temporary = std::move(other.m_temporary);
        m_targetName = std::move(other.m_targetName);
        m_kind = other.m_kind;
        m_made = other.m_made;
        m_device = other.m_device;
        m_inode = other.m_inode;
        m_madeDevice = other.m_madeDevice;
        m_madeInode = other.m_madeInode;
        m_madeType = other.m_madeType;
        m_exchanging = other.m_exchanging;
        m_replacedDevice = other.m_replacedDevice;
        m_replacedInode = other.m_replacedInode;
        m_replacedType = other.m_replacedType;
        m_trashInfo = std::move(other.m_trashInfo);
        m_brought = other.m_brought;
        m_listed = std::exchange(other.m_listed, false);
    }
    return *this;
}

TemporaryOwner::~TemporaryOwner() { release(); }

// What is at the temporary's name is the item made.
bool TemporaryOwner::holdsMade() const
{
    const std::optional<FileIdentity> id = fileIdentityAt(AT_FDCWD, m_temporary.constData());
    return m_made && id && id->device == m_madeDevice && id->inode == m_madeInode && id->type == m_madeType;
}

void TemporaryOwner::release()
{
    if (m_lockFd < 0)
        return;
    struct stat st;
    const bool there = ::lstat(m_temporary.constData(), &st) == 0 || errno != ENOENT;
    // Something of ours is left (or something not recorded as made, which may
    // be): the lock stays for the cleanup. Another's item under the name, where
    // ours was recorded, is no reason to keep it.
    const bool left = there && (!m_made || holdsMade());
    if (left)
        forgetScan(m_folder);
    else if (::unlink(m_lockPath.constData()) == 0 && m_listed)
        journalListToken(m_folder, lockToken(m_lockPath), false);
    m_listed = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_ownLocks.erase({m_device, m_inode});
    }
    ::close(m_lockFd);
    m_lockFd = -1;
    journalRelease(m_folder, left);
}

void TemporaryOwner::dropClaim()
{
    if (m_lockFd < 0)
        return;
    if (::unlink(m_lockPath.constData()) == 0 && std::exchange(m_listed, false))
        journalListToken(m_folder, lockToken(m_lockPath), false);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_ownLocks.erase({m_device, m_inode});
    }
    ::close(m_lockFd);
    m_lockFd = -1;
    journalRelease(m_folder, false);
}

QString TemporaryOwner::path() const { return FileNames::fromNative(m_temporary); }

// The first record is written into the lock just made; every later one is a
// new file renamed over it (replaceRecordFile), never written in place: a
// process killed meanwhile leaves the old record or the new one, whole, on
// any disk.
bool TemporaryOwner::writeRecord()
{
    LockRecord record;
    record.kind = m_kind;
    record.name = m_targetName;
    record.temporary = m_temporary.mid(m_temporary.lastIndexOf('/') + 1);
    if (m_made)
        record.made = madeText(m_madeDevice, m_madeInode, m_madeType);
    if (m_exchanging)
        record.replaced = madeText(m_replacedDevice, m_replacedInode, m_replacedType);
    record.trashInfo = m_kind == TemporaryKind::Copy ? m_trashInfo : QByteArray();
    record.brought = m_kind == TemporaryKind::SetAside && m_made && m_brought;
    const QByteArray text = recordText(record);
    struct stat written;
    if (::fstat(m_lockFd, &written) != 0)
        return false;
    if (written.st_size == 0)   // the lock just made: its first record
        return ::write(m_lockFd, text.constData(), size_t(text.size())) == text.size();
    if (!replaceRecordFile(AT_FDCWD, m_lockPath, newRecordName(m_lockPath), &m_lockFd, text))
        return false;
    if (::fstat(m_lockFd, &written) == 0) {
        m_device = quint64(written.st_dev);
        m_inode = quint64(written.st_ino);
    }
    return true;
}

bool TemporaryOwner::setKind(TemporaryKind kind)
{
    if (m_lockFd < 0)
        return false;
    m_kind = kind;
    return writeRecord();
}

bool TemporaryOwner::recordExchangeWith(const QString &target)
{
    if (m_lockFd < 0 || !m_made)
        return false;
    const std::optional<FileIdentity> id = fileIdentity(target);
    if (!id)
        return false;
    m_replacedDevice = id->device;
    m_replacedInode = id->inode;
    m_replacedType = id->type;
    m_exchanging = true;
    return writeRecord();
}

void TemporaryOwner::exchanged()
{
    // The record already names both: only this process's view changes.
    m_madeDevice = m_replacedDevice;
    m_madeInode = m_replacedInode;
    m_madeType = m_replacedType;
    m_kind = TemporaryKind::Copy;
}

bool TemporaryOwner::forgetExchange()
{
    if (m_lockFd < 0)
        return false;
    m_exchanging = false;
    return writeRecord();
}

bool TemporaryOwner::recordMade(int fd)
{
    if (m_lockFd < 0)
        return false;
    const std::optional<FileIdentity> id =
        fd >= 0 ? fileIdentityOf(fd) : fileIdentityAt(AT_FDCWD, m_temporary.constData());
    if (!id)
        return false;
    m_made = true;
    m_madeDevice = id->device;
    m_madeInode = id->inode;
    m_madeType = id->type;
    return writeRecord();
}

TemporaryOwner TemporaryOwner::claim(const QString &target, TemporaryKind kind, int *error, const QString &incoming)
{
    QString targetPath = target;
    while (targetPath.size() > 1 && targetPath.endsWith(QLatin1Char('/')))
        targetPath.chop(1);
    const QByteArray rawTarget = FileNames::toNative(targetPath);
    const QByteArray folder = folderOf(rawTarget);
    cleanLeftovers(folder, false);
    TemporaryOwner owner;
    owner.m_kind = kind;
    owner.m_folder = folder;
    owner.m_targetName = rawTarget.mid(rawTarget.lastIndexOf('/') + 1);
    journalAcquire(folder);
    // On a card, what is ours is known by its token, listed in the journal before the lock is made.
    bool onCard = false;
    if (const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folderFd >= 0) {
        onCard = numbersFilesPerMount(folderFd);
        ::close(folderFd);
    }
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        const QByteArray token = newToken();
        const QByteArray lockPath = joinRaw(folder, lockPrefix + token);
        owner.m_listed = onCard && journalListToken(folder, token, true);
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            err = errno;
            if (std::exchange(owner.m_listed, false))
                journalListToken(folder, token, false);
            continue;
        }
        // Locked before anything is written: a record is only ever read under the lock.
        struct stat lockStat;
        if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &lockStat) != 0) {
            err = errno;
            ::unlink(lockPath.constData());
            ::close(fd);
            if (std::exchange(owner.m_listed, false))
                journalListToken(folder, token, false);
            break;
        }
        owner.m_lockFd = fd;
        owner.m_lockPath = lockPath;
        owner.m_temporary = joinRaw(folder, temporaryName(owner.m_targetName, kind, token));
        owner.m_device = quint64(lockStat.st_dev);
        owner.m_inode = quint64(lockStat.st_ino);
        owner.m_made = false;
        if (kind == TemporaryKind::SetAside) {
            // The temporary will be the target itself, or the incoming item, renamed.
            if (const std::optional<FileIdentity> id = fileIdentity(incoming.isEmpty() ? targetPath : incoming)) {
                owner.m_brought = !incoming.isEmpty();
                owner.m_made = true;
                owner.m_madeDevice = id->device;
                owner.m_madeInode = id->inode;
                owner.m_madeType = id->type;
                // An item brought to replace the target: the record names the
                // target too, so that a kill before the two are exchanged
                // finds what the Replace was asked for.
                const std::optional<FileIdentity> replacing = owner.m_brought ? fileIdentity(targetPath) : std::nullopt;
                owner.m_exchanging = bool(replacing);
                if (replacing) {
                    owner.m_replacedDevice = replacing->device;
                    owner.m_replacedInode = replacing->inode;
                    owner.m_replacedType = replacing->type;
                }
            }
        } else if (kind == TemporaryKind::Copy) {
            const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folderFd >= 0) {
                owner.m_trashInfo = trashInfoStamp(folderFd, owner.m_targetName, fileSystemUser());
                ::close(folderFd);
            }
        }
        struct stat st;
        const bool stray = ::lstat(owner.m_temporary.constData(), &st) == 0;   // that very name: not ours
        errno = 0;
        if (!stray && owner.writeRecord()) {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_ownLocks.insert({owner.m_device, owner.m_inode});
            return owner;
        }
        err = stray ? EEXIST : (errno ? errno : EIO);
        ::unlink(lockPath.constData());
        ::close(fd);
        owner.m_lockFd = -1;
        if (std::exchange(owner.m_listed, false))
            journalListToken(folder, token, false);
    }
    journalRelease(folder, false);
    owner.m_folder.clear();
    if (error)
        *error = err;
    return {};
}

TemporaryOwner TemporaryOwner::setAside(const QString &item, int *error)
{
    int err = EEXIST;
    for (int attempt = 0; attempt < 5 && err == EEXIST; ++attempt) {
        TemporaryOwner owner = claim(item, TemporaryKind::SetAside, &err);
        if (!owner.isValid())
            break;
        const QByteArray temporary = owner.m_temporary;
        if (::renameat2(AT_FDCWD, FileNames::toNative(item).constData(), AT_FDCWD, temporary.constData(), RENAME_NOREPLACE) == 0)
            return owner;
        err = errno;
        if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) {
            const int folderFd = ::open(folderOf(temporary).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const QByteArray from = FileNames::toNative(item);
            err = folderFd < 0 ? errno
                               : renameNoReplaceAt(folderFd, from.mid(from.lastIndexOf('/') + 1),
                                                   temporary.mid(temporary.lastIndexOf('/') + 1));
            if (folderFd >= 0)
                ::close(folderFd);
            if (err == 0)
                return owner;
        }
        owner.dropClaim();   // the temporary's name was taken meanwhile: another one
    }
    if (error)
        *error = err;
    return {};
}

TemporaryFile createTemporaryFile(const QString &target, TemporaryKind kind)
{
    TemporaryFile file;
    for (int attempt = 0; attempt < 5; ++attempt) {
        file.owner = TemporaryOwner::claim(target, kind, &file.error);
        if (!file.owner.isValid())
            return file;
        file.path = file.owner.path();
        file.fd = ::open(FileNames::toNative(file.path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file.fd >= 0) {
            file.error = 0;
            file.owner.recordMade(file.fd);
            return file;
        }
        file.error = errno;
        file.path.clear();
        file.owner.dropClaim();   // the name was taken meanwhile: another one
        if (file.error != EEXIST)
            break;
    }
    return file;
}

} // namespace lg
