#include "platform/JpegTurn.h"

#include "platform/JpegEntropy.h"
#include "platform/JpegSegments.h"
#include "platform/image/FormatProbe.h"
#include "platform/image/Libraries.h"
#include "platform/image/Orientation.h"


#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <memory>

namespace lg {

namespace {

// Each turn as the matrix that maps screen coordinates (x right, y down) of
// the old picture's pixels to the new: {a, b, c, d} maps (x, y) to (ax + by, cx + dy).
using Matrix = std::array<int, 4>;

constexpr std::array<Matrix, 8> matrices = {{
    {1, 0, 0, 1},    // None
    {-1, 0, 0, 1},   // MirrorLeftRight
    {-1, 0, 0, -1},  // Rotate180
    {1, 0, 0, -1},   // MirrorTopBottom
    {0, 1, 1, 0},    // Transpose
    {0, -1, 1, 0},   // RotateRight
    {0, -1, -1, 0},  // Transverse
    {0, 1, -1, 0},   // RotateLeft
}};

Matrix matrixOf(PictureTurn turn)
{
    return matrices[size_t(int(turn) - 1)];
}

PictureTurn turnOf(const Matrix &m)
{
    for (size_t i = 0; i < matrices.size(); ++i)
        if (matrices[i] == m)
            return PictureTurn(int(i) + 1);
    return PictureTurn::None;
}

Matrix product(const Matrix &l, const Matrix &r)
{
    return {l[0] * r[0] + l[1] * r[2], l[0] * r[1] + l[1] * r[3], l[2] * r[0] + l[3] * r[2], l[2] * r[1] + l[3] * r[3]};
}

TJXOP operationFor(PictureTurn turn)
{
    switch (turn) {
    case PictureTurn::None: return TJXOP_NONE;
    case PictureTurn::MirrorLeftRight: return TJXOP_HFLIP;
    case PictureTurn::Rotate180: return TJXOP_ROT180;
    case PictureTurn::MirrorTopBottom: return TJXOP_VFLIP;
    case PictureTurn::Transpose: return TJXOP_TRANSPOSE;
    case PictureTurn::RotateRight: return TJXOP_ROT90;
    case PictureTurn::Transverse: return TJXOP_TRANSVERSE;
    case PictureTurn::RotateLeft: return TJXOP_ROT270;
    }
    return TJXOP_NONE;
}

struct JpegHeader
{
    bool progressive = false;
    bool arithmetic = false;
    QSize frameSize;                      // as the frame header claims it; invalid without one
    QList<std::pair<int, int>> sampling;  // each component's horizontal and vertical sampling factors
    std::optional<std::array<int, 64>> luminanceTable;  // in the file's (zigzag) order
};

JpegHeader readHeader(const QByteArray &jpeg)
{
    JpegHeader header;
    const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const qsizetype size = jpeg.size();
    if (size < 4 || bytes[0] != 0xff || bytes[1] != 0xd8)
        return header;
    qsizetype at = 2;
    while (at + 4 <= size) {
        if (bytes[at] != 0xff)
            return header;
        const unsigned char marker = bytes[at + 1];
        if (marker == 0xff) {
            ++at;  // fill byte
            continue;
        }
        if (marker == 0xd8 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            at += 2;
            continue;
        }
        if (marker == 0xda || marker == 0xd9)
            return header;  // the picture data starts: no more tables
        const qsizetype length = (qsizetype(bytes[at + 2]) << 8) | bytes[at + 3];
        if (length < 2 || at + 2 + length > size)
            return header;
        const qsizetype end = at + 2 + length;
        if (marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce)
            header.progressive = true;
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc && length >= 8
            && !header.frameSize.isValid()) {
            header.arithmetic = marker >= 0xc9;
            header.frameSize = QSize((bytes[at + 7] << 8) | bytes[at + 8], (bytes[at + 5] << 8) | bytes[at + 6]);
            const int components = bytes[at + 9];
            for (int c = 0; c < components && at + 10 + 3 * c + 3 <= end; ++c) {
                const int factors = bytes[at + 11 + 3 * c];
                header.sampling.append({std::max(1, factors >> 4), std::max(1, factors & 15)});
            }
        }
        if (marker == 0xdb) {
            qsizetype p = at + 4;
            while (p < end) {
                const int precision = bytes[p] >> 4, id = bytes[p] & 15;
                const qsizetype tableBytes = 64 * (precision ? 2 : 1);
                if (p + 1 + tableBytes > end)
                    break;
                if (id == 0) {
                    std::array<int, 64> table {};
                    for (int k = 0; k < 64; ++k)
                        table[size_t(k)] = precision ? (bytes[p + 1 + 2 * k] << 8) | bytes[p + 2 + 2 * k] : bytes[p + 1 + k];
                    header.luminanceTable = table;
                }
                p += 1 + tableBytes;
            }
        }
        at = end;
    }
    return header;
}

struct TjDeleter
{
    void operator()(void *handle) const { tjDestroy(handle); }
};

QString turboError(tjhandle handle)
{
    return QString::fromLocal8Bit(tjGetErrorStr2(handle));
}

} // namespace

PictureTurn combinedTurn(PictureTurn first, PictureTurn then)
{
    return turnOf(product(matrixOf(then), matrixOf(first)));
}

PictureTurn pictureTurn(int quarterTurnsClockwise, bool mirrorLeftRight, bool mirrorTopBottom)
{
    PictureTurn turn = PictureTurn::None;
    if (mirrorLeftRight)
        turn = combinedTurn(turn, PictureTurn::MirrorLeftRight);
    if (mirrorTopBottom)
        turn = combinedTurn(turn, PictureTurn::MirrorTopBottom);
    for (int i = 0; i < ((quarterTurnsClockwise % 4) + 4) % 4; ++i)
        turn = combinedTurn(turn, PictureTurn::RotateRight);
    return turn;
}

QImage turnedImage(const QImage &image, PictureTurn turn)
{
    return image::applyOrientation(image, int(turn));
}

QSize turnedSize(QSize size, PictureTurn turn)
{
    return image::orientedSize(size, int(turn));
}

namespace {

int pixelFormatFor(int colorspace)
{
    return colorspace == TJCS_CMYK || colorspace == TJCS_YCCK ? TJPF_CMYK : colorspace == TJCS_GRAY ? TJPF_GRAY : TJPF_RGBX;
}

// The stored pixels as they are in the file, in a QImage of the same bytes a
// pixel (CMYK in a four-byte format, moved but never interpreted).
QImage decodedStored(tjhandle handle, const QByteArray &jpeg, QSize size, int pixelFormat)
{
    QImage image(size, pixelFormat == TJPF_GRAY ? QImage::Format_Grayscale8
                     : pixelFormat == TJPF_CMYK ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    if (image.isNull())
        return {};
    if (tjDecompress2(handle, reinterpret_cast<const unsigned char *>(jpeg.constData()), (unsigned long)jpeg.size(),
                      image.bits(), size.width(), int(image.bytesPerLine()), size.height(), pixelFormat,
                      TJFLAG_ACCURATEDCT) != 0)
        return {};
    return image;
}

std::optional<QByteArray> encoded(tjhandle handle, const QImage &pixels, int pixelFormat, int subsampling, int quality,
                                  bool progressive)
{
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int flags = TJFLAG_ACCURATEDCT | (progressive ? TJFLAG_PROGRESSIVE : 0);
    if (tjCompress2(handle, pixels.constBits(), pixels.width(), int(pixels.bytesPerLine()), pixels.height(), pixelFormat,
                    &out, &size, pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : subsampling, quality, flags) != 0) {
        tjFree(out);
        return std::nullopt;
    }
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    tjFree(out);
    return bytes;
}

// The picture's blocks moved by the turn; none when the turn is not perfect.
std::optional<QByteArray> transformed(tjhandle handle, const QByteArray &jpeg, QSize stored, int subsampling,
                                      PictureTurn total, bool progressive, QString *error)
{
    tjtransform transform {};
    transform.op = operationFor(total);
    // Never cut the edge pixels off: fail instead. The metadata is carried by us, as it was stored.
    transform.options = TJXOPT_PERFECT | TJXOPT_COPYNONE;
    // Room for the largest result up front: the buffer is never grown and copied.
    const unsigned long room = tjBufSize(stored.width(), stored.height(), subsampling < 0 ? TJSAMP_444 : subsampling)
                             + (unsigned long)jpeg.size();
    std::unique_ptr<unsigned char, decltype(&tjFree)> buffer(tjAlloc(int(std::min<unsigned long>(room, INT_MAX))), &tjFree);
    unsigned char *out = buffer.get();
    unsigned long outSize = room;
    const int flags = (progressive ? TJFLAG_PROGRESSIVE : 0) | (out ? TJFLAG_NOREALLOC : 0);
    if (!out)
        buffer.release();
    if (tjTransform(handle, reinterpret_cast<const unsigned char *>(jpeg.constData()), (unsigned long)jpeg.size(), 1,
                    &out, &outSize, &transform, flags) != 0) {
        if (!buffer)
            tjFree(out);
        if (error)
            *error = turboError(handle);
        return std::nullopt;
    }
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(outSize));
    if (!buffer)
        tjFree(out);
    return bytes;
}

// The picture decoded, turned and encoded again with the file's own colour
// model, chroma subsampling, quality and progression.
// The compressed blocks moved by total. Tables made for the picture are made
// for the turned one too; the standard ones stay.
std::optional<QByteArray> movedBlocks(tjhandle handle, const QByteArray &jpeg, QSize stored, int subsampling,
                                      PictureTurn total, bool progressive, QString *error)
{
    return jpeg::entropyCoding(jpeg) == jpeg::EntropyCoding::Standard
               ? transformed(handle, jpeg, stored, subsampling, total, progressive, error)
               : jpeg::turnedWithOptimisedCoding(jpeg, total, error);
}

std::optional<QByteArray> reencoded(tjhandle handle, const QByteArray &jpeg, QSize stored, int subsampling, int colorspace,
                                    PictureTurn total, bool progressive, QString *error)
{
    const int pixelFormat = pixelFormatFor(colorspace);
    const QImage pixels = decodedStored(handle, jpeg, stored, pixelFormat);
    if (pixels.isNull()) {
        if (error)
            *error = turboError(handle);
        return std::nullopt;
    }
    const int quality = estimatedJpegQuality(jpeg).value_or(90);
    std::optional<QByteArray> bytes = encoded(handle, turnedImage(pixels, total), pixelFormat,
                                              subsampling < 0 ? TJSAMP_444 : subsampling, quality, progressive);
    if (!bytes && error)
        *error = turboError(handle);
    return bytes;
}

// The old Exif thumbnail turned, no larger than maxBytes (moved without loss
// where it can be, else at falling qualities); empty when it cannot be made so.
QByteArray turnedThumbnail(const QByteArray &old, PictureTurn total, qsizetype maxBytes)
{
    std::unique_ptr<void, TjDeleter> handle(tjInitTransform());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!handle
        || tjDecompressHeader3(handle.get(), reinterpret_cast<const unsigned char *>(old.constData()), (unsigned long)old.size(),
                               &width, &height, &subsampling, &colorspace) != 0)
        return {};
    if (total == PictureTurn::None)
        return old;
    // A thumbnail whose header claims more than its bytes can hold goes, as
    // one that cannot be turned does: nothing is made at the claimed size.
    if (!jpegSizeRefusal(old).isEmpty())
        return {};
    // An optimised thumbnail stays optimised, so that it fits where it was.
    if (const std::optional<QByteArray> moved = movedBlocks(handle.get(), old, QSize(width, height), subsampling, total, false, nullptr))
        if (const std::optional<QByteArray> bare = jpeg::assemble({}, *moved, {}); bare && bare->size() <= maxBytes)
            return *bare;
    const int pixelFormat = pixelFormatFor(colorspace);
    const QImage pixels = decodedStored(handle.get(), old, QSize(width, height), pixelFormat);
    if (pixels.isNull())
        return {};
    const QImage turned = turnedImage(pixels, total);
    for (int quality = estimatedJpegQuality(old).value_or(75); quality >= 20; quality -= 10) {
        const std::optional<QByteArray> bytes = encoded(handle.get(), turned, pixelFormat,
                                                        subsampling < 0 ? TJSAMP_420 : subsampling, quality, false);
        if (!bytes)
            return {};
        if (const std::optional<QByteArray> bare = jpeg::assemble({}, *bytes, {}); bare && bare->size() <= maxBytes)
            return *bare;
    }
    return {};
}

std::optional<TurnedJpeg> failed(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return std::nullopt;
}

// The file's own metadata segments, patched for upright pixels of size, in
// front of the new body, and the bytes after the old end behind it; checked
// that every Exif tag is still there.
std::optional<TurnedJpeg> withOwnMetadata(const QByteArray &jpeg, const jpeg::Layout &layout, const QByteArray &body,
                                          QSize size, PictureTurn total, bool lossless, QString *error)
{
    QList<jpeg::Segment> metadata;
    QByteArray exifBefore, exifAfter;
    bool thumbnailDropped = false;
    const bool hasExtendedXmp = std::any_of(layout.metadata.cbegin(), layout.metadata.cend(), jpeg::isExtendedXmp);
    for (const jpeg::Segment &segment : layout.metadata) {
        if (jpeg::isExif(segment) && exifBefore.isEmpty()) {
            exifBefore = segment.payload.mid(6);
            QByteArray tiff = exifBefore;
            const auto maker = [total](const QByteArray &old, qsizetype maxBytes) { return turnedThumbnail(old, total, maxBytes); };
            if (!jpeg::patchExif(tiff, size, maker, &thumbnailDropped))
                return failed(error, QStringLiteral("The Exif block cannot be read."));
            exifAfter = tiff;
            metadata.append({segment.marker, segment.payload.left(6) + tiff});
        } else if (jpeg::isXmp(segment)) {
            const QByteArray packet = segment.payload.mid(29);
            const QByteArray upright = jpeg::uprightXmpPacket(packet, size);
            if (upright == packet) {
                metadata.append(segment);
                continue;
            }
            const std::optional<QList<jpeg::Segment>> segments = jpeg::xmpSegments(upright);
            if (!segments || (segments->size() > 1 && hasExtendedXmp))
                return failed(error, QStringLiteral("The XMP packet is too large to be written back."));
            metadata.append(*segments);
        } else {
            metadata.append(segment);
        }
    }
    const QByteArray trailing = jpeg.mid(layout.imageEnd);
    std::optional<QByteArray> bytes = jpeg::assemble(metadata, body, trailing);
    if (!bytes)
        return failed(error, QStringLiteral("The turned picture could not be put together with its metadata."));
    // The further pictures of a multi-picture file are found again after the new end.
    for (const jpeg::Segment &segment : layout.metadata)
        if (jpeg::isMpf(segment)) {
            if (!jpeg::patchMpfIndex(*bytes, bytes->size() - trailing.size(), segment.position, layout.imageEnd))
                return failed(error, QStringLiteral("The index of the further pictures could not be kept."));
            break;
        }
    const QList<QByteArray> missing = jpeg::missingExifTags(exifBefore, exifAfter, thumbnailDropped);
    if (!missing.isEmpty())
        return failed(error, QStringLiteral("These Exif tags could not be kept: %1").arg(QString::fromLatin1(missing.join(", "))));
    return TurnedJpeg {std::move(*bytes), size, lossless};
}

std::optional<TurnedJpeg> turned(const QByteArray &jpeg, PictureTurn turn, bool mayEncodeAgain, QString *error)
{
    if (const QString refusal = jpegSizeRefusal(jpeg); !refusal.isEmpty())
        return failed(error, refusal);
    const std::optional<jpeg::Layout> layout = jpeg::parse(jpeg);
    if (!layout)
        return failed(error, QStringLiteral("The file is no whole JPEG."));
    std::unique_ptr<void, TjDeleter> handle(tjInitTransform());
    if (!handle)
        return failed(error, QStringLiteral("The JPEG library could not be started."));
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), reinterpret_cast<const unsigned char *>(jpeg.constData()),
                            (unsigned long)jpeg.size(), &width, &height, &subsampling, &colorspace) != 0)
        return failed(error, turboError(handle.get()));
    // From the stored pixels: first upright by the Exif orientation, then the turn asked for.
    int orientation = 1;
    for (const jpeg::Segment &segment : layout->metadata)
        if (jpeg::isExif(segment)) {
            orientation = image::exifOrientation(segment.payload.mid(6));
            break;
        }
    const PictureTurn total = combinedTurn(PictureTurn(orientation), turn);
    const QSize stored(width, height);
    const bool progressive = readHeader(jpeg).progressive;
    bool lossless = true;
    std::optional<QByteArray> body = movedBlocks(handle.get(), jpeg, stored, subsampling, total, progressive, error);
    if (!body && mayEncodeAgain) {
        lossless = false;
        body = reencoded(handle.get(), jpeg, stored, subsampling, colorspace, total, progressive, error);
    }
    if (!body)
        return std::nullopt;
    return withOwnMetadata(jpeg, *layout, *body, turnedSize(stored, total), total, lossless, error);
}

} // namespace

std::optional<TurnedJpeg> turnJpegLosslessly(const QByteArray &jpeg, PictureTurn turn, QString *error)
{
    return turned(jpeg, turn, false, error);
}

std::optional<TurnedJpeg> turnJpeg(const QByteArray &jpeg, PictureTurn turn, QString *error)
{
    return turned(jpeg, turn, true, error);
}

QString jpegSizeRefusal(const QByteArray &jpeg)
{
    const JpegHeader header = readHeader(jpeg);
    const QSize size = header.frameSize;
    if (size.isEmpty() || header.sampling.isEmpty())
        return {};  // no frame to go by: the decoder tells
    // Arithmetic coding may spend far less than a bit on a block: its bytes
    // bound nothing, so it is held to what a decoded picture may take.
    if (const QString refusal = image::sizeClaimRefusal(size, header.arithmetic); !refusal.isEmpty() || header.arithmetic)
        return refusal;
    // Huffman coding spends at least one bit on each block of 8 × 8 samples
    // of each component (its DC value has a code of one bit or more, in a
    // sequential scan as in a progressive one's first DC scan), so the file
    // holds at least one bit a block. Real pictures never come near it: a
    // plain black one, optimised and progressive, takes about that much.
    int maxH = 1, maxV = 1;
    for (const auto &[h, v] : header.sampling) {
        maxH = std::max(maxH, h);
        maxV = std::max(maxV, v);
    }
    const auto ceilDiv = [](qint64 a, qint64 b) { return (a + b - 1) / b; };
    qint64 blocks = 0;
    for (const auto &[h, v] : header.sampling)
        blocks += ceilDiv(ceilDiv(qint64(size.width()) * h, maxH), 8) * ceilDiv(ceilDiv(qint64(size.height()) * v, maxV), 8);
    if (jpeg::entropyCodedBytes(jpeg, (blocks + 7) / 8) * 8 < blocks)
        return QStringLiteral("%1, more than its %2 bytes can hold.").arg(image::claimText(size)).arg(jpeg.size());
    return {};
}

bool jpegHoldsSeveralImages(const QByteArray &jpeg)
{
    const QList<jpeg::Segment> segments = jpeg::headerSegments(jpeg);
    return std::any_of(segments.cbegin(), segments.cend(),
                       [](const jpeg::Segment &segment) { return jpeg::isMpf(segment); });
}

std::optional<int> estimatedJpegQuality(const QByteArray &jpeg)
{
    static constexpr int standardLuminance[64] = {
        16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
        14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
        18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static constexpr int zigzag[64] = {
        0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22,
        15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    const JpegHeader header = readHeader(jpeg);
    if (!header.luminanceTable)
        return std::nullopt;
    // The libjpeg quality whose scaled standard table comes closest.
    int best = 75;
    long bestDistance = -1;
    for (int quality = 1; quality <= 100; ++quality) {
        const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
        long distance = 0;
        for (int k = 0; k < 64; ++k) {
            const int expected = std::clamp((standardLuminance[zigzag[k]] * scale + 50) / 100, 1, 255);
            distance += std::abs(expected - (*header.luminanceTable)[size_t(k)]);
        }
        if (bestDistance < 0 || distance <= bestDistance) {
            best = quality;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace lg
