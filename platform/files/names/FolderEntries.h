#pragma once
// The entries of a folder as the disk names them: by the bytes of their names,
// so that a name that is not UTF-8 comes along (FileNames::fromNative carries
// it), and with what the listing tells without a stat of each (type, inode),
// beside the folder's handle for whatever the caller asks of an entry then.
// Any thread; it blocks on the disk. A folder that cannot be opened (gone, not
// a folder, not readable) gives false and no entry.
#include <QString>

#include <functional>
#include <sys/types.h>

struct stat;

namespace lg {

struct FolderEntry
{
    const char *name = nullptr;   // as the disk holds it, never "." or ".."; valid during the call
    unsigned char type = 0;       // DT_DIR, DT_REG, DT_LNK ..., DT_UNKNOWN where the file system does not say
    ino_t inode = 0;              // as the listing gives it
    int folderFd = -1;            // the folder's handle, for fstatat and the like; valid during the call
};

// Calls visit for each entry of folder (reached by its bytes, a link to it
// followed), in the disk's order; folderStat, when given, receives the
// folder's own stat. False when the folder could not be opened and read.
bool forEachFolderEntry(const QString &folder, const std::function<void(const FolderEntry &)> &visit,
                        struct stat *folderStat = nullptr);

// The same for a folder already open (the descriptor stays open and is not
// moved on); visit returns false to stop early. False when it could not be read.
bool forEachEntryOf(int folderFd, const std::function<bool(const FolderEntry &)> &visit);

} // namespace lg
