#pragma once
// Move to Trash as freedesktop.org lays the Trash out, so the desktop's
// file manager can restore what was trashed: the item goes to
// $XDG_DATA_HOME/Trash/files (or $topdir/.Trash-$uid on another mount, the top
// found from the item's real folder, so a link to a card leads to the card's top) under a
// unique name, with a .trashinfo holding its original path and the deletion date.
// The name is claimed by making the .trashinfo with O_EXCL (the Trash is never
// listed), numbered where it is taken and shortened to fit 255 bytes. A mount
// without a usable Trash gets the item copied to the home Trash: only when all of
// it can then be removed; when removal still fails part-way, the .trashinfo stays
// and the result says what is left where. A link is trashed as a link. An item
// given by a name that is not UTF-8 is refused with a message that says so.
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
