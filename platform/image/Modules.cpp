// Finding, checking and loading the codec modules, and the decoder functions that call them.
#include "platform/image/Modules.h"

#include "platform/base/HandlePath.h"
#include "platform/image/ByteSource.h"
#include "platform/image/Decoders.h"
#include "platform/image/FormatProbe.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/runtime/Dispatch.h"

#include "ModuleBuild.h"
#include "platform/files/FileNames.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

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
enum class Refusal { None, Missing, Untrusted, Damaged, OtherBuild, Unloadable };

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
    std::vector<ModuleProblem> untold;   // problems found while no handler was set
    std::function<void(const ModuleProblem &)> handler;
    std::function<void(Module)> loadHook;
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

void findInLocked(Loader &l, const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QString untrusted = untrustedFolderReason(folder);
        for (size_t i = 0; i < size_t(moduleCount); ++i) {
            Found &found = l.found[i];
            if (found.fd >= 0)
                continue;
            const QString path = QDir(folder).filePath(QString::fromLatin1(factsOf(Module(i)).file));
            // Non-blocking: a FIFO in a module's place must not hold the start.
            const int fd
                = ::open(lg::FileNames::toNative(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
            if (fd < 0)
                continue;
            struct stat st = {};
            QString reason = untrusted;
            Refusal refusal = Refusal::Untrusted;
            if (reason.isEmpty()) {
                if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                    reason = QStringLiteral("%1 is not a file").arg(path);
                    refusal = Refusal::Damaged;
                } else if (!ownedByUs(st) || (st.st_mode & (S_IWGRP | S_IWOTH))) {
                    reason = QStringLiteral("%1 may be changed by other users").arg(path);
                }
            }
            if (!reason.isEmpty()) {
                ::close(fd);
                if (found.refusal == Refusal::Missing) {
                    found.refusal = refusal;
                    found.reason = reason;
                }
                continue;
            }
            found = Found {fd, path, Refusal::None, {}};
        }
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

using EntryPoint = const void *(*)(int);

struct Outcome
{
    const void *module = nullptr;
    Refusal refusal = Refusal::None;
    QString error;
};

Outcome open(Module module)
{
    Loader &l = loader();
    const ModuleFacts &facts = factsOf(module);
    Found found;
    QStringList folders;
    {
        std::lock_guard lock(l.state);
        found = l.found[size_t(module)];
        folders = l.folders;
    }
    if (found.fd < 0) {
        if (found.refusal != Refusal::Missing)
            return {nullptr, found.refusal, found.reason};
        return {nullptr, Refusal::Missing,
                QStringLiteral("%1 is not in %2")
                    .arg(QString::fromLatin1(facts.file),
                         folders.isEmpty() ? QStringLiteral("any module folder") : folders.join(QStringLiteral(", ")))};
    }
    QByteArray buildId;
    if (const QString damaged = damage(found.fd, &buildId); !damaged.isEmpty())
        return {nullptr, Refusal::Damaged, QStringLiteral("%1 is damaged: %2").arg(found.path, damaged)};
    if (buildId != LG_MODULE_BUILD_ID)
        return {nullptr, Refusal::OtherBuild,
                QStringLiteral("%1 is of build %2, this program of build %3")
                    .arg(found.path,
                         buildId.isEmpty() ? QStringLiteral("(none named)") : QString::fromLatin1(buildId),
                         QStringLiteral(LG_MODULE_BUILD_ID))};
    // Through the handle held since start: the file the check read, whatever
    // has been renamed over its path since. Every symbol is resolved now, so a
    // library that lacks one fails here rather than at a call.
    const QByteArray handlePath = lg::handlePath(found.fd);
    void *library = ::dlopen(handlePath.constData(), RTLD_NOW | RTLD_LOCAL);   // never closed
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
    const QString reinstall = QStringLiteral(" Reinstalling Lumen Gallery may help.");
    QString text;
    if (refusal != Refusal::Untrusted && updatedSinceStart(l))
        text = QStringLiteral("Lumen Gallery was updated while it was running, and the %1 module of the running "
                              "version can no longer be used. Restart Lumen Gallery to show them.").arg(name);
    else if (refusal == Refusal::Missing)
        text = QStringLiteral("The %1 module of this version is missing.").arg(name) + reinstall;
    else if (refusal == Refusal::Untrusted)
        text = QStringLiteral("The %1 module, or the folder it is in, may be changed by other users, so it is not used.")
                   .arg(name);
    else if (refusal == Refusal::Damaged)
        text = QStringLiteral("The %1 module of this version is damaged.").arg(name) + reinstall;
    else if (refusal == Refusal::OtherBuild)
        text = QStringLiteral("The %1 module found belongs to another version of Lumen Gallery.").arg(name) + reinstall;
    else
        text = QStringLiteral("The %1 module cannot be loaded: a library it needs is missing or of another version.")
                   .arg(name) + reinstall;
    return {module, QString::fromLatin1(facts.title), text};
}

void tell(Loader &l, Module module, Refusal refusal)
{
    std::function<void(const ModuleProblem &)> handler;
    ModuleProblem problem;
    {
        std::lock_guard lock(l.state);
        if (l.told[size_t(module)])
            return;
        l.told[size_t(module)] = true;
        problem = problemFor(l, module, refusal);
        if (!l.handler) {
            l.untold.push_back(problem);
            return;
        }
        handler = l.handler;
    }
    handler(problem);
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
    if (outcome.module)
        return outcome.module;
    qWarning().noquote() << QStringLiteral("Cannot load the %1 module, so files that need %1 are not read: %2")
                                .arg(QString::fromLatin1(factsOf(module).library), outcome.error);
    tell(l, module, outcome.refusal);
    return nullptr;
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
    // with the thumbnails that will need the module. A load is not
    // interrupted, so the quit waits for one under way (less than a second)
    // rather than end the process around it.
    static QThreadPool *const pool = [] {
        auto *made = new QThreadPool;   // never destroyed, like the loader
        made->setMaxThreadCount(moduleCount);
        registerPool(made);
        return made;
    }();
    pool->start([module, &slot] {
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

void setModuleProblemHandler(std::function<void(const ModuleProblem &)> handler)
{
    Loader &l = loader();
    std::vector<ModuleProblem> untold;
    {
        std::lock_guard lock(l.state);
        l.handler = handler;
        if (handler)
            untold.swap(l.untold);
    }
    for (const ModuleProblem &problem : untold)
        handler(problem);
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
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !stickyRoot)
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

QString moduleUnavailableMessage(Module module)
{
    const QString reason = moduleError(module);
    return QStringLiteral("%1 is not available here%2").arg(QString::fromLatin1(factsOf(module).library),
                                                            reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

} // namespace lg::image
