#pragma once
// The copy of one entry and all it holds, as the file layer's copy, move across
// file systems and Trash by copy make it, whole as `cp -a` makes it: a regular
// file's bytes, its permissions (without set-user and set-group id) and its
// times; a folder with everything in it, its mode and times set once its
// entries are in; a symbolic link as a link, never followed. Every entry takes
// its extended attributes along (user.*, the ACLs in system.posix_acl_access
// and system.posix_acl_default; trusted.* and security.* where the process may
// set them, else skipped as cp -a skips them); what the target cannot hold (a
// FAT card, a file system without user.*) does not stop the copy and is named
// in ctx.attributesNotKept, and so do permissions it refuses (a FUSE FAT
// driver refusing chmod) in ctx.permissionsNotKept. Files with more than one
// name stay one file with as many names, within the copied tree and across
// the items of one command that share a context (a later name is linked to
// the newest copy of its file while that copy is still exactly the file as it
// is now; where the target cannot link, or the file changed since, it gets a
// copy of its own and is named in ctx.linksNotKept or ctx.linksChanged). A
// sparse file's holes stay holes: only its data is copied.
// An entry of a folder that the target cannot hold fails alone, and the
// folder's other entries are copied, the refused ones named in
// ctx.entriesRefused with why (EntryRefusal): a name the target's file system
// refuses (a card's: : ? * < > | " \, control characters, bytes that are not
// UTF-8), a name that another entry of the folder took on a disk that does
// not tell upper from lower case ("Case.jpg" beside "case.jpg"), a symbolic
// link where the disk holds none, a device, socket or pipe. A card, which
// cannot hold permissions, is never said to have refused them. Devices,
// sockets and pipes are not copied (ENOTSUP), and a source swapped
// meanwhile for anything but the regular file examined is refused, never
// waited on (changedWhileCopied). So is a file that changed while it was
// copied (it grew, shrank, or was written, given attributes or another mode
// in place): what arrived must be the file as it is when its copy ends, by
// its size and times (and change time where its driver keeps one). A file is
// read once: what is written is what was read, and a failed write or sync
// fails its copy. A rewrite in place that puts the times back (possible on
// a card, whose drivers keep no change time of their own) is not seen, as
// `cp` and `mv` do not see it.
//
// Paths here are the bytes the file system gave, so that a name that is not
// valid UTF-8 is copied as it is. Blocking; any thread. Failures are errno
// values (or changedWhileCopied); on a failure whatever was made at the target
// is left for the caller to remove. Quitting (lg::beginShutdown) stops a copy
// between entries and inside a file's bytes (ECANCELED).
#include "platform/files/names/FileIdentity.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/recovery/Removal.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <map>
#include <optional>
#include <sys/types.h>
#include <ctime>
#include <utility>

struct stat;

namespace lg {

class MovesToFinish;

// An error of our own beside the errno values: the source is not what was
// examined any more (another file, a link or a pipe in its place, or it grew,
// shrank or was edited while it was copied).
constexpr int changedWhileCopied = -2;
// Another: the target's file system refuses the entry's name (a card's rules).
constexpr int nameRefused = -5;

// A name a card's file system refuses: one holding : ? * < > | " \ or a
// control character (a tab, a newline), or bytes that are not UTF-8.
bool isNameACardRefuses(const QByteArray &name);
// The characters of name that a card refuses, each once, in the order found.
QByteArray charactersACardRefuses(const QByteArray &name);

// Why the target cannot hold an entry.
enum class EntryRefusal {
    Name,        // its file system refuses the name (see isNameACardRefuses)
    CaseTaken,   // it does not tell upper from lower case, and another entry took the name
    Link,        // a symbolic link, where the disk holds none
    Device,      // devices, pipes and sockets are not copied
    Pipe,
    Socket,
};

// An entry not copied because the target cannot hold it.
struct RefusedEntry
{
    QByteArray relative;   // below the item's top (the top as "")
    EntryRefusal why = EntryRefusal::Name;
    QByteArray takenBy;    // CaseTaken: the entry (as relative) that holds the name at the target
};

// What one copy shares between its entries, and what it tells its caller.
struct CopyContext
{
    std::function<void(qint64 bytes)> onBytes;  // may be empty
    bool syncFiles = false;                      // fdatasync each file (moves across devices)
    CopiedEntries *copied = nullptr;             // where set: what each entry was when it was copied
    // Where set (a batch's moves): a plain file moved across disks keeps its
    // original until the batch finishes the moves it holds (MovesToFinish).
    MovesToFinish *movesToFinish = nullptr;
    std::function<void(int fd)> onMade;          // once, when the top item exists (fd open on it, or -1)
    // Where set: the entries (by path below the item's top, the top as "")
    // whose extended attributes or ACLs the target could not hold.
    QList<QByteArray> *attributesNotKept = nullptr;
    // Where set: the entries (as above) that became files of their own
    // because the target could not link them to the copy of their file.
    QList<QByteArray> *linksNotKept = nullptr;
    // Where set: the entries (as above) whose permissions the target refused
    // (never on a card, which holds none).
    QList<QByteArray> *permissionsNotKept = nullptr;
    // Where set: the entries (as above) that are further names of a file an
    // earlier item copied, and became files of their own because the file
    // changed after that copy was made.
    QList<QByteArray> *linksChanged = nullptr;
    // Where set: the entries (as above) of a folder not copied because the
    // target cannot hold them, the rest of the folder copied; without it such
    // an entry fails the copy.
    QList<RefusedEntry> *entriesRefused = nullptr;
    // The kind of each file system met, by device (asked once per copy).
    std::map<dev_t, FileSystemKind> kinds;
    // The newest copy of each file met with more than one name, by the
    // source's device and inode: its later names become links to it while
    // the source still has the size, modification time, change time and
    // mode it was copied with (an edit through any name, of its bytes,
    // attributes or mode, moves the change time), and the copy is still the
    // file made. A
    // name whose file changed since gets a copy of its own, which takes the
    // place of the older one here. A move across disks removes the earlier
    // names of the source before a later item comes: the change time an
    // unlink left is put here then, when the name removed was the file as
    // this copy has it (linkedNamesRemoved).
    struct LinkedCopy
    {
        QByteArray path;               // the copy, under the name it has now
        dev_t device = 0;              // of the copy
        ino_t inode = 0;
        off_t copySize = 0;            // of the copy as made
        off_t size = 0;                // of the source as copied
        struct timespec modified {};
        struct timespec changed {};
        mode_t mode = 0;
    };
    std::map<std::pair<dev_t, ino_t>, LinkedCopy> linkedFiles;
};

// The copies that ctx made under temporary (and below it) now stand under
// target: the links of later items go there.
void linkedCopiesMoved(CopyContext &ctx, const QByteArray &temporary, const QByteArray &target);

// The delete step of a move took names of files that ctx copied: a file whose
// name removed was the file as its copy here has it now shows the change time
// that unlink left, which its later names must show to be linked to the copy;
// a file that lost its last name is forgotten (its inode may come again).
void linkedNamesRemoved(CopyContext &ctx, const QHash<std::pair<dev_t, ino_t>, UnlinkedName> &unlinked);

// err, or nameRefused where err is how a card's file system refuses a name
// and the last part of target is a name a card refuses.
int refusedNameOr(int err, const QByteArray &target, CopyContext &ctx);

// Why the target cannot hold source, whose copy to target (relative below the
// item's top) failed with err; none where err is no such reason (a full disk,
// a source that went). A name taken by another of the folder's entries is
// told only of an entry below the item's top.
std::optional<RefusedEntry> refusalOf(int err, const QByteArray &source, const QByteArray &target,
                                      const QByteArray &relative, CopyContext &ctx);

// Copies source (any kind, links as links) to target, which must not exist;
// relative is source's path below the item's top, for ctx.copied.
int copyEntry(const QByteArray &source, const QByteArray &target, CopyContext &ctx, const QByteArray &relative = {});

// Copies the regular file st describes into a file that gets its name target
// only once it is complete: an unnamed file in target's folder (O_TMPFILE),
// linked in at the end, which never replaces. With verify, the written size
// must be the examined one. ENOTSUP when the file system cannot make unnamed
// files; the caller then copies under a temporary name.
int copyFileUnnamed(const QByteArray &source, const struct stat &st, const QByteArray &target, CopyContext &ctx,
                    bool verify);

// folder/name for raw paths.
inline QByteArray joinRawPath(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// A raw path as a path, its bytes carried (FileNames): for results, messages
// and the fault hook.
inline QString decodedPath(const QByteArray &path) { return FileNames::fromNative(path); }

} // namespace lg
