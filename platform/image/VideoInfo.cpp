// A video's size, duration and a frame, through the FFmpeg module.
#include "platform/image/VideoInfo.h"

#include "platform/files/names/FileNames.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/modules/Modules.h"
#include "platform/base/HandlePath.h"
#include "platform/runtime/Console.h"

#include <cmath>

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

namespace {
std::atomic<qint64> pixelLimit {VideoInfo::maxFramePixels};
}

void VideoInfo::setFramePixelLimitForTesting(qint64 pixels)
{
    pixelLimit = pixels > 0 ? pixels : maxFramePixels;
}

namespace {

// A name the worker told, when it is one: short, without control characters
// (and for a codec, of FFmpeg's letters); else unknown.
QString toldName(const QString &name, bool codec)
{
    if (name.size() > 64)
        return {};
    for (const QChar c : name) {
        const bool allowed = codec ? (c.isLetterOrNumber() && c.unicode() < 128) || c == QLatin1Char('_')
                                         || c == QLatin1Char('-') || c == QLatin1Char('.')
                                   : c.isPrint();
        if (!allowed)
            return {};
    }
    return name;
}

} // namespace

std::optional<VideoProbe> VideoInfo::probe(const QString &path)
{
    if (image::decodesInThisProcess()) {
        const image::VideoModule *module = image::videoModule();
        if (!module)
            return std::nullopt;
        const std::optional<image::VideoFacts> facts = module->probe(path, pixelLimit.load());
        if (!facts)
            return std::nullopt;
        return VideoProbe {facts->size, facts->rotation, facts->durationSeconds, facts->codec, facts->creationTime};
    }
    const int fd = ::open(FileNames::toNative(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    // Only a regular file: a worker would wait on a FIFO to its time limit.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    image::WorkerTask task;
    task.kind = image::WorkerTaskKind::VideoProbe;
    const image::WorkerReply reply = image::decodeInWorker(task, fd, probeDecodeBytes, probeTimeLimitMs);
    ::close(fd);
    DecodeTerms terms;
    terms.timeLimitMs = probeTimeLimitMs;
    DecodeReport report;
    image::noteDecodeEnd(reply.end, probeDecodeBytes, terms, &report);
    if (!report.words.isEmpty()) {
        if (report.end != DecodeEnd::Stopped)   // at quit, no line for each
            printLine(QStringLiteral("The video %1 was not read: %2.").arg(FileNames::shown(path), report.words));
        return std::nullopt;
    }
    // A probe comes back without a picture; what it found is in its facts, told by the worker.
    const image::WorkerFacts &facts = reply.facts;
    const QSize size = facts.storedSize;
    if (size.width() <= 0 || size.height() <= 0 || qint64(size.width()) * size.height() > pixelLimit.load())
        return std::nullopt;
    VideoProbe probe;
    probe.size = size;
    probe.rotation = facts.rotation % 90 == 0 && facts.rotation >= 0 && facts.rotation < 360 ? facts.rotation : 0;
    const double duration = facts.durationSeconds;
    probe.durationSeconds = std::isfinite(duration) && duration > 0 && duration <= longestDurationSeconds ? duration : 0;
    probe.codec = toldName(facts.codec, true);
    probe.creationTime = toldName(facts.creationTime, false);
    return probe;
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

namespace image {

WorkerReply performVideoProbe(int fd)
{
    // FFmpeg reads a file by name: the one handed over.
    WorkerReply reply;
    if (const std::optional<VideoProbe> probe = VideoInfo::probe(FileNames::fromNative(handlePath(fd)))) {
        reply.facts.storedSize = probe->size;
        reply.facts.rotation = probe->rotation;
        reply.facts.durationSeconds = probe->durationSeconds;
        reply.facts.codec = probe->codec;
        reply.facts.creationTime = probe->creationTime;
    }
    return reply;
}

} // namespace image

} // namespace lg
