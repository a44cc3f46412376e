#pragma once
// Lock records that are not a temporary's: a read-only folder opened up for a
// move or a removal, and a placeholder that holds a name for a rename that
// cannot replace. Each is written and synced before the step it guards and
// goes once the step is done; the start-up cleanup settles what a kill left
// (settleFolderRecord below).
//
// Any thread; an owner is used by one thread at a time. A record that cannot
// be written leaves its owner empty and the work goes on as before.
#include <QByteArray>

#include <sys/stat.h>

namespace lg {

// A lock file of this process (".lglock-<token>", locked while it lives) whose
// record is not a temporary's: see OpenedUpFolder and PlaceholderRecord. The
// folder it lies in is noted in the journal for its life.
class RecordLock
{
public:
    RecordLock() = default;
    RecordLock(RecordLock &&other) noexcept;
    RecordLock &operator=(RecordLock &&other) noexcept;
    RecordLock(const RecordLock &) = delete;
    RecordLock &operator=(const RecordLock &) = delete;
    ~RecordLock() { release(); }
    // Made in the folder open as dirFd (path folder, for the journal), locked,
    // with text written and synced; invalid when that cannot be done.
    static RecordLock make(int dirFd, const QByteArray &folder, const QByteArray &text);
    bool isValid() const { return m_lockFd >= 0; }
    // text in place of the record: a new file renamed over it, never written
    // over in place.
    bool rewrite(const QByteArray &text);
    // The lock file goes, and the journal's note of its folder with it.
    void release();

private:
    int m_dirFd = -1;
    int m_lockFd = -1;
    QByteArray m_lockName;
    QByteArray m_folder;
};

// A read-only folder given its user's write bit (or all the user's bits) for
// a move or a removal, recorded so that a kill before its mode is set back
// leaves nothing wider: before the chmod, a lock record beside it (in its
// parent) names it by its name there, its identity (device and inode), its
// mode, the mode it is given and the volume it lies on; for a move, a second record in the folder it
// goes into names it by its name there. Each record is synced, and goes once
// the mode is back or the folder is gone. A record names only what lies in the
// folder it was written in: the cleanup reaches that by handle, without
// following a link, and sets the mode back only where the folder under its
// name or renamed within that folder, on that folder's own volume, is still
// that folder (its inode, on the device recorded, or on the volume recorded
// come back under another device number) with exactly the mode it was given, the
// user's; then the record goes. A folder the user moved anywhere else keeps
// the mode it has. Nothing is ever widened.
class OpenedUpFolder
{
public:

    // Records that the folder name in the folder open as parentFd (whose path
    // parentPath the journal keeps), examined as examined, is about to get
    // mode given; movedTo, when not empty, is the absolute path it is moved
    // to. Best effort: without a record (a parent that cannot be written)
    // the owner is empty and the work goes on as before.
    static OpenedUpFolder record(int parentFd, const QByteArray &parentPath, const QByteArray &name,
                                 const struct stat &examined, unsigned given, const QByteArray &movedTo = {});
    // The same for the folder at path.
    static OpenedUpFolder record(const QByteArray &path, const struct stat &examined, unsigned given,
                                 const QByteArray &movedTo = {});
    // Its mode is back, or it is gone: the records go (so they do with the owner).
    void done()
    {
        m_movedLock.release();
        m_lock.release();
    }

private:
    RecordLock m_lock;
    RecordLock m_movedLock;   // in the folder it is moved into
};

// A name held by a placeholder (see renameWithoutReplacingRaw): a lock record
// in the target's folder names the target before the placeholder is made, and
// the placeholder's identity (device, inode, type), mode and volume once it is
// made.
// The cleanup removes what stands at the name only when the maker is gone and
// it is an empty folder or empty file of the user's, on the folder's own
// volume, that is the placeholder recorded with the mode recorded; with no
// identity recorded yet (a kill right after it was made), only an item with
// no mode bits at all (placeholderMode) from before the process cleaning, on
// a disk that keeps modes. On a disk that numbers its files afresh at each
// mount (FAT, exFAT) nothing but the exact identity counts, so a card's own
// empty folders and files are never taken for placeholders.
class PlaceholderRecord
{
public:

    // Before the placeholder for a rename of from to target is made (absolute
    // paths; "/proc/self/fd/N/..." is resolved). Best effort: empty when no
    // record can be written.
    static PlaceholderRecord before(const QByteArray &from, const QByteArray &target);
    // The placeholder was made: its identity and mode go into the record.
    void made(const struct stat &placeholder);
    // The rename is done, or the placeholder gone: the record goes (so it does with the owner).
    void done() { m_lock.release(); }

private:
    RecordLock m_lock;
    QByteArray m_record;
    QByteArray m_volume;   // of the target's folder, named with what was made
};

namespace temporaries {

// When text is the record of a folder opened up or of a placeholder: what it
// names in the folder open as folderFd is put right (the mode set back, the
// placeholder removed) where it is still what was recorded, and true.
bool settleFolderRecord(int folderFd, const QByteArray &text, uid_t user);
// text is byte for byte the record of a folder opened up or of a placeholder.
bool isFolderRecord(const QByteArray &text);

} // namespace temporaries

} // namespace lg
