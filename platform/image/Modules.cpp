// Loading the codec modules on first need, and the decoder functions that call them.
#include "platform/image/Modules.h"

#include "platform/image/ByteSource.h"
#include "platform/image/Decoders.h"
#include "platform/image/FormatProbe.h"
#include "platform/image/ModuleInterfaces.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

namespace lg::image {

namespace {

constexpr int moduleCount = 5;

struct ModuleFacts
{
    const char *file;
    const char *entryPoint;
    const char *library;   // what it wraps, for the log
};

const ModuleFacts &factsOf(Module module)
{
    static const std::array<ModuleFacts, moduleCount> facts = {{
        {"lumengallery_heif.so", heifEntryPoint, "libheif"},
        {"lumengallery_raw.so", rawEntryPoint, "LibRaw"},
        {"lumengallery_magick.so", magickEntryPoint, "ImageMagick"},
        {"lumengallery_video.so", videoEntryPoint, "FFmpeg"},
        {"lumengallery_player.so", playerEntryPoint, "Qt Multimedia"},
    }};
    return facts[size_t(module)];
}

struct Loader
{
    std::mutex mutex;
    std::array<std::atomic<const void *>, moduleCount> loaded {};
    std::array<bool, moduleCount> tried {};
    std::array<QString, moduleCount> errors;
    QStringList added;
    QStringList forTesting;
};

Loader &loader()
{
    static Loader *instance = new Loader;   // never destroyed: pool threads may still ask at exit
    return *instance;
}

QStringList defaultFolders()
{
    // The executable's folder without QCoreApplication: benchmarks load modules too.
    const QString exeFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    QStringList folders;
    if (!exeFolder.isEmpty())
        folders << QDir::cleanPath(exeFolder + QStringLiteral("/../lib/lumengallery")) << exeFolder;
    return folders;
}

QStringList foldersLocked(const Loader &l)
{
    if (!l.forTesting.isEmpty())
        return l.forTesting;
    QStringList folders = defaultFolders();
    for (const QString &folder : l.added)
        if (!folders.contains(folder))
            folders << folder;
    return folders;
}

using EntryPoint = const void *(*)(int);

const void *open(Loader &l, Module module, QString *error)
{
    const ModuleFacts &facts = factsOf(module);
    const QString file = QString::fromLatin1(facts.file);
    for (const QString &folder : foldersLocked(l)) {
        const QString path = QDir(folder).filePath(file);
        if (!QFileInfo(path).isFile())
            continue;
        // Held for the life of the process: a module is never unloaded.
        auto *library = new QLibrary(path);
        if (!library->load()) {
            *error = library->errorString();
            delete library;
            return nullptr;
        }
        const auto entry = reinterpret_cast<EntryPoint>(library->resolve(facts.entryPoint));
        const void *module = entry ? entry(moduleInterfaceVersion) : nullptr;
        if (!module)
            *error = QStringLiteral("%1 is of another version of the program").arg(path);
        return module;
    }
    *error = QStringLiteral("%1 is not in %2").arg(file, foldersLocked(l).join(QStringLiteral(", ")));
    return nullptr;
}

const void *modulePointer(Module module)
{
    Loader &l = loader();
    const size_t i = size_t(module);
    if (const void *ready = l.loaded[i].load(std::memory_order_acquire))
        return ready;
    std::lock_guard lock(l.mutex);
    if (const void *ready = l.loaded[i].load(std::memory_order_acquire))
        return ready;
    if (l.tried[i])
        return nullptr;
    l.tried[i] = true;
    QString error;
    const void *opened = open(l, module, &error);
    if (!opened) {
        l.errors[i] = error;
        qWarning().noquote() << QStringLiteral("Cannot load the %1 module, so files that need %1 are not read: %2")
                                    .arg(QString::fromLatin1(factsOf(module).library), error);
        return nullptr;
    }
    l.loaded[i].store(opened, std::memory_order_release);
    return opened;
}

template <typename T>
const T *moduleAs(Module module)
{
    return static_cast<const T *>(modulePointer(module));
}

void setError(QString *error, Module module)
{
    if (!error)
        return;
    const QString reason = moduleError(module);
    *error = QStringLiteral("%1 is not available here%2").arg(QString::fromLatin1(factsOf(module).library),
                                                               reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

} // namespace

const HeifModule *heifModule() { return moduleAs<HeifModule>(Module::Heif); }
const RawModule *rawModule() { return moduleAs<RawModule>(Module::Raw); }
const MagickModule *magickModule() { return moduleAs<MagickModule>(Module::Magick); }
const VideoModule *videoModule() { return moduleAs<VideoModule>(Module::Video); }
const PlayerModule *playerModule() { return moduleAs<PlayerModule>(Module::Player); }

QString moduleFileName(Module module)
{
    return QString::fromLatin1(factsOf(module).file);
}

bool moduleLoaded(Module module)
{
    return loader().loaded[size_t(module)].load(std::memory_order_acquire) != nullptr;
}

QString moduleError(Module module)
{
    Loader &l = loader();
    std::lock_guard lock(l.mutex);
    return l.errors[size_t(module)];
}

void addModuleFolder(const QString &folder)
{
    Loader &l = loader();
    std::lock_guard lock(l.mutex);
    if (!l.added.contains(folder))
        l.added << folder;
}

QStringList moduleFolders()
{
    Loader &l = loader();
    std::lock_guard lock(l.mutex);
    return foldersLocked(l);
}

void setModuleFoldersForTesting(const QStringList &folders)
{
    Loader &l = loader();
    std::lock_guard lock(l.mutex);
    l.forTesting = folders;
    for (size_t i = 0; i < size_t(moduleCount); ++i) {
        l.loaded[i].store(nullptr, std::memory_order_release);
        l.tried[i] = false;
        l.errors[i].clear();
    }
}

// ---- the decoders of Decoders.h ----

HeifInfo probeHeif(const ByteSource &source)
{
    const HeifModule *module = heifModule();
    return module ? module->probe(source) : HeifInfo {};
}

std::optional<QImage> decodeHeif(const ByteSource &source, int maxSide)
{
    const HeifModule *module = heifModule();
    return module ? module->decode(source, maxSide) : std::nullopt;
}

std::optional<QByteArray> encodeHeic(const QImage &image, int quality, const QByteArray &exif, const QByteArray &xmp,
                                     const QByteArray &icc, QString *error)
{
    if (const HeifModule *module = heifModule())
        return module->encode(image, quality, exif, xmp, icc, error);
    setError(error, Module::Heif);
    return std::nullopt;
}

RawInfo probeRaw(const ByteSource &source, const QString &path)
{
    const RawModule *module = rawModule();
    return module ? module->probe(source, path) : RawInfo {};
}

std::optional<QImage> decodeRaw(const ByteSource &source, const QString &path, int maxSide)
{
    const RawModule *module = rawModule();
    if (!module)
        return std::nullopt;
    // The embedded preview goes through our own JPEG path: probed first, so a
    // damaged preview is refused, and decoded reduced.
    const PreviewDecoder preview = [](const QByteArray &jpeg, int minSide) -> std::optional<QImage> {
        const ByteSource memory = ByteSource::fromMemory(jpeg);
        const Probe probe = probeFormat(memory, QStringLiteral("jpg"));
        if (probe.decoder != Decoder::Qt || probe.damaged || !probe.headerKnown)
            return std::nullopt;
        if (std::max(probe.storedSize.width(), probe.storedSize.height()) < minSide)
            return std::nullopt;
        return decodeWithQt(memory, "jpeg", minSide);
    };
    return module->decode(source, path, maxSide, preview);
}

std::optional<MagickImage> decodeWithMagick(const ByteSource &source, const Probe &probe)
{
    if (probe.magick.empty() || !source.isOpen())
        return std::nullopt;
    const MagickModule *module = magickModule();
    return module ? module->decode(source, probe.magick, probe.magickOffset, probe.magickPadding) : std::nullopt;
}

std::optional<QByteArray> encodeWithMagick(const QImage &image, const std::string &coder, int quality, QString *error)
{
    if (const MagickModule *module = magickModule())
        return module->encode(image, coder, quality, error);
    setError(error, Module::Magick);
    return std::nullopt;
}

std::optional<QByteArray> encodeTiffWithMagick(const QImage &image, TiffCompression compression, int predictor,
                                               QString *error)
{
    if (const MagickModule *module = magickModule())
        return module->encodeTiff(image, compression, predictor, error);
    setError(error, Module::Magick);
    return std::nullopt;
}

} // namespace lg::image
