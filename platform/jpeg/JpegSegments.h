#pragma once
// The marker segments of a JPEG file, read and put together again byte by
// byte, so that a rewrite of the pixels keeps the file's own metadata as it was
// stored: Exif with its maker note (whose offsets must not move), XMP and
// extended XMP, IPTC, colour profile, comments, and whatever a camera or phone
// appended after the end of the picture (a motion photo's video). Only what a
// turn changes is patched in place: the orientation, the pixel dimensions and
// the Exif thumbnail, which may grow as far as its segment holds.
// Any thread; nothing here throws. Malformed input gives "none" or false.
#include <QByteArray>
#include <QList>
#include <QSize>
#include <array>
#include <functional>
#include <limits>
#include <optional>
#include <utility>

namespace lg::jpeg {

struct Segment
{
    unsigned char marker = 0;  // 0xe0..0xef (APPn), 0xfe (COM), ...
    QByteArray payload;        // after the two length bytes
    qsizetype position = -1;   // of its marker in the file it was read from
};

// The frame header (SOF0 to SOF15) of a JPEG.
struct Frame
{
    unsigned char marker = 0;
    int precision = 0;                    // bits a sample
    QSize size;                           // as the header claims it
    QList<std::pair<int, int>> sampling;  // each component's horizontal and vertical factors (at least 1)
    bool progressive() const { return marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce; }
    bool arithmetic() const { return marker >= 0xc9; }
    // An MCU in blocks of 8 x 8 samples: the largest factors, one block for a single component.
    QSize mcuInBlocks() const;
    // How many blocks of 8 x 8 samples the picture claims, over all its
    // components, as libjpeg reads them: each covers the picture at its factors
    // over the largest, so that a lone component has a block for each 8 x 8
    // pixels whatever its factors say.
    qint64 blocks() const;
};

// One reading of a JPEG's markers from its start to its end of image (or
// the end of the bytes given), shared by the layout, the coding, the size
// claim and the turn: the metadata, the frame, the tables and how many bytes
// code blocks all come from it.
// Between segments it keeps libjpeg's rule: bytes up to the next 0xFF that
// starts a marker (not 0xFF 0x00) are stray, passed over and counted; fill
// bytes (0xFF) before a marker are nothing. A scan's data runs to the next
// marker that is no restart marker; a stuffed 0xFF 0x00 codes one byte.
struct Reading
{
    QList<Segment> metadata;             // APPn and COM before the first scan, in file order
    bool metadataAmongScans = false;     // an APPn or COM after the first scan's header
    qsizetype bodyStart = -1;            // the first segment that is no APPn or COM
    qsizetype imageEnd = -1;             // after the end-of-image marker; -1 when not reached
    bool scanReached = false;            // a scan header was read
    qsizetype firstScanData = -1;        // where the first scan's data starts, after its header
    bool cutShort = false;               // a segment runs past the bytes, or states a length below 2
    qsizetype strayBytes = 0;            // between segments, belonging to none
    std::optional<Frame> frame;          // the first frame header
    QList<std::pair<qsizetype, qsizetype>> huffmanTables;  // each DHT segment's payload: where, how long
    std::optional<std::array<int, 64>> luminanceTable;     // quantization table 0 before the first scan (zigzag order)
    qint64 entropyCodedBytes = 0;        // counted as far as the reading went
};

// How far a reading goes: to the end of the picture, to the first scan's
// header, or until the scan data counted holds a bit for each block the
// frame claims (what backs the claim; to the end when there is no frame).
enum class ReadTo { End, FirstScan, FrameBacked };

// Reads jpeg's markers as far as to says, and stops once enoughEntropyBytes
// bytes of scan data are counted. Never reads past the bytes given; data that
// is no JPEG reads as an empty Reading.
Reading read(const QByteArray &jpeg, ReadTo to = ReadTo::End, qint64 enoughEntropyBytes = std::numeric_limits<qint64>::max());

struct Layout
{
    // The APPn and COM segments before the first scan, in file order.
    QList<Segment> metadata;
    // Where the tables, the frame and the scans start (the first segment that
    // is not APPn or COM) and where the end-of-image marker ends.
    qsizetype bodyStart = -1;
    qsizetype imageEnd = -1;
};

// The layout of a whole JPEG; none when it is no JPEG or is cut short before its end.
std::optional<Layout> parse(const QByteArray &jpeg);
// The APPn and COM segments before the first scan of a JPEG's first bytes
// (enough of them to hold the header); empty when they are no JPEG.
QList<Segment> headerSegments(const QByteArray &jpegStart);

// The JPEG's picture (tables, frame, scans) with metadata in front of it and
// trailing after its end: body is a JPEG (e.g. a library's output) whose own
// APPn and COM segments are dropped, except an Adobe segment, which describes
// how its colours were stored and replaces the one in metadata. None when body
// is no whole JPEG or a segment is too large for a marker.
std::optional<QByteArray> assemble(const QList<Segment> &metadata, const QByteArray &body, const QByteArray &trailing);

// A marker segment as written in a file: marker, length and payload.
QByteArray segmentBytes(unsigned char marker, const QByteArray &payload);

// Kinds of APP1 and APP2 segment. Exif: by the one rule of image::isExifPayload.
bool isExif(const Segment &segment);
bool isXmp(const Segment &segment);
bool isExtendedXmp(const Segment &segment);
// An MPF segment: the index of a multi-picture JPEG, whatever it lists.
bool isMpf(const Segment &segment);
// Makes the picture index of the MPF segment in jpeg (assembled anew, its
// first picture now ending at imageEnd) point at the pictures after that end
// again: they followed the old first picture, whose end was oldImageEnd, and
// the old MPF segment's marker was at oldPosition. True when the index lists
// no pictures (nothing points anywhere); false, with jpeg left as it was,
// when there is no index, it cannot be read (its entry table shares bytes
// with its directory or another value, or lies outside it) or its entries
// cannot be made to fit.
bool patchMpfIndex(QByteArray &jpeg, qsizetype imageEnd, qsizetype oldPosition, qsizetype oldImageEnd);

// Makes a turned thumbnail of at most maxBytes (the room the Exif segment
// has for it) for the old JPEG thumbnail; empty: drop the thumbnail.
using ThumbnailMaker = std::function<QByteArray(const QByteArray &oldThumbnail, qsizetype maxBytes)>;

// Patches a TIFF-structured Exif block (after "Exif\0\0") for upright
// pixels of pixelSize: orientation one SHORT value 1 (however it was stored,
// the thumbnail's own too), the pixel dimensions where present, and the
// thumbnail made by thumbnail: written over the old one where it fits, else
// where the old one starts when nothing but zeros follows it, else after the
// block's end (the old bytes zeroed), the block growing up to what an Exif
// segment holds. The thumbnail is dropped (its directory no longer linked)
// when none can be made, when its stated length reaches into a directory or
// another tag's value or past the block's end, when its offset or length is
// not one whole number (SHORT, LONG, SSHORT or SLONG, as exiftool, exiv2 and
// PIL read them), or when its pixels lie in strips or tiles: no thumbnail
// stays the old way round. Every other byte stays. False when the block is not
// TIFF-structured; thumbnailDropped tells whether the thumbnail went.
bool patchExif(QByteArray &tiff, QSize pixelSize, const ThumbnailMaker &thumbnail, bool *thumbnailDropped = nullptr);

// The orientation (1..8) the thumbnail's directory of a TIFF-structured Exif
// block states for the thumbnail itself; none where it states none.
std::optional<int> exifThumbnailOrientation(const QByteArray &tiff);

// Sets a TIFF-structured Exif block's orientation (1..8) as one SHORT value
// in the first directory, and the thumbnail's directory's to
// thumbnailOrientation (orientation for 0) where that states one; the pixels
// stay as they are stored, and so do the pixel dimensions and the
// thumbnail. Where the first directory has no orientation entry, it is written
// again after the block's end with the entry added (the old one stays, no
// longer pointed at), so that no offset in the block moves. False when the
// block is not TIFF-structured or its first directory cannot be read.
bool setExifOrientation(QByteArray &tiff, int orientation, int thumbnailOrientation = 0);

// What an Exif block made for a JPEG that had none says.
struct NewExif
{
    int orientation = 1;       // 1..8
    QSize pixelSize;           // of the compressed picture, as stored
    int components = 3;        // in the frame: 1 for grey
    bool hasColourProfile = false;  // an ICC profile is embedded: the colour space is "uncalibrated"
    int resolutionUnit = 2;    // 2: dots an inch, 3: a centimetre
    quint32 xResolution = 72;
    quint32 yResolution = 72;
};

// A TIFF-structured Exif block (to follow "Exif\0\0") for a JPEG that had
// none: the orientation, the resolution and what the Exif standard asks of
// every JPEG's Exif besides (chroma positioning, the Exif and Flashpix
// versions, the components' configuration, the colour space and the pixel
// dimensions in an Exif directory).
QByteArray newExifBlock(const NewExif &exif);

// The XMP packet with each one-digit tiff:Orientation value (attribute or
// element) set to orientation, all else byte for byte; the packet itself when
// it holds none or is not clean UTF-8.
QByteArray xmpPacketWithOrientation(const QByteArray &packet, int orientation);

// The XMP packet with its orientation and pixel dimensions made fit for
// upright pixels of pixelSize, all else as it was; padding gives way where a
// value grows.
QByteArray uprightXmpPacket(const QByteArray &packet, QSize pixelSize);

// The APP1 segments that hold an XMP packet: one standard segment when it
// fits, else a short standard packet pointing at the whole packet in extended
// XMP segments. None when the packet cannot be parsed for splitting.
std::optional<QList<Segment>> xmpSegments(const QByteArray &packet);

// The Exif keys that after lacks or holds with another type, count or value,
// leaving out what a turn changes (orientation, pixel dimensions, the
// thumbnail's offset and length) and, where it was dropped, the thumbnail's
// keys; empty when all are kept.
QList<QByteArray> missingExifTags(const QByteArray &beforeTiff, const QByteArray &afterTiff, bool thumbnailDropped);

} // namespace lg::jpeg
