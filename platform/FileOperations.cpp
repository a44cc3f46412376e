#include "platform/FileOperations.h"

#include "platform/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QtConcurrent>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lg {

namespace {

// ---- Fault hook ----
std::mutex g_faultMutex;
FileFaultHook g_fault;

int injectedFault(FileStep step, const QString &path)
{
    FileFaultHook hook;
    {
        std::lock_guard<std::mutex> lock(g_faultMutex);
        if (!g_fault)
            return 0;
        hook = g_fault;
    }
    return hook(step, path);
}

void registerTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<lg::FileOpProgress>("lg::FileOpProgress");
        qRegisterMetaType<lg::FileOpResult>("lg::FileOpResult");
        qRegisterMetaType<QList<lg::FileOpResult>>("QList<lg::FileOpResult>");
    });
}

// Queued signals of other classes may carry these before any FileOperation exists.
Q_CONSTRUCTOR_FUNCTION(registerTypes)

QByteArray enc(const QString &path) { return QFile::encodeName(path); }

QString parentOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString nameOf(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool lstatPath(const QString &path, struct stat *st)
{
    return ::lstat(enc(path).constData(), st) == 0;
}

bool isRealDir(const struct stat &st) { return S_ISDIR(st.st_mode); }

FileOpError errorForErrno(int err)
{
    switch (err) {
    case 0: return FileOpError::None;
    case ENOENT: return FileOpError::SourceMissing;
    case ENOSPC:
    case EDQUOT: return FileOpError::NoSpace;
    case EACCES:
    case EPERM:
    case EROFS: return FileOpError::Denied;
    case EEXIST:
    case ENOTEMPTY: return FileOpError::TargetExists;
    default: return FileOpError::Other;
    }
}

QString reasonFor(FileOpError error)
{
    switch (error) {
    case FileOpError::None: return {};
    case FileOpError::TargetExists: return QStringLiteral("An item with the same name already exists.");
    case FileOpError::SameFile: return QStringLiteral("An item cannot replace itself.");
    case FileOpError::IntoItself: return QStringLiteral("A folder cannot be put inside itself.");
    case FileOpError::InvalidName: return QStringLiteral("The name is not valid.");
    case FileOpError::SourceMissing: return QStringLiteral("The item does not exist.");
    case FileOpError::NoSpace: return QStringLiteral("There is not enough space.");
    case FileOpError::Denied: return QStringLiteral("Permission denied.");
    case FileOpError::Cancelled: return QStringLiteral("Cancelled.");
    case FileOpError::Other: return QStringLiteral("The operation failed.");
    }
    return {};
}

FileOpResult failure(FileOpError error, const QString &source, const QString &target, const QString &message = {})
{
    FileOpResult r;
    r.error = error;
    r.source = source;
    r.target = target;
    r.message = message.isEmpty() ? reasonFor(error) : message;
    return r;
}

FileOpResult errnoFailure(int err, const QString &source, const QString &target)
{
    return failure(errorForErrno(err), source, target, QString::fromLocal8Bit(std::strerror(err)));
}

FileOpResult success(const QString &source, const QString &target)
{
    FileOpResult r;
    r.source = source;
    r.target = target;
    return r;
}

// Entry names of a folder without "." and ".."; false when it cannot be read.
bool listNames(const QString &folder, std::vector<QByteArray> *names, int *err)
{
    DIR *dir = ::opendir(enc(folder).constData());
    if (!dir) {
        *err = errno;
        return false;
    }
    while (dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names->emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return true;
}

// ---- Renames ----
// rename() that never replaces; falls back to a check and rename where the file
// system lacks RENAME_NOREPLACE.
int renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray f = enc(from), t = enc(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    struct stat st;
    if (::lstat(t.constData(), &st) == 0)
        return EEXIST;
    return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
}

// A hidden name beside target that nothing uses.
QString besideName(const QString &target, const char *tag)
{
    static std::atomic<unsigned> counter{0};
    const QString folder = parentOf(target);
    for (;;) {
        const QString name = QStringLiteral(".%1.lg%2-%3-%4")
                                 .arg(nameOf(target).left(40), QLatin1String(tag))
                                 .arg(::getpid())
                                 .arg(counter.fetch_add(1));
        const QString path = joinPath(folder, name);
        struct stat st;
        if (!lstatPath(path, &st))
            return path;
    }
}

// ---- Removal ----
int removeTree(const QString &path)
{
    if (const int injected = injectedFault(FileStep::Remove, path))
        return injected;
    struct stat st;
    if (!lstatPath(path, &st))
        return errno == ENOENT ? 0 : errno;
    const QByteArray p = enc(path);
    if (!isRealDir(st))
        return ::unlink(p.constData()) == 0 ? 0 : errno;
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(path, &names, &err)) {
        // A folder we may not list may still be writable once opened up.
        ::chmod(p.constData(), 0700);
        names.clear();
        if (!listNames(path, &names, &err))
            return err;
    }
    for (const QByteArray &name : names) {
        if (const int e = removeTree(joinPath(path, QFile::decodeName(name))))
            return e;
    }
    return ::rmdir(p.constData()) == 0 ? 0 : errno;
}

// ---- Copying ----
struct CopyContext
{
    std::function<void(qint64 bytes)> onBytes;  // may be empty
    bool syncFiles = false;                      // fdatasync each file (moves across devices)
};

void keepTimes(const QByteArray &path, const struct stat &st, bool noFollow)
{
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.constData(), times, noFollow ? AT_SYMLINK_NOFOLLOW : 0);
}

int copyFileData(int in, int out, qint64 size, CopyContext &ctx)
{
    constexpr size_t chunk = size_t(16) << 20;
    qint64 done = 0;
    bool useRange = true, useSendfile = true;
    while (done < size) {
        const size_t want = size_t(std::min<qint64>(qint64(chunk), size - done));
        ssize_t n = -1;
        if (useRange) {
            n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP
                          || errno == EBADF || errno == EPERM)) {
                useRange = false;
                continue;
            }
        } else if (useSendfile) {
            n = ::sendfile(out, in, nullptr, want);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                useSendfile = false;
                continue;
            }
        } else {
            static thread_local std::vector<char> buffer(size_t(1) << 20);
            n = ::read(in, buffer.data(), std::min(want, buffer.size()));
            if (n > 0) {
                ssize_t written = 0;
                while (written < n) {
                    const ssize_t w = ::write(out, buffer.data() + written, size_t(n - written));
                    if (w < 0) {
                        if (errno == EINTR)
                            continue;
                        return errno;
                    }
                    written += w;
                }
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;  // the file shrank while it was copied
        done += n;
        if (ctx.onBytes)
            ctx.onBytes(n);
    }
    return 0;
}

// Copies the file's bytes, permissions and times into out (left open).
int copyIntoDescriptor(const QString &source, const struct stat &st, int out, CopyContext &ctx)
{
    if (const int injected = injectedFault(FileStep::CopyData, source))
        return injected;
    const int in = ::open(enc(source).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno;
    int err = copyFileData(in, out, st.st_size, ctx);
    ::close(in);
    if (!err && ::fchmod(out, st.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID)) != 0)
        err = errno;
    if (!err) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    if (!err && ctx.syncFiles && ::fdatasync(out) != 0)
        err = errno;
    return err;
}

int copyRegularFile(const QString &source, const QString &target, const struct stat &st, CopyContext &ctx)
{
    const QByteArray t = enc(target);
    const int out = ::open(t.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return errno;
    int err = copyIntoDescriptor(source, st, out, ctx);
    if (::close(out) != 0 && !err)
        err = errno;
    if (err)
        ::unlink(t.constData());
    return err;
}

// A file that gets a name only once it is complete: an unnamed file in the
// target's folder (O_TMPFILE) linked in at the end, which never replaces.
// ENOTSUP when the file system cannot do it; the caller then uses a temporary name.
int copyFileUnnamed(const QString &source, const struct stat &st, const QString &target, CopyContext &ctx,
                    bool verify)
{
    static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
    if (!procFds)
        return ENOTSUP;
    const int out = ::open(enc(parentOf(target)).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (out < 0)
        return (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) ? ENOTSUP : errno;
    int err = copyIntoDescriptor(source, st, out, ctx);
    struct stat written;
    if (!err && verify && (::fstat(out, &written) != 0 || written.st_size != st.st_size))
        err = EIO;
    if (!err)
        err = injectedFault(FileStep::FinalRename, target);
    if (!err) {
        const QByteArray fdPath = "/proc/self/fd/" + QByteArray::number(out);
        if (::linkat(AT_FDCWD, fdPath.constData(), AT_FDCWD, enc(target).constData(), AT_SYMLINK_FOLLOW) != 0)
            err = errno;
    }
    if (::close(out) != 0 && !err) {
        err = errno;
        ::unlink(enc(target).constData());
    }
    return err;
}

// Copies source (any kind, links as links) to target, which must not exist.
// On failure whatever was made at target is left for the caller to remove.
int copyTree(const QString &source, const QString &target, CopyContext &ctx)
{
    struct stat st;
    if (!lstatPath(source, &st))
        return errno;
    if (S_ISLNK(st.st_mode)) {
        if (const int injected = injectedFault(FileStep::MakeLink, target))
            return injected;
        QByteArray link(qMax<qint64>(st.st_size, 255) + 1, '\0');
        const ssize_t n = ::readlink(enc(source).constData(), link.data(), size_t(link.size()));
        if (n < 0)
            return errno;
        link.truncate(int(n));
        const QByteArray t = enc(target);
        if (::symlink(link.constData(), t.constData()) != 0)
            return errno;
        keepTimes(t, st, true);
        return 0;
    }
    if (S_ISREG(st.st_mode))
        return copyRegularFile(source, target, st, ctx);
    if (!isRealDir(st))
        return ENOTSUP;  // devices, sockets and pipes are not copied
    if (const int injected = injectedFault(FileStep::MakeFolder, target))
        return injected;
    const QByteArray t = enc(target);
    if (::mkdir(t.constData(), 0700) != 0)
        return errno;
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(source, &names, &err))
        return err;
    for (const QByteArray &name : names) {
        const QString n = QFile::decodeName(name);
        if (const int e = copyTree(joinPath(source, n), joinPath(target, n), ctx))
            return e;
    }
    if (::chmod(t.constData(), st.st_mode & 07777) != 0)
        return errno;
    keepTimes(t, st, false);
    return 0;
}

// What a copy must match: regular-file bytes and the number of entries.
struct TreeSize
{
    qint64 bytes = 0;
    qint64 entries = 0;
    bool operator==(const TreeSize &) const = default;
};

TreeSize measureTree(const QString &path)
{
    TreeSize size;
    struct stat st;
    if (!lstatPath(path, &st))
        return size;
    ++size.entries;
    if (S_ISREG(st.st_mode))
        size.bytes += st.st_size;
    if (isRealDir(st)) {
        std::vector<QByteArray> names;
        int err = 0;
        if (listNames(path, &names, &err)) {
            for (const QByteArray &name : names) {
                const TreeSize child = measureTree(joinPath(path, QFile::decodeName(name)));
                size.bytes += child.bytes;
                size.entries += child.entries;
            }
        }
    }
    return size;
}

// ---- Putting a new item in place ----
// Renames from to to. Without replacing, a taken name gives EEXIST. When
// replacing, a file goes over a file by one rename; otherwise the old item is
// moved aside first, put back if the rename fails, and removed afterwards.
int putInPlace(const QString &from, const QString &to, bool replacing)
{
    struct stat old;
    if (!replacing || !lstatPath(to, &old)) {
        if (const int injected = injectedFault(FileStep::FinalRename, to))
            return injected;
        return renameNoReplace(from, to);
    }
    struct stat incoming;
    if (!lstatPath(from, &incoming))
        return errno;
    if (!isRealDir(old) && !isRealDir(incoming)) {
        if (const int injected = injectedFault(FileStep::FinalRename, to))
            return injected;
        return ::rename(enc(from).constData(), enc(to).constData()) == 0 ? 0 : errno;
    }
    const QString aside = besideName(to, "old");
    if (const int err = renameNoReplace(to, aside))
        return err;
    int err = injectedFault(FileStep::FinalRename, to);
    if (!err)
        err = renameNoReplace(from, to);
    if (err) {
        ::rename(enc(aside).constData(), enc(to).constData());
        return err;
    }
    removeTree(aside);  // the new item is in place; a leftover is only clutter
    return 0;
}

// ---- Shared checks of copy and move ----
struct Plan
{
    QString source;
    QString target;
    bool replacing = false;
    bool sourceIsDir = false;
    struct stat sourceStat {};
};

std::optional<FileOpResult> plan(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                                 const QString &targetName, Plan *p)
{
    const QString name = targetName.isEmpty() ? nameOf(source) : targetName;
    p->source = source;
    p->target = joinPath(targetFolder, name);
    if (!isValidFileName(name))
        return failure(FileOpError::InvalidName, source, p->target);
    if (!lstatPath(source, &p->sourceStat))
        return errnoFailure(errno, source, p->target);
    p->sourceIsDir = isRealDir(p->sourceStat);
    struct stat folder;
    if (::stat(enc(targetFolder).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return failure(FileOpError::Other, source, p->target,
                       QStringLiteral("The folder “%1” does not exist.").arg(targetFolder));
    if (p->sourceIsDir && isInsideCanonical(targetFolder, source))
        return failure(FileOpError::IntoItself, source, p->target);
    struct stat existing;
    if (!lstatPath(p->target, &existing))
        return std::nullopt;
    switch (onConflict) {
    case ConflictPolicy::Refuse:
        return failure(FileOpError::TargetExists, source, p->target);
    case ConflictPolicy::KeepBoth: {
        NameNumbering numbering;
        numbering.isFolder = p->sourceIsDir;
        p->target = joinPath(targetFolder, freeName(targetFolder, name, numbering));
        return std::nullopt;
    }
    case ConflictPolicy::Replace:
        if ((existing.st_dev == p->sourceStat.st_dev && existing.st_ino == p->sourceStat.st_ino)
            || isSameFile(source, p->target))
            return failure(FileOpError::SameFile, source, p->target);
        if (isRealDir(existing) && isInsideCanonical(source, p->target))
            return failure(FileOpError::IntoItself, source, p->target);
        p->replacing = true;
        return std::nullopt;
    }
    return std::nullopt;
}

// Copies p.source beside p.target and puts it in place.
FileOpResult copyPlanned(const Plan &p, CopyContext &ctx, bool verify)
{
    if (!p.replacing && S_ISREG(p.sourceStat.st_mode)) {
        const int err = copyFileUnnamed(p.source, p.sourceStat, p.target, ctx, verify);
        if (err != ENOTSUP)
            return err ? errnoFailure(err, p.source, p.target) : success(p.source, p.target);
    }
    const QString temporary = besideName(p.target, "copy");
    int err = copyTree(p.source, temporary, ctx);
    if (!err && verify && !(measureTree(temporary) == measureTree(p.source)))
        err = EIO;
    if (!err)
        err = putInPlace(temporary, p.target, p.replacing);
    if (err) {
        removeTree(temporary);
        return errnoFailure(err, p.source, p.target);
    }
    return success(p.source, p.target);
}

FileOpResult copyOnce(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    Plan p;
    if (auto refused = plan(source, targetFolder, onConflict, targetName, &p))
        return *refused;
    return copyPlanned(p, ctx, false);
}

FileOpResult moveOnce(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    Plan p;
    if (auto refused = plan(source, targetFolder, onConflict, targetName, &p))
        return *refused;
    int err = injectedFault(FileStep::Rename, source);
    if (!err)
        err = putInPlace(p.source, p.target, p.replacing);
    if (!err)
        return success(p.source, p.target);
    if (err != EXDEV)
        return errnoFailure(err, p.source, p.target);
    // Another file system: copy, check the copy, and only then delete the source.
    CopyContext syncing = ctx;
    syncing.syncFiles = true;
    FileOpResult copied = copyPlanned(p, syncing, true);
    if (!copied.ok())
        return copied;
    if (const int removeErr = removeTree(p.source)) {
        copied.error = errorForErrno(removeErr) == FileOpError::None ? FileOpError::Other : errorForErrno(removeErr);
        if (copied.error == FileOpError::SourceMissing || copied.error == FileOpError::TargetExists)
            copied.error = FileOpError::Other;
        copied.message = QStringLiteral("The item was copied, but the original could not be removed: ")
                         + QString::fromLocal8Bit(std::strerror(removeErr));
    }
    return copied;
}

// A numbered name taken by someone else between the check and the rename is
// numbered again.
template <typename Step>
FileOpResult withRetries(Step step, ConflictPolicy onConflict)
{
    FileOpResult r = step();
    for (int attempt = 0; attempt < 5 && onConflict == ConflictPolicy::KeepBoth
                          && r.error == FileOpError::TargetExists; ++attempt)
        r = step();
    return r;
}

FileOpResult copyWith(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    return withRetries([&] { return copyOnce(source, targetFolder, onConflict, targetName, ctx); }, onConflict);
}

FileOpResult moveWith(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    return withRetries([&] { return moveOnce(source, targetFolder, onConflict, targetName, ctx); }, onConflict);
}

qint64 bytesOf(const QString &path) { return measureTree(path).bytes; }

} // namespace

// ---- Names ----
bool isValidFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

FreeNameFinder::FreeNameFinder(const QString &folder)
    : m_folder(folder)
{
    std::vector<QByteArray> names;
    int err = 0;
    if (listNames(folder, &names, &err)) {
        m_taken.reserve(qsizetype(names.size()));
        for (const QByteArray &entry : names)
            m_taken.insert(QFile::decodeName(entry).toLower());
    }
}

void FreeNameFinder::addTaken(const QString &name)
{
    m_taken.insert(name.toLower());
}

bool FreeNameFinder::isFree(const QString &candidate) const
{
    // The listing may be old by now: the disk has the last word.
    struct stat st;
    return !m_taken.contains(candidate.toLower()) && !lstatPath(joinPath(m_folder, candidate), &st);
}

QString FreeNameFinder::peek(const QString &name, const NameNumbering &numbering) const
{
    if (numbering.tryPlainNameFirst && isFree(name))
        return name;
    QString base = name, extension;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (!numbering.isFolder && dot > 0 && dot < name.size() - 1) {
        base = name.left(dot);
        extension = name.mid(dot);
    }
    for (qint64 n = numbering.firstNumber;; ++n) {
        const QString candidate = base + numbering.separator + QString::number(n) + extension;
        if (isFree(candidate))
            return candidate;
    }
}

QString FreeNameFinder::take(const QString &name, const NameNumbering &numbering)
{
    const QString free = peek(name, numbering);
    addTaken(free);
    return free;
}

QString freeName(const QString &folder, const QString &name, const NameNumbering &numbering,
                 const QStringList &alsoTaken)
{
    FreeNameFinder finder(folder);
    for (const QString &other : alsoTaken)
        finder.addTaken(other);
    return finder.peek(name, numbering);
}

// ---- Comparisons ----
bool isSameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (::stat(enc(a).constData(), &sa) != 0 || ::stat(enc(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {
// The canonical form of path; a part that does not exist yet is kept as given
// under its nearest existing ancestor.
QString canonicalOf(const QString &path)
{
    QString existing = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    QStringList rest;
    while (true) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty()) {
            QString result = canonical;
            for (auto it = rest.crbegin(); it != rest.crend(); ++it)
                result = joinPath(result, *it);
            return result;
        }
        if (existing == QLatin1String("/"))
            return QDir::cleanPath(path);
        rest.append(nameOf(existing));
        existing = parentOf(existing);
    }
}
} // namespace

bool isInsideCanonical(const QString &path, const QString &folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    const QString p = canonicalOf(path);
    const QString f = canonicalOf(folder);
    if (p == f || f == QLatin1String("/"))
        return true;
    return p.startsWith(f + QLatin1Char('/'));
}

// ---- Single items ----
FileOpResult copyItem(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName)
{
    CopyContext ctx;
    return copyWith(source, targetFolder, onConflict, targetName, ctx);
}

FileOpResult moveItem(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName)
{
    CopyContext ctx;
    return moveWith(source, targetFolder, onConflict, targetName, ctx);
}

FileOpResult renameItem(const QString &path, const QString &newName)
{
    const QString target = joinPath(parentOf(path), newName);
    if (!isValidFileName(newName))
        return failure(FileOpError::InvalidName, path, target);
    struct stat st;
    if (!lstatPath(path, &st))
        return errnoFailure(errno, path, target);
    if (nameOf(path) == newName)
        return success(path, path);
    int err = injectedFault(FileStep::Rename, path);
    // A change of case only, on a file system that ignores case, finds the item itself.
    const bool caseOnly = newName.compare(nameOf(path), Qt::CaseInsensitive) == 0 && isSameFile(path, target);
    if (!err)
        err = caseOnly ? (::rename(enc(path).constData(), enc(target).constData()) == 0 ? 0 : errno)
                       : renameNoReplace(path, target);
    return err ? errnoFailure(err, path, target) : success(path, target);
}

FileOpResult createFolder(const QString &folder, const QString &name)
{
    const QString target = joinPath(folder, name);
    if (!isValidFileName(name))
        return failure(FileOpError::InvalidName, target, target);
    int err = injectedFault(FileStep::MakeFolder, target);
    if (!err && ::mkdir(enc(target).constData(), 0777) != 0)
        err = errno;
    if (err == ENOENT)
        return failure(FileOpError::SourceMissing, target, target,
                       QStringLiteral("The folder “%1” does not exist.").arg(folder));
    return err ? errnoFailure(err, target, target) : success(target, target);
}

// ---- Batches ----
QList<FileOpResult> FileOperation::runNow(FileOpKind kind, const QList<FileOpItem> &items,
                                          const std::atomic<bool> *cancel,
                                          const std::function<void(const FileOpProgress &)> &progress)
{
    registerTypes();
    FileOpProgress state;
    state.itemsTotal = items.size();
    // Bytes of each item, measured before anything moves.
    QList<qint64> itemBytes;
    if (kind != FileOpKind::Trash) {
        for (const FileOpItem &item : items) {
            itemBytes.append(bytesOf(item.source));
            state.bytesTotal += itemBytes.last();
        }
    }
    QElapsedTimer sinceReport;
    sinceReport.start();
    const auto report = [&](bool force) {
        if (progress && (force || sinceReport.elapsed() >= 30)) {
            progress(state);
            sinceReport.restart();
        }
    };
    CopyContext ctx;
    ctx.onBytes = [&](qint64 bytes) {
        state.bytesDone += bytes;
        report(false);
    };
    report(true);

    QList<FileOpResult> results;
    results.reserve(items.size());
    qint64 bytesBefore = 0;
    for (const FileOpItem &item : items) {
        const QString target = item.targetFolder.isEmpty()
                                   ? QString()
                                   : joinPath(item.targetFolder,
                                              item.targetName.isEmpty() ? nameOf(item.source) : item.targetName);
        if (cancel && cancel->load()) {
            results.append(failure(FileOpError::Cancelled, item.source, target));
            continue;
        }
        switch (kind) {
        case FileOpKind::Copy:
            results.append(copyWith(item.source, item.targetFolder, item.onConflict, item.targetName, ctx));
            break;
        case FileOpKind::Move:
            results.append(moveWith(item.source, item.targetFolder, item.onConflict, item.targetName, ctx));
            break;
        case FileOpKind::Trash:
            results.append(moveToTrash(item.source));
            break;
        }
        ++state.itemsDone;
        bytesBefore += itemBytes.value(results.size() - 1);
        state.bytesDone = bytesBefore;   // a failed or renamed item counts as done too
        report(false);
    }
    report(true);
    return results;
}

struct FileOperation::Private
{
    FileOpKind kind;
    QList<FileOpItem> items;
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    bool autoDelete = true;
    bool started = false;
    QFutureWatcher<QList<FileOpResult>> *watcher = nullptr;
};

FileOperation::FileOperation(FileOpKind kind, QList<FileOpItem> items, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    registerTypes();
    d->kind = kind;
    d->items = std::move(items);
}

FileOperation::~FileOperation()
{
    d->cancelled->store(true);
    if (d->watcher)
        d->watcher->waitForFinished();  // ends after the item in hand
}

void FileOperation::start()
{
    if (d->started)
        return;
    d->started = true;
    d->watcher = new QFutureWatcher<QList<FileOpResult>>(this);
    connect(d->watcher, &QFutureWatcherBase::finished, this, [this] {
        const QList<FileOpResult> results = d->watcher->result();
        Q_EMIT finished(results);
        if (d->autoDelete)
            deleteLater();
    });
    QPointer<FileOperation> self(this);
    const auto cancelled = d->cancelled;
    const auto post = [self](const FileOpProgress &state) {
        if (self)
            QMetaObject::invokeMethod(self.data(), [self, state] {
                if (self)
                    Q_EMIT self->progress(state);
            }, Qt::QueuedConnection);
    };
    d->watcher->setFuture(QtConcurrent::run([kind = d->kind, items = d->items, cancelled, post] {
        return runNow(kind, items, cancelled.get(), post);
    }));
}

void FileOperation::cancel() { d->cancelled->store(true); }
bool FileOperation::isCancelled() const { return d->cancelled->load(); }
FileOpKind FileOperation::kind() const { return d->kind; }
void FileOperation::setAutoDelete(bool autoDelete) { d->autoDelete = autoDelete; }

std::optional<FailureSummary> failureSummary(const QList<FileOpResult> &results)
{
    int failed = 0;
    const FileOpResult *first = nullptr;
    for (const FileOpResult &r : results) {
        if (r.ok() || r.error == FileOpError::Cancelled)
            continue;
        ++failed;
        if (!first)
            first = &r;
    }
    if (!failed)
        return std::nullopt;
    FailureSummary summary;
    summary.title = QStringLiteral("Some items could not be processed.");
    const QString firstError = QStringLiteral("“%1”: %2").arg(nameOf(first->source), first->message);
    summary.text = failed == 1 ? QStringLiteral("1 item could not be processed. %1").arg(firstError)
                               : QStringLiteral("%1 items could not be processed. The first error: %2")
                                     .arg(failed)
                                     .arg(firstError);
    return summary;
}

void setFileFaultForTesting(FileFaultHook hook)
{
    std::lock_guard<std::mutex> lock(g_faultMutex);
    g_fault = std::move(hook);
}

} // namespace lg
