// Which codec modules a file will need, from its extension.
#include "platform/image/ModulesForFiles.h"

#include "platform/image/FormatProbe.h"

namespace lg::image {

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

} // namespace lg::image
