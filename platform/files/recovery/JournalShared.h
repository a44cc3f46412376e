#pragma once
// What Journal.cpp lends to the temporaries, the notes of stopped moves, the
// folder records and the Trash inside platform/files: the disk a record names
// and where it is now, and the journal's folder and entries. Not for use
// outside this room; see Journal.h.
#include <QByteArray>

#include <optional>
#include <sys/types.h>

namespace lg::temporaries {

// The disk that path lies on, as one field of a record: where it is mounted,
// its device, the part of it mounted there and its file system's identity
// (see Journal.cpp), each percent-encoded, joined by ':'; empty when it
// cannot be told. May block on a share whose server is away.
QByteArray diskFieldOf(const QByteArray &path);
// The file system's own identity ("uuid:<UUID>" or "fsid:<type>:<hex>") of
// the disk path lies on, as diskFieldOf records it; empty when it cannot be
// told. May block on a share whose server is away.
QByteArray volumeOfPath(const QByteArray &path);
// field is exactly as diskFieldOf writes one.
bool isDiskField(const QByteArray &field);
// Where path, on the disk that field names, is now: path itself while that
// disk is mounted as it was (or field names none), its place on that disk
// mounted at another place, or none while the disk is not mounted at all (an
// unplugged card, a share not mounted yet).
std::optional<QByteArray> whereOnDiskNow(const QByteArray &path, const QByteArray &field);

// The journal: its entries are at most this long.
constexpr int maxJournalBytes = 8192;
// The journal's folder (where the state folder is now), and the folder opened,
// made (0700) where missing with make; -1 when it cannot be opened.
QByteArray journalFolder();
int openJournalFolder(bool make);
// This process is about to hold temporaries in folder: noted, synced, in the
// journal. Best effort: a journal that cannot be written does not stop the write.
void journalAcquire(const QByteArray &folder);
// One temporary in folder is done with; left says that something of it stays.
void journalRelease(const QByteArray &folder, bool left);
// On a disk whose driver numbers its files afresh (a card), what is ours is
// known by the token in its names: folder's entry lists token (listed), before
// anything of that name is made there, or no longer (once nothing of it is
// left). Between journalAcquire and journalRelease of folder; synced. False
// when the entry could not be written (it lists what it did before).
bool journalListToken(const QByteArray &folder, const QByteArray &token, bool listed);
// The entry name of the journal folder open as dirFd when it is user's
// regular file of one name, no longer than an entry may be, and no living process holds it:
// opened with access (O_RDONLY or O_RDWR), locked, and read into *text. -1
// otherwise (another user's, a link, a file with another name too, a live process's, or changed meanwhile).
int openDeadEntry(int dirFd, const QByteArray &name, int access, uid_t user, QByteArray *text);

} // namespace lg::temporaries
