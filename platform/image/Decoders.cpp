// The decoders behind lg::ImageSource: the formats Qt reads itself, with
// scaled decode for JPEG.
#include "platform/image/Decoders.h"

#include "platform/image/ByteSource.h"
#include "platform/image/FormatProbe.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/modules/Modules.h"
#include "platform/base/Orientation.h"
#include "platform/runtime/Dispatch.h"

#include <QImageReader>
#include <QIODevice>

namespace lg::image {

std::optional<QImage> decodeWithQt(const ByteSource &source, const QByteArray &format, int maxSide, int frameIndex,
                                   int *delayMs, bool qtTransforms)
{
    const std::unique_ptr<QIODevice> device = source.device();
    if (!device)
        return std::nullopt;
    QImageReader reader(device.get(), format);
    reader.setAutoTransform(qtTransforms);
    const QSize size = reader.size();
    // JPEG decodes at 1/2, 1/4 or 1/8 of its size and SVG renders at any size:
    // ask them for the wanted size directly.
    if (maxSide > 0 && size.isValid() && (format == "jpeg" || format == "svg")) {
        const QSize target = fitWithin(size, maxSide);
        if (target != size)
            reader.setScaledSize(target);
    }
    if (frameIndex > 0 && !reader.jumpToImage(frameIndex)) {
        // Readers that cannot jump: read the frames before it.
        for (int i = 0; i < frameIndex; ++i) {
            QImage skipped;
            if (!reader.read(&skipped))
                return std::nullopt;
        }
    }
    QImage image;
    if (!reader.read(&image))
        return std::nullopt;
    if (image.isNull())
        return std::nullopt;
    if (delayMs)
        *delayMs = reader.nextImageDelay();
    return reducedToFit(image, maxSide);
}

int qtFrameCount(const ByteSource &source, const QByteArray &format)
{
    const std::unique_ptr<QIODevice> device = source.device();
    if (!device)
        return 0;
    QImageReader reader(device.get(), format);
    const int count = reader.imageCount();
    return count > 0 ? count : 1;
}

namespace {

void setError(QString *error, Module module)
{
    if (error)
        *error = moduleUnavailableMessage(module);
}

} // namespace

// ---- the decoders in codec modules ----

HeifInfo probeHeif(const ByteSource &source)
{
    const HeifModule *module = heifModule();
    return module ? module->probe(source) : HeifInfo {};
}

std::optional<QImage> decodeHeif(const ByteSource &source, const HeifDecodeOptions &options)
{
    const HeifModule *module = heifModule();
    return module ? module->decode(source, options) : std::nullopt;
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
    const auto stopped = [] { return isShuttingDown(); };
    return module ? module->decode(source, probe.magick, probe.magickOffset, probe.magickPadding, stopped) : std::nullopt;
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
