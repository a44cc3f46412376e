// Loading codec modules on a worker, ahead of need or for a screen that must not wait.
#include "platform/image/ModulePreload.h"

#include "platform/image/FormatProbe.h"
#include "platform/runtime/Dispatch.h"

#include <QThreadPool>

#include <array>
#include <atomic>
#include <mutex>

namespace lg::image {

namespace {

constexpr int moduleCount = 5;
static_assert(int(Module::Player) + 1 == moduleCount, "a flag for every module");

struct Preloads
{
    QThreadPool pool;
    std::array<std::atomic<bool>, moduleCount> queued {};
    // Tried here and refused: not tried again. (The loader's own record is
    // behind its lock, which a load holds: the main thread never asks it.)
    std::array<std::atomic<bool>, moduleCount> refused {};
    std::mutex hookMutex;
    std::function<void(Module)> hook;
};

Preloads &preloads()
{
    // Never destroyed, like the loader: a load under way may end after main().
    static Preloads *instance = [] {
        auto *made = new Preloads;
        // Loads wait for each other in the loader; two threads let a quick
        // module pass a slow one where the loader allows it.
        made->pool.setMaxThreadCount(2);
        made->pool.setExpiryTimeout(5000);
        registerPool(&made->pool);
        return made;
    }();
    return *instance;
}

const void *openModule(Module module)
{
    switch (module) {
    case Module::Heif: return heifModule();
    case Module::Raw: return rawModule();
    case Module::Magick: return magickModule();
    case Module::Video: return videoModule();
    case Module::Player: return playerModule();
    }
    return nullptr;
}

} // namespace

QList<Module> modulesForPictureExtension(const QString &extension)
{
    static const QStringList heif = {QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("hif"),
                                     QStringLiteral("avif")};
    static const QStringList magick = {
        QStringLiteral("psd"), QStringLiteral("psb"), QStringLiteral("sgi"), QStringLiteral("rgb"),
        QStringLiteral("hdr"), QStringLiteral("rad"), QStringLiteral("rgbe"), QStringLiteral("xyze"),
        QStringLiteral("exr"), QStringLiteral("openexr"), QStringLiteral("jp2"), QStringLiteral("jpf"),
        QStringLiteral("jpx"), QStringLiteral("j2k"), QStringLiteral("j2c"), QStringLiteral("eps"),
        QStringLiteral("ps"), QStringLiteral("ai"), QStringLiteral("pict"), QStringLiteral("pct"),
        QStringLiteral("pic"), QStringLiteral("pntg"), QStringLiteral("mac"), QStringLiteral("tga")};
    if (heif.contains(extension))
        return {Module::Heif};
    if (isRawExtension(extension))
        return {Module::Raw};
    if (magick.contains(extension))
        return {Module::Magick};
    return {};
}

QList<Module> modulesForVideo()
{
    return {Module::Video, Module::Player};
}

bool loadModule(Module module)
{
    if (moduleLoaded(module))
        return true;
    Preloads &p = preloads();
    std::function<void(Module)> hook;
    {
        std::lock_guard lock(p.hookMutex);
        hook = p.hook;
    }
    if (hook)
        hook(module);
    const bool usable = openModule(module) != nullptr;
    if (!usable && size_t(module) < size_t(moduleCount))
        p.refused[size_t(module)].store(true);
    return usable;
}

void loadInBackground(const QList<Module> &modules)
{
    Preloads &p = preloads();
    for (const Module module : modules) {
        const size_t i = size_t(module);
        if (i >= size_t(moduleCount) || moduleLoaded(module) || p.refused[i].load() || p.queued[i].exchange(true))
            continue;
        p.pool.start([module, &p, i] {
            if (!isShuttingDown())
                (void)loadModule(module);
            p.queued[i].store(false);
        });
    }
}

void setModuleLoadHookForTesting(std::function<void(Module)> hook)
{
    Preloads &p = preloads();
    std::lock_guard lock(p.hookMutex);
    p.hook = std::move(hook);
    for (std::atomic<bool> &refused : p.refused)
        refused.store(false);
}

} // namespace lg::image
