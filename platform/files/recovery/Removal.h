#pragma once
// Removal of an item and all it holds: the old item a Replace swapped out, the
// source of a move across file systems once its copy is in place (a Trash by
// copy too), an unfinished copy, and the stale temporaries the cleanup finds
// (see Temporaries.h).
//
// A removal walks by directory handle, never by a path string resolved again:
// each entry is examined where it lies (fstatat, links not followed), a folder
// is opened from its parent's handle without following a link and entered only
// when the folder opened is the one examined (same device and inode), and
// entries go by unlinkat in the folder opened. A link is removed as a link and
// never followed. A folder swapped for a link or for another folder between the
// examination and the entering is left where it is, with all it holds.
// Removal never crosses into another file system: a mount point (another file
// system or a bind mount), the top of what is removed included, is left in
// place untouched (EBUSY). A read-only folder of ours is made writable (once
// its mode is recorded beside it, see OpenedUpFolder in FolderRecords.h) before
// it is emptied; whatever else cannot go is left and reported.
//
// Blocking; any thread. A removal goes on past a failure, removes what it can
// and returns the first error (an errno value, or changedWhileRemoved) with the
// place where it happened. Nothing is shown to the user here. A removal
// walks with a stack of folder handles of its own (not the thread's stack),
// reads the mount table at most once, gives a folder it opened up and could
// not remove its mode back, and stops between entries once the program quits
// (ECANCELED; what is left stays whole), at once or, for what this run made
// (removeMadeByThisRun), within a bound.
//
// The delete step of a move across file systems removes only what was copied:
// an entry goes only while it is still exactly what was copied (same device
// and inode, type, and for all but folders the same size, modification time
// and inode change time, which no program can set back); anything new or
// changed stays, with the folders that hold it, and is counted. A file with
// several names gets a new change time from the removal of each earlier name:
// its later names must show exactly the one that unlink left (taken through a
// handle held across it), so an edit made through them meanwhile still counts.
// No file is read again for this: on a card, whose drivers keep no change time
// of their own, a rewrite in place that puts the modification time back goes
// unseen, as it does for `mv`.
#include "platform/files/names/FileIdentity.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <ctime>
#include <functional>
#include <optional>
#include <utility>
#include <sys/types.h>
#include <vector>

struct stat;

namespace lg {

// An error of our own beside the errno values: a folder was swapped (for a
// link or another folder) between its examination and its removal.
constexpr int changedWhileRemoved = -3;
// Another: folders nested deeper than a removal goes (thousands of levels).
constexpr int tooDeepToRemove = -4;

// Removes path and all it holds (a link as a link). 0 when nothing is left
// (also when nothing was there); otherwise the first error, and *failedAt names
// the place where it happened.
int removeTree(const QString &path, QString *failedAt = nullptr);

// How long a removal of what this run made goes on once the program quits (ms).
constexpr int quitRemovalBoundMs = 400;
// removeTree for what this run made and will not finish (an unfinished copy
// of its own, hidden beside its target): a quit does not stop it at once, so
// that the quit leaves no hidden copy and no lock behind; it goes on for at
// most quitRemovalBoundMs after it first sees the quit, and then stops
// (ECANCELED) with what is left still named by its lock, for the start-up
// cleanup (so a quit still ends within a second).
int removeMadeByThisRun(const QString &path, QString *failedAt = nullptr);
// Tests: the clock (ms) that bound is measured by; empty puts the steady clock back.
void setRemovalClockForTesting(std::function<qint64()> nowMs);

// What a copy was made from: the identity of each entry as it was copied, by
// its path below the item's top (the top itself under "").
using CopiedEntries = QHash<QByteArray, FileIdentity>;

// A file a removal took a name of: as it was before its first name here went
// (size, times), and the change time its last unlink here left it with; gone
// when that was its last name.
struct UnlinkedName
{
    off_t size = 0;
    struct timespec modified {};
    struct timespec changedBefore {};
    struct timespec changedAfter {};
    bool gone = false;
};

struct RemovalResult
{
    int error = 0;             // the first error, as removeTree returns it
    QString failedAt;          // where it happened
    qint64 kept = 0;           // entries left because they were not what was copied
    QStringList keptEntries;   // the first few of them, by path below the top ("" for the top)
    QStringList mountPoints;   // every mount point left in place
    // With copied: the regular files of which this removal took a name, by
    // device and inode.
    QHash<std::pair<dev_t, ino_t>, UnlinkedName> unlinkedNames;
};
// removeTree, telling all it left. With copied, only what is still exactly
// what was copied goes (see above); a kept entry is not an error.
RemovalResult removeTreeReporting(const QString &path, const CopiedEntries *copied = nullptr);
// removeMadeByThisRun, telling all it left: also for the old item a Replace
// swapped out, which a quit does not leave hidden either.
RemovalResult removeMadeByThisRunReporting(const QString &path);

// Removes the entry name (one name, no '/') of the folder open as folderFd,
// whose path folderPath serves only for messages and the fault hook. With
// owner, the entry is removed only when that user owns it (EPERM otherwise).
int removeEntryAt(int folderFd, const QByteArray &folderPath, const QByteArray &name, QByteArray *failedAt,
                  std::optional<uid_t> owner = std::nullopt);

// 0 when path and all it holds could be removed now (its folder may be written,
// it is not a mount point and holds none, and every folder inside may be
// written or opened up by us); otherwise the errno value, with *reason naming
// where it fails. Checks only.
int canRemove(const QString &path, QString *reason = nullptr);

// Why a removal stopped at a place, for messages.
QString removalReason(int err);

// The names in the folder open as folderFd, without "." and "..": false, with
// *err an errno value, when it cannot be read. folderFd stays open.
bool listFolderAt(int folderFd, std::vector<QByteArray> *names, int *err);

// The user the file system checks permissions for on this thread.
uid_t fileSystemUser();

} // namespace lg
