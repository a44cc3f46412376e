// The ImageMagick module: the long tail of formats (PSD, JPEG 2000, HDR, EXR, ...) and TIFF writing.
#include "platform/image/ByteSource.h"
#include "platform/base/PictureLimits.h"
#include "platform/image/ModuleInterfaces.h"

#include <Magick++.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace lg::image {

namespace {

constexpr qint64 magickInputLimit = 1024LL * 1024 * 1024;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// ImageMagick initialised once, with resource limits and one thread per
// operation (the callers already decode on many threads).
void ensureMagick()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Magick::InitializeMagick(nullptr);
        // Never more than the system policy allows; lower where it allows more.
        const auto cap = [](MagickCore::MagickSizeType current, MagickCore::MagickSizeType wanted) {
            return current == 0 ? wanted : std::min(current, wanted);
        };
        constexpr MagickCore::MagickSizeType MiB = 1024 * 1024;
        Magick::ResourceLimits::memory(cap(Magick::ResourceLimits::memory(), 512 * MiB));
        Magick::ResourceLimits::map(cap(Magick::ResourceLimits::map(), 1024 * MiB));
        Magick::ResourceLimits::disk(cap(Magick::ResourceLimits::disk(), 2048 * MiB));
        Magick::ResourceLimits::width(cap(Magick::ResourceLimits::width(), maxPictureSide));
        Magick::ResourceLimits::height(cap(Magick::ResourceLimits::height(), maxPictureSide));
        Magick::ResourceLimits::thread(1);
    });
}

// ImageMagick's progress, looked at between its steps: false ends the read.
MagickCore::MagickBooleanType goOn(const char *, const MagickCore::MagickOffsetType, const MagickCore::MagickSizeType,
                                   void *stopped)
{
    const auto stop = reinterpret_cast<bool (*)()>(stopped);
    return stop && stop() ? MagickCore::MagickFalse : MagickCore::MagickTrue;
}

std::optional<MagickImage> magickDecode(const ByteSource &source, const std::string &coder, qint64 offset,
                                            qint64 padding, bool (*stopped)())
{
    if (stopped && stopped())
        return std::nullopt;
    if (coder.empty() || !source.isOpen())
        return std::nullopt;
    ensureMagick();
    QByteArray bytes = source.readAll(magickInputLimit);
    if (bytes.size() <= offset)
        return std::nullopt;
    if (offset > 0)
        bytes = bytes.mid(offset);
    if (padding > 0)
        bytes.prepend(QByteArray(padding, '\0'));
    try {
        Magick::Image image;
        image.quiet(false);
        image.subImage(0);
        image.subRange(1);
        // The coder is named: ImageMagick never guesses a format (or a delegate) here.
        image.magick(coder);
        if (stopped)
            MagickCore::SetImageInfoProgressMonitor(image.imageInfo(), goOn, reinterpret_cast<void *>(stopped));
        const Magick::Blob blob(bytes.constData(), size_t(bytes.size()));
        try {
            image.read(blob);
        } catch (const Magick::WarningCorruptImage &) {
            return std::nullopt;  // cut short or damaged: no partial pictures
        } catch (const Magick::Warning &) {
            // Other warnings (an unknown tag, say) leave a whole image.
        }
        if (!image.isValid() || image.columns() == 0 || image.rows() == 0 || (stopped && stopped()))
            return std::nullopt;

        MagickImage result;
        // The coders used here hand over upright pixels (TGA, for one, reports
        // the row order it has already undone), so the orientation stays 1.
        result.orientation = 1;
        result.depth = int(image.depth());
        result.hasAlpha = image.matte();
        const MagickCore::ColorspaceType space = image.colorSpace();
        result.colorModel = space == MagickCore::CMYKColorspace ? QStringLiteral("CMYK")
                          : space == MagickCore::GRAYColorspace ? QStringLiteral("Gray") : QStringLiteral("RGB");
        if (space != MagickCore::sRGBColorspace && space != MagickCore::GRAYColorspace
            && space != MagickCore::UndefinedColorspace)
            image.colorSpace(MagickCore::sRGBColorspace);

        const size_t width = image.columns(), height = image.rows();
        QImage out(int(width), int(height), result.hasAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
        if (out.isNull())
            return std::nullopt;
        image.write(0, 0, width, height, "RGBA", MagickCore::CharPixel, out.bits());
        result.image = out;
        return result;
    } catch (const std::exception &) {
        return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<QByteArray> magickEncode(const QImage &source, const std::string &coder, int quality, QString *error)
{
    ensureMagick();
    if (source.isNull()) {
        if (error)
            *error = QStringLiteral("There is no image to write.");
        return std::nullopt;
    }
    try {
        const bool alpha = source.hasAlphaChannel();
        const QImage pixels = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
        Magick::Image image(size_t(pixels.width()), size_t(pixels.height()), alpha ? "RGBA" : "RGBP",
                            MagickCore::CharPixel, pixels.constBits());
        if (!alpha)
            image.matte(false);
        image.magick(coder);
        if (quality >= 0)
            image.quality(size_t(std::clamp(quality, 0, 100)));
        Magick::Blob blob;
        image.write(&blob, coder);
        if (blob.length() == 0) {
            if (error)
                *error = QStringLiteral("ImageMagick wrote nothing.");
            return std::nullopt;
        }
        return QByteArray(static_cast<const char *>(blob.data()), qsizetype(blob.length()));
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromLocal8Bit(e.what());
        return std::nullopt;
    }
}

std::optional<QByteArray> magickEncodeTiff(const QImage &image, TiffCompression compression, int predictor, QString *error)
{
    ensureMagick();
    if (image.isNull()) {
        setError(error, QStringLiteral("There is no image to write."));
        return std::nullopt;
    }
    try {
        const bool grey = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16;
        const bool deep = image.format() == QImage::Format_Grayscale16 || image.depth() == 64;
        const bool alpha = image.hasAlphaChannel();
        const QImage pixels = grey ? image
                            : deep ? image.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                   : image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
        // Rows one after another, as ImageMagick reads them.
        const qsizetype row = qsizetype(pixels.width()) * (pixels.depth() / 8);
        QByteArray packed(row * pixels.height(), Qt::Uninitialized);
        for (int y = 0; y < pixels.height(); ++y)
            std::memcpy(packed.data() + y * row, pixels.constScanLine(y), size_t(row));
        Magick::Image out(size_t(pixels.width()), size_t(pixels.height()), grey ? "I" : alpha ? "RGBA" : "RGBP",
                          deep ? MagickCore::ShortPixel : MagickCore::CharPixel, packed.constData());
        if (!alpha)
            out.matte(false);
        out.depth(deep ? 16 : 8);
        out.compressType(compression == TiffCompression::Deflate    ? MagickCore::ZipCompression
                         : compression == TiffCompression::PackBits ? MagickCore::RLECompression
                         : compression == TiffCompression::Lzw      ? MagickCore::LZWCompression
                                                                    : MagickCore::NoCompression);
        if (predictor > 1 && (compression == TiffCompression::Lzw || compression == TiffCompression::Deflate))
            out.defineValue("tiff", "predictor", std::to_string(predictor));
        Magick::Blob blob;
        out.write(&blob, "TIFF");
        if (blob.length() == 0) {
            setError(error, QStringLiteral("ImageMagick wrote nothing."));
            return std::nullopt;
        }
        return QByteArray(static_cast<const char *>(blob.data()), qsizetype(blob.length()));
    } catch (const std::exception &e) {
        setError(error, QString::fromLocal8Bit(e.what()));
        return std::nullopt;
    }
}

class MagickAdapter final : public MagickModule
{
public:
    std::optional<MagickImage> decode(const ByteSource &source, const std::string &coder, qint64 offset,
                                      qint64 padding, bool (*stopped)()) const override
    {
        return magickDecode(source, coder, offset, padding, stopped);
    }
    std::optional<QByteArray> encode(const QImage &image, const std::string &coder, int quality,
                                     QString *error) const override
    {
        return magickEncode(image, coder, quality, error);
    }
    std::optional<QByteArray> encodeTiff(const QImage &image, TiffCompression compression, int predictor,
                                         QString *error) const override
    {
        return magickEncodeTiff(image, compression, predictor, error);
    }
};

} // namespace

} // namespace lg::image

LG_MODULE_EXPORT const void *lumengallery_magick_module(int version)
{
    static const lg::image::MagickAdapter module;
    return version == lg::image::moduleInterfaceVersion ? static_cast<const lg::image::MagickModule *>(&module)
                                                        : nullptr;
}
