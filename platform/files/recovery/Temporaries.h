#pragma once
// Hidden temporaries beside a target, the lock files that own them, and the
// cleanup of what a killed process left in a folder (the journal of such
// folders and the start-up cleanup that reads it are in Journal.h).
// Any thread; an owner is used by one thread at a time. Failures come back as
// errno values; nothing is shown to the user here.
#include <QByteArray>
#include <QList>
#include <QString>

#include <ctime>

#include "platform/files/recovery/FolderRecords.h"

struct stat;

namespace lg {

// What the cleanup does with a temporary a kill left, by the kind its record names.
enum class TemporaryKind {
    // An unfinished copy, or the item a folder Replace swapped out: removed by
    // handle (Removal.h; a mount point is left). The swapped-out item goes only
    // once the incoming one stands under the target's name, else it is put back;
    // an unfinished copy into the home Trash goes with the .trashinfo made for
    // it when that is exactly as it was and nothing stands under the item's name.
    Copy,
    Write,      // an unfinished image write: removed
    // The target itself (or an item brought beside it), moved out of the way:
    // put back under its own name, else under the next free numbered name
    // (its bytes kept), else left where it is; never deleted. A record acts on
    // nothing outside its own folder: an item brought from elsewhere to
    // replace the target stays in the target's folder. Where the very target
    // it was to replace is still under its name (its identity, on a disk that
    // keeps its numbers), the Replace is finished: the two are exchanged and
    // the old one goes; else the item brought takes the next free numbered
    // name. What goes under a numbered name, or a Replace finished, is noted
    // to be told at the start (takeStoppedReplaces, StoppedMoves.h).
    SetAside,
};

// One hidden temporary beside a target, named "." + the target's name (cut to
// fit) + ".lg<kind>-<token>", within 255 bytes, the token 16 lower-case hex
// digits; owned by the lock file ".lglock-<token>" beside it, held locked
// (flock) for as long as the owner lives. The lock's record names the kind,
// the target's whole name and the temporary, and, once the temporary exists,
// its identity (device, inode and type).

class TemporaryOwner
{
public:
    TemporaryOwner() = default;
    TemporaryOwner(TemporaryOwner &&other) noexcept;
    TemporaryOwner &operator=(TemporaryOwner &&other) noexcept;
    TemporaryOwner(const TemporaryOwner &) = delete;
    TemporaryOwner &operator=(const TemporaryOwner &) = delete;
    // Releases the lock; the lock file goes too once the temporary is gone, and
    // stays (for the cleanup) when something is left there.
    ~TemporaryOwner();

    // Cleans the target's folder, then claims a free temporary name beside
    // target (nothing is made there yet); a name taken by anyone else meanwhile
    // drops the attempt (its lock goes) and another token is tried, a few
    // times. Invalid, with *error an errno value, when the folder cannot be
    // written.
    // The cleanup reads a folder (any spelling of it) before the first
    // temporary this process makes there, and again only once something of
    // ours was left there or (a card's folder) a disk was mounted or
    // unmounted since (a card put back); later it looks again only at the
    // locks it found held by other processes. What it finds is untrusted: it acts only on a lock file
    // of one name (never a link to another file) the user owns, can lock, and whose record is byte for byte
    // what this program writes (its kind, the lock's own token, one valid
    // target name and the temporary's name made from those); and only on the
    // temporary that record names when the user owns it and it is the very
    // item recorded (same inode and type, on the same device or on the
    // folder's own file system come back under another device number; where a
    // file system numbers its files afresh at each mount, the same type in a
    // folder as below). A record without identity (an older version's, or a
    // kill before the temporary was recorded) counts only in a folder where
    // nobody else can have renamed anything onto the temporary's name: one the
    // user owns that no one else may write, or a sticky one owned by the user
    // or the superuser. On a disk that numbers its files afresh (a card),
    // the start-up cleanup knows what is ours by the tokens the user's
    // journal lists for the folder: what carries such a token in its name
    // counts there, whatever the folder's mode and the numbers the driver
    // gave it. Everything else (a held lock, another user's lock or
    // temporary, a record not exactly ours, an item not the one recorded, a
    // file no lock names) is left alone. An empty lock and an empty
    // placeholder (placeholderMode) that are ours and older than this process
    // were left by a kill and go. The records of opened-up folders and
    // placeholders (FolderRecords.h) are settled by the same cleanup, and in
    // a Trash's files/ the .trashinfo files a kill left without their items
    // go (Trash.h).
    // A set-aside owner records the identity of what is to be renamed to the
    // temporary at once: the target itself, or incoming when given (an item
    // brought beside the target to replace it, whose record names the
    // target's identity as well), so a kill right after that rename finds it.
    static TemporaryOwner claim(const QString &target, TemporaryKind kind, int *error = nullptr,
                                const QString &incoming = QString());
    // Claims a temporary for item and renames item there (never replacing);
    // a temporary name taken meanwhile is given up and another tried. Invalid,
    // with *error an errno value, when item could not be set aside.
    static TemporaryOwner setAside(const QString &item, int *error = nullptr);
    bool isValid() const { return m_lockFd >= 0; }
    QString path() const;
    // The temporary has just been made (fd open on it, or -1 to look at the
    // name): its identity goes into the record. False on a write error.
    bool recordMade(int fd = -1);
    bool isMade() const { return m_made; }
    // The temporary is about to be exchanged with target in one step: the
    // record names target's identity too, so that a kill right after the
    // exchange finds the replaced item under the temporary's name (it goes
    // when the made item stands at the target, and is put back otherwise).
    // False (nothing is to be exchanged then) on a write error.
    bool recordExchangeWith(const QString &target);
    // The exchange is done: the temporary holds the replaced item now.
    void exchanged();
    // The Replace failed and the item brought beside the target stays there:
    // the record no longer names the target, so the cleanup puts the item
    // beside it rather than in its place. False on a write error.
    bool forgetExchange();
    // The temporary could not be made (its name was taken): the lock goes and
    // whatever is at the name is left alone; the owner is invalid then.
    void dropClaim();
    // What the cleanup would do with what is left: set when a set-aside item
    // has been replaced as asked and is to be removed. False on a write error.
    bool setKind(TemporaryKind kind);

private:
    bool writeRecord();
    void release();
    bool holdsMade() const;
    int m_lockFd = -1;
    QByteArray m_lockPath;
    QByteArray m_folder;      // raw path, as the journal names it
    QByteArray m_temporary;   // raw path
    QByteArray m_targetName;  // raw name
    TemporaryKind m_kind = TemporaryKind::Copy;
    bool m_made = false;
    quint64 m_device = 0, m_inode = 0;   // of the lock file, and below of what was made
    quint64 m_madeDevice = 0, m_madeInode = 0;
    quint32 m_madeType = 0;
    bool m_exchanging = false;   // the record names the item to be exchanged with, below
    quint64 m_replacedDevice = 0, m_replacedInode = 0;
    quint32 m_replacedType = 0;
    QByteArray m_trashInfo;   // the record's line for a .trashinfo that goes with the copy; may be empty
    bool m_brought = false;   // set aside: the item brought beside the target, not the target's own
    bool m_listed = false;    // its token is in the journal's entry of its folder (a card)
};

// A new empty file (0600, open for writing) at a claimed temporary beside
// target. fd is -1 and error an errno value on failure; the caller closes fd and
// renames or removes the file while owner lives.
struct TemporaryFile
{
    TemporaryOwner owner;
    int fd = -1;
    int error = 0;
    QString path;
};
TemporaryFile createTemporaryFile(const QString &target, TemporaryKind kind = TemporaryKind::Write);

// The mode of a placeholder that holds a name for a rename that cannot
// replace (where the file system lacks RENAME_NOREPLACE): no bits at all.
constexpr unsigned placeholderMode = 0;
// What is at name in the folder open as folderFd (or at path) is such a
// placeholder that a kill left: an empty folder or empty file of mode
// placeholderMode, the user's, from before this process began. It is removed;
// true when it went.
bool removeLeftPlaceholderAt(int folderFd, const QByteArray &name);
bool removeLeftPlaceholder(const QByteArray &path);

// stamp (a file's time) is from before this process began: something ours
// left unlocked and unrecorded since then was left by a process killed
// half-way, not by one about to finish it.
bool isOlderThanThisProcess(const struct timespec &stamp);

// How many times a folder has been read for leftovers by this process.
quint64 leftoverScansForTesting();

} // namespace lg
