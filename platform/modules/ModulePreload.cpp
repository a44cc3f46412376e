// Loading codec modules on a worker, ahead of need or for a screen that must not wait.
#include "platform/modules/ModulePreload.h"

namespace lg::image {

namespace {

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

bool loadModule(Module module)
{
    return moduleLoaded(module) || openModule(module) != nullptr;
}

void loadInBackground(const QList<Module> &modules)
{
    for (const Module module : modules)
        preloadModule(module);
}

} // namespace lg::image
