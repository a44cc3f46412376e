#pragma once
// Which module folders and files may be trusted: only root and the program's
// user may change them (room-internal; Modules.h says the rule whole). Any
// thread; the users' list is walked by one thread at a time.
#include "platform/modules/Modules.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace lg::image {

// Whether root or the program's user owns what st describes.
bool ownedByUs(const struct stat &st);
// Whether users other than the owner of what st describes may change it.
bool othersMayWrite(const struct stat &st);
// Why a link in a module's place is not followed.
enum class LinkRefusal { None, Elsewhere, Loop, TooMany };

// Opens the module file name in the folder open as folderFd (whose real path
// is folder), a link only to a file of that same folder, by its name there
// (never through another folder a link names); -1 with refusal and reason set
// when a link leads elsewhere, round in a loop or through more than eight
// links, -1 alone when there is nothing to open.
int openInFolder(int folderFd, const QByteArray &folder, QByteArray name, LinkRefusal *refusal, QString *reason);

} // namespace lg::image
