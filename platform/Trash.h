#pragma once
// Move to Trash as freedesktop.org lays the Trash out, so the desktop's
// file manager can restore what was trashed: the item goes to
// $XDG_DATA_HOME/Trash/files (or $topdir/.Trash-$uid on another mount) under a
// unique name, with a .trashinfo holding its original path and the deletion date.
// Blocking; any thread. Nothing is shown to the user here.
#include "platform/FileOperations.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace lg {

// result.target is the trashed item's path inside the Trash's files folder.
// The home folder itself is never trashed (Denied).
FileOpResult moveToTrash(const QString &path);

// The Trash folder (holding files/ and info/) that moveToTrash would use.
QString trashFolderFor(const QString &path);

struct TrashInfo
{
    QString originalPath;
    QDateTime deletionDate;
};
// Reads a .trashinfo file; none when it is not one.
std::optional<TrashInfo> readTrashInfo(const QString &trashInfoPath);

} // namespace lg
