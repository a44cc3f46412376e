#pragma once
// What the temporaries' locks, the journal of folders, the notes of stopped
// moves and the Trash's cleanup share inside platform/files: raw-path helpers,
// the token rule, the reading of one folder for leftovers and the journal's
// folder. Not for use outside this room; see Temporaries.h, Journal.h,
// StoppedMoves.h and Trash.h.
#include "platform/files/RawPaths.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>
#include <vector>

namespace lg {
struct FileIdentity;
}

namespace lg::temporaries {

// Lock files are ".lglock-<token>".
constexpr char lockPrefix[] = ".lglock-";
constexpr int tokenLength = 16;
// Exactly 16 lower-case hex digits, as claim() makes them.
bool isToken(const QByteArray &token);
// A fresh random token.
QByteArray newToken();
// Numbers separated by ':', each written as QByteArray::number writes it.
bool isNumberList(const QByteArray &text, int count);

// What stands at a name is exactly the item a record says was made
// ("<device>:<inode>:<type>").
bool isExactly(const QByteArray &made, const lg::FileIdentity &id);
// The file system of the folder open as folderFd numbers its files afresh at
// each mount (FAT, exFAT and the like), so an inode recorded says little.
bool numbersFilesPerMount(int folderFd);

// One name a folder can hold on Linux: not empty, ".", "..", nor longer than
// a name may be; no '/' or NUL.
bool isOneName(const QByteArray &name);
// "<device>:<inode>:<type>", as records name what was made.
QByteArray madeText(quint64 device, quint64 inode, quint32 type);
// A lock file this process holds (held) or let go of: never a reason to read
// its folder again.
void noteOwnLock(quint64 device, quint64 inode, bool held);

// What one reading of a folder found.
struct Scan
{
    bool complete = false;           // every lock was looked at
    std::vector<QByteArray> held;    // locks held by other processes
    bool leftOurs = false;           // something of ours that could not be dealt with
};
// What killed processes left in folder: see Temporaries.h. With always, the
// folder is read even when this process read it before. *found gets what was
// found; false when the folder cannot be opened (*err then says why).
bool cleanLeftovers(const QByteArray &folder, bool always, Scan *found = nullptr, int *err = nullptr);

// The disk that path lies on, as one field of a record: where it is mounted,
// its device, the part of it mounted there and its file system's identity
// (see Journal.cpp), each percent-encoded, joined by ':'; empty when it
// cannot be told. May block on a share whose server is away.
QByteArray diskFieldOf(const QByteArray &path);
// field is exactly as diskFieldOf writes one.
bool isDiskField(const QByteArray &field);
// Where path, on the disk that field names, is now: path itself while that
// disk is mounted as it was (or field names none), its place on that disk
// mounted at another place, or none while the disk is not mounted at all (an
// unplugged card, a share not mounted yet).
std::optional<QByteArray> whereOnDiskNow(const QByteArray &path, const QByteArray &field);

// The journal: its entries are at most this long.
constexpr int maxJournalBytes = 8192;
// The journal's folder, made (0700) where missing with make; -1 when it cannot be opened.
int openJournalFolder(bool make);
// This process is about to hold temporaries in folder: noted, synced, in the
// journal. Best effort: a journal that cannot be written does not stop the write.
void journalAcquire(const QByteArray &folder);
// One temporary in folder is done with; left says that something of it stays.
void journalRelease(const QByteArray &folder, bool left);
// The entry name of the journal folder open as dirFd when it is user's
// regular file, no longer than an entry may be, and no living process holds it:
// opened with access (O_RDONLY or O_RDWR), locked, and read into *text. -1
// otherwise (another user's, a link, a live process's, or changed meanwhile).
int openDeadEntry(int dirFd, const QByteArray &name, int access, uid_t user, QByteArray *text);

// The .trashinfo files of the Trash whose files/ is open as filesFd (at
// filesPath) that a killed process of ours left without their items go (see
// Trash.cpp); any other folder is left alone.
void removeOrphanTrashInfos(int filesFd, const QByteArray &filesPath);

} // namespace lg::temporaries
