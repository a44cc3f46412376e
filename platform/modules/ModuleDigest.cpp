// The digest of a module file, and the sealed copy of what was read.
#include "platform/modules/ModuleDigest.h"

#include <QCryptographicHash>

#include <cstring>

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace lg::image::built {
// The SHA-256 of each module file this build made, in hex, by file name:
// generated once the modules are linked (platform/modules/identity/ModuleDigests.cmake).
extern const char *const moduleDigests[][2];
extern const int moduleDigestCount;
} // namespace lg::image::built

namespace lg::image {

namespace {

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U   // kernels from 6.3 on; older ones refuse the flag
#endif

// A memory file that can be sealed and mapped to run, named as the module
// file (the process's maps show it so); -1 where there is none.
int executableMemoryFile(const char *name)
{
    int fd = ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_EXEC);
    if (fd < 0 && errno == EINVAL)
        fd = ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    return fd;
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

} // namespace

ReadModule readModule(int fd, quint64 size, const char *name)
{
    ReadModule read;
    int copy = executableMemoryFile(name);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(1 << 18);
    quint64 at = 0;
    while (true) {
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), off_t(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            if (copy >= 0)
                ::close(copy);
            return {};
        }
        if (got == 0)
            break;
        hash.addData(QByteArrayView(buffer.data(), got));
        if (copy >= 0 && !writeAll(copy, buffer.data(), size_t(got))) {
            ::close(copy);
            copy = -1;
        }
        at += quint64(got);
    }
    if (at != size) {
        if (copy >= 0)
            ::close(copy);
        return {};
    }
    if (copy >= 0 && ::fcntl(copy, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        ::close(copy);
        copy = -1;
    }
    read.digest = hash.result();
    read.sealed = copy;
    return read;
}


std::vector<QByteArray> builtDigests(const char *file)
{
    std::vector<QByteArray> digests;
    for (int i = 0; i < built::moduleDigestCount; ++i)
        if (std::strcmp(built::moduleDigests[i][0], file) == 0)
            digests.push_back(QByteArray::fromHex(built::moduleDigests[i][1]));
    return digests;
}

} // namespace lg::image
