// Loading codec modules on a worker, ahead of need or for a screen that must not wait.
#include "platform/image/ModulePreload.h"

#include "platform/image/FormatProbe.h"

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
    return moduleLoaded(module) || openModule(module) != nullptr;
}

void loadInBackground(const QList<Module> &modules)
{
    for (const Module module : modules)
        preloadModule(module);
}

} // namespace lg::image
