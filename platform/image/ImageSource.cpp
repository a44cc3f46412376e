// Thumbnails, pixel sizes, properties and frames of any picture, through the decoder chain.
#include "platform/image/ImageSource.h"

#include "platform/files/names/FileNames.h"
#include "platform/jpeg/JpegEntropy.h"
#include "platform/jpeg/JpegTurn.h"
#include "platform/image/ByteSource.h"
#include "platform/image/Decoders.h"
#include "platform/image/FormatProbe.h"
#include "platform/base/PictureLimits.h"
#include "platform/image/Metadata.h"
#include "platform/image/ReducedRead.h"
#include "platform/base/Orientation.h"
#include "platform/runtime/Dispatch.h"

#include <QFileInfo>

#include <mutex>

namespace lg {

using namespace lg::image;

struct ImageSource::Private
{
    QString path;
    QByteArray data;
    bool inMemory = false;
    Probe probe;

    bool valid = false;
    bool decodeToValidate = false;  // formats whose header alone proves nothing
    QSize storedSize;
    int orientation = 1;
    int depth = 0;
    QString colorModel;
    bool hasAlpha = false;
    int frames = 1;
    qint64 fileBytes = 0;
    HeifInfo heif;                // what the probe found of a HEIC: its thumbnails, tiles, coded sizes

    // The one full decode of the formats above; written once under the flag.
    mutable std::once_flag decodeOnce;
    mutable std::optional<QImage> decoded;  // stored pixels
    // Why not even a reduced picture is decoded; judged once, under its flag.
    mutable std::once_flag claimOnce;
    mutable QString claimRefusal;

    ByteSource open() const { return inMemory ? ByteSource::fromMemory(data) : ByteSource::openFile(path); }
    void inspect(const QString &extension);
    const std::optional<QImage> &fullDecode() const;
    const QString &judgedClaim() const;
    bool usable() const { return decodeToValidate ? fullDecode().has_value() : valid; }
    // Whether a thumbnail of maxSide is read a band of rows at a time: a PNG
    // or TIFF (upright as stored) too large for Qt's readers to decode whole.
    bool readReduced(int maxSide) const
    {
        return maxSide > 0 && !decodeToValidate && probe.decoder == Decoder::Qt
            && (probe.qtFormat == "png" || (probe.qtFormat == "tiff" && orientation == 1))
            && qint64(storedSize.width()) * storedSize.height() * 4 > (qint64(decodeBudgetMegabytes) << 20);
    }
};

namespace {

int depthOf(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
        return 16;
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
        return 16;
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return 32;
    default:
        return 8;
    }
}

// The turn's judgement of a JPEG's claimed size (lg::jpegSizeRefusal), on as
// few of its bytes as tell: a plausible claim is told by the scan data's first
// bytes (a bit a block, where real pictures spend far more), so the file is
// read from its start, four times more each round, until the claim is found
// plausible with the scan data reached, or the whole file has been judged.
QString jpegClaimRefusal(const ByteSource &source)
{
    for (qint64 length = qint64(256) << 10;; length *= 4) {
        const bool whole = length >= source.size();
        const QByteArray bytes = whole && source.inMemory() ? source.memory() : source.read(0, std::min(length, source.size()));
        bool scanDataReached = false;
        const QString refusal = jpegSizeRefusal(bytes, &scanDataReached);
        // A prefix without scan data may not hold the frame either: no verdict.
        if (whole || (refusal.isEmpty() && scanDataReached))
            return refusal;
    }
}

} // namespace

void ImageSource::Private::inspect(const QString &extension)
{
    const ByteSource source = open();
    fileBytes = source.size();
    probe = probeFormat(source, extension);
    switch (probe.decoder) {
    case Decoder::None:
        return;
    case Decoder::Qt:
        if (probe.damaged)
            return;
        if (probe.headerKnown) {
            valid = true;
            storedSize = probe.storedSize;
            orientation = probe.orientation;
            depth = probe.depth;
            colorModel = probe.colorModel;
            hasAlpha = probe.hasAlpha;
            frames = probe.frameCount;
        } else {
            decodeToValidate = true;
        }
        return;
    case Decoder::Heif: {
        const HeifInfo info = probeHeif(source);
        if (!info.ok)
            return;
        valid = true;
        storedSize = info.size;  // libheif turns the pixels itself
        depth = info.depth;
        colorModel = QStringLiteral("RGB");
        hasAlpha = info.hasAlpha;
        heif = info;
        return;
    }
    case Decoder::Raw: {
        if (probe.damaged)
            return;
        const RawInfo info = probeRaw(source, path);
        if (!info.ok) {
            // Not a raw file LibRaw knows; a plain TIFF under a raw name is still a picture.
            if (probe.rawByName) {
                probe.decoder = Decoder::Qt;
                probe.qtFormat = "tiff";
                probe.type = QStringLiteral("tiff");
                decodeToValidate = true;
            }
            return;
        }
        valid = true;
        storedSize = info.storedSize;
        orientation = info.orientation;
        depth = 16;
        colorModel = QStringLiteral("RGB");
        return;
    }
    case Decoder::Magick:
        if (probe.damaged)
            return;
        decodeToValidate = true;
        return;
    }
}

const std::optional<QImage> &ImageSource::Private::fullDecode() const
{
    std::call_once(decodeOnce, [this] {
        const ByteSource source = open();
        auto *self = const_cast<Private *>(this);  // filled once, before any reader sees it
        if (probe.decoder == Decoder::Qt) {
            // These formats carry no Exif orientation of ours: Qt's own reading holds.
            if (std::optional<QImage> image = decodeWithQt(source, probe.qtFormat, 0, 0, nullptr, true)) {
                self->depth = depthOf(*image);
                self->colorModel = image->isGrayscale() ? QStringLiteral("Gray") : QStringLiteral("RGB");
                self->hasAlpha = image->hasAlphaChannel();
                self->storedSize = image->size();
                self->frames = qtFrameCount(source, probe.qtFormat);
                self->decoded = std::move(image);
                return;
            }
            if (probe.magick.empty())
                return;
        }
        if (std::optional<MagickImage> image = decodeWithMagick(source, probe)) {
            self->depth = image->depth;
            self->colorModel = image->colorModel;
            self->hasAlpha = image->hasAlpha;
            self->orientation = image->orientation;
            self->storedSize = image->image.size();
            self->frames = 1;
            self->decoded = std::move(image->image);
        }
    });
    return decoded;
}

const QString &ImageSource::Private::judgedClaim() const
{
    std::call_once(claimOnce, [this] {
        if (probe.decoder == Decoder::Qt && probe.qtFormat == "jpeg")
            claimRefusal = jpegClaimRefusal(open());
    });
    return claimRefusal;
}

ImageSource::ImageSource(const QString &path) : d(std::make_shared<Private>())
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (FileNames::hasRawBytes(path)) {
        // No reader is handed the path: the content stands in for the file.
        constexpr qint64 largest = 256LL << 20;
        const ByteSource file = ByteSource::openNative(FileNames::toNative(path));
        d->data = file.isOpen() ? file.readAll(largest) : QByteArray();
        d->inMemory = true;
    } else {
        d->path = path;
    }
    d->inspect(suffix);
}

ImageSource ImageSource::fromData(const QByteArray &data, const QString &formatHint)
{
    ImageSource source;
    source.d = std::make_shared<Private>();
    source.d->data = data;
    source.d->inMemory = true;
    source.d->inspect(formatHint.toLower());
    return source;
}

QString ImageSource::path() const
{
    return d->path;
}

bool ImageSource::isValid() const
{
    return d->usable();
}

QString ImageSource::type() const
{
    return d->usable() ? d->probe.type : QString();
}

std::optional<QSize> ImageSource::pixelSize() const
{
    if (!d->usable() || d->storedSize.isEmpty())
        return std::nullopt;
    return orientedSize(d->storedSize, d->orientation);
}

std::optional<QImage> ImageSource::thumbnail(int maxPixelSize, ThumbnailUse use) const
{
    if (!d->usable())
        return std::nullopt;
    const int maxSide = std::max(0, maxPixelSize);
    if (!d->judgedClaim().isEmpty())
        return std::nullopt;
    if (d->decodeToValidate)
        return applyOrientation(reducedToFit(*d->fullDecode(), maxSide), d->orientation);
    const ByteSource source = d->open();
    std::optional<QImage> image;
    switch (d->probe.decoder) {
    case Decoder::Qt:
        if (d->readReduced(maxSide))
            image = d->probe.qtFormat == "png" ? readPngReduced(source, maxSide) : readTiffReduced(source, maxSide);
        else
            image = decodeWithQt(source, d->probe.qtFormat, maxSide);
        if (image)
            image = applyOrientation(*image, d->orientation);
        break;
    case Decoder::Heif: {
        HeifDecodeOptions options;
        options.maxSide = maxSide;
        options.cacheThumbnail = use == ThumbnailUse::Cached;
        options.stopped = [] { return isShuttingDown(); };
        image = decodeHeif(source, options);
        break;
    }
    case Decoder::Raw:
        image = decodeRaw(source, d->path, maxSide);
        break;
    default:
        break;
    }
    if (!image || image->isNull())
        return std::nullopt;
    // Reduced decodes and previews round their own way: give the size that
    // the full picture reduced would have (unless the preview is cut differently).
    const QSize target = fitWithin(orientedSize(d->storedSize, d->orientation), maxSide);
    const QSize got = image->size();
    if (got != target && std::abs(got.width() - target.width()) <= 2 && std::abs(got.height() - target.height()) <= 2)
        image = image->scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

qint64 ImageSource::thumbnailDecodeBytes(int maxPixelSize, ThumbnailUse use) const
{
    // Nothing here decodes: judged on the probe alone.
    if (d->probe.decoder == Decoder::None || (!d->valid && !d->decodeToValidate))
        return 0;
    const QSize stored = d->storedSize.isEmpty() ? d->probe.storedSize : d->storedSize;
    if (stored.isEmpty())
        return qint64(decodeBudgetMegabytes) << 20;
    const qint64 pixels = qint64(stored.width()) * stored.height();
    const QSize fitted = fitWithin(stored, std::max(0, maxPixelSize));
    const qint64 thumbnail = qint64(fitted.width()) * fitted.height() * 4;
    // Room for the decoder's own state (tables, rows, the file's bytes in
    // reading): a megabyte or so.
    constexpr qint64 slack = 1 << 20;
    if (d->decodeToValidate) {
        // Decoded whole by ImageMagick: the file's bytes, its pixels of 16
        // bits a sample in four channels, a copy of them where its colours
        // are turned, and the picture handed over in 8 bits (held as long
        // as the source), then reduced.
        return d->fileBytes + pixels * (8 + 8 + 4 + 4) + thumbnail + slack;
    }
    switch (d->probe.decoder) {
    case Decoder::Qt: {
        if (d->probe.qtFormat == "jpeg" && maxPixelSize > 0) {
            // Decoded at 1/2, 1/4 or 1/8 of its size, the most reduced that
            // still covers the thumbnail, then reduced the rest of the way;
            // a progressive file's decoder keeps every coefficient meanwhile.
            int scale = 8;
            while (scale > 1 && (stored.width() / scale < fitted.width() || stored.height() / scale < fitted.height()))
                scale /= 2;
            const qint64 reduced = qint64((stored.width() + scale - 1) / scale) * ((stored.height() + scale - 1) / scale);
            return d->probe.jpegCoefficientBytes + reduced * 4 + thumbnail + slack;
        }
        if (d->readReduced(maxPixelSize))
            return reducedReadBytes(stored, maxPixelSize);
        if (d->probe.qtFormat == "gif") {
            // Qt's reader draws each frame over the one before, in a picture
            // of the whole screen, and keeps a copy to go back to; the frame
            // read is then converted and reduced.
            return pixels * 4 * 4 + thumbnail + slack;
        }
        // Decoded whole, four bytes a pixel (eight past 8 bits a sample),
        // and once more when it is turned into the form that is reduced
        // (Qt's TIFF reader always reads through a buffer of its own).
        const qint64 perPixel = d->probe.depth > 8 ? 8 : 4;
        const bool copied = d->probe.hasAlpha || perPixel > 4 || d->probe.qtFormat == "tiff";
        return d->probe.jpegCoefficientBytes + pixels * perPixel * (copied ? 2 : 1) + thumbnail + slack;
    }
    case Decoder::Heif: {
        // A large enough embedded thumbnail is decoded instead of the
        // picture; either is held as coded, whatever its crop shows.
        const HeifInfo &heif = d->heif;
        QSize coded = heif.codedSize.isEmpty() ? stored : heif.codedSize;
        const int side = heifThumbnailSide(heif.thumbnailSizes, maxPixelSize);
        for (qsizetype i = 0; i < heif.thumbnailSizes.size(); ++i) {
            const QSize size = heif.thumbnailSizes[i];
            if (side > 0 && std::max(size.width(), size.height()) == side)
                coded = i < heif.thumbnailCodedSizes.size() ? heif.thumbnailCodedSizes[i] : size;
        }
        const qint64 decodedPixels = qint64(coded.width()) * coded.height();
        // While decoding: the file's coded bytes (twice: as read, and as
        // handed to the decoder), the decoder's own state (modes and motion
        // for each 4x4 block, about three bytes a pixel) and the planes it
        // decodes into (4:2:0; two bytes a sample past 8 bits), with the
        // filters a second copy of those planes. A grid's tiles decode so,
        // several at once, into planes of the whole picture. The planes are
        // then turned into planes of red, green and blue, from which a
        // thumbnail of 8 bits a sample without alpha is reduced; any other
        // picture is interleaved beside them (with alpha, four bytes a pixel,
        // copied once more).
        const int sample = d->depth > 8 ? 2 : 1;
        const qint64 planes = decodedPixels * 3 / 2 * sample;
        // The filters are left out by how much the shown picture is reduced.
        const bool unfiltered = use == ThumbnailUse::Cached && side == 0 && maxPixelSize > 0 && sample == 1
            && !d->hasAlpha && std::min(stored.width() / std::max(1, fitted.width()), stored.height() / std::max(1, fitted.height())) >= 4;
        qint64 decoding = 2 * d->fileBytes;
        if (side == 0 && heif.gridTiles > 0) {
            const qint64 tilePixels = heif.codedTile.isEmpty() ? decodedPixels / heif.gridTiles + 1
                                                                : qint64(heif.codedTile.width()) * heif.codedTile.height();
            const qint64 atOnce = std::min(heif.gridTiles, 4);
            decoding += planes + atOnce * tilePixels * (3 + 3 * sample / 2 * (unfiltered ? 1 : 2) + 3 * sample / 2);
        } else {
            decoding += decodedPixels * 3 + planes * (unfiltered ? 1 : 2);
        }
        const qint64 separate = planes + decodedPixels * 3 * sample;
        if (maxPixelSize > 0 && sample == 1 && !d->hasAlpha)
            return std::max(decoding, separate) + thumbnail + slack;
        const qint64 interleaved = decodedPixels * (d->hasAlpha ? 4 : 3) * sample + (d->hasAlpha ? decodedPixels * 4 : 0);
        return std::max(decoding, separate + interleaved) + thumbnail + slack;
    }
    case Decoder::Raw:
        // Mostly an embedded preview near the picture's size, decoded (the
        // sensor's samples, where there is none, take about as much again).
        return pixels * 4 + thumbnail + slack;
    default:
        return pixels * 12 + thumbnail + slack;
    }
}

qint64 ImageSource::pixelSizeDecodeBytes() const
{
    return d->decodeToValidate ? thumbnailDecodeBytes(0) : 0;
}

std::optional<QImage> ImageSource::image() const
{
    return thumbnail(0);
}

int ImageSource::frameCount() const
{
    if (!d->usable())
        return 0;
    if (d->probe.decoder == Decoder::Qt && !d->decodeToValidate && d->probe.qtFormat == "tiff")
        return qtFrameCount(d->open(), d->probe.qtFormat);
    return std::max(1, d->frames);
}

std::optional<QImage> ImageSource::frame(int index) const
{
    if (index < 0 || !d->usable())
        return std::nullopt;
    if (index == 0)
        return image();
    if (d->probe.decoder != Decoder::Qt || index >= frameCount())
        return std::nullopt;
    std::optional<QImage> image = decodeWithQt(d->open(), d->probe.qtFormat, 0, index, nullptr, d->decodeToValidate);
    if (!image)
        return std::nullopt;
    return applyOrientation(*image, d->orientation);
}

int ImageSource::frameDelay(int index) const
{
    if (index < 0 || !d->usable() || d->probe.decoder != Decoder::Qt || !d->judgedClaim().isEmpty())
        return 0;
    int delay = 0;
    if (!decodeWithQt(d->open(), d->probe.qtFormat, 1, index, &delay))
        return 0;
    return std::max(0, delay);
}

QString ImageSource::claimRefusal() const
{
    return d->usable() ? d->judgedClaim() : QString();
}

QString ImageSource::decodeRefusal() const
{
    const std::optional<QSize> size = pixelSize();
    if (!size)
        return {};
    if (const QString &refusal = d->judgedClaim(); !refusal.isEmpty())
        return refusal;
    return sizeClaimRefusal(*size, d->probe.decoder == Decoder::Qt);
}

ImageProperties ImageSource::properties() const
{
    ImageProperties properties;
    const std::optional<QSize> size = pixelSize();
    if (!size)
        return properties;
    properties.pixelSize = *size;
    properties.depth = d->depth;
    properties.colorModel = d->colorModel;
    properties.hasAlpha = d->hasAlpha;
    properties.orientation = d->orientation;
    MetadataRead metadata = readMetadata(d->open(), d->path);
    properties.groups = std::move(metadata.groups);
    properties.exif = std::move(metadata.exif);
    properties.iptc = std::move(metadata.iptc);
    properties.xmp = std::move(metadata.xmp);
    properties.icc = std::move(metadata.icc);
    if (d->probe.type == QLatin1String("jpeg")) {
        // The tables come before the picture data, mostly in the first few kilobytes.
        const ByteSource bytes = d->open();
        for (const qint64 headerLimit : {qint64(64) << 10, qint64(1) << 20}) {
            if (const std::optional<int> quality = estimatedJpegQuality(bytes.read(0, headerLimit))) {
                properties.compressionQuality = *quality / 100.0;
                break;
            }
        }
    }
    return properties;
}

} // namespace lg
