// The checked bytes of a module, loaded from a sealed memory file or, where
// the system will not run code from one, from a private file copy.
#include "platform/modules/ModuleCopy.h"

#include "platform/base/XdgDirectories.h"
#include "platform/files/names/FileNames.h"
#include "platform/modules/FolderTrust.h"
#include "platform/modules/ModulesShared.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <mutex>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg::image {

namespace {

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U   // kernels from 6.3 on; older ones refuse the flag
#endif

std::atomic<bool> memoryRefusedForTesting {false};

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

// A sealed memory file holding bytes, named fileName (the process's maps show
// it as /memfd:fileName), that may be mapped to run; -1 when there is none,
// with refused set when the system will not run code from one.
int sealedCopy(const QByteArray &bytes, const char *fileName, bool *refused, QString *error)
{
    *refused = memoryRefusedForTesting.load();
    if (*refused)
        return -1;
    int fd = ::memfd_create(fileName, MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_EXEC);
    if (fd < 0 && errno == EINVAL)
        fd = ::memfd_create(fileName, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        *refused = refusesToRun(errno);
        *error = QStringLiteral("no memory file for it: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    if (!writeAll(fd, bytes.constData(), size_t(bytes.size()))
        || ::fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        *error = QStringLiteral("its copy in memory cannot be made: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    // What the loader will ask of it: its first page mapped to run.
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    void *probe = ::mmap(nullptr, page, PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
    if (probe == MAP_FAILED) {
        *refused = refusesToRun(errno);
        *error = QStringLiteral("its copy in memory cannot be run: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    ::munmap(probe, page);
    return fd;
}

// A folder for file copies of modules that only root and the program's user
// may change, made where needed; empty with why set when there is none.
QString copyFolder(QString *why)
{
    QStringList candidates;
    // The session's own folder, where there is one (never made here).
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat runtimeFolder = {};
    if (runtime.startsWith('/') && ::stat(runtime.constData(), &runtimeFolder) == 0 && S_ISDIR(runtimeFolder.st_mode))
        candidates << FileNames::fromNative(runtime) + QStringLiteral("/lumengallery-modules");
    candidates << xdgBaseDirectory(XdgKind::Cache) + QStringLiteral("/lumengallery/modules");
    for (const QString &folder : std::as_const(candidates)) {
        const QByteArray path = FileNames::toNative(folder);
        QDir().mkpath(QFileInfo(folder).path());
        ::mkdir(path.constData(), 0700);
        struct stat st = {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            *why = QStringLiteral("%1 cannot be made").arg(folder);
            continue;
        }
        if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
            *why = QStringLiteral("%1 may be read or changed by other users").arg(folder);
            continue;
        }
        if (const QString reason = untrustedFolderReason(folder); !reason.isEmpty()) {
            *why = reason;
            continue;
        }
        return folder;
    }
    return {};
}

// Removes the copies of the module file fileName in folder other than the one
// called keep: those of other builds. A program that loaded one keeps it mapped.
void removeOtherCopies(const QByteArray &folder, const QByteArray &keep, const char *fileName)
{
    DIR *listing = ::opendir(folder.constData());
    if (!listing)
        return;
    const QByteArray suffix = QByteArray("-") + fileName;
    while (const struct dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != keep && name.endsWith(suffix))
            ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::closedir(listing);
}

// Writes bytes to a file in folder named after digest and fileName, reads it
// back and compares; its path, or empty with error set.
QString fileCopy(const QString &folder, const QByteArray &bytes, const QByteArray &digest, const char *fileName,
                 QString *error)
{
    const QByteArray name = digest.toHex().left(16) + '-' + fileName;
    const QByteArray path = FileNames::toNative(folder) + '/' + name;
    removeOtherCopies(FileNames::toNative(folder), name, fileName);
    QByteArray temporary = path + ".XXXXXX";
    const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        *error = QStringLiteral("its copy cannot be written in %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    const bool written = writeAll(out, bytes.constData(), size_t(bytes.size())) && ::fchmod(out, 0500) == 0;
    const int writeError = errno;
    if (::close(out) != 0 || !written || ::rename(temporary.constData(), path.constData()) != 0) {
        *error = QStringLiteral("its copy cannot be written in %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(written ? errno : writeError)));
        ::unlink(temporary.constData());
        return {};
    }
    // Checked again: what the loader will open is what was checked.
    const int in = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
    struct stat st = {};
    QByteArray back;
    const bool same = in >= 0 && ::fstat(in, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
        && readWhole(in, bytes.size(), &back) && back == bytes;
    if (in >= 0)
        ::close(in);
    if (!same) {
        *error = QStringLiteral("its copy in %1 is not what was written").arg(folder);
        return {};
    }
    return FileNames::fromNative(path);
}

} // namespace

void *loadCheckedModule(const QByteArray &bytes, const QByteArray &digest, const char *fileName, QString *error)
{
    bool refused = false;
    const int sealed = sealedCopy(bytes, fileName, &refused, error);
    if (sealed >= 0) {
        // Never closed: the loader knows the library by this name, which must
        // never name another file, and a debugger opens it while the program runs.
        const QByteArray name = "/proc/" + QByteArray::number(::getpid()) + "/fd/" + QByteArray::number(sealed);
        void *library = ::dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            *error = QString::fromLocal8Bit(::dlerror());
        return library;
    }
    if (!refused)
        return nullptr;
    QString why;
    const QString folder = copyFolder(&why);
    if (folder.isEmpty()) {
        *error = QStringLiteral("the system does not run code from memory files, and there is no folder only this "
                                "user may change for a copy (%1)").arg(why);
        return nullptr;
    }
    static std::once_flag said;
    std::call_once(said, [&folder] {
        qWarning().noquote() << QStringLiteral("This system does not run code from memory files: the codec modules run "
                                               "from copies of their files in %1, checked again before they are loaded")
                                    .arg(folder);
    });
    const QString path = fileCopy(folder, bytes, digest, fileName, error);
    if (path.isEmpty())
        return nullptr;
    void *library = ::dlopen(FileNames::toNative(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        *error = QString::fromLocal8Bit(::dlerror());
    return library;
}

void setExecutableMemoryRefusedForTesting(bool refused)
{
    memoryRefusedForTesting.store(refused);
}

} // namespace lg::image
