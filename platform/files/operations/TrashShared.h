#pragma once
// What Trash.cpp lends to the cleanup of leftovers inside platform/files. Not
// for use outside this room; see Trash.h.
#include <QByteArray>

namespace lg::temporaries {

// The .trashinfo files of the Trash whose files/ is open as filesFd (at
// filesPath) that a killed process of ours left without their items go (see
// Trash.cpp); any other folder is left alone.
void removeOrphanTrashInfos(int filesFd, const QByteArray &filesPath);

} // namespace lg::temporaries
