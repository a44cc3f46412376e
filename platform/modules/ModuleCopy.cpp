// The checked bytes of a module, loaded from a sealed memory file or, where
// the system will not run code from one, from a private file copy; named for
// debuggers by a kept copy of the module's bytes.
#include "platform/modules/ModuleCopy.h"

#include "platform/base/XdgDirectories.h"
#include "platform/files/names/FileNames.h"
#include "platform/modules/FolderTrust.h"
#include "platform/modules/LoadedDigest.h"

#include "ModuleBuild.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <mutex>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg::image {

namespace {

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U   // kernels from 6.3 on; older ones refuse the flag
#endif

constexpr int seals = F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

std::atomic<bool> memoryRefusedForTesting {false};

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= size_t(put);
    }
    return true;
}

bool refusesToRun(int error)
{
    return error == EACCES || error == EPERM || error == ENOSYS;
}

// Whether the first page of the file open as fd may be mapped to run, as the
// loader will ask; else error is set.
bool mayRun(int fd, int *error)
{
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    void *probe = ::mmap(nullptr, page, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
    if (probe == MAP_FAILED) {
        *error = errno;
        return false;
    }
    ::munmap(probe, page);
    return true;
}

// A sealed memory file holding bytes, named fileName (the process's maps show
// it as /memfd:fileName), that may be mapped to run; -1 when there is none,
// with refused set when the system will not run code from one.
int sealedCopy(const QByteArray &bytes, const char *fileName, bool *refused, QString *error)
{
    *refused = memoryRefusedForTesting.load();
    if (*refused) {
        *error = QStringLiteral("no memory file may run code here");
        return -1;
    }
    int fd = ::memfd_create(fileName, MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_EXEC);
    if (fd < 0 && errno == EINVAL)
        fd = ::memfd_create(fileName, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        *refused = refusesToRun(errno);
        *error = QStringLiteral("no memory file for it: %1").arg(systemError(errno));
        return -1;
    }
    if (!writeAll(fd, bytes.constData(), size_t(bytes.size())) || ::fcntl(fd, F_ADD_SEALS, seals) != 0) {
        *error = QStringLiteral("its copy in memory cannot be made: %1").arg(systemError(errno));
        ::close(fd);
        return -1;
    }
    int runError = 0;
    if (!mayRun(fd, &runError)) {
        *refused = refusesToRun(runError);
        *error = QStringLiteral("its copy in memory cannot be run: %1").arg(systemError(runError));
        ::close(fd);
        return -1;
    }
    return fd;
}

// The name by which the loader, and a debugger in another process, open the
// sealed memory file held as fd: /proc/<pid>/fd/<fd>, by the pid /proc itself
// shows for this process, once that name is found to open this very memory
// file (the same file, sealed as it was); empty with why set when /proc
// gives it no such name.
QByteArray procName(int fd, QString *why)
{
    char pid[32];
    const ssize_t length = ::readlink("/proc/self", pid, sizeof pid);
    if (length <= 0 || size_t(length) >= sizeof pid) {
        *why = QStringLiteral("/proc does not show this process");
        return {};
    }
    const QByteArray name = "/proc/" + QByteArray(pid, int(length)) + "/fd/" + QByteArray::number(fd);
    const int opened = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat held = {};
    struct stat seen = {};
    const bool same = opened >= 0 && ::fstat(fd, &held) == 0 && ::fstat(opened, &seen) == 0
        && held.st_dev == seen.st_dev && held.st_ino == seen.st_ino && ::fcntl(opened, F_GET_SEALS) == seals;
    if (opened >= 0)
        ::close(opened);
    if (!same) {
        *why = QStringLiteral("%1 is not the memory file made for it").arg(FileNames::fromNative(name));
        return {};
    }
    return name;
}

// The folders copies of modules may be kept in, in the order they are tried,
// each one's own for this build, made where needed: the session's own folder
// (where there is one; never made here), then the cache folder. Only those
// that only root and the program's user may change; why says what was wrong
// with the others.
QStringList copyFolders(QString *why)
{
    QStringList bases;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat runtimeFolder = {};
    if (runtime.startsWith('/') && ::stat(runtime.constData(), &runtimeFolder) == 0 && S_ISDIR(runtimeFolder.st_mode))
        bases << FileNames::fromNative(runtime) + QStringLiteral("/lumengallery-modules");
    bases << xdgBaseDirectory(XdgKind::Cache) + QStringLiteral("/lumengallery/modules");
    QStringList folders;
    for (const QString &base : std::as_const(bases)) {
        QDir().mkpath(QFileInfo(base).path());
        const QString folder = base + QStringLiteral("/" LG_MODULE_BUILD_ID);
        bool usable = true;
        for (const QString &path : {base, folder}) {
            const QByteArray bytes = FileNames::toNative(path);
            ::mkdir(bytes.constData(), 0700);
            struct stat st = {};
            if (::lstat(bytes.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                *why = QStringLiteral("%1 cannot be made").arg(path);
                usable = false;
                break;
            }
            if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
                *why = QStringLiteral("%1 may be read or changed by other users").arg(path);
                usable = false;
                break;
            }
        }
        if (!usable)
            continue;
        if (const QString reason = untrustedFolderReason(folder); !reason.isEmpty()) {
            *why = reason;
            continue;
        }
        folders << folder;
    }
    return folders;
}

// Whether the file open as fd is ours and holds bytes, and nothing more.
bool holds(int fd, const QByteArray &bytes)
{
    struct stat st = {};
    QByteArray back;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_size == bytes.size()
        && readWhole(fd, bytes.size(), &back) && back == bytes;
}

// The file name in folder holding bytes, written unless it holds them already
// (another process of this build may have written it, and may have loaded
// it), open as the returned handle once read back and compared; -1 with error
// set. Never removed: what loaded it, or a crash report read after it ended,
// may still need its name.
int keptCopy(const QString &folder, const QByteArray &name, const QByteArray &bytes, QString *error)
{
    const QByteArray path = FileNames::toNative(folder) + '/' + name;
    const auto openCopy = [&path] { return ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK); };
    if (const int existing = openCopy(); existing >= 0) {
        if (holds(existing, bytes))
            return existing;
        ::close(existing);
    }
    QByteArray temporary = path + ".XXXXXX";
    const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        *error = QStringLiteral("its copy cannot be written in %1: %2").arg(folder, systemError(errno));
        return -1;
    }
    const bool written = writeAll(out, bytes.constData(), size_t(bytes.size())) && ::fchmod(out, 0500) == 0;
    const int writeError = errno;
    if (::close(out) != 0 || !written || ::rename(temporary.constData(), path.constData()) != 0) {
        *error = QStringLiteral("its copy cannot be written in %1: %2").arg(folder, systemError(written ? errno : writeError));
        ::unlink(temporary.constData());
        return -1;
    }
    // Checked again: what the loader will open is what was checked.
    const int in = openCopy();
    if (in < 0 || !holds(in, bytes)) {
        if (in >= 0)
            ::close(in);
        *error = QStringLiteral("its copy in %1 is not what was written").arg(folder);
        return -1;
    }
    return in;
}

// The loader's record of library names path from now on: the name gdb reads
// from a core and dladdr() gives, which outlives the process.
void nameLoaded(void *library, const QByteArray &path)
{
    struct link_map *map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return;
    // Never freed, as the library is never unloaded (RTLD_NODELETE); the name
    // it replaces stays too, for a reader that holds it now.
    if (char *name = ::strdup(path.constData()))
        __atomic_store_n(&map->l_name, name, __ATOMIC_RELEASE);
}

void *openLibrary(const QByteArray &name, QString *error)
{
    void *library = ::dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library)
        *error = QString::fromLocal8Bit(::dlerror());
    return library;
}

} // namespace

CheckedLoad loadCheckedModule(const QByteArray &bytes, const QByteArray &digest, const char *fileName)
{
    const QByteArray loaded = clearedOfUncheckedBytes(bytes, qint64(::sysconf(_SC_PAGESIZE)));
    const QByteArray name = digest.toHex().left(16) + '-' + fileName;
    QString why;
    const QStringList folders = copyFolders(&why);
    // The module as read, under a name that outlives the process.
    QString kept;
    if (!folders.isEmpty()) {
        QString unkept;
        if (const int fd = keptCopy(folders.constFirst(), name, bytes, &unkept); fd >= 0) {
            kept = folders.constFirst() + QLatin1Char('/') + QString::fromLatin1(name);
            ::close(fd);
        }
    }

    QString error;
    bool refused = false;
    QByteArray loadName;
    if (const int sealed = sealedCopy(loaded, fileName, &refused, &error); sealed >= 0) {
        // Never closed: the loader knows the library by this name, which must
        // never name another file.
        loadName = procName(sealed, &error);
        if (loadName.isEmpty()) {
            ::close(sealed);
            refused = true;
        }
    }
    if (loadName.isEmpty()) {
        if (!refused)
            return {nullptr, Refusal::Unloadable, error};
        for (const QString &folder : folders) {
            const QByteArray runName = name + ".run";
            const int fd = keptCopy(folder, runName, loaded, &why);
            if (fd < 0)
                continue;
            int runError = 0;
            const bool runs = mayRun(fd, &runError);
            ::close(fd);
            if (!runs) {
                why = QStringLiteral("%1 does not allow running code: %2").arg(folder, systemError(runError));
                continue;
            }
            loadName = FileNames::toNative(folder) + '/' + runName;
            static std::once_flag said;
            std::call_once(said, [&folder, &error] {
                qWarning().noquote() << QStringLiteral("This system does not run code from memory files: the codec "
                                                       "modules run from copies of their files in %1, checked again "
                                                       "before they are loaded (%2)")
                                            .arg(folder, error);
            });
            break;
        }
        if (loadName.isEmpty())
            return {nullptr, Refusal::NowhereToRun,
                    QStringLiteral("the system runs code neither from memory files (%1) nor from a copy in a folder only "
                                   "this user may change (%2)").arg(error, why)};
    }
    void *library = openLibrary(loadName, &error);
    if (!library)
        return {nullptr, Refusal::Unloadable, error};
    if (!kept.isEmpty())
        nameLoaded(library, FileNames::toNative(kept));
    return {library, Refusal::None, {}};
}

bool memoryFilesRunCode()
{
    bool refused = false;
    QString error;
    const int probe = sealedCopy(QByteArray(qsizetype(::sysconf(_SC_PAGESIZE)), '\0'), "lumengallery-probe", &refused, &error);
    if (probe >= 0)
        ::close(probe);
    return !refused;
}

void setExecutableMemoryRefusedForTesting(bool refused)
{
    memoryRefusedForTesting.store(refused);
}

} // namespace lg::image
