// The decoders behind lg::ImageSource: the formats Qt reads itself, with
// scaled decode for JPEG.
#include "platform/image/Decoders.h"

#include "platform/image/ByteSource.h"
#include "platform/base/Orientation.h"

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

} // namespace lg::image
