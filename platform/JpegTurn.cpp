#include "platform/JpegTurn.h"

#include "platform/PictureMetadata.h"
#include "platform/image/Orientation.h"

#include <turbojpeg.h>

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

std::optional<TurnedJpeg> turnJpegLosslessly(const QByteArray &jpeg, PictureTurn turn, QString *error)
{
    const auto fail = [error](const QString &text) -> std::optional<TurnedJpeg> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    std::unique_ptr<void, TjDeleter> handle(tjInitTransform());
    if (!handle)
        return fail(QStringLiteral("The JPEG library could not be started."));
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), reinterpret_cast<const unsigned char *>(jpeg.constData()),
                            (unsigned long)jpeg.size(), &width, &height, &subsampling, &colorspace) != 0)
        return fail(turboError(handle.get()));
    // From the stored pixels: first upright by the Exif orientation, then the turn asked for.
    QImage oldThumbnail;
    const PictureTurn total = combinedTurn(PictureTurn(exifOrientation(jpeg, &oldThumbnail)), turn);
    tjtransform transform {};
    transform.op = operationFor(total);
    transform.options = TJXOPT_PERFECT;  // never cut the edge pixels off: fail instead
    // Room for the largest result up front: the buffer is never grown and copied.
    const unsigned long room = tjBufSize(width, height, subsampling) + (unsigned long)jpeg.size();
    std::unique_ptr<unsigned char, decltype(&tjFree)> buffer(tjAlloc(int(std::min<unsigned long>(room, INT_MAX))), &tjFree);
    unsigned char *out = buffer.get();
    unsigned long outSize = room;
    const int flags = (readHeader(jpeg).progressive ? TJFLAG_PROGRESSIVE : 0) | (out ? TJFLAG_NOREALLOC : 0);
    if (!out)
        buffer.release();
    if (tjTransform(handle.get(), reinterpret_cast<const unsigned char *>(jpeg.constData()), (unsigned long)jpeg.size(),
                    1, &out, &outSize, &transform, flags) != 0) {
        if (!buffer)
            tjFree(out);
        return fail(turboError(handle.get()));
    }
    const QByteArray turned(reinterpret_cast<const char *>(out), qsizetype(outSize));
    if (!buffer)
        tjFree(out);
    buffer.reset();
    const QSize size = turnedSize(QSize(width, height), total);
    const QImage thumbnail = oldThumbnail.isNull() ? QImage() : turnedImage(oldThumbnail, total);
    std::optional<QByteArray> bytes = withUprightMetadata(turned, size, thumbnail, error);
    if (!bytes)
        return std::nullopt;
    return TurnedJpeg {std::move(*bytes), size};
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
