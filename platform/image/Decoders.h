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
#include <QList>
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
    // The displayed sizes of the embedded thumbnails a reduced decode may use
    // instead of the picture (turned as the picture is).
    QList<QSize> thumbnailSizes;
    // The distinct tiles of a picture made of a grid of them; 0 for one picture.
    int gridTiles = 0;
    // What a decode holds goes by the pictures as coded, before a crop or a
    // turn, and as large as their streams may code them: the picture's (a
    // grid's: the picture its tiles are put together in), each embedded
    // thumbnail's (in the order of thumbnailSizes), a grid's largest tile's.
    QSize codedSize;
    QList<QSize> thumbnailCodedSizes;
    QSize codedTile;
};
// What one decode of a HEIC picture is for.
struct HeifDecodeOptions
{
    int maxSide = 0;  // the longest side wanted; 0: full size
    // A thumbnail kept in the cache: where it is reduced from a much larger
    // coded picture (never an embedded thumbnail), that picture is decoded
    // without the filters that smooth block edges and restore sample
    // offsets. Never for what is viewed at its size or written to a file.
    bool cacheThumbnail = false;
    // Looked at while decoding: once it gives true (the quit), the decode
    // ends at its next step and gives none.
    bool (*stopped)() = nullptr;
};
// The side of the embedded thumbnail a decode for maxSide uses: the smallest
// at least maxSide long; 0 when none is.
inline int heifThumbnailSide(const QList<QSize> &thumbnails, int maxSide)
{
    int best = 0;
    for (const QSize &size : thumbnails) {
        const int side = size.width() > size.height() ? size.width() : size.height();
        if (maxSide > 0 && side >= maxSide && (best == 0 || side < best))
            best = side;
    }
    return best;
}
HeifInfo probeHeif(const ByteSource &source);
std::optional<QImage> decodeHeif(const ByteSource &source, const HeifDecodeOptions &options);
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
