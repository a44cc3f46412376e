#pragma once
// Quarter turns and mirrors of pictures, and the lossless turn of JPEG files.
// A JPEG is never decoded and encoded again: where its size is a whole number
// of compression blocks (MCUs) along the edges the turn mirrors, libjpeg moves
// the compressed blocks (platform/jpeg/JpegEntropy.h), so the turned file keeps
// every pixel value and stands upright (Exif orientation 1); elsewhere the
// turn is written into the Exif orientation, composed with the one the file
// held, and the compressed picture stays byte for byte. Four right turns give
// back the original picture data either way. The file's metadata segments and
// the bytes after its end are carried as they were (platform/jpeg/JpegSegments.h).
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
    QByteArray bytes;    // the turned JPEG
    QSize pixelSize;     // of the turned picture as shown (its orientation applied)
    bool byTag = false;  // the turn went into the orientation tag; else the blocks moved and it is 1
    QString note;        // what could not be kept right, in words for the user (an unreadable
                         // multi-picture index, carried as it was); empty when all was
};

// The JPEG turned without loss, as shown on screen (its Exif orientation
// taken into account). The file's own metadata segments are kept as they were
// stored (Exif with maker note, IPTC, XMP and extended XMP, colour profile,
// comments), with only what the turn changes patched: orientation 1, the pixel
// dimensions, the Exif thumbnail turned (from its own orientation where it
// states one): its blocks moved exactly with tables made for them where they
// can be, else made afresh from the turned picture at its size and quality,
// never from its own earlier encoding, the Exif segment growing for it up to
// its limit (dropped only beyond that); the bytes after the picture's end (a
// motion photo's video) follow unchanged. Checked that every Exif tag is still there
// and that the picture shows the original's colours (turnKeepsColours).
// None, with the reason, when the blocks cannot be moved exactly, the data is
// no whole JPEG or is damaged (libjpeg warns of it), or something would be lost.
std::optional<TurnedJpeg> turnJpegLosslessly(const QByteArray &jpeg, PictureTurn turn, QString *error = nullptr);

// As above, but where the blocks cannot be moved exactly (or need not move at
// all), the turn goes into the orientation tag: the Exif orientation (and an
// XMP tiff:Orientation) becomes the asked turn composed with the file's own,
// an Exif segment is added after the opening JFIF segments where there was
// none, and every other byte stays. A damaged picture is refused all the
// same. claimRefusal, where given, receives jpegSizeRefusal's reason when
// that is why the file is refused: its claim is judged here, once, before
// anything is decoded or transformed.
std::optional<TurnedJpeg> turnJpeg(const QByteArray &jpeg, PictureTurn turn, QString *error = nullptr,
                                   QString *claimRefusal = nullptr);

// The check after a turn that moved the blocks: whether turned, a whole JPEG,
// shows the colours of original (as stored) turned by total, as libjpeg reads
// each by its own markers (colour model, Adobe transform). Compared at an
// eighth of the size on the top rows of turned, which is all that is read of it.
bool turnKeepsColours(const QByteArray &original, PictureTurn total, const QByteArray &turned);

// Why the JPEG's frame header cannot be taken at its word, read before
// anything is decoded or transformed: a side longer than the decoders here
// take (image::maxPictureSide), or more blocks than its bytes can code (a
// Huffman-coded picture spends at least one bit on each block of each
// component); an arithmetic-coded one, whose bytes bound nothing, is held to
// what one decoded picture may take (image::decodeBudgetMegabytes). Empty when the
// claim is plausible or there is no frame header to judge. turnJpeg refuses
// with this reason. Reads no further than the claim needs; scanDataReached,
// where given, tells whether that reading reached scan data (a prefix of a
// file without it may not hold the frame either).
QString jpegSizeRefusal(const QByteArray &jpeg, bool *scanDataReached = nullptr);

// Whether the JPEG (its first bytes suffice) may hold further images of its
// own: it has a multi-picture (MPF) index, e.g. of a stereo pair or a gain
// map, whatever that index says (or fails to say) about how many.
bool jpegHoldsSeveralImages(const QByteArray &jpeg);

// Turns a small JPEG of its own with an Exif thumbnail and throws the result
// away: what the first turn in a thread pays once (libjpeg's, TurboJPEG's and
// exiv2's set-up, the thread's own memory) is paid ahead of a person's turn.
// Any thread; nothing is written anywhere.
void warmUpJpegTurns();

// The quality (1..100) the JPEG was most likely written at, from its
// luminance quantization table; none when it has no such table.
std::optional<int> estimatedJpegQuality(const QByteArray &jpeg);

} // namespace lg
