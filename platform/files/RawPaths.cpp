// Paths by their bytes inside the file layer.
#include "platform/files/RawPaths.h"

#include "platform/files/FileNames.h"


namespace lg {

QByteArray enc(const QString &path) { return lg::FileNames::toNative(path); }
QString decoded(const QByteArray &path) { return lg::FileNames::fromNative(path); }

QByteArray joinRaw(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

} // namespace lg
