// Finding, checking and loading the codec modules, and the decoder functions that call them.
#include "platform/image/Modules.h"

#include "platform/base/HandlePath.h"
#include "platform/image/ByteSource.h"
#include "platform/image/Decoders.h"
#include "platform/image/FormatProbe.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Pools.h"

#include "ModuleBuild.h"
#include "platform/files/FileNames.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <grp.h>
#include <link.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg::image::built {
// The SHA-256 of each module file this build made, in hex, by file name:
// generated once the modules are linked (cmake/ModuleBuildDigests.cmake).
extern const char *const moduleDigests[][2];
extern const int moduleDigestCount;
} // namespace lg::image::built

namespace lg::image {

namespace {

constexpr int moduleCount = 5;

struct ModuleFacts
{
    const char *file;
    const char *entryPoint;
    const char *library;   // what it wraps, for the log
    const char *name;      // the module, as the window names it
    const char *title;     // what cannot be shown without it
};

const ModuleFacts &factsOf(Module module)
{
    static const std::array<ModuleFacts, moduleCount> facts = {{
        {"lumengallery_heif.so", heifEntryPoint, "libheif", "HEIC", "HEIC and AVIF pictures cannot be shown"},
        {"lumengallery_raw.so", rawEntryPoint, "LibRaw", "camera raw", "Camera raw pictures cannot be shown"},
        {"lumengallery_magick.so", magickEntryPoint, "ImageMagick", "ImageMagick",
         "PSD, JPEG 2000, HDR and other less common pictures cannot be shown"},
        {"lumengallery_video.so", videoEntryPoint, "FFmpeg", "video", "Videos cannot be shown"},
        {"lumengallery_player.so", playerEntryPoint, "Qt Multimedia", "video player", "Videos cannot be played"},
    }};
    return facts[size_t(module)];
}

// Why a module is not used, for the words in the window.
enum class Refusal { None, Missing, Untrusted, Elsewhere, Damaged, OtherBuild, Unloadable };

// A module file found at start: held open for the life of the process.
struct Found
{
    int fd = -1;
    QString path;
    Refusal refusal = Refusal::Missing;   // when fd < 0
    QString reason;                       // when fd < 0 and something was refused
};

// One module's load: its own lock, so that loads of different modules never
// wait for each other.
struct Slot
{
    std::mutex loading;
    std::atomic<const void *> loaded {nullptr};
    std::atomic<bool> tried {false};
    std::atomic<bool> preloading {false};
};

struct Loader
{
    Loader();

    std::array<Slot, moduleCount> slots;

    // The rest is guarded by state, which is never held while a module loads.
    std::mutex state;
    QString executable;   // absolute, as at start
    dev_t executableDevice = 0;
    ino_t executableInode = 0;
    QStringList defaults;   // the program's own module folder
    QStringList added;
    QStringList folders;    // searched now
    std::array<Found, moduleCount> found;
    std::array<QString, moduleCount> errors;
    std::array<bool, moduleCount> told {};
    QList<ModuleProblem> untold;   // problems not yet handed to the handler
    int loadsUnderWay = 0;         // their problems are told once the last ends
    bool checkedAll = false;       // a refusal has had every other module checked
    std::function<void(const QList<ModuleProblem> &)> handler;
    std::function<void(Module)> loadHook;
    std::function<void(Module)> checkedHook;
    std::vector<std::pair<QString, QByteArray>> acceptedForTesting;   // file name, SHA-256
};

Loader &loader()
{
    static Loader *instance = new Loader;   // never destroyed: pool threads may still ask at exit
    return *instance;
}

// Found before main(), while the executable's path is still its own.
const bool foundAtStart = (loader(), true);

bool ownedByUs(const struct stat &st)
{
    return st.st_uid == 0 || st.st_uid == geteuid();
}

struct GroupLookup
{
    std::mutex mutex;   // also keeps the walk of the users' list to one thread of ours
    GroupMembersLookup forTesting;
};

GroupLookup &groupLookup()
{
    static GroupLookup *instance = new GroupLookup;
    return *instance;
}

// The system's answer for GroupMembersLookup; the caller holds the lookup's lock.
std::optional<std::vector<uid_t>> systemGroupMembers(gid_t gid)
{
    std::vector<char> buffer(16384);
    struct group entry = {};
    struct group *found = nullptr;
    while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 24))
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    std::vector<uid_t> members;
    for (char **name = entry.gr_mem; name && *name; ++name) {
        std::vector<char> userBuffer(16384);
        struct passwd user = {};
        struct passwd *known = nullptr;
        while (::getpwnam_r(*name, &user, userBuffer.data(), userBuffer.size(), &known) == ERANGE
               && userBuffer.size() < (1u << 24))
            userBuffer.resize(userBuffer.size() * 2);
        // A name no user has may be given to one later: nobody's own.
        members.push_back(known ? user.pw_uid : uid_t(-1));
    }
    // Whose primary group it is: only the users' list says, walked whole as OpenSSH does.
    ::setpwent();
    while (const struct passwd *user = ::getpwent())
        if (user->pw_gid == gid)
            members.push_back(user->pw_uid);
    ::endpwent();
    return members;
}

// Whether users other than the owner of what st describes may change it:
// everybody may write it, or a group that holds someone else. A group of
// nobody is no better (programs set to run as that group write with it).
bool othersMayWrite(const struct stat &st)
{
    if (st.st_mode & S_IWOTH)
        return true;
    if (!(st.st_mode & S_IWGRP))
        return false;
    std::optional<std::vector<uid_t>> members;
    {
        GroupLookup &lookup = groupLookup();
        std::lock_guard lock(lookup.mutex);
        members = lookup.forTesting ? lookup.forTesting(st.st_gid) : systemGroupMembers(st.st_gid);
    }
    return !members || members->empty()
        || std::any_of(members->begin(), members->end(), [&st](uid_t user) { return user != st.st_uid; });
}

// The name in folder of the file that a link in it, whose text is target,
// leads to; empty when it leads outside the folder.
QByteArray nameInFolder(const QByteArray &folder, const QByteArray &target)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray name = target.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return {};
    if (slash < 0)
        return name;
    QByteArray parent = target.left(slash);
    if (!target.startsWith('/'))
        parent = folder + '/' + parent;
    else if (parent.isEmpty())
        parent = "/";
    char realParent[PATH_MAX];
    char realFolder[PATH_MAX];
    if (!::realpath(parent.constData(), realParent) || !::realpath(folder.constData(), realFolder))
        return {};
    return std::strcmp(realParent, realFolder) == 0 ? name : QByteArray();
}

// Opens the module file name in the folder open as folderFd, a link only to
// a file of that same folder, by its name there (never through another
// folder a link names); -1 with reason set when it leads elsewhere, -1 alone
// when there is nothing to open.
int openInFolder(int folderFd, const QByteArray &folder, QByteArray name, QString *reason)
{
    for (int links = 0; links < 8; ++links) {
        // Non-blocking: a FIFO in a module's place must not hold the start.
        const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (fd >= 0 || errno != ELOOP)
            return fd;
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(folderFd, name.constData(), target, sizeof target);
        if (length <= 0 || size_t(length) >= sizeof target)
            return -1;
        const QByteArray text(target, length);
        const QByteArray next = nameInFolder(folder, text);
        if (next.isEmpty()) {
            *reason = QStringLiteral("%1/%2 is a link to %3, outside the module folder")
                          .arg(FileNames::fromNative(folder), FileNames::fromNative(name), FileNames::fromNative(text));
            return -1;
        }
        name = next;
    }
    *reason = QStringLiteral("%1 leads through too many links").arg(FileNames::fromNative(folder + '/' + name));
    return -1;
}

void findInLocked(Loader &l, const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QByteArray folderBytes = FileNames::toNative(QDir::cleanPath(folder));
        const int folderFd = QDir::isAbsolutePath(folder)
            ? ::open(folderBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        if (folderFd < 0)
            continue;
        // The folder checked is the folder held, wherever a link on its way
        // pointed when it was opened: a link swapped after the check leads
        // nothing here elsewhere.
        char real[PATH_MAX];
        const QByteArray handle = lg::handlePath(folderFd);
        const ssize_t length = ::readlink(handle.constData(), real, sizeof real);
        const QByteArray held = length > 0 && size_t(length) < sizeof real ? QByteArray(real, length) : QByteArray();
        const QString untrusted = held.startsWith('/') ? untrustedFolderReason(FileNames::fromNative(held))
                                                       : QStringLiteral("%1 cannot be read").arg(folder);
        for (size_t i = 0; i < size_t(moduleCount); ++i) {
            Found &found = l.found[i];
            if (found.fd >= 0)
                continue;
            const QByteArray name(factsOf(Module(i)).file);
            const QString path = FileNames::fromNative(folderBytes + '/' + name);
            QString reason;
            const int fd = openInFolder(folderFd, held, name, &reason);
            Refusal refusal = Refusal::Elsewhere;
            if (fd >= 0) {
                struct stat st = {};
                reason = untrusted;
                refusal = Refusal::Untrusted;
                if (reason.isEmpty()) {
                    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                        reason = QStringLiteral("%1 is not a file").arg(path);
                        refusal = Refusal::Damaged;
                    } else if (!ownedByUs(st) || othersMayWrite(st)) {
                        reason = QStringLiteral("%1 may be changed by other users").arg(path);
                    }
                }
                if (reason.isEmpty()) {
                    found = Found {fd, path, Refusal::None, {}};
                    continue;
                }
                ::close(fd);
            }
            if (!reason.isEmpty() && found.refusal == Refusal::Missing) {
                found.refusal = refusal;
                found.reason = reason;
            }
        }
        ::close(folderFd);
    }
}

Loader::Loader()
{
    char link[4096];
    const ssize_t length = ::readlink("/proc/self/exe", link, sizeof link - 1);
    if (length > 0) {
        link[length] = '\0';
        executable = lg::FileNames::fromNative(QByteArray(link, int(length)));
        struct stat st = {};
        if (::stat(link, &st) == 0) {
            executableDevice = st.st_dev;
            executableInode = st.st_ino;
        }
    }
    if (QDir::isAbsolutePath(executable))
        defaults << moduleFolderForProgram(executable, QStringLiteral(LG_BUILD_MODULE_DIR));
    folders = defaults;
    findInLocked(*this, folders);
}

// True when the executable the program started from has been replaced or
// removed since: an update ran while the program did.
bool updatedSinceStart(const Loader &l)
{
    struct stat st = {};
    return l.executableInode != 0
        && (::stat(lg::FileNames::toNative(l.executable).constData(), &st) != 0 || st.st_ino != l.executableInode
            || st.st_dev != l.executableDevice);
}

// ---- the module file, read before any of its code runs ----

bool inside(quint64 offset, quint64 size, quint64 fileSize)
{
    return offset <= fileSize && size <= fileSize - offset;
}

bool readAt(int fd, void *into, size_t size, quint64 offset)
{
    return ::pread(fd, into, size, off_t(offset)) == ssize_t(size);
}

constexpr unsigned char hostClass = sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char hostData = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
#if defined(__x86_64__)
constexpr int hostMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int hostMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr int hostMachine = EM_386;
#elif defined(__arm__)
constexpr int hostMachine = EM_ARM;
#elif defined(__riscv)
constexpr int hostMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr int hostMachine = EM_PPC64;
#elif defined(__s390x__)
constexpr int hostMachine = EM_S390;
#else
constexpr int hostMachine = -1;   // not checked
#endif

// Reads the build identifier from the notes in [offset, offset + size).
QByteArray buildIdIn(int fd, quint64 offset, quint64 size, quint64 alignment)
{
    if (size > (1 << 16))
        return {};
    QByteArray notes(qsizetype(size), Qt::Uninitialized);
    if (!readAt(fd, notes.data(), size_t(size), offset))
        return {};
    const quint64 align = alignment == 8 ? 8 : 4;
    const auto padded = [align](quint64 n) { return (n + align - 1) & ~(align - 1); };
    quint64 at = 0;
    while (size - at >= 12) {
        std::uint32_t header[3];
        std::memcpy(header, notes.constData() + at, sizeof header);
        const quint64 nameAt = at + 12;
        const quint64 descriptionAt = nameAt + padded(header[0]);
        const quint64 next = descriptionAt + padded(header[1]);
        if (!inside(nameAt, padded(header[0]), size) || !inside(descriptionAt, padded(header[1]), size))
            return {};
        if (header[2] == moduleNoteType && header[0] == sizeof moduleNoteName
            && std::memcmp(notes.constData() + nameAt, moduleNoteName, sizeof moduleNoteName) == 0) {
            const QByteArray description = notes.mid(qsizetype(descriptionAt), qsizetype(header[1]));
            return description.left(description.indexOf('\0'));
        }
        at = next;
    }
    return {};
}

// Why the file cannot be a module of this machine that loads safely: its
// header, and every segment and section it maps or names, must lie within the
// file (a truncated module would fault inside the loader). Fills buildId from
// its note.
QString damage(int fd, QByteArray *buildId)
{
    struct stat st = {};
    if (fstat(fd, &st) != 0)
        return QStringLiteral("it cannot be read");
    const quint64 fileSize = quint64(st.st_size);
    ElfW(Ehdr) header;
    if (fileSize < sizeof header || !readAt(fd, &header, sizeof header, 0))
        return QStringLiteral("it is too short to be a module");
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return QStringLiteral("it is not a module");
    if (header.e_ident[EI_CLASS] != hostClass || header.e_ident[EI_DATA] != hostData || header.e_type != ET_DYN
        || (hostMachine >= 0 && header.e_machine != hostMachine))
        return QStringLiteral("it is not a module for this machine");
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0
        || !inside(header.e_phoff, quint64(header.e_phnum) * sizeof(ElfW(Phdr)), fileSize))
        return QStringLiteral("its program headers lie outside the file, which is cut short or damaged");
    if (header.e_shnum != 0
        && (header.e_shentsize != sizeof(ElfW(Shdr))
            || !inside(header.e_shoff, quint64(header.e_shnum) * sizeof(ElfW(Shdr)), fileSize)))
        return QStringLiteral("its section headers lie outside the file, which is cut short or damaged");

    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!readAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)), header.e_phoff))
        return QStringLiteral("its program headers cannot be read");
    bool loads = false;
    for (const ElfW(Phdr) &segment : segments) {
        const bool mapped = segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC || segment.p_type == PT_NOTE;
        if (mapped && !inside(segment.p_offset, segment.p_filesz, fileSize))
            return QStringLiteral("a segment lies outside the file, which is cut short or damaged");
        if (segment.p_type == PT_LOAD) {
            loads = true;
            if (segment.p_filesz > segment.p_memsz)
                return QStringLiteral("a segment is larger in the file than in memory");
        }
        if (segment.p_type == PT_NOTE && buildId->isEmpty())
            *buildId = buildIdIn(fd, segment.p_offset, segment.p_filesz, segment.p_align);
    }
    if (!loads)
        return QStringLiteral("it maps nothing");
    if (header.e_shnum != 0) {
        std::vector<ElfW(Shdr)> sections(header.e_shnum);
        if (!readAt(fd, sections.data(), sections.size() * sizeof(ElfW(Shdr)), header.e_shoff))
            return QStringLiteral("its section headers cannot be read");
        for (const ElfW(Shdr) &section : sections)
            if (section.sh_type != SHT_NOBITS && section.sh_type != SHT_NULL
                && !inside(section.sh_offset, section.sh_size, fileSize))
                return QStringLiteral("a section lies outside the file, which is cut short or damaged");
    }
    return {};
}

// What a check read of a module: the SHA-256 of every byte behind its handle
// and, where the system offers sealed memory files, those very bytes in one,
// so that what is loaded is what was hashed, whatever is written to the file
// meanwhile. digest is empty when the file cannot be read whole or is not size
// bytes long; sealed is -1 without a sealed copy (the held handle is loaded).
struct ReadModule
{
    QByteArray digest;
    int sealed = -1;
};

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

// The digests a module file of this name may have: the build's own, and a
// test's stand-ins.
std::vector<QByteArray> acceptedDigests(const Loader &l, const char *file)
{
    std::vector<QByteArray> digests;
    for (int i = 0; i < built::moduleDigestCount; ++i)
        if (std::strcmp(built::moduleDigests[i][0], file) == 0)
            digests.push_back(QByteArray::fromHex(built::moduleDigests[i][1]));
    for (const auto &[name, digest] : l.acceptedForTesting)
        if (name == QLatin1String(file))
            digests.push_back(digest);
    return digests;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
        && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

struct Outcome
{
    const void *module = nullptr;
    Refusal refusal = Refusal::None;
    QString error;
    int sealed = -1;   // a check's sealed copy of the bytes it accepted, for the load; the taker closes it
};

// Whether the module found (filled in) may be loaded: everything short of
// loading it, read through the handle held. Any thread; the module's lock held.
Outcome check(Module module, Found *into)
{
    Loader &l = loader();
    const ModuleFacts &facts = factsOf(module);
    QStringList folders;
    std::vector<QByteArray> digests;
    {
        std::lock_guard lock(l.state);
        *into = l.found[size_t(module)];
        folders = l.folders;
        digests = acceptedDigests(l, facts.file);
    }
    const Found &found = *into;
    if (found.fd < 0) {
        if (found.refusal != Refusal::Missing)
            return {nullptr, found.refusal, found.reason};
        return {nullptr, Refusal::Missing,
                QStringLiteral("%1 is not in %2")
                    .arg(QString::fromLatin1(facts.file),
                         folders.isEmpty() ? QStringLiteral("any module folder") : folders.join(QStringLiteral(", ")))};
    }
    struct stat before = {};
    if (fstat(found.fd, &before) != 0)
        return {nullptr, Refusal::Damaged, QStringLiteral("%1 cannot be read").arg(found.path)};
    QByteArray buildId;
    if (const QString damaged = damage(found.fd, &buildId); !damaged.isEmpty())
        return {nullptr, Refusal::Damaged, QStringLiteral("%1 is damaged: %2").arg(found.path, damaged)};
    if (buildId != LG_MODULE_BUILD_ID)
        return {nullptr, Refusal::OtherBuild,
                QStringLiteral("%1 is of build %2, this program of build %3")
                    .arg(found.path,
                         buildId.isEmpty() ? QStringLiteral("(none named)") : QString::fromLatin1(buildId),
                         QStringLiteral(LG_MODULE_BUILD_ID))};
    // Its note may have been copied: only the bytes the build made are run.
    const ReadModule read = readModule(found.fd, quint64(before.st_size), facts.file);
    auto closeSealed = qScopeGuard([&read] {
        if (read.sealed >= 0)
            ::close(read.sealed);
    });
    struct stat after = {};
    if (read.digest.isEmpty() || fstat(found.fd, &after) != 0 || !sameFile(before, after))
        return {nullptr, Refusal::Damaged, QStringLiteral("%1 changed while it was being read").arg(found.path)};
    if (std::find(digests.begin(), digests.end(), read.digest) == digests.end())
        return {nullptr, Refusal::Damaged,
                QStringLiteral("%1 is damaged: it is not the file this build made (its SHA-256 is %2)")
                    .arg(found.path, QString::fromLatin1(read.digest.toHex()))};
    closeSealed.dismiss();
    return {nullptr, Refusal::None, {}, read.sealed};
}

using EntryPoint = const void *(*)(int);

Outcome open(Module module)
{
    Found found;
    const Outcome checked = check(module, &found);
    if (checked.refusal != Refusal::None)
        return checked;
    std::function<void(Module)> checkedHook;
    {
        std::lock_guard state(loader().state);
        checkedHook = loader().checkedHook;
    }
    if (checkedHook)
        checkedHook(module);
    const ModuleFacts &facts = factsOf(module);
    // The sealed copy of the bytes just checked, where there is one: nothing
    // written to the file since reaches it. Otherwise the handle held since
    // start: the file the check read, whatever has been renamed over its path
    // since. Every symbol is resolved now, so a library that lacks one fails
    // here rather than at a call.
    const QByteArray handlePath = lg::handlePath(checked.sealed >= 0 ? checked.sealed : found.fd);
    // Never closed, and neither is the sealed copy: the loader knows a library
    // by the name it was opened by, so a handle number handed out again would
    // answer with the library loaded before.
    void *library = ::dlopen(handlePath.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library && checked.sealed >= 0) {
        // A system that will not map memory files to run (a security policy)
        // loads the held handle the check read, as where there are none.
        ::close(checked.sealed);
        library = ::dlopen(lg::handlePath(found.fd).constData(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!library)
        return {nullptr, Refusal::Unloadable, QStringLiteral("%1: %2").arg(found.path, QString::fromLocal8Bit(::dlerror()))};
    const auto entry = reinterpret_cast<EntryPoint>(::dlsym(library, facts.entryPoint));
    const void *opened = entry ? entry(moduleInterfaceVersion) : nullptr;
    if (!opened)
        return {nullptr, Refusal::OtherBuild, QStringLiteral("%1 answers another interface version").arg(found.path)};
    return {opened, Refusal::None, {}};
}

ModuleProblem problemFor(const Loader &l, Module module, Refusal refusal)
{
    const ModuleFacts &facts = factsOf(module);
    const QString name = QString::fromLatin1(facts.name);
    const QString reinstall = QStringLiteral("Reinstalling Lumen Gallery may help.");
    QString reason;
    QString advice = reinstall;
    if (refusal != Refusal::Untrusted && refusal != Refusal::Elsewhere && updatedSinceStart(l)) {
        reason = QStringLiteral("Lumen Gallery was updated while it was running, and the %1 module of the running "
                                "version can no longer be used.").arg(name);
        advice = QStringLiteral("Restart Lumen Gallery to show them.");
    } else if (refusal == Refusal::Missing) {
        reason = QStringLiteral("The %1 module of this version is missing.").arg(name);
    } else if (refusal == Refusal::Untrusted) {
        reason = QStringLiteral("The %1 module, or the folder it is in, may be changed by other users, so it is not used.")
                     .arg(name);
        advice.clear();
    } else if (refusal == Refusal::Elsewhere) {
        reason = QStringLiteral("The %1 module is a link to a file outside its folder, so it is not used.").arg(name);
    } else if (refusal == Refusal::Damaged) {
        reason = QStringLiteral("The %1 module of this version is damaged.").arg(name);
    } else if (refusal == Refusal::OtherBuild) {
        reason = QStringLiteral("The %1 module found belongs to another version of Lumen Gallery.").arg(name);
    } else {
        reason = QStringLiteral("The %1 module cannot be loaded: a library it needs is missing or of another version.")
                     .arg(name);
    }
    const QString text = advice.isEmpty() ? reason : reason + QLatin1Char(' ') + advice;
    return {module, QString::fromLatin1(facts.title), text, reason, advice};
}

// A load begins: problems found meanwhile wait for it to end.
void beginLoad(Loader &l)
{
    std::lock_guard lock(l.state);
    ++l.loadsUnderWay;
}

// A load ends, with the modules it refused: each is told once, together with
// the problems of loads that ended while it was under way, once no load is.
void endLoad(Loader &l, const std::vector<std::pair<Module, Outcome>> &refused)
{
    for (const auto &[module, outcome] : refused)
        qWarning().noquote() << QStringLiteral("Cannot load the %1 module, so files that need %1 are not read: %2")
                                    .arg(QString::fromLatin1(factsOf(module).library), outcome.error);
    std::function<void(const QList<ModuleProblem> &)> handler;
    QList<ModuleProblem> problems;
    {
        std::lock_guard lock(l.state);
        --l.loadsUnderWay;
        for (const auto &[module, outcome] : refused)
            if (!std::exchange(l.told[size_t(module)], true))
                l.untold.append(problemFor(l, module, outcome.refusal));
        if (l.loadsUnderWay > 0 || !l.handler || l.untold.isEmpty())
            return;
        problems.swap(l.untold);
        handler = l.handler;
    }
    handler(problems);
}

// After the first refusal: every other module not loaded or tried yet, and
// not being loaded now, is checked as its load would (without loading it);
// those refused are added to refused, and remembered as tried. A refusal
// seldom comes alone (a folder others may change, an install cut short), and
// the window says them together.
void checkTheRest(Loader &l, Module first, std::vector<std::pair<Module, Outcome>> *refused)
{
    {
        std::lock_guard lock(l.state);
        if (std::exchange(l.checkedAll, true))
            return;
    }
    for (size_t i = 0; i < size_t(moduleCount); ++i) {
        const Module module = Module(i);
        Slot &slot = l.slots[i];
        if (module == first)
            continue;
        std::unique_lock loading(slot.loading, std::try_to_lock);
        if (!loading.owns_lock() || slot.loaded.load(std::memory_order_acquire)
            || slot.tried.load(std::memory_order_acquire))
            continue;
        Found found;
        Outcome outcome = check(module, &found);
        if (outcome.sealed >= 0)
            ::close(outcome.sealed);   // only looked at here; a load checks again
        if (outcome.refusal == Refusal::None)
            continue;
        {
            std::lock_guard state(l.state);
            l.errors[i] = outcome.error;
        }
        slot.tried.store(true, std::memory_order_release);
        refused->emplace_back(module, std::move(outcome));
    }
}

const void *modulePointer(Module module)
{
    Loader &l = loader();
    Slot &slot = l.slots[size_t(module)];
    if (const void *ready = slot.loaded.load(std::memory_order_acquire))
        return ready;
    if (slot.tried.load(std::memory_order_acquire))
        return nullptr;
    Outcome outcome;
    {
        std::lock_guard lock(slot.loading);
        if (const void *ready = slot.loaded.load(std::memory_order_acquire))
            return ready;
        if (slot.tried.load(std::memory_order_acquire))
            return nullptr;
        std::function<void(Module)> hook;
        {
            std::lock_guard state(l.state);
            hook = l.loadHook;
        }
        beginLoad(l);
        if (hook)
            hook(module);
        outcome = open(module);
        if (outcome.module) {
            slot.loaded.store(outcome.module, std::memory_order_release);
        } else {
            std::lock_guard state(l.state);
            l.errors[size_t(module)] = outcome.error;
        }
        slot.tried.store(true, std::memory_order_release);
    }
    std::vector<std::pair<Module, Outcome>> refused;
    if (!outcome.module) {
        refused.emplace_back(module, outcome);
        checkTheRest(l, module, &refused);
    }
    endLoad(l, refused);
    return outcome.module;
}

template <typename T>
const T *moduleAs(Module module)
{
    return static_cast<const T *>(modulePointer(module));
}

// Folders with their parents, from folder up to "/".
QStringList withParents(const QString &folder)
{
    QStringList chain;
    QString at = QDir::cleanPath(folder);
    while (true) {
        chain << at;
        if (at == QLatin1String("/"))
            break;
        const qsizetype slash = at.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            break;
        at = slash == 0 ? QStringLiteral("/") : at.left(slash);
    }
    return chain;
}

} // namespace

const HeifModule *heifModule() { return moduleAs<HeifModule>(Module::Heif); }
const RawModule *rawModule() { return moduleAs<RawModule>(Module::Raw); }
const MagickModule *magickModule() { return moduleAs<MagickModule>(Module::Magick); }
const VideoModule *videoModule() { return moduleAs<VideoModule>(Module::Video); }
const PlayerModule *playerModule() { return moduleAs<PlayerModule>(Module::Player); }

void preloadModule(Module module)
{
    Slot &slot = loader().slots[size_t(module)];
    if (slot.loaded.load(std::memory_order_acquire) || slot.tried.load(std::memory_order_acquire))
        return;
    if (isShuttingDown() || slot.preloading.exchange(true))
        return;
    // A pool of its own, a thread for each module: the shared pool may be busy
    // with the thumbnails that will need the module.
    pools::moduleLoads(moduleCount)->start([module, &slot] {
        if (!isShuttingDown())
            modulePointer(module);
        slot.preloading.store(false);
    });
}

QString moduleFileName(Module module)
{
    return QString::fromLatin1(factsOf(module).file);
}

bool moduleLoaded(Module module)
{
    return loader().slots[size_t(module)].loaded.load(std::memory_order_acquire) != nullptr;
}

QString moduleError(Module module)
{
    Loader &l = loader();
    std::lock_guard lock(l.state);
    return l.errors[size_t(module)];
}

void setModuleProblemHandler(std::function<void(const QList<ModuleProblem> &)> handler)
{
    Loader &l = loader();
    QList<ModuleProblem> untold;
    {
        std::lock_guard lock(l.state);
        l.handler = handler;
        if (handler && l.loadsUnderWay == 0)
            untold.swap(l.untold);
    }
    if (!untold.isEmpty())
        handler(untold);
}

QString moduleFolderForProgram(const QString &executable, const QString &buildFolder)
{
    const QString folder = QFileInfo(executable).absolutePath();
    if (!buildFolder.isEmpty() && QDir::cleanPath(folder) == QDir::cleanPath(buildFolder))
        return QDir::cleanPath(folder);
    return QDir::cleanPath(folder + QStringLiteral("/../lib/lumengallery"));
}

QString untrustedFolderReason(const QString &folder)
{
    if (!QDir::isAbsolutePath(folder))
        return QStringLiteral("%1 is not an absolute path").arg(folder);
    // The folders the path leads through, links followed: a link's target is
    // what may be changed.
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (real.isEmpty())
        return QStringLiteral("%1 cannot be read").arg(folder);
    const QStringList chain = withParents(real);
    for (qsizetype i = 0; i < chain.size(); ++i) {
        struct stat st = {};
        if (::stat(lg::FileNames::toNative(chain[i]).constData(), &st) != 0)
            return QStringLiteral("%1 cannot be read").arg(chain[i]);
        // A sticky folder of root's (like /tmp) lets nobody replace what others
        // put in it; it may hold the folder, but not be it.
        const bool stickyRoot = i > 0 && (st.st_mode & S_ISVTX) && st.st_uid == 0;
        if (!ownedByUs(st))
            return QStringLiteral("%1 belongs to another user").arg(chain[i]);
        if (othersMayWrite(st) && !stickyRoot)
            return QStringLiteral("%1 may be changed by other users").arg(chain[i]);
    }
    return {};
}

void addModuleFolder(const QString &folder)
{
    if (!QDir::isAbsolutePath(folder))
        return;
    Loader &l = loader();
    std::lock_guard lock(l.state);
    const QString clean = QDir::cleanPath(folder);
    if (l.added.contains(clean))
        return;
    l.added << clean;
    if (!l.folders.contains(clean)) {
        l.folders << clean;
        findInLocked(l, {clean});
    }
}

void setModuleFoldersForTesting(const QStringList &folders)
{
    Loader &l = loader();
    std::array<bool, moduleCount> wasLoaded {};
    for (size_t i = 0; i < size_t(moduleCount); ++i) {
        Slot &slot = l.slots[i];
        std::lock_guard loading(slot.loading);
        wasLoaded[i] = slot.loaded.exchange(nullptr) != nullptr;
        slot.tried.store(false, std::memory_order_release);
    }
    std::lock_guard lock(l.state);
    for (size_t i = 0; i < size_t(moduleCount); ++i) {
        // A loaded module's handle stays open: the dynamic loader knows the
        // library by that /proc/self/fd name, which must never name another file.
        if (l.found[i].fd >= 0 && !wasLoaded[i])
            ::close(l.found[i].fd);
        l.found[i] = Found {};
        l.errors[i].clear();
        l.told[i] = false;
    }
    l.untold.clear();
    l.checkedAll = false;
    if (folders.isEmpty()) {
        l.folders = l.defaults;
        for (const QString &folder : l.added)
            if (!l.folders.contains(folder))
                l.folders << folder;
    } else {
        l.folders = folders;
    }
    findInLocked(l, l.folders);
}

void setModuleLoadHookForTesting(std::function<void(Module)> hook)
{
    Loader &l = loader();
    std::lock_guard lock(l.state);
    l.loadHook = std::move(hook);
}

void setModuleCheckedHookForTesting(std::function<void(Module)> hook)
{
    Loader &l = loader();
    std::lock_guard lock(l.state);
    l.checkedHook = std::move(hook);
}

void acceptModuleForTesting(const QString &fileName, const QByteArray &sha256)
{
    Loader &l = loader();
    std::lock_guard lock(l.state);
    l.acceptedForTesting.emplace_back(fileName, sha256);
}

void setGroupMembersLookupForTesting(GroupMembersLookup lookup)
{
    GroupLookup &groups = groupLookup();
    std::lock_guard lock(groups.mutex);
    groups.forTesting = std::move(lookup);
}

QString moduleUnavailableMessage(Module module)
{
    const QString reason = moduleError(module);
    return QStringLiteral("%1 is not available here%2").arg(QString::fromLatin1(factsOf(module).library),
                                                            reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

} // namespace lg::image
