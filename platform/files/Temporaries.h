#pragma once
// Hidden temporaries beside a target, their lock records, and the cleanup of
// what a killed process left in a folder (the journal of such folders, and
// the start-up cleanup that reads it, are in Journal.h).
//
// Every hidden temporary made beside a target (by the file layer and by the
// image writer) is named "." + the target's name (cut to fit) + ".lg<kind>-<token>",
// always within 255 bytes, the token being 16 lower-case hex digits. It is
// owned by a lock file ".lglock-<token>" beside it, whose record names the
// kind, the target's whole name and the temporary, and — once the temporary
// exists — its identity (device, inode and type); its maker holds it locked
// (flock) for as long as it lives. A name taken by anyone else meanwhile gets
// the attempt dropped (its lock goes) and another token tried, a few times.
//
// The cleanup reads a folder (any spelling of it) before the first temporary
// this process makes there, and again only once something of ours was left
// there; before later temporaries it looks again only at the locks it found
// held by other processes (which may since have been killed). It also runs at
// start for every folder the journal names (below). What it finds is untrusted: it acts only on a lock
// file that it owns (the user the file system checks is this process's), can
// lock, and whose record is byte for byte what this program writes (a kind it
// writes, the token of the lock file's own name, one valid target name, and
// the temporary name made from those), and only on the temporary that record
// names when it owns that too and it is the very item recorded (same inode
// and type, on the same device or on the folder's own file system come back
// under another device number; on a file system that numbers its files afresh
// at each mount, the same type in a folder as below). A record without identity (written by an older version, or
// by a process killed between making the temporary and recording it) counts
// only in a folder where nobody but the user can have renamed anything onto the
// temporary's name: one the user owns that no one else may write, or a sticky
// one owned by the user or the superuser. A partial copy or write is removed
// (by handle, see Removal.h; a mount point is left), and so is the target a
// folder Replace exchanged its temporary with (the record names both items
// before the exchange) once the incoming item stands under the target's name;
// an unfinished copy into the
// home Trash goes with the .trashinfo made for it when that file is exactly as
// it was when the copy began and nothing stands under the item's own name; an
// item set aside goes back under its own name, else under the next free
// numbered name (the name's bytes kept), else stays where it is (it is never
// deleted). Anything else — a lock that is held (a live copy in any process,
// container or NFS client), another user's lock or temporary, a record that is
// not exactly ours, an item that is not the one recorded, a file that no lock
// names — is left alone, and so is whatever it names. Where no record can
// exist yet, what a kill left is known by being empty, ours and older than
// this process: an empty lock (killed before its record was written) goes, and
// so does an empty placeholder (see placeholderMode) at a temporary's name.
// Two more kinds of lock record are read by the same cleanup: that of a
// read-only folder opened up (OpenedUpFolder) and that of a placeholder on a
// disk that keeps no modes (PlaceholderRecord); in a Trash's files/ it also
// removes the .trashinfo files a kill left without their items (Trash.h).
//
// Any thread; an owner is used by one thread at a time. Failures come back as
// errno values; nothing is shown to the user here.
#include <QByteArray>
#include <QList>
#include <QString>

#include <ctime>

#include "platform/files/FolderRecords.h"

struct stat;

namespace lg {

enum class TemporaryKind {
    Copy,       // an unfinished copy, or the item a Replace swapped out: removed
    Write,      // an unfinished image write: removed
    SetAside,   // the target itself, moved out of the way: put back
};

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
    // target (nothing is made there yet). Invalid, with *error an errno value,
    // when the folder cannot be written.
    // A set-aside owner records the identity of what is to be renamed to the
    // temporary at once: the target itself, or incoming when given (an item
    // brought beside the target, recorded with the path it came from, where
    // the cleanup puts it back), so a kill right after that rename finds it.
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
    QByteArray m_from;           // raw path an incoming item came from; empty otherwise
    bool m_exchanging = false;   // the record names the item to be exchanged with, below
    quint64 m_replacedDevice = 0, m_replacedInode = 0;
    quint32 m_replacedType = 0;
    QByteArray m_trashInfo;   // the record's line for a .trashinfo that goes with the copy; may be empty
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
