// A video's size, duration and a frame, through the FFmpeg module.
#include "platform/image/VideoInfo.h"

#include "platform/image/ModuleInterfaces.h"
#include "platform/modules/Modules.h"

#include <atomic>

namespace lg {

namespace {
std::atomic<qint64> pixelLimit {VideoInfo::maxFramePixels};
}

void VideoInfo::setFramePixelLimitForTesting(qint64 pixels)
{
    pixelLimit = pixels > 0 ? pixels : maxFramePixels;
}

std::optional<VideoProbe> VideoInfo::probe(const QString &path)
{
    const image::VideoModule *module = image::videoModule();
    if (!module)
        return std::nullopt;
    const std::optional<image::VideoFacts> facts = module->probe(path, pixelLimit.load());
    if (!facts)
        return std::nullopt;
    return VideoProbe {facts->size, facts->rotation, facts->durationSeconds, facts->codec, facts->creationTime};
}

std::optional<QImage> VideoInfo::firstFrame(const QString &path, int maxSide)
{
    const image::VideoModule *module = image::videoModule();
    return module ? module->firstFrame(path, maxSide, pixelLimit.load()) : std::nullopt;
}

} // namespace lg
