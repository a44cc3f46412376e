#include "platform/FileIdentity.h"

#include <QFile>

#include <sys/stat.h>

namespace lg {

std::optional<FileIdentity> fileIdentity(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

} // namespace lg
