// A decode worker's allocations: one that the kernel refuses (the worker's
// grant, RLIMIT_DATA, is spent) ends the worker at once with
// workerOverGrantStatus, so that the program learns that the decode needed
// more, rather than a library going on with a null pointer or a decode
// failing as if the file were damaged. Linked into the worker programs only;
// in a build with AddressSanitizer its own allocator stands and the program
// holds the grant by the worker's resident memory instead.
#include "platform/image/WorkerProtocol.h"

#include <cerrno>
#include <cstddef>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define LG_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LG_SANITIZED_ALLOCATOR 1
#endif
#endif

#ifndef LG_SANITIZED_ALLOCATOR

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void *__mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset);
}

namespace {

[[noreturn]] void grantSpent()
{
    ::_exit(lg::image::workerOverGrantStatus);
}

void *checked(void *pointer, size_t size)
{
    if (!pointer && size > 0)
        grantSpent();
    return pointer;
}

bool alignmentValid(size_t alignment)
{
    return alignment >= sizeof(void *) && (alignment & (alignment - 1)) == 0;
}

} // namespace

extern "C" {

void *malloc(size_t size)
{
    return checked(__libc_malloc(size), size);
}

void *calloc(size_t count, size_t size)
{
    // An overflowing product is the caller's error, not a spent grant.
    if (size != 0 && count > size_t(-1) / size) {
        errno = ENOMEM;
        return nullptr;
    }
    return checked(__libc_calloc(count, size), count * size);
}

void *realloc(void *pointer, size_t size)
{
    return checked(__libc_realloc(pointer, size), size);
}

void *memalign(size_t alignment, size_t size)
{
    return checked(__libc_memalign(alignment, size), size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    return checked(__libc_memalign(alignment, size), size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    if (!alignmentValid(alignment))
        return EINVAL;
    *out = checked(__libc_memalign(alignment, size), size);
    return 0;
}

void *valloc(size_t size)
{
    return checked(__libc_memalign(size_t(::sysconf(_SC_PAGESIZE)), size), size);
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    void *mapped = __mmap(address, length, protection, flags, fd, offset);
    if (mapped == MAP_FAILED && errno == ENOMEM && (flags & MAP_ANONYMOUS) && (protection & PROT_WRITE))
        grantSpent();
    return mapped;
}

} // extern "C"

#endif
