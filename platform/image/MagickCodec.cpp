// The long tail of formats through ImageMagick (PSD, JPEG 2000, HDR, EXR, ...).
#include "platform/image/ByteSource.h"
#include "platform/image/Decoders.h"
#include "platform/image/FormatProbe.h"
#include "platform/image/Libraries.h"

#include <Magick++.h>

#include <algorithm>
#include <cstring>

namespace lg::image {

namespace {
constexpr qint64 magickInputLimit = 1024LL * 1024 * 1024;
}

std::optional<MagickImage> decodeWithMagick(const ByteSource &source, const Probe &probe)
{
    if (probe.magick.empty() || !source.isOpen())
        return std::nullopt;
    ensureMagick();
    QByteArray bytes = source.readAll(magickInputLimit);
    if (bytes.size() <= probe.magickOffset)
        return std::nullopt;
    if (probe.magickOffset > 0)
        bytes = bytes.mid(probe.magickOffset);
    if (probe.magickPadding > 0)
        bytes.prepend(QByteArray(probe.magickPadding, '\0'));
    try {
        Magick::Image image;
        image.quiet(false);
        image.subImage(0);
        image.subRange(1);
        // The coder is named: ImageMagick never guesses a format (or a delegate) here.
        image.magick(probe.magick);
        const Magick::Blob blob(bytes.constData(), size_t(bytes.size()));
        try {
            image.read(blob);
        } catch (const Magick::WarningCorruptImage &) {
            return std::nullopt;  // cut short or damaged: no partial pictures
        } catch (const Magick::Warning &) {
            // Other warnings (an unknown tag, say) leave a whole image.
        }
        if (!image.isValid() || image.columns() == 0 || image.rows() == 0)
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

std::optional<QByteArray> encodeWithMagick(const QImage &source, const std::string &coder, int quality, QString *error)
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

} // namespace lg::image
