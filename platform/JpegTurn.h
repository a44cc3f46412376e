#pragma once
// Quarter turns and mirrors of pictures, and the lossless turn of JPEG files:
// libjpeg-turbo moves the compressed blocks instead of decoding and encoding
// again, so a turned JPEG keeps every pixel value, and four right turns give
// back the original. That is only possible where the picture's size is a
// whole number of compression blocks (MCUs) along the edges the turn moves;
// elsewhere the caller decodes and encodes again at the file's own quality
// (estimatedJpegQuality), as cutting the edge pixels off is no option.
// Any thread; nothing here throws.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace lg {

// The eight ways a picture can be turned and mirrored, numbered as the Exif
// orientations whose stored pixels they make upright (RotateRight: a quarter
// turn clockwise as seen on screen).
enum class PictureTurn {
    None = 1,
    MirrorLeftRight = 2,
    Rotate180 = 3,
    MirrorTopBottom = 4,
    Transpose = 5,
    RotateRight = 6,
    Transverse = 7,
    RotateLeft = 8,
};

// first, then then, as one turn.
PictureTurn combinedTurn(PictureTurn first, PictureTurn then);
// The turn made of quarterTurnsClockwise quarter turns (any sign) and/or mirrors.
PictureTurn pictureTurn(int quarterTurnsClockwise, bool mirrorLeftRight = false, bool mirrorTopBottom = false);
// The picture turned; its colour space is kept.
QImage turnedImage(const QImage &image, PictureTurn turn);
// The size of a picture of size after the turn.
QSize turnedSize(QSize size, PictureTurn turn);

struct TurnedJpeg
{
    QByteArray bytes;  // the JPEG with upright pixels and metadata (Exif orientation 1)
    QSize pixelSize;
};

// The JPEG turned without loss, as shown on screen (its Exif orientation
// taken into account): every marker (Exif with maker note, IPTC, XMP, colour
// profile) kept, orientation 1, pixel dimensions and Exif thumbnail made to
// fit. None, with the reason, when the turn cannot be made without loss or
// the data is no whole JPEG.
std::optional<TurnedJpeg> turnJpegLosslessly(const QByteArray &jpeg, PictureTurn turn, QString *error = nullptr);

// The quality (1..100) the JPEG was most likely written at, from its
// luminance quantization table; none when it has no such table.
std::optional<int> estimatedJpegQuality(const QByteArray &jpeg);

} // namespace lg
