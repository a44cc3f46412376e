// A folder's entries by the bytes of their names.
#include "platform/files/names/FolderEntries.h"
#include "platform/files/names/FileNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

bool forEachEntryOf(int folderFd, const std::function<bool(const FolderEntry &)> &visit)
{
    const int listed = ::dup(folderFd);
    if (listed < 0)
        return false;
    DIR *dir = ::fdopendir(listed);
    if (!dir) {
        ::close(listed);
        return false;
    }
    ::rewinddir(dir);   // the duplicate shares the offset of folderFd
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        if (!visit({name, entry->d_type, entry->d_ino, folderFd}))
            break;
    }
    ::closedir(dir);   // closes the duplicate only
    return true;
}

bool forEachFolderEntry(const QString &folder, const std::function<void(const FolderEntry &)> &visit,
                        struct stat *folderStat)
{
    const int fd = ::open(FileNames::toNative(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool read = (!folderStat || ::fstat(fd, folderStat) == 0)
        && forEachEntryOf(fd, [&](const FolderEntry &entry) { visit(entry); return true; });
    ::close(fd);
    return read;
}

} // namespace lg
