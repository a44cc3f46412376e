// A folder's entries by the bytes of their names.
#include "platform/files/names/FolderEntries.h"
#include "platform/files/names/FileNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

bool forEachFolderEntry(const QString &folder, const std::function<void(const FolderEntry &)> &visit,
                        struct stat *folderStat)
{
    const int fd = ::open(FileNames::toNative(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (folderStat && ::fstat(fd, folderStat) != 0) {
        ::close(fd);
        return false;
    }
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        visit({name, entry->d_type, entry->d_ino, fd});
    }
    ::closedir(dir);   // closes fd too
    return true;
}

} // namespace lg
