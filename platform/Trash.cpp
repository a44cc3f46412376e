#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

namespace {

QByteArray enc(const QString &path) { return QFile::encodeName(path); }

QString homeTrash()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(dataHome) + QStringLiteral("/Trash");
}

bool deviceOf(const QString &path, dev_t *device, bool follow)
{
    struct stat st;
    const int rc = follow ? ::stat(enc(path).constData(), &st) : ::lstat(enc(path).constData(), &st);
    if (rc != 0)
        return false;
    *device = st.st_dev;
    return true;
}

// The top folder of the mount that holds path, found from the real path of its
// folder: a link on the way (~/Pictures/camera -> /mnt/usb/DCIM) leads to
// /mnt/usb, not to the link's folder.
QString mountTopOf(const QString &path)
{
    QString current = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    if (current.isEmpty())
        return {};
    dev_t device;
    if (!deviceOf(current, &device, true))
        return {};
    while (current != QLatin1String("/")) {
        const QString up = QFileInfo(current).absolutePath();
        dev_t upDevice;
        if (!deviceOf(up, &upDevice, true) || upDevice != device)
            break;
        current = up;
    }
    return current;
}

bool makeTrashFolders(const QString &trash)
{
    for (const QString &sub : {QStringLiteral("/files"), QStringLiteral("/info")}) {
        if (!QDir().mkpath(trash + sub))
            return false;
    }
    ::chmod(enc(trash).constData(), 0700);
    return true;
}

// $topdir/.Trash/$uid when the administrator made .Trash (sticky, not a link);
// otherwise $topdir/.Trash-$uid, made when missing.
QString topTrashFor(const QString &top)
{
    const QString uid = QString::number(::getuid());
    const QString shared = top + QStringLiteral("/.Trash");
    struct stat st;
    if (::lstat(enc(shared).constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const QString own = shared + QLatin1Char('/') + uid;
        if (makeTrashFolders(own))
            return own;
    }
    const QString own = top + QStringLiteral("/.Trash-") + uid;
    if (::lstat(enc(own).constData(), &st) == 0 && (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()))
        return {};
    return makeTrashFolders(own) ? own : QString();
}

QString trashFor(const QString &path, bool *sameDevice)
{
    const QString home = homeTrash();
    QDir().mkpath(QFileInfo(home).absolutePath());  // the data folder must exist (see QFile::moveToTrash)
    dev_t itemDevice, homeDevice;
    const bool known = deviceOf(path, &itemDevice, false);
    if (!known || (deviceOf(QFileInfo(home).absolutePath(), &homeDevice, true) && homeDevice == itemDevice)) {
        *sameDevice = true;
        return home;
    }
    const QString top = mountTopOf(path);
    const QString other = top.isEmpty() ? QString() : topTrashFor(top);
    if (!other.isEmpty()) {
        *sameDevice = true;
        return other;
    }
    *sameDevice = false;  // no Trash on that mount: the home Trash takes a copy
    return home;
}

QString trashInfoText(const QString &originalPath, const QDateTime &when)
{
    return QStringLiteral("[Trash Info]\nPath=")
           + QString::fromLatin1(QUrl::toPercentEncoding(originalPath, "/"))
           + QStringLiteral("\nDeletionDate=") + when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
           + QLatin1Char('\n');
}

} // namespace

QString trashFolderFor(const QString &path)
{
    bool sameDevice = true;
    return trashFor(QFileInfo(path).absoluteFilePath(), &sameDevice);
}

namespace {

FileOpResult refused(const QString &source, FileOpError error, const QString &message)
{
    FileOpResult result;
    result.source = source;
    result.error = error;
    result.message = message;
    return result;
}

// Claims a name in the Trash the way the freedesktop Trash rules ask: the
// .trashinfo is made with O_EXCL first (the name, numbered where it is taken,
// is ours once that succeeds), and files/ is checked only for that one name.
// *name gets the name; an error message on failure.
QString claimTrashName(const QString &trash, const QString &path, bool isFolder, QString *name, QString *infoPath)
{
    NameNumbering numbering;
    numbering.isFolder = isFolder;
    numbering.maxBytes = 255 - int(std::strlen(".trashinfo"));
    const QByteArray text = trashInfoText(path, QDateTime::currentDateTime()).toUtf8();
    const QString baseName = QFileInfo(path).fileName();
    for (qint64 n = 1; n < 1000000; ++n) {
        *name = numberedName(baseName, n == 1 ? std::nullopt : std::optional<qint64>(n), numbering);
        *infoPath = trash + QStringLiteral("/info/") + *name + QStringLiteral(".trashinfo");
        const QByteArray info = enc(*infoPath);
        const int fd = ::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return QString::fromLocal8Bit(std::strerror(errno));
        }
        const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
        ::close(fd);
        if (!written) {
            ::unlink(info.constData());
            return QStringLiteral("The Trash information could not be written.");
        }
        struct stat st;
        if (::lstat(enc(trash + QStringLiteral("/files/") + *name).constData(), &st) == 0) {
            ::unlink(info.constData());   // an item without its information: leave it be
            continue;
        }
        return {};
    }
    return QStringLiteral("No free name in the Trash.");
}

} // namespace

FileOpResult moveToTrash(const QString &givenPath)
{
    const QString path = QDir::cleanPath(QFileInfo(givenPath).absoluteFilePath());
    struct stat st;
    if (::lstat(enc(path).constData(), &st) != 0) {
        const int err = errno;
        if (const QString unreadable = unreadableNameMessage(path); !unreadable.isEmpty())
            return refused(givenPath, FileOpError::InvalidName, unreadable);
        return refused(givenPath, err == ENOENT ? FileOpError::SourceMissing : FileOpError::Other,
                       QString::fromLocal8Bit(std::strerror(err)));
    }
    // The home folder, or a folder that holds it, is never trashed; a link to
    // one is a link like any other.
    if (!S_ISLNK(st.st_mode) && (path == QLatin1String("/") || isInsideCanonical(QDir::homePath(), path)))
        return refused(givenPath, FileOpError::Denied, QStringLiteral("The home folder cannot be moved to the Trash."));
    bool sameDevice = true;
    const QString trash = trashFor(path, &sameDevice);
    if (!makeTrashFolders(trash))
        return refused(givenPath, FileOpError::Denied, QStringLiteral("The Trash folder could not be made."));
    if (S_ISDIR(st.st_mode) && isInsideCanonical(trash, path))
        return refused(givenPath, FileOpError::IntoItself,
                       QStringLiteral("A folder that holds the Trash cannot be moved to the Trash."));
    // Without a Trash of its own on that mount the item is copied to the home
    // Trash and then removed: only when all of it can be removed.
    QString reason;
    if (!sameDevice && canRemove(path, &reason) != 0)
        return refused(givenPath, FileOpError::Denied,
                       QStringLiteral("“%1” cannot be moved to the Trash, because it cannot be removed from its "
                                      "place: %2 Nothing was changed.")
                           .arg(QFileInfo(path).fileName(), reason));

    QString name, infoPath;
    const QString claimFailure = claimTrashName(trash, path, S_ISDIR(st.st_mode), &name, &infoPath);
    if (!claimFailure.isEmpty())
        return refused(givenPath, FileOpError::Denied, claimFailure);
    // moveItem copies and checks the copy when the Trash is on another device.
    FileOpResult moved = moveItem(path, trash + QStringLiteral("/files"), ConflictPolicy::Refuse, name);
    if (moved.itemInPlace) {
        // In the Trash, but not all of the original could go: the Trash keeps
        // listing the copy, and the message says what is left where.
        moved.message = QStringLiteral("“%1” was put in the Trash, but not all of it could be removed. %2")
                            .arg(QFileInfo(path).fileName(), moved.message);
    } else if (!moved.ok()) {
        ::unlink(enc(infoPath).constData());
    }
    moved.source = givenPath;
    return moved;
}

std::optional<TrashInfo> readTrashInfo(const QString &trashInfoPath)
{
    QFile file(trashInfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    bool inGroup = false;
    bool sawGroup = false;
    TrashInfo info;
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        if (line.startsWith("Path=") && info.originalPath.isEmpty()) {
            info.originalPath = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(5)));
        } else if (line.startsWith("DeletionDate=") && !info.deletionDate.isValid()) {
            info.deletionDate = QDateTime::fromString(QString::fromLatin1(line.mid(13)), Qt::ISODate);
        }
    }
    if (!sawGroup || info.originalPath.isEmpty())
        return std::nullopt;
    if (!QDir::isAbsolutePath(info.originalPath)) {
        // Relative to the top folder of the mount: trash/info/x.trashinfo,
        // trash being $topdir/.Trash-$uid or $topdir/.Trash/$uid.
        QDir top = QFileInfo(trashInfoPath).dir();  // info
        top.cdUp();                                 // the trash
        top.cdUp();
        if (top.dirName() == QLatin1String(".Trash"))
            top.cdUp();
        info.originalPath = QDir::cleanPath(top.absoluteFilePath(info.originalPath));
    }
    return info;
}

} // namespace lg
