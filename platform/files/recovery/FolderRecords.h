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

#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <vector>

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
    // The token in the lock's name; empty when invalid.
    QByteArray token() const;
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
    bool m_listed = false;   // its token is in the journal's entry of its folder (a card)
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
// in the target's folder names the target, and the item to be renamed (as
// reached from that folder on its disk), before the placeholder is made, and
// the placeholder's identity (device, inode, type), mode and volume once it is
// made.
// The cleanup removes what stands at the name only when the maker is gone and
// it is an empty folder or empty file of the user's, on the folder's own
// volume, that is the placeholder recorded with the mode recorded; with no
// identity recorded yet (a kill right after it was made), only an item with
// no mode bits at all (placeholderMode) from before the process cleaning, on
// a disk that keeps modes. On a disk that numbers its files afresh at each
// mount (FAT, exFAT, any FUSE) no identity counts: there a placeholder holds
// its record's token (token(): a file as its bytes, a folder as the empty
// file placeholderMarker names), which the rename takes away with it, and the
// cleanup removes only what holds it, so a card's own empty folders and files
// are never taken for placeholders. A placeholder folder there whose filling
// a kill stopped (it holds its marker and more, or it was left empty right
// before the rename onto it) is filled by the cleanup from the item the
// record names, reached without following a link nor leaving its file
// system, so the folder stands whole under its name; entries are only
// moved, never removed.
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
    // What the placeholder holds on a card; empty without a record.
    QByteArray token() const { return m_lock.token(); }

private:
    RecordLock m_lock;
    QByteArray m_record;
    QByteArray m_volume;   // of the target's folder, named with what was made
};

namespace temporaries {

// What one reading of a folder learns once for all the records it finds
// there, at the first record that needs it: the volume the folder lies on,
// its sub-folders by inode, whether its disk numbers its files afresh, and
// (from the user's own journal, where the reader has it) the tokens of what
// dead processes may have left there. A folder of thousands of records is
// read in time linear in its size.
class FolderLook
{
public:
    explicit FolderLook(int folderFd, const std::set<QByteArray> *listed = nullptr)
        : m_fd(folderFd), m_listed(listed)
    {
    }
    int fd() const { return m_fd; }
    // The folder's volume ("uuid:..." or "fsid:..."); empty when it cannot be told.
    const QByteArray &volume();
    // The names of the folder's sub-folders (not links) whose inode is inode.
    std::vector<QByteArray> foldersWithInode(quint64 inode);
    // The folder's disk numbers its files afresh at each mount (a card): an
    // inode number there is no identity.
    bool numbersFilesPerMount();
    // On such a disk, what carries token in its name is the user's own: the
    // user's journal lists token for this folder.
    bool isOwnByName(const QByteArray &token);

private:
    int m_fd;
    const std::set<QByteArray> *m_listed;
    std::optional<QByteArray> m_volume;
    std::optional<std::multimap<quint64, QByteArray>> m_folders;
    std::optional<bool> m_numbersFilesPerMount;
};

// When text is the record of a folder opened up or of a placeholder, in the
// lock of token: what it names in the folder look reads is put right (the
// mode set back, the placeholder removed) where it is still what was
// recorded, and true. A record that names another volume than the folder's
// is obeyed in nothing; on a card a placeholder is known by the token it
// holds (PlaceholderRecord), never by its inode number.
bool settleFolderRecord(FolderLook &look, const QByteArray &text, const QByteArray &token, uid_t user);
// text is byte for byte the record of a folder opened up or of a placeholder.
bool isFolderRecord(const QByteArray &text);
// The empty file by which a placeholder folder on a card, made under the
// record whose lock has token, is known as ours.
QByteArray placeholderMarker(const QByteArray &token);
// What stands at path looks like a placeholder a kill left (an empty item of
// no mode bits, or one holding a token as a card's placeholder does): no item
// of the user's stands there. For words only; nothing is removed for it.
bool looksLikePlaceholder(const QByteArray &path);

} // namespace temporaries

} // namespace lg
