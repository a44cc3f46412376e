// Move to Trash as desktops share it: the home Trash, and the Trash folders of other disks.
#include "platform/files/operations/Trash.h"
#include "platform/base/HandlePath.h"
#include "platform/base/XdgDirectories.h"
#include "platform/base/LexicalPaths.h"
#include "platform/files/names/FileNames.h"

#include "platform/runtime/Dispatch.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/JournalShared.h"
#include "platform/files/recovery/TrashLeftovers.h"
#include "platform/files/names/RawPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lg {

namespace {

using temporaries::Handle;
using temporaries::removeOrphanInfoAt;
using temporaries::trashInfoText;

std::mutex diskTopMutex;
QString diskTopForTests;   // see setDiskTopForTesting

QString diskTopForTesting()
{
    const std::lock_guard<std::mutex> lock(diskTopMutex);
    return diskTopForTests;
}

// The top folder of the mount that holds folder, found from its real path: a
// link on the way (~/Pictures/camera -> /mnt/usb/DCIM) leads to
// /mnt/usb, not to the link's folder. Empty when it cannot be told.
QString mountTopOf(const QString &folder)
{
    QString current = FileNames::canonical(folder);   // by the bytes, never a look-alike
    if (current.isEmpty())
        return {};
    struct stat st;
    if (::stat(FileNames::toNative(current).constData(), &st) != 0)
        return {};
    const dev_t device = st.st_dev;
    while (current != QLatin1String("/")) {
        const QString up = QFileInfo(current).absolutePath();
        if (::stat(FileNames::toNative(up).constData(), &st) != 0 || st.st_dev != device)
            break;
        current = up;
    }
    return current;
}

// Which Trash folders must belong to the user: those on other disks, where
// anyone who had the disk could have made them, and a home Trash reached
// through a link (into a shared place, where another user may have made the
// target first). A home Trash that lies in the user's own data folder, which
// nobody else writes, is taken as it is.
enum class Owner { Checked, Unchecked };

// Opens the folder name inside the folder open as parentFd for a Trash: it is
// used only when it is a real folder (not a link), one the user owns where
// owner asks, and made with mode 0700 when missing. Empty on success; otherwise
// why it is not used, path naming it for the message.
QString openOwnFolder(int parentFd, const QByteArray &name, const QString &path, Owner owner, Handle *folder)
{
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parentFd, name.constData(), flags);
    bool made = false;
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(parentFd, name.constData(), 0700) == 0)
            made = true;
        else if (errno != EEXIST)
            return QStringLiteral("“%1” could not be made: %2.").arg(path, errnoClause(errno));
        fd = ::openat(parentFd, name.constData(), flags);
    }
    if (fd < 0) {
        const int err = errno;
        struct stat st;
        if (err == ELOOP || (err == ENOTDIR && ::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
                             && S_ISLNK(st.st_mode)))
            return QStringLiteral("“%1” is a link, not a folder.").arg(path);
        if (err == ENOTDIR)
            return QStringLiteral("“%1” is not a folder.").arg(path);
        return QStringLiteral("“%1” could not be opened: %2.").arg(path, errnoClause(err));
    }
    Handle opened(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("“%1” is not a folder.").arg(path);
    if (owner == Owner::Checked && st.st_uid != fileSystemUser())
        return QStringLiteral("“%1” belongs to another user.").arg(path);
    if (made)
        ::fchmod(fd, 0700);   // whatever the umask
    *folder = std::move(opened);
    return {};
}

// A folder noted in the journal of folders for the note's life.
struct JournalNote
{
    explicit JournalNote(QByteArray path) : folder(std::move(path)) { temporaries::journalAcquire(folder); }
    ~JournalNote() { temporaries::journalRelease(folder, false); }
    JournalNote(const JournalNote &) = delete;
    JournalNote &operator=(const JournalNote &) = delete;
    QByteArray folder;
};

// One Trash opened for use: the folder and its files/ and info/, each checked
// when it was opened. Items are placed from these handles, never by their paths.
struct TrashPlace
{
    QString path;     // the Trash folder, for messages, results and .trashinfo lookups
    Handle files;
    Handle info;
    QString failure;  // why it is not used; empty when files and info are open
    bool isUsable() const { return files.isOpen() && info.isOpen(); }
};

// Opens files/ and info/ of the Trash open as trashFd.
void openTrashParts(int trashFd, Owner owner, TrashPlace *place)
{
    Handle files, info;
    place->failure = openOwnFolder(trashFd, "files", place->path + QStringLiteral("/files"), owner, &files);
    if (place->failure.isEmpty())
        place->failure = openOwnFolder(trashFd, "info", place->path + QStringLiteral("/info"), owner, &info);
    if (place->failure.isEmpty()) {
        place->files = std::move(files);
        place->info = std::move(info);
    }
}

TrashPlace openTrashIn(int parentFd, const QByteArray &name, const QString &path, Owner owner)
{
    TrashPlace place;
    place.path = path;
    Handle trash;
    place.failure = openOwnFolder(parentFd, name, path, owner, &trash);
    if (place.failure.isEmpty())
        openTrashParts(trash.fd(), owner, &place);
    return place;
}

// The Trash at the top of a mount whose device is device: $topdir/.Trash/$uid
// when $topdir/.Trash is a real folder (not a link) with the sticky bit, else
// $topdir/.Trash-$uid. A candidate that fails a check is not used.
TrashPlace openDiskTrash(const QString &top, dev_t device)
{
    TrashPlace place;
    place.path = top + QStringLiteral("/.Trash-") + QString::number(::getuid());
    const Handle topFolder(::open(FileNames::toNative(top).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!topFolder.isOpen() || ::fstat(topFolder.fd(), &st) != 0 || st.st_dev != device) {
        place.failure = QStringLiteral("“%1” could not be opened.").arg(top);
        return place;
    }
    const QByteArray uid = QByteArray::number(::getuid());
    const Handle shared(::openat(topFolder.fd(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (shared.isOpen() && ::fstat(shared.fd(), &st) == 0 && (st.st_mode & S_ISVTX)) {
        TrashPlace own = openTrashIn(shared.fd(), uid, top + QStringLiteral("/.Trash/") + QString::fromLatin1(uid),
                                     Owner::Checked);
        if (own.isUsable())
            return own;
    }
    return openTrashIn(topFolder.fd(), ".Trash-" + uid, place.path, Owner::Checked);
}

// The Trash folders of one command, each opened once: the home Trash, and the
// Trash at the top of each other mount met. Not shared between threads.
class TrashPlaces
{
public:
    struct Choice
    {
        const TrashPlace *place = nullptr;   // never null
        bool sameDevice = true;              // false: the item is copied to the home Trash
        QString diskFailure;                 // why the Trash on the item's disk is not used
    };
    Choice forItem(const QString &path, const struct stat &st);
    const TrashPlace &home();

private:
    std::optional<TrashPlace> m_home;
    dev_t m_homeDevice = 0;
    bool m_homeDeviceKnown = false;
    QHash<QString, QString> m_topOfFolder;   // an item's folder -> the top of its mount
    std::map<std::pair<QString, dev_t>, TrashPlace> m_disks;
};

const TrashPlace &TrashPlaces::home()
{
    if (m_home)
        return *m_home;
    const QString path = homeTrashFolder();
    const QString dataHome = QFileInfo(path).absolutePath();
    QDir().mkpath(dataHome);   // the data folder must exist (see QFile::moveToTrash)
    const Handle data(::open(FileNames::toNative(dataHome).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (data.isOpen() && ::fstat(data.fd(), &st) == 0) {
        // The user may keep the Trash elsewhere through a link of their own: the
        // Trash folder itself is followed, its files/ and info/ are not. Reached
        // through a link (the Trash's own, or one on the way to the data
        // folder), each must belong to the user.
        const QString canonicalData = QFileInfo(dataHome).canonicalFilePath();
        const bool dataLinked = !canonicalData.isEmpty() && canonicalData != QDir::cleanPath(dataHome);
        const Handle linked(::openat(data.fd(), "Trash", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat at;
        if (linked.isOpen() && ::fstatat(data.fd(), "Trash", &at, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(at.st_mode)) {
            m_home = TrashPlace{};
            m_home->path = path;
            struct stat target;
            if (::fstat(linked.fd(), &target) != 0 || target.st_uid != fileSystemUser())
                m_home->failure = QStringLiteral("“%1” leads to a folder that belongs to another user.").arg(path);
            else
                openTrashParts(linked.fd(), Owner::Checked, &*m_home);
        } else {
            m_home = openTrashIn(data.fd(), FileNames::toNative(QFileInfo(path).fileName()), path,
                                 dataLinked ? Owner::Checked : Owner::Unchecked);
        }
        m_homeDevice = st.st_dev;
        m_homeDeviceKnown = true;
        if (m_home->isUsable() && ::fstat(m_home->files.fd(), &st) == 0)
            m_homeDevice = st.st_dev;
    } else {
        m_home = TrashPlace{};
        m_home->path = path;
        m_home->failure = QStringLiteral("“%1” could not be opened.").arg(dataHome);
    }
    return *m_home;
}

TrashPlaces::Choice TrashPlaces::forItem(const QString &path, const struct stat &st)
{
    Choice choice;
    choice.place = &home();
    const QString folder = QFileInfo(path).absolutePath();
    const QString testTop = diskTopForTesting();
    const bool standIn = !testTop.isEmpty() && LexicalPaths::isInside(folder, testTop);
    if (!standIn && (!m_homeDeviceKnown || st.st_dev == m_homeDevice))
        return choice;
    auto top = m_topOfFolder.constFind(folder);
    if (top == m_topOfFolder.constEnd())
        top = m_topOfFolder.insert(folder, standIn ? testTop : mountTopOf(folder));
    if (!top->isEmpty()) {
        const auto key = std::make_pair(*top, st.st_dev);
        auto disk = m_disks.find(key);
        if (disk == m_disks.end())
            disk = m_disks.emplace(key, openDiskTrash(*top, st.st_dev)).first;
        if (disk->second.isUsable()) {
            choice.place = &disk->second;
            return choice;
        }
        choice.diskFailure = disk->second.failure;
    }
    choice.sameDevice = false;   // no usable Trash on that mount: the home Trash takes a copy
    return choice;
}

FileOpResult refused(const QString &source, FileOpError error, const QString &message)
{
    FileOpResult result;
    result.source = source;
    result.error = error;
    result.message = message;
    return result;
}

bool removeOrphanInfo(const TrashPlace &trash, const QByteArray &name)
{
    return removeOrphanInfoAt(trash.files.fd(), trash.info.fd(), name);
}

// Claims a name in the Trash the way the freedesktop Trash rules ask: the
// .trashinfo is made with O_EXCL first (the name, numbered where it is taken,
// is ours once that succeeds), and files/ is checked only for that one name.
// *name gets the name, and *claimed the .trashinfo, held locked until its
// item is in (the cleanup leaves a held one alone); an error message on failure.
QString claimTrashName(const TrashPlace &trash, const QString &path, bool isFolder, QString *name, Handle *claimed)
{
    NameNumbering numbering;
    numbering.isFolder = isFolder;
    numbering.maxBytes = 255 - int(std::strlen(".trashinfo"));
    const QByteArray text = trashInfoText(path, QDateTime::currentDateTime()).toUtf8();
    const QString baseName = QFileInfo(path).fileName();
    for (qint64 n = 1; n < 1000000; ++n) {
        *name = numberedName(baseName, n == 1 ? std::nullopt : std::optional<qint64>(n), numbering);
        const QByteArray info = FileNames::toNative(*name + QStringLiteral(".trashinfo"));
        const int fd = ::openat(trash.info.fd(), info.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            const int err = errno;
            if (err != EEXIST)
                return errnoSentence(err);
            if (removeOrphanInfo(trash, FileNames::toNative(*name)))
                --n;   // that name again
            continue;
        }
        Handle made(fd);
        ::flock(fd, LOCK_EX);   // where the disk offers locks
        injectedFileFault(FileStep::TrashInfoMade,
                          trash.path + QStringLiteral("/info/") + *name + QStringLiteral(".trashinfo"));
        const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
        if (!written) {
            ::unlinkat(trash.info.fd(), info.constData(), 0);
            return QStringLiteral("The Trash information could not be written.");
        }
        struct stat st;
        if (::fstatat(trash.files.fd(), FileNames::toNative(*name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            ::unlinkat(trash.info.fd(), info.constData(), 0);   // an item without its information: leave it be
            continue;
        }
        *claimed = std::move(made);
        return {};
    }
    return QStringLiteral("No free name in the Trash.");
}

void dropTrashInfo(const TrashPlace &trash, const QString &name)
{
    ::unlinkat(trash.info.fd(), FileNames::toNative(name + QStringLiteral(".trashinfo")).constData(), 0);
}

// Renames source into the folder open as folderFd under name, never replacing
// what is there, also where the file system lacks RENAME_NOREPLACE (then by
// the file layer's link or placeholder rename, through the folder's handle).
// 0 or an errno value.
int renameInto(const QByteArray &source, int folderFd, const QByteArray &name)
{
    if (::renameat2(AT_FDCWD, source.constData(), folderFd, name.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    return renameWithoutReplacingRaw(source, handlePath(folderFd) + '/' + name);
}

// Moves the item at path into the Trash's files/ under name, on the same
// device. A read-only folder (whose ".." changes) is opened up for the move and
// closed again. 0 or an errno value (EXDEV: another device after all).
int renameIntoTrash(const QString &path, const struct stat &st, const TrashPlace &trash, const QString &name)
{
    int err = injectedFileFault(FileStep::Rename, path);
    if (err)
        return err;
    const QByteArray source = FileNames::toNative(path);
    const QByteArray target = FileNames::toNative(name);
    err = renameInto(source, trash.files.fd(), target);
    if (err == EACCES && S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR)) {
        const mode_t mode = st.st_mode & 07777;
        // A kill before its mode is back leaves a record that the cleanup sets it back by.
        OpenedUpFolder opened =
            OpenedUpFolder::record(source, st, mode | S_IWUSR, FileNames::toNative(trash.path + QStringLiteral("/files/") + name));
        if (::chmod(source.constData(), mode | S_IWUSR) != 0)
            return EACCES;
        err = renameInto(source, trash.files.fd(), target);
        if (err)
            ::chmod(source.constData(), mode);
        else
            ::fchmodat(trash.files.fd(), target.constData(), mode, 0);
    }
    return err;
}

// The message of a refusal to trash by copy; diskFailure says why the item's
// own disk has no Trash that may be used.
QString notRemovableMessage(const QString &path, const QString &reason, const QString &diskFailure)
{
    QString text = QStringLiteral("“%1” cannot be moved to the Trash, because it cannot be removed from its place: %2")
                       .arg(QFileInfo(path).fileName(), reason);
    if (!diskFailure.isEmpty())
        text += QStringLiteral(" The Trash on its disk is not used: %1").arg(diskFailure);
    return text + QStringLiteral(" Nothing was changed.");
}

// Copies the item to the Trash (another device), then removes it.
FileOpResult trashByCopy(const QString &path, const QString &givenPath, const TrashPlace &trash, const QString &name)
{
    // The copy goes by the path of files/: only while that path still leads
    // to the folder checked and opened.
    const QString files = trash.path + QStringLiteral("/files");
    struct stat byPath, checked;
    if (::lstat(FileNames::toNative(files).constData(), &byPath) != 0 || ::fstat(trash.files.fd(), &checked) != 0
        || byPath.st_dev != checked.st_dev || byPath.st_ino != checked.st_ino) {
        dropTrashInfo(trash, name);
        return refused(givenPath, FileOpError::Denied,
                       QStringLiteral("The Trash folder “%1” changed while it was used. Nothing was changed.").arg(files));
    }
    // moveItem copies and checks the copy when the Trash is on another device.
    FileOpResult moved = moveItem(path, files, ConflictPolicy::Refuse, name);
    if (moved.ok() && moved.hasNotKept()) {
        // All of it went, but not all its attributes or links could come along.
        moved.message = QStringLiteral("“%1” was put in the Trash. %2").arg(QFileInfo(path).fileName(), moved.message);
    } else if (moved.itemInPlace) {
        // In the Trash, but not all of the original could go: the Trash keeps
        // listing the copy, and the message says what is left where.
        moved.message = QStringLiteral("“%1” was put in the Trash, but not all of it could be removed. %2")
                            .arg(QFileInfo(path).fileName(), moved.message);
    } else if (!moved.ok()) {
        dropTrashInfo(trash, name);
    }
    moved.source = givenPath;
    return moved;
}

FileOpResult trashOne(const QString &givenPath, TrashPlaces &places)
{
    const QString path = QDir::cleanPath(QFileInfo(givenPath).absoluteFilePath());
    struct stat st;
    if (::lstat(FileNames::toNative(path).constData(), &st) != 0) {
        const int err = errno;
        if (const QString unreadable = unreadableNameMessage(path); !unreadable.isEmpty())
            return refused(givenPath, FileOpError::InvalidName, unreadable);
        return refused(givenPath, err == ENOENT ? FileOpError::SourceMissing : FileOpError::Other,
                       errnoSentence(err));
    }
    // The home folder, or a folder that holds it, is never trashed; a link to
    // one is a link like any other.
    if (S_ISDIR(st.st_mode) && (path == QLatin1String("/") || isInsideCanonical(QDir::homePath(), path)))
        return refused(givenPath, FileOpError::Denied, QStringLiteral("The home folder cannot be moved to the Trash."));
    TrashPlaces::Choice choice = places.forItem(path, st);
    for (;;) {
        const TrashPlace &trash = *choice.place;
        if (!trash.isUsable())
            return refused(givenPath, FileOpError::Denied,
                           QStringLiteral("The Trash cannot be used. %1 Nothing was changed.").arg(trash.failure));
        if (S_ISDIR(st.st_mode) && isInsideCanonical(trash.path, path))
            return refused(givenPath, FileOpError::IntoItself,
                           QStringLiteral("A folder that holds the Trash cannot be moved to the Trash."));
        // Without a Trash of its own on that mount the item is copied to the home
        // Trash and then removed: only when all of it can be removed.
        QString reason;
        if (!choice.sameDevice && canRemove(path, &reason) != 0)
            return refused(givenPath, FileOpError::Denied, notRemovableMessage(path, reason, choice.diskFailure));

        // The Trash's files/ is noted in the journal while a .trashinfo may
        // stand there without its item: the cleanup after a kill looks there.
        const JournalNote note(FileNames::toNative(trash.path + QStringLiteral("/files")));
        QString name;
        Handle claimed;
        const QString claimFailure = claimTrashName(trash, path, S_ISDIR(st.st_mode), &name, &claimed);
        if (!claimFailure.isEmpty())
            return refused(givenPath, FileOpError::Denied, claimFailure);
        const QString target = trash.path + QStringLiteral("/files/") + name;
        if (!choice.sameDevice)
            return trashByCopy(path, givenPath, trash, name);
        const int err = renameIntoTrash(path, st, trash, name);
        if (err == 0) {
            FileOpResult done;
            done.source = givenPath;
            done.target = target;
            return done;
        }
        dropTrashInfo(trash, name);
        if (err != EXDEV) {
            FileOpResult failed = refused(givenPath, errorForErrno(err), errnoSentence(err));
            failed.target = target;
            return failed;
        }
        // The Trash cannot take it by a rename after all (another disk, or the
        // same one mounted twice): the home Trash takes a copy, once the item
        // is known to be removable whole.
        choice.place = &places.home();
        choice.sameDevice = false;
    }
}

} // namespace

QString trashFolderFor(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    TrashPlaces places;
    struct stat st;
    if (::lstat(FileNames::toNative(absolute).constData(), &st) != 0)
        return places.home().path;
    return places.forItem(absolute, st).place->path;
}

FileOpResult moveToTrash(const QString &givenPath)
{
    TrashPlaces places;
    return trashOne(givenPath, places);
}

void setDiskTopForTesting(const QString &folder)
{
    const std::lock_guard<std::mutex> lock(diskTopMutex);
    diskTopForTests = folder;
}

QList<FileOpResult> moveAllToTrash(const QStringList &paths, const std::atomic<bool> *cancel,
                                   const TrashRefusal &refusal)
{
    TrashPlaces places;
    QList<FileOpResult> results;
    results.reserve(paths.size());
    for (const QString &path : paths) {
        if ((cancel && cancel->load()) || isShuttingDown()) {
            results.append(refused(path, FileOpError::Cancelled, QStringLiteral("Cancelled.")));
            continue;
        }
        std::optional<FileOpResult> no = refusal ? refusal(path) : std::nullopt;
        results.append(no ? *no : trashOne(path, places));
    }
    return results;
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
