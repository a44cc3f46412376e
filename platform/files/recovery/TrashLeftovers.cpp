// The home Trash, and what a Trash command that was killed leaves there.
#include "platform/files/recovery/TrashLeftovers.h"

#include "platform/base/XdgDirectories.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/runtime/Dispatch.h"

#include <QDateTime>
#include <QList>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

QString homeTrashFolder()
{
    return xdgBaseDirectory(XdgKind::Data) + QStringLiteral("/Trash");
}

namespace {

// A file's stamp as a record beside a temporary holds it: device, inode, size
// and modification time.
QByteArray stampText(const FileIdentity &id)
{
    return QByteArray::number(id.device) + ':' + QByteArray::number(id.inode) + ':' + QByteArray::number(id.size)
           + ':' + QByteArray::number(id.modifiedSeconds) + ':' + QByteArray::number(id.modifiedNanoseconds);
}

// The folder open as folderFd is the home Trash's files/.
bool isHomeTrashFiles(int folderFd)
{
    struct stat folder, files;
    return ::fstat(folderFd, &folder) == 0
           && ::lstat(FileNames::toNative(homeTrashFolder() + QStringLiteral("/files")).constData(), &files) == 0
           && S_ISDIR(files.st_mode) && folder.st_dev == files.st_dev && folder.st_ino == files.st_ino;
}

// The Trash's info/ beside the files/ folder open as filesFd; -1 on failure.
int openTrashInfoFolder(int filesFd)
{
    const int trashFd = ::openat(filesFd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (trashFd < 0)
        return -1;
    const int infoFd = ::openat(trashFd, "info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(trashFd);
    return infoFd;
}

} // namespace

namespace temporaries {

QByteArray trashInfoStamp(int filesFd, const QByteArray &name, uid_t user)
{
    struct stat st;
    if (name.size() + 10 > 255 || !isHomeTrashFiles(filesFd)
        || ::fstatat(filesFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return {};
    const int infoFd = openTrashInfoFolder(filesFd);
    if (infoFd < 0)
        return {};
    const QByteArray info = name + ".trashinfo";
    QByteArray stamp;
    const std::optional<FileIdentity> id = fileIdentityAt(infoFd, info.constData());
    if (id && id->type == S_IFREG && ::fstatat(infoFd, info.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && st.st_uid == user && st.st_nlink == 1)
        stamp = stampText(*id);
    ::close(infoFd);
    return stamp;
}


void removeTrashInfo(int filesFd, const QByteArray &name, const QByteArray &stamp, uid_t user)
{
    struct stat st;
    if (!isHomeTrashFiles(filesFd) || ::fstatat(filesFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
        || errno != ENOENT)
        return;
    const int infoFd = openTrashInfoFolder(filesFd);
    if (infoFd < 0)
        return;
    const QByteArray info = name + ".trashinfo";
    const std::optional<FileIdentity> id = fileIdentityAt(infoFd, info.constData());
    if (id && id->type == S_IFREG && stampText(*id) == stamp
        && ::fstatat(infoFd, info.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid == user)
        ::unlinkat(infoFd, info.constData(), 0);
    ::close(infoFd);
}

// The .trashinfo this program writes: the two keys every reader takes, then a
// key of its own (which readers ignore) by which the cleanup knows it as ours.
constexpr char ownTrashInfoKey[] = "X-Lumen-Gallery=1\n";

QString trashInfoText(const QString &originalPath, const QDateTime &when)
{
    return QStringLiteral("[Trash Info]\nPath=")
           + QString::fromLatin1(QUrl::toPercentEncoding(originalPath, "/"))
           + QStringLiteral("\nDeletionDate=") + when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
           + QLatin1Char('\n') + QLatin1String(ownTrashInfoKey);
}

bool removeOrphanInfoAt(int filesFd, int infoFd, const QByteArray &name, const std::vector<QByteArray> *filesNames)
{
    struct stat st;
    // A placeholder a kill left in files/ (where the Trash's disk lacks
    // RENAME_NOREPLACE) holds no item.
    removeLeftPlaceholderAt(filesFd, name);
    if (::fstatat(filesFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return false;
    const QByteArray info = name + ".trashinfo";
    const Handle file(::openat(infoFd, info.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen())
        return false;
    QByteArray text(1, '\0');
    bool plain = ::fstat(file.fd(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1
                 && st.st_uid == fileSystemUser() && st.st_size < 8192 && isOlderThanThisProcess(st.st_mtim)
                 && ::flock(file.fd(), LOCK_SH | LOCK_NB) == 0;
    if (plain) {
        text.resize(qsizetype(st.st_size));
        plain = ::pread(file.fd(), text.data(), size_t(text.size()), 0) == text.size();
    }
    if (!plain)
        return false;
    // As trashInfoText writes it, or empty: made, and never written (a kill
    // between the two), it names nothing.
    const QList<QByteArray> lines = text.split('\n');
    const QDateTime when = lines.size() == 5 && lines.at(2).startsWith("DeletionDate=")
                               ? QDateTime::fromString(QString::fromLatin1(lines.at(2).mid(13)),
                                                       QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
                               : QDateTime();
    if (!text.isEmpty()
        && (!when.isValid() || !lines.at(0).startsWith("[Trash Info]") || !lines.at(1).startsWith("Path=")
            || text != trashInfoText(QString::fromUtf8(QByteArray::fromPercentEncoding(lines.at(1).mid(5))), when)
                           .toUtf8()))
        return false;
    // A copy of ours in work for it holds a temporary named after it.
    std::vector<QByteArray> listed;
    int err = 0;
    if (!filesNames) {
        if (!listFolderAt(filesFd, &listed, &err))
            return false;
        filesNames = &listed;
    }
    const QByteArray stem = '.' + name.left(200);
    for (const QByteArray &entry : *filesNames)
        if (entry.startsWith(stem) && entry.contains(".lg"))
            return false;
    // Still the file examined.
    struct stat now;
    if (::fstatat(infoFd, info.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_ino != st.st_ino
        || now.st_dev != st.st_dev)
        return false;
    return ::unlinkat(infoFd, info.constData(), 0) == 0;
}

void removeOrphanTrashInfos(int filesFd, const QByteArray &filesPath)
{
    // A Trash's files/ by its place: the home Trash, or a disk's .Trash-$uid
    // or .Trash/$uid; its info/ beside it, a real folder of the user's.
    QByteArray path = filesPath;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    if (!path.endsWith("/files"))
        return;
    const QByteArray trash = path.chopped(6);
    const QByteArray trashName = trash.mid(trash.lastIndexOf('/') + 1);
    const QByteArray uid = QByteArray::number(::getuid());
    struct stat files, home;
    const bool isHome = ::fstat(filesFd, &files) == 0
                        && ::stat(FileNames::toNative(homeTrashFolder() + QStringLiteral("/files")).constData(), &home) == 0
                        && files.st_dev == home.st_dev && files.st_ino == home.st_ino;
    if (!isHome && trashName != ".Trash-" + uid && !(trashName == uid && trash.endsWith("/.Trash/" + uid)))
        return;
    const Handle trashFolder(::openat(filesFd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!trashFolder.isOpen())
        return;
    const Handle info(::openat(trashFolder.fd(), "info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!info.isOpen() || ::fstat(info.fd(), &st) != 0 || st.st_uid != fileSystemUser())
        return;
    std::vector<QByteArray> infoNames, filesNames;
    int err = 0;
    if (!listFolderAt(info.fd(), &infoNames, &err) || !listFolderAt(filesFd, &filesNames, &err))
        return;
    std::sort(filesNames.begin(), filesNames.end());
    constexpr char suffix[] = ".trashinfo";
    for (const QByteArray &entry : infoNames) {
        if (isShuttingDown())
            return;
        const QByteArray name = entry.chopped(std::min<qsizetype>(entry.size(), qsizetype(sizeof suffix) - 1));
        if (!entry.endsWith(suffix) || name.isEmpty()
            || std::binary_search(filesNames.cbegin(), filesNames.cend(), name))
            continue;
        removeOrphanInfoAt(filesFd, info.fd(), name, &filesNames);
    }
}

} // namespace temporaries

} // namespace lg
