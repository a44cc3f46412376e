// A video's size, duration and a frame, through the FFmpeg module.
#include "platform/image/VideoInfo.h"

#include "platform/files/names/FileNames.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/modules/Modules.h"

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

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

std::optional<QImage> VideoInfo::firstFrame(const QString &path, int maxSide, const DecodeTerms &terms,
                                            DecodeReport *report)
{
    if (report)
        *report = {};
    if (image::decodesInThisProcess()) {
        const image::VideoModule *module = image::videoModule();
        return module ? module->firstFrame(path, maxSide, pixelLimit.load()) : std::nullopt;
    }
    const int fd = ::open(FileNames::toNative(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    image::WorkerTask task;
    task.kind = image::WorkerTaskKind::VideoFrame;
    task.maxSide = maxSide;
    const qint64 grant = terms.grantBytes > 0 ? terms.grantBytes : firstFrameDecodeBytes;
    image::WorkerReply reply = image::decodeInWorker(task, fd, grant, terms.timeLimitMs);
    ::close(fd);
    image::noteDecodeEnd(reply.end, grant, terms, report);
    if (reply.end != image::WorkerEnd::Done)
        return std::nullopt;
    return std::move(reply.image);
}

} // namespace lg
