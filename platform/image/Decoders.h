#pragma once
// The decoders behind lg::ImageSource. Each one returns the stored pixels at
// most maxSide on their longest side (0: full size); turning them upright is
// the caller's business unless a function says otherwise. None of them throws.
// All but the Qt readers live in codec modules loaded on their first call
// (platform/modules/Modules.h); while a module cannot be loaded its functions
// give none (or failed, with an error naming the module), as for a file that
// cannot be read.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <optional>
#include <string>

namespace lg::image {

class ByteSource;
struct Probe;

// ---- Qt image readers ----
// With qtTransforms set, the transformation the Qt reader reports (a TGA's
// row order, say) is applied; otherwise the stored pixels come back as stored.
std::optional<QImage> decodeWithQt(const ByteSource &source, const QByteArray &format, int maxSide,
                                   int frameIndex = 0, int *delayMs = nullptr, bool qtTransforms = false);
int qtFrameCount(const ByteSource &source, const QByteArray &format);

// ---- libheif (HEIC, HEIF, AVIF); transformations are applied by libheif ----
struct HeifInfo
{
    bool ok = false;
    QSize size;  // displayed size
    int depth = 8;
    bool hasAlpha = false;
    int imageCount = 1;
};
HeifInfo probeHeif(const ByteSource &source);
std::optional<QImage> decodeHeif(const ByteSource &source, int maxSide);
// HEIC bytes of the image (quality 0..100), with a small embedded thumbnail
// when the image is large, and the Exif block, XMP packet and colour profile
// that are given.
std::optional<QByteArray> encodeHeic(const QImage &image, int quality, const QByteArray &exif, const QByteArray &xmp,
                                     const QByteArray &icc, QString *error);

// ---- LibRaw (camera raw); the result is upright ----
struct RawInfo
{
    bool ok = false;
    QSize storedSize;
    int orientation = 1;
};
RawInfo probeRaw(const ByteSource &source, const QString &path);
std::optional<QImage> decodeRaw(const ByteSource &source, const QString &path, int maxSide);

// ---- ImageMagick, for the formats the others do not read or write ----
struct MagickImage
{
    QImage image;  // stored pixels, full size
    int orientation = 1;
    int depth = 8;
    QString colorModel;
    bool hasAlpha = false;
};
std::optional<MagickImage> decodeWithMagick(const ByteSource &source, const Probe &probe);
std::optional<QByteArray> encodeWithMagick(const QImage &image, const std::string &coder, int quality, QString *error);
// A TIFF of the image (8 or 16 bits a sample, grey or colour, with its alpha);
// predictor is the TIFF tag's value (2: horizontal differencing), 1 for none.
enum class TiffCompression { None, Lzw, Deflate, PackBits };
std::optional<QByteArray> encodeTiffWithMagick(const QImage &image, TiffCompression compression, int predictor,
                                               QString *error);

} // namespace lg::image
