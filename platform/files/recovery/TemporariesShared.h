#pragma once
// What Temporaries.cpp lends to the journal of folders, the notes of stopped
// moves, the folder records and the Trash inside platform/files: raw-path
// helpers, the token rule and the reading of one folder for leftovers. Not
// for use outside this room; see Temporaries.h, and JournalShared.h and
// TrashLeftovers.h for what Journal.cpp and Trash.cpp lend.
#include "platform/files/names/RawPaths.h"

#include <QByteArray>
#include <QString>

#include <set>
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

// Puts text in place of the record file name of the folder open as dirFd
// (AT_FDCWD: name is a path), which this process holds open and locked as *fd:
// a new file making (beside it) is made, locked, written and synced, and
// renamed over it; *fd is the new one then, still locked, and the old one is
// closed. A record is never written over in place (a FUSE FAT driver puts a
// write at offset 0 of an existing file at its end). False, with nothing
// changed and making gone, when that cannot be done.
bool replaceRecordFile(int dirFd, const QByteArray &name, const QByteArray &making, int *fd, const QByteArray &text,
                       bool sync = true);
// The name of the file a lock's new record is written to before it goes over the lock.
QByteArray newRecordName(const QByteArray &lockName);
// The token of the lock file at lockPath (".../.lglock-<token>").
QByteArray lockToken(const QByteArray &lockPath);

// What one reading of a folder found.
struct Scan
{
    bool complete = false;           // every lock was looked at
    std::vector<QByteArray> held;    // locks held by other processes
    bool leftOurs = false;           // something of ours that could not be dealt with
    bool ownFound = false;           // on a card, a lock of a token listed was there
};
// What killed processes left in folder: see Temporaries.h. With always, the
// folder is read even when this process read it before. *found gets what was
// found; false when the folder cannot be opened (*err then says why). listed:
// the tokens that the user's journal lists for the folder, by which what is
// ours is known on a card (FolderLook).
bool cleanLeftovers(const QByteArray &folder, bool always, Scan *found = nullptr, int *err = nullptr,
                    const std::set<QByteArray> *listed = nullptr);

} // namespace lg::temporaries
