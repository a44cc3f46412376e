// Finding and loading the codec modules: each once, on the thread that first
// needs it, from the handle held since start, once its bytes were checked.
#include "platform/modules/Modules.h"

#include "platform/base/HandlePath.h"
#include "platform/files/names/FileNames.h"
#include "platform/modules/ElfCheck.h"
#include "platform/modules/FolderTrust.h"
#include "platform/modules/LoadedDigest.h"
#include "platform/modules/ModuleCopy.h"
#include "platform/modules/ModuleDigest.h"
#include "platform/modules/ModuleNames.h"
#include "platform/modules/ModuleProblems.h"
#include "platform/modules/ModulesShared.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Pools.h"

#include "ModuleBuild.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <tuple>
#include <vector>

#include <cerrno>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg::image {

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


namespace {

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
    std::function<void(Module)> readHook;
    std::function<void(Module)> checkedHook;
    // A test's stand-ins: file name, loaded digest, code digest.
    std::vector<std::tuple<QString, QByteArray, QByteArray>> acceptedForTesting;
    qint64 largestAccepted = 0;                                       // the largest of those files
};

Loader &loader()
{
    static Loader *instance = new Loader;   // never destroyed: pool threads may still ask at exit
    return *instance;
}

// Found before main(), while the executable's path is still its own.
const bool foundAtStart = (loader(), true);

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
            LinkRefusal link = LinkRefusal::None;
            const int fd = openInFolder(folderFd, held, name, &link, &reason);
            Refusal refusal = link == LinkRefusal::Loop ? Refusal::LinkLoop
                : link == LinkRefusal::TooMany          ? Refusal::TooManyLinks
                                                        : Refusal::Elsewhere;
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

// The digests a module file of this name may have (code: of its code
// alone): the build's own, and a test's stand-ins.
std::vector<QByteArray> acceptedDigests(const Loader &l, const char *file, bool code)
{
    std::vector<QByteArray> digests = code ? builtCodeDigests(file) : builtDigests(file);
    for (const auto &[name, digest, codeDigest] : l.acceptedForTesting)
        if (name == QLatin1String(file))
            digests.push_back(code ? codeDigest : digest);
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
    QByteArray bytes {};    // what a check accepted, for the load
    QByteArray digest {};   // their loaded digest
};

// Whether the module found (filled in) may be loaded: everything short of
// loading it, read through the handle held. Any thread; the module's lock held.
Outcome check(Module module, Found *into)
{
    Loader &l = loader();
    const ModuleFacts &facts = factsOf(module);
    QStringList folders;
    std::vector<QByteArray> digests;
    std::vector<QByteArray> codeDigests;
    std::function<void(Module)> readHook;
    qint64 largestAccepted = 0;
    {
        std::lock_guard lock(l.state);
        *into = l.found[size_t(module)];
        folders = l.folders;
        digests = acceptedDigests(l, facts.file, false);
        codeDigests = acceptedDigests(l, facts.file, true);
        readHook = l.readHook;
        largestAccepted = l.largestAccepted;
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
    // Larger than any the build makes: none of them, and not read.
    const qint64 largest = std::max(largestBuiltModuleSize(), largestAccepted);
    if (before.st_size > largest)
        return {nullptr, Refusal::Damaged,
                QStringLiteral("%1 is damaged: it is %2 bytes long, larger than any module this build makes (%3 bytes)")
                    .arg(found.path).arg(qint64(before.st_size)).arg(largest)};
    // Every check is made on these bytes, and these are what is loaded.
    if (readHook)
        readHook(module);
    QByteArray bytes;
    struct stat after = {};
    const bool read = readWhole(found.fd, before.st_size, &bytes);
    if (fstat(found.fd, &after) != 0 || !sameFile(before, after))
        return {nullptr, Refusal::ChangedWhileRead, QStringLiteral("%1 changed while it was being read").arg(found.path)};
    if (!read)
        return {nullptr, Refusal::Damaged, QStringLiteral("%1 cannot be read").arg(found.path)};
    BuildNote note;
    if (const QString damaged = elfDamage(bytes, &note); !damaged.isEmpty())
        return {nullptr, Refusal::Damaged, QStringLiteral("%1 is damaged: %2").arg(found.path, damaged)};
    if (note.state == BuildNote::State::Damaged || (note.state == BuildNote::State::Found && note.id != LG_MODULE_BUILD_ID
                                                    && !looksLikeBuildId(note.id)))
        return {nullptr, Refusal::Damaged,
                QStringLiteral("%1 is damaged: its build note is cut short or damaged").arg(found.path)};
    if (note.state == BuildNote::State::Missing)
        return {nullptr, Refusal::Damaged,
                QStringLiteral("%1 is damaged: it carries no build note of Lumen Gallery").arg(found.path)};
    if (note.id != LG_MODULE_BUILD_ID)
        return {nullptr, Refusal::OtherBuild,
                QStringLiteral("%1 is of build %2, this program of build %3")
                    .arg(found.path, QString::fromLatin1(note.id), QStringLiteral(LG_MODULE_BUILD_ID))};
    // Its note may have been copied: only what the build made is run.
    const LoadedDigest digest = loadedDigest(bytes);
    if (digest.sha256.isEmpty())
        return {nullptr, Refusal::Damaged, QStringLiteral("%1 is damaged: %2").arg(found.path, digest.error)};
    if (std::find(digests.begin(), digests.end(), digest.sha256) == digests.end()) {
        // Its code and constant data as the build made them, and a dynamic
        // section as a linker writes one: a tool rewrote what it needs or
        // where it looks (patchelf).
        const QByteArray code = codeDigest(bytes);
        if (!code.isEmpty() && std::find(codeDigests.begin(), codeDigests.end(), code) != codeDigests.end()
            && dynamicSectionWhole(bytes))
            return {nullptr, Refusal::ChangedAfterBuild,
                    QStringLiteral("%1 was changed after it was built: its code is this build's, its links are "
                                   "not (its digest is %2)").arg(found.path, QString::fromLatin1(digest.sha256.toHex()))};
        return {nullptr, Refusal::Damaged,
                QStringLiteral("%1 is damaged: what it loads is not what this build made (its digest is %2)")
                    .arg(found.path, QString::fromLatin1(digest.sha256.toHex()))};
    }
    return {nullptr, Refusal::None, {}, bytes, digest.sha256};
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
    // The bytes just checked, never the file: nothing written to it since runs.
    const CheckedLoad load = loadCheckedModule(checked.bytes, checked.digest, facts.file);
    if (!load.library)
        return {nullptr, load.refusal, QStringLiteral("%1: %2").arg(found.path, load.error)};
    const auto entry = reinterpret_cast<EntryPoint>(::dlsym(load.library, facts.entryPoint));
    const void *opened = entry ? entry(moduleInterfaceVersion) : nullptr;
    if (!opened)
        return {nullptr, Refusal::OtherBuild, QStringLiteral("%1 answers another interface version").arg(found.path)};
    return {opened, Refusal::None, {}};
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
                l.untold.append(problemFor(module, outcome.refusal, updatedSinceStart(l)));
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

} // namespace

const HeifModule *heifModule() { return moduleAs<HeifModule>(Module::Heif); }
const RawModule *rawModule() { return moduleAs<RawModule>(Module::Raw); }
const MagickModule *magickModule() { return moduleAs<MagickModule>(Module::Magick); }
const VideoModule *videoModule() { return moduleAs<VideoModule>(Module::Video); }
const PlayerModule *playerModule() { return moduleAs<PlayerModule>(Module::Player); }

void loadModulesBeforeConfinement()
{
    if (memoryFilesRunCode())
        return;
    for (const Module module : {Module::Heif, Module::Raw, Module::Magick, Module::Video})
        (void)modulePointer(module);
}

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

QStringList moduleFolders()
{
    Loader &l = loader();
    std::lock_guard lock(l.state);
    return l.folders;
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

void setModuleReadHookForTesting(std::function<void(Module)> hook)
{
    Loader &l = loader();
    std::lock_guard lock(l.state);
    l.readHook = std::move(hook);
}

void setModuleCheckedHookForTesting(std::function<void(Module)> hook)
{
    Loader &l = loader();
    std::lock_guard lock(l.state);
    l.checkedHook = std::move(hook);
}

void acceptModuleForTesting(const QString &fileName, const QByteArray &module)
{
    const LoadedDigest digest = loadedDigest(module);
    Loader &l = loader();
    std::lock_guard lock(l.state);
    l.acceptedForTesting.emplace_back(fileName, digest.sha256, codeDigest(module));
    l.largestAccepted = std::max(l.largestAccepted, qint64(module.size()));
}

QString moduleUnavailableMessage(Module module)
{
    const QString reason = moduleError(module);
    return QStringLiteral("%1 is not available here%2").arg(QString::fromLatin1(factsOf(module).library),
                                                            reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

bool readWhole(int fd, qint64 size, QByteArray *into)
{
    into->resize(size);
    qint64 at = 0;
    while (at < size) {
        const ssize_t got = ::pread(fd, into->data() + at, size_t(size - at), off_t(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
    }
    char more;
    return ::pread(fd, &more, 1, off_t(size)) == 0;
}


} // namespace lg::image
