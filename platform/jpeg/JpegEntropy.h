#pragma once
// How a JPEG's compressed blocks are entropy coded, and the lossless turn of
// a JPEG's blocks. Cameras mostly write the standard tables of the JPEG
// standard (Annex K); exports and editors compute tables for the picture (an
// optimising pass), which makes the file 5 to 25 % smaller. A turn that wrote
// the standard tables would give that back, so a file is turned here in one
// pass over its DCT blocks with libjpeg: the blocks are moved, transposed and
// their signs changed as the turn asks, then written with tables computed for
// the turned picture where the file's were its own, the standard ones where
// it had those, keeping its progression, restart interval and arithmetic
// coding (which has no tables to optimise). Only the
// picture (tables, frame, scans) is made; metadata is the caller's
// (platform/jpeg/JpegSegments.h). libjpeg reads every sampling the standard allows.
// Any thread; nothing here throws. A libjpeg error, or any warning of damaged
// data on the way, gives "none" and its message: nothing is made from what a
// decoder guessed.
#include "platform/jpeg/JpegSegments.h"
#include "platform/jpeg/JpegTurn.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <limits>
#include <optional>

namespace lg::jpeg {

enum class EntropyCoding {
    Standard,     // sequential Huffman coding with only the standard tables (or none, which means them)
    Optimised,    // sequential Huffman coding with tables of its own, or arithmetic coding
    Progressive,  // progressive: its tables are always its own
};

// How the whole JPEG is coded, from its frame and its Huffman table segments.
// Data that is no JPEG counts as Standard (the usual path reports what is wrong).
EntropyCoding entropyCoding(const QByteArray &jpeg);
// The same from a reading of jpeg that the caller has made.
EntropyCoding entropyCoding(const QByteArray &jpeg, const Reading &reading);

// Whether turn, applied to stored pixels of size stored whose MCU is
// mcuInBlocks blocks of 8 x 8, moves whole blocks only: the picture is whole
// MCUs along each stored edge whose block order the turn reverses. The one
// rule for the turn's choice and for libjpeg's work.
bool movesWholeBlocks(QSize stored, QSize mcuInBlocks, PictureTurn turn);

// How many bytes of jpeg code its blocks: the entropy-coded data of its scans,
// each from the end of its scan header (SOS) to the next marker that is not a
// restart marker, up to the end of the picture (EOI) or of the bytes given. A
// stuffed zero byte counts with the 0xFF before it, as one; fill bytes,
// restart markers, metadata, tables and whatever follows the end of the
// picture hold no blocks and are not counted. Counting stops once it reaches
// enough: a caller that needs to know only whether the data holds that much
// gets enough or more when it does.
qint64 entropyCodedBytes(const QByteArray &jpeg, qint64 enough = std::numeric_limits<qint64>::max());

// The picture of jpeg (a whole JPEG) with its blocks moved by turn, applied to
// the stored pixels; Standard coding keeps the standard tables, the others get
// tables optimised for the turned picture, and progressive stays progressive.
// The restart interval is kept; a lone component's factors are written 1x1
// (it is read a block at a time whatever they say). A bare JPEG whose own
// APPn segments are of no account (an Adobe segment tells how colours are stored). None, with the
// reason, when the turn would have to cut off or move partial blocks at an
// edge (the picture is not whole MCUs along an edge the turn mirrors), libjpeg
// cannot read the data or warns that it is damaged, or a block's DC value lies
// beyond what a picture of the frame's precision holds (damaged arithmetic
// data reads so without a warning, and written again would not decode): what
// is written decodes as a whole, as libjpeg reads back what it wrote. storedEighthScale, where
// given, receives the picture as stored at an eighth of its size, made from
// the blocks read for the turn as eighthScale would decode it (null for a
// colour model that has no RGB or CMYK reading): the original's side of the
// check after the turn, with no second decoding. coding, where given, is how
// the caller read the file (entropyCoding); Optimised asks for tables made
// for the turned picture whatever the file had.
std::optional<QByteArray> turnedBlocks(const QByteArray &jpeg, PictureTurn turn, QString *error = nullptr,
                                       QImage *storedEighthScale = nullptr, std::optional<EntropyCoding> coding = {});

// Why libjpeg cannot read every block of the JPEG cleanly: its error, or its
// first warning of damaged data (a bad code, a missing restart marker). Empty
// when all of the picture reads without one. Decodes it at an eighth of its size.
QString damageOf(const QByteArray &jpeg);

// The picture as stored, decoded by libjpeg at an eighth of its size (a pixel
// a block, from its mean), of at most rows rows from the top (all of them
// for a negative count): RGB888 for colour and grey pictures, four bytes of
// CMYK in RGBA8888 for CMYK and YCCK ones, as the file's own markers tell
// libjpeg to read it. Null when it cannot be read or libjpeg warns. Reading
// only the top rows of a sequential picture reads only the bytes they need.
QImage eighthScale(const QByteArray &jpeg, int rows = -1);

} // namespace lg::jpeg
