// Paths by their bytes inside the file layer.
#include "platform/files/names/RawPaths.h"

namespace lg {

QByteArray joinRaw(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

bool isAtOrUnder(const QByteArray &path, const QByteArray &folder)
{
    return folder == "/" || path == folder || path.startsWith(folder + '/');
}

} // namespace lg
