#pragma once
// Move to Trash as freedesktop.org lays the Trash out, so the desktop's
// file manager can restore what was trashed: the item goes to
// $XDG_DATA_HOME/Trash/files (or, on another mount, $topdir/.Trash/$uid when
// $topdir/.Trash is a real folder with the sticky bit, else $topdir/.Trash-$uid;
// the top found from the item's real folder, so a link to a card leads to the
// card's top) under a unique name, with a .trashinfo holding its original path
// and the deletion date.
// A Trash folder and its files/ and info/ are used only when each is a real
// folder (not a link), on another disk one that the user owns, as is a home
// Trash reached through a link (the user's own, kept elsewhere: its folder and
// its files/ and info/ must be the user's); those made here get mode 0700. They are opened once per command, and the item is renamed and
// its .trashinfo made from those open folders, never by their paths again: a
// card's crafted .Trash-$uid/files that links elsewhere, or another user's
// .Trash/$uid, never receives an item.
// The name is claimed by making the .trashinfo with O_EXCL (the Trash is never
// listed), numbered where it is taken and shortened to fit 255 bytes; it is
// held locked (flock) until its item is in, and the Trash's files/ is noted in
// the journal of folders (Journal.h) meanwhile, so that one a kill left without
// its item is removed by the cleanup: only one exactly as this program writes
// it (with a key of its own that other readers ignore), or an empty one that a
// kill left between its making and its writing, the user's, from
// before the process cleaning, unlocked, naming nothing in files/. A mount
// without a usable Trash gets the item copied to the home Trash: only when all of
// it can then be removed (the refusal says why, and why the disk's own Trash is
// not used); when removal still fails part-way, the .trashinfo stays
// and the result says what is left where. A link is trashed as a link. An item
// given by a name that is not UTF-8 is refused with a message that says so.
// Blocking; any thread. Nothing is shown to the user here.
#include "platform/files/operations/FileOperations.h"
#include "platform/files/recovery/TrashLeftovers.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>

namespace lg {

// result.target is the trashed item's path inside the Trash's files folder.
// The home folder itself is never trashed (Denied).
FileOpResult moveToTrash(const QString &path);

// moveToTrash for each path, in order, one result per path. Between items it
// stops when *cancel is set or the quit has begun (lg::isShuttingDown): what was
// trashed stays trashed, and the items not started come back Cancelled.
// refusal, when given, is asked right before each item is trashed: a result it
// gives is that item's, and the item is left as it is.
using TrashRefusal = std::function<std::optional<FileOpResult>(const QString &path)>;
QList<FileOpResult> moveAllToTrash(const QStringList &paths, const std::atomic<bool> *cancel = nullptr,
                                   const TrashRefusal &refusal = {});

// The Trash folder (holding files/ and info/) that moveToTrash would use.
QString trashFolderFor(const QString &path);
// The home Trash: homeTrashFolder (TrashLeftovers.h).

// Tests: items inside folder are taken as lying on another disk whose top
// folder is folder (on the same file system, so the same rules run without a
// mount). Empty: none. Any thread.
void setDiskTopForTesting(const QString &folder);

struct TrashInfo
{
    QString originalPath;
    QDateTime deletionDate;
};
// Reads a .trashinfo file; none when it is not one.
std::optional<TrashInfo> readTrashInfo(const QString &trashInfoPath);

} // namespace lg
