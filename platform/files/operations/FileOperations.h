#pragma once
// Copying, moving, renaming, numbering free names and making folders: every file
// change that a screen asks for goes through here, so the rules live in one place.
// Nothing is ever overwritten silently: an existing target is refused unless the
// caller asked for Replace, and Replace writes beside the target and renames over
// it (a replaced folder is swapped with the new one in one step beside the target
// — a moved folder first goes there under a hidden locked name, so the old one
// never shows in the source's folder — and removed afterwards; what cannot be
// removed is reported). "Never replace" holds on file systems without
// RENAME_NOREPLACE too (a link, or a placeholder made for the item; where the
// driver refuses a rename onto it, as FUSE FAT does, a folder's placeholder is
// filled with the folder's entries, no folder being renamed there). A move across
// file systems copies, checks the copy, and deletes the source entry by entry,
// each only while it is still what was copied (where the disk's times cannot
// tell a rewrite in place — a card, FUSE — by its bytes, read again just
// before): what arrived or changed meanwhile stays, and the result names a few
// of them and says how many. An entry whose name the target's disk refuses (a
// card's rules) is left out, and named with why; the rest of its item arrives.
// A file that changed while it was copied (grew, shrank, edited in place) is
// refused: never reported done. A copy is whole as `cp -a` makes it
// (CopyEntry.h): extended attributes, ACLs, holes and hard links (within the
// item, and across the items of one command: transferItem) come along, and what
// the target cannot hold (attributes, links, permissions) is named in the result
// of an item that still counts as copied. Symbolic links are copied as links,
// never followed; a source swapped for anything but a regular file is refused,
// never waited on. Folders are walked by their names' bytes, so names that are
// not UTF-8 come along; an item given by a name that is not UTF-8 (which a
// QString cannot carry) is refused with a message that says so.
//
// Removal (by directory handle; never into another file system, a mount point
// being left in place and named) is Removal.h's; the hidden temporaries beside a
// target, their locks and the cleanup of what a killed process left are
// Temporaries.h's. This file uses them.
//
// The functions may be called from any thread and block (a batch of items into
// one folder is FileBatch.h's). Nothing here shows an alert: results say what
// happened per item and the caller decides what the user sees.
#include "platform/files/recovery/FileFaults.h"
#include "platform/files/recovery/NoReplaceRename.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/Temporaries.h"

#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lg {

struct CopyContext;

enum class FileOpError {
    None,
    TargetExists,   // the target name is taken and the policy was Refuse
    SameFile,       // source and target are the same file (canonical paths)
    IntoItself,     // a folder into itself or one of its own sub-folders
    InvalidName,    // empty, ".", "..", or containing "/" or NUL
    SourceMissing,
    NoSpace,
    Denied,
    Cancelled,      // not started because the batch was cancelled
    Other,
};

struct [[nodiscard]] FileOpResult
{
    FileOpError error = FileOpError::None;
    QString source;    // the item as given
    QString target;    // where the item is now (or would have gone)
    QString message;   // the system's reason, for the summary alert
    // On a failure: the item did reach target, but something that should have
    // gone could not be removed (message says what is left where).
    bool itemInPlace = false;
    // The entries (paths at target) whose extended attributes or ACLs the
    // target could not hold. The item arrived: when nothing else went wrong
    // it succeeded (ok), and the message names them. A move still removed
    // their sources.
    QStringList attributesNotKept;
    // The entries (paths at target) that were further names of one file in
    // the source but became files of their own, the target being unable to
    // link them; said as above.
    QStringList linksNotKept;
    // The entries (paths at target) whose permissions the target refused
    // (a FUSE driver; never a card, which holds none); said as above.
    QStringList permissionsNotKept;
    // The entries (paths at target) that were further names of one file in
    // the source but became files of their own because the file changed
    // after an earlier item copied it; said as above.
    QStringList linksNotKeptAfterChange;
    // The entries (paths at the source) that were not copied because the
    // target cannot hold them (a name a card refuses, or one another entry
    // took on a disk that does not tell upper from lower case, a symbolic
    // link on a card, a device, socket or pipe); the rest of the item arrived
    // (itemInPlace), and a move left these where they were.
    QStringList entriesRefused;
    bool ok() const { return error == FileOpError::None; }
    // Something the item held could not be kept at the target (the lists above).
    bool hasNotKept() const
    {
        return !attributesNotKept.isEmpty() || !linksNotKept.isEmpty() || !permissionsNotKept.isEmpty()
               || !linksNotKeptAfterChange.isEmpty();
    }
    // The item is at target: done, or done but for what the message names.
    // Its source may still be there in part; ask the disk.
    bool arrived() const { return ok() || itemInPlace; }
};

// What to do when the target name is taken.
enum class ConflictPolicy {
    Refuse,    // TargetExists, nothing changes
    Replace,   // atomic replace; refused (SameFile/IntoItself) where it would lose data
    KeepBoth,  // the next numbered free name ("photo 2.jpg")
};

enum class FileOpKind { Copy, Move, Trash };

// ---- Names ----
// False for "", ".", "..", and names holding "/" or NUL.
bool isValidFileName(const QString &name);

// The first name, starting with name itself, that nothing in folder uses
// (checked on disk, case-insensitively, and against alsoTaken). Numbers go
// "<base><separator><n><.ext>" from firstNumber on; a file splits at its last
// dot ("photo 2.jpg", "archive.tar 2.gz", "notes 2"); a folder, or a name whose
// only dot leads it (".hidden"), is numbered as a whole ("My.Photos 2").
struct NameNumbering
{
    int firstNumber = 2;
    QString separator = QStringLiteral(" ");
    bool isFolder = false;
    // When false the plain name is numbered at once even if it is free
    // (the sidebar's "Untitled Folder" goes name, name 0, name 1: keep true).
    bool tryPlainNameFirst = true;
    // Names longer than this many bytes get a shorter stem ("long… 2.jpg" keeps
    // its number and extension).
    int maxBytes = 255;
};
// The name numbered n (none: the plain name), its stem shortened to fit
// numbering.maxBytes.
QString numberedName(const QString &name, std::optional<qint64> number, const NameNumbering &numbering = {});
QString freeName(const QString &folder, const QString &name, const NameNumbering &numbering = {},
                 const QStringList &alsoTaken = {});

// freeName for a batch: the folder is listed once, and every name handed out
// counts as taken for the names after it (2,000 duplicates list the folder once,
// not 2,000 times). Any thread; one finder per thread.
class FreeNameFinder
{
public:
    explicit FreeNameFinder(const QString &folder);
    // The free name for name, which then counts as taken.
    QString take(const QString &name, const NameNumbering &numbering = {});
    // The free name for name, without taking it.
    QString peek(const QString &name, const NameNumbering &numbering = {}) const;
    void addTaken(const QString &name);

private:
    bool isFree(const QString &candidate) const;
    QString m_folder;
    QSet<QString> m_taken;   // lower-cased
};

// How a folder's file system compares names: vfat, exFAT, NTFS, HFS+ and SMB
// shares find "photo.jpg" under "Photo.jpg".
enum class NameCase { Sensitive, Insensitive };
NameCase nameCaseForFileSystem(qint64 statfsType);
NameCase nameCaseOf(const QString &folder);   // Sensitive when it cannot be told
// The form under which such a file system finds name (case-folded or as it is).
QString nameKey(const QString &name, NameCase nameCase);

// Empty when every name on path can be read; otherwise a message that the name
// of the first part that is not UTF-8 on disk cannot be read.
QString unreadableNameMessage(const QString &path);

// ---- Comparisons (canonical paths; whole path components) ----
// Both exist and are the same file (same device and inode, links resolved).
bool isSameFile(const QString &a, const QString &b);
// folder is path itself or one of its ancestors, after resolving links.
bool isInsideCanonical(const QString &path, const QString &folder);
// Something is at path: a file, a folder, or a link (also one whose target has
// gone). One lstat; any thread.
bool existsOrLink(const QString &path);

// ---- Single items (any thread, blocking) ----
// The kind of failure an errno value stands for (None for 0).
FileOpError errorForErrno(int err);

FileOpResult copyItem(const QString &source, const QString &targetFolder,
                      ConflictPolicy onConflict = ConflictPolicy::Refuse, const QString &targetName = {});
// rename() within a file system; copy, verify, then delete across file systems.
// Moved with KeepBoth into the folder it lies in, under its own name, the item
// stays as it is (the result's target is the source).
FileOpResult moveItem(const QString &source, const QString &targetFolder,
                      ConflictPolicy onConflict = ConflictPolicy::Refuse, const QString &targetName = {});
// copyItem (kind Copy) or moveItem (kind Move) as one item of a command:
// links are shared by its items, so that a file chosen under two names (or a
// name of a file inside a folder chosen too) stays one file with as many
// names at the target, as `cp -a a b dst/` keeps it.
FileOpResult transferItem(FileOpKind kind, const QString &source, const QString &targetFolder,
                          ConflictPolicy onConflict, const QString &targetName, CopyContext &links);
// The plain files a batch moved across disks whose originals are still to be
// removed: they go together once their group is full and before any other
// item of the batch, after one sync of the folder their copies are named in
// and one of their notes, rather than after syncs of their own each. A kill
// meanwhile leaves the group's items in both places, each told by its note at
// the next start.
class MovesToFinish
{
public:
    MovesToFinish();
    ~MovesToFinish();
    MovesToFinish(const MovesToFinish &) = delete;
    MovesToFinish &operator=(const MovesToFinish &) = delete;

    bool isEmpty() const { return m_moves.empty(); }
    bool isFull() const;
    bool holds(const QString &source) const;
    // Removes the originals held, each while it is still what was copied, and
    // gives each move's result, in the order they came.
    QList<FileOpResult> finish();

    struct Move;
    void add(std::unique_ptr<Move> move);

private:
    std::vector<std::unique_ptr<Move>> m_moves;
    qint64 m_bytes = 0;
};

// Renames within its folder; never replaces (a taken name gives TargetExists),
// never follows links. A change of case only renames the item itself.
FileOpResult renameItem(const QString &path, const QString &newName);
// Makes folder/name; a taken name gives TargetExists.
FileOpResult createFolder(const QString &folder, const QString &name);

// The summary after a batch: none when every item succeeded; otherwise the
// title "Some items could not be processed." and a text naming how many failed
// and each one's reason, a line each (the first maxFailuresNamed, then how
// many more).
constexpr qsizetype maxFailuresNamed = 10;
struct FailureSummary
{
    QString title;
    QString text;
};
std::optional<FailureSummary> failureSummary(const QList<FileOpResult> &results);
// The one alert after a batch of kind: failureSummary's when an item failed,
// the items that arrived without something they held (hasNotKept) named after
// the failures; when every item arrived but some without something they
// held, an informational one ("The items were copied, but some of what they
// held could not be kept.", moved or put in the Trash alike) naming each and
// what was not kept. None when there is nothing to tell.
struct BatchSummary
{
    QString title;
    QString text;
    bool informational = false;   // nothing failed
};
std::optional<BatchSummary> batchSummary(const QList<FileOpResult> &results, FileOpKind kind);

} // namespace lg

Q_DECLARE_METATYPE(lg::FileOpResult)
