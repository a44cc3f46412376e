#pragma once
// Tiny media files made at test time: images through Qt, exiv2, ImageMagick's
// `convert` and `heif-enc`, videos through `ffmpeg`, and a few formats written
// byte by byte here (DNG, MacPaint, FLIC). Each maker returns the path it wrote,
// or an empty string when the tool it needs is not installed (tests then skip).
//
// The DNG builder is header-only so that the benchmarks can use it too.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace lg::test::fixtures {

// ---- tools ----
bool hasTool(const QString &program);
// Runs a program without a shell; true when it exits with 0. Its error output
// goes to *error.
bool run(const QString &program, const QStringList &arguments, QString *error = nullptr, int timeoutMs = 60000);

// ---- pictures that show how they were turned ----
// Quarters in four colours: top left red, top right green, bottom left blue,
// bottom right white. Any turn or mirror of it is told apart by its corners.
QImage quadrants(QSize size, QImage::Format format = QImage::Format_RGB32);
enum Corner { TopLeft, TopRight, BottomLeft, BottomRight };
// The colour in the middle of the image's quarter.
QColor quarterColor(const QImage &image, Corner corner);
// Colours within tolerance on each channel.
bool near(const QColor &a, const QColor &b, int tolerance = 48);
// The stored pixels that show as upright once the Exif orientation is applied:
// a file holding them with that orientation tag must display upright.
QImage storedForOrientation(const QImage &upright, int orientation);
// A picture as a camera sees one: smooth shading and a few hard edges, with
// sensor noise of up to noise levels on each channel where asked (it costs an
// encoder about what a photo does).
QImage scene(QSize size, int noise = 0);

// ---- image files ----
// A 16x16 PNG in folder whose first bytes carry what the tests' stand-in
// decode worker does with it ("hang", "crash", "allocate 40" ...), named by it.
QString standInPicture(const QString &folder, const QString &mark);
QString writeQtImage(const QString &path, const QImage &image, const char *format = nullptr, int quality = -1);
// A JPEG with an Exif block (camera make and model, a date) and the orientation tag.
QString writeJpeg(const QString &path, const QImage &storedPixels, int orientation = 1, int quality = 92);
// Sets the Exif orientation of an existing file through exiv2.
bool setExifOrientation(const QString &path, int orientation);
// Sets Exif, IPTC and XMP keys ("Exif.Photo.MakerNote", "Xmp.xmp.Rating") of an
// existing file through exiv2, each value read as exiv2 reads text for its type.
bool setMetadata(const QString &path, const QList<QPair<QString, QString>> &values);
// The value of an Exif, IPTC or XMP key in the file as exiv2 gives it; empty when absent.
QString metadataValue(const QString &path, const QString &key);
// `convert source [arguments] target`.
QString convert(const QString &source, const QString &target, const QStringList &arguments = {});
// A HEIC through heif-enc, with an embedded thumbnail of thumbnailSide pixels when > 0.
QString writeHeic(const QString &path, const QImage &image, int thumbnailSide = 0, const QStringList &options = {});
// A HEIC whose picture is a grid of tiles of tile pixels, each encoded by
// heif-enc on its own. With claimedTiles (columns x rows), a grid that names
// its first tile that many times over instead, claiming their whole size.
// Empty when heif-enc is missing or failed.
QString writeHeicGrid(const QString &path, const QImage &image, QSize tile, QSize claimedTiles = {});
// The bytes of a HEIC's boxes with every ispe (width and height) replaced by
// size: a header that lies about its stream.
QByteArray withIspe(const QByteArray &heic, QSize size);

// ---- HEIC files built item by item ----
// An HEVC stream as a HEIC item holds it: its hvcC box (the parameter sets)
// and its units, each after its length in four bytes.
struct HevcStream
{
    QByteArray hvcC;
    QByteArray data;
    bool isEmpty() const { return hvcC.isEmpty() || data.isEmpty(); }
};
// The stream heif-enc makes of image; empty when heif-enc is missing or failed.
HevcStream encodeHevc(const QString &folder, const QImage &image);
// A unit of the given NAL type holding payload (emulation prevention is the
// caller's business), after its length in four bytes.
QByteArray hevcUnit(int type, const QByteArray &payload);
struct HeicItem
{
    quint32 id = 0;
    QByteArray type = "hvc1";     // "hvc1", "grid", "iden"
    QSize ispe;                   // none when empty
    QByteArray hvcC;              // a coded picture's parameter sets
    // Its data, one extent each: a coded picture's in the media data, a
    // derived picture's (a grid's description, heicGridData) in idat. Extents
    // after the first lie apart from it, behind a few bytes of nothing.
    QList<QByteArray> extents;
    QList<quint32> sources;       // a derived picture's (a grid's tiles)
    quint32 alphaOf = 0;          // an alpha plane of that item
    quint32 depthOf = 0;          // a depth map of that item
    quint32 thumbnailOf = 0;      // an embedded thumbnail of that item
    QSize clap;                   // a centred crop to this size; none when empty
};
// A grid's description: columns x rows tiles, output pixels.
QByteArray heicGridData(QSize layout, QSize output);
// A HEIC file of items whose primary item is primary.
QByteArray buildHeic(quint32 primary, const QList<HeicItem> &items);
// A MacPaint picture (576 × 720, one bit a pixel) of the image in black and white.
QString writeMacPaint(const QString &path, const QImage &image);
// An Autodesk FLIC animation (FLC, or FLI when classic is set) of colour frames.
QString writeFlic(const QString &path, QSize size, const QList<QColor> &frames, bool classic = false);

// ---- videos (ffmpeg) ----
// A video from an ffmpeg lavfi graph (e.g. "color=c=red:s=64x48:d=1"), encoded
// with the output arguments (e.g. {"-c:v", "mpeg4"}).
QString writeVideo(const QString &path, const QString &lavfiGraph, const QStringList &outputArguments = {});
// An ffmpeg lavfi graph of size ("320x240") at rate frames a second, seconds
// long: red for the first tenth of a second, blue after, so the first frame is red.
inline QString redThenBlue(const QString &size, const QString &rate = QStringLiteral("10"),
                           const QString &seconds = QStringLiteral("1"))
{
    return QStringLiteral("color=c=red:s=%1:r=%2:d=%3,drawbox=x=0:y=0:w=iw:h=ih:color=blue:t=fill:enable='gte(t,0.15)'")
        .arg(size, rate, seconds);
}

// Gives the video track of an MP4 or QuickTime file a display matrix that turns
// it clockwise by 90, 180 or 270 degrees, as phones do.
bool setMp4Rotation(const QString &path, int clockwiseDegrees);

// ---- every readable image format ----
struct Fixture
{
    QString name;  // what it is ("jpeg", "psd", "dng" ...)
    QString path;
};
// One small file per image format that this system reads, in folder, made
// from quadrants() (formats whose tool is missing are left out).
QList<Fixture> imageFormatSet(const QString &folder, QSize size = QSize(48, 32));

// ---- DNG ----
struct DngSpec
{
    QImage picture;           // the scene: raw data is sampled from it (RGGB Bayer, 16 bits)
    QSize rawSize;            // defaults to the picture's size
    QByteArray previewJpeg;   // an embedded JPEG preview, empty for none
    QSize previewSize;        // its pixel size
    int orientation = 1;
};

namespace detail {

struct TiffEntry
{
    quint16 tag;
    quint16 type;  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 10 SRATIONAL
    quint32 count;
    QByteArray value;  // little-endian
};

inline QByteArray le16(quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; }
inline QByteArray le32(quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; }
inline TiffEntry shortEntry(quint16 tag, std::initializer_list<quint16> values)
{
    QByteArray v;
    for (quint16 x : values) v += le16(x);
    return {tag, 3, quint32(values.size()), v};
}
inline TiffEntry longEntry(quint16 tag, std::initializer_list<quint32> values)
{
    QByteArray v;
    for (quint32 x : values) v += le32(x);
    return {tag, 4, quint32(values.size()), v};
}
inline TiffEntry byteEntry(quint16 tag, std::initializer_list<quint8> values)
{
    QByteArray v;
    for (quint8 x : values) v += char(x);
    return {tag, 1, quint32(values.size()), v};
}
inline TiffEntry asciiEntry(quint16 tag, const QByteArray &text)
{
    return {tag, 2, quint32(text.size() + 1), text + '\0'};
}
inline TiffEntry rationalEntry(quint16 tag, bool isSigned, const std::vector<double> &values)
{
    QByteArray v;
    for (double x : values) {
        v += le32(quint32(qint32(std::lround(x * 10000))));
        v += le32(10000);
    }
    return {tag, quint16(isSigned ? 10 : 5), quint32(values.size()), v};
}

inline int ifdSize(const std::vector<TiffEntry> &entries)
{
    int size = 2 + 12 * int(entries.size()) + 4;
    for (const TiffEntry &e : entries)
        if (e.value.size() > 4)
            size += int(e.value.size() + (e.value.size() & 1));
    return size;
}

// The directory at offset, its long values placed right after it.
inline QByteArray ifdBytes(std::vector<TiffEntry> entries, quint32 offset)
{
    std::sort(entries.begin(), entries.end(), [](const TiffEntry &a, const TiffEntry &b) { return a.tag < b.tag; });
    QByteArray head = le16(quint16(entries.size()));
    QByteArray tail;
    quint32 extra = offset + 2 + 12 * quint32(entries.size()) + 4;
    for (const TiffEntry &e : entries) {
        head += le16(e.tag) + le16(e.type) + le32(e.count);
        if (e.value.size() <= 4) {
            head += e.value + QByteArray(4 - e.value.size(), 0);
        } else {
            head += le32(extra + quint32(tail.size()));
            tail += e.value;
            if (e.value.size() & 1)
                tail += char(0);
        }
    }
    head += le32(0);
    return head + tail;
}

} // namespace detail

// A minimal DNG: first directory the JPEG preview (when given), its sub-IFD
// the raw Bayer data, stored last in the file.
inline QByteArray buildDng(const DngSpec &spec)
{
    using namespace detail;
    const QSize rawSize = spec.rawSize.isValid() ? spec.rawSize : spec.picture.size();
    const QImage scene = spec.picture.scaled(rawSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB32);
    const quint32 rawBytes = quint32(rawSize.width()) * quint32(rawSize.height()) * 2;
    const bool preview = !spec.previewJpeg.isEmpty();

    const auto ifd0Entries = [&](quint32 subIfd, quint32 previewOffset) {
        std::vector<TiffEntry> e = {
            longEntry(254, {preview ? 1u : 1u}),
            asciiEntry(271, "Lumen"),
            asciiEntry(272, "Test Camera"),
            shortEntry(274, {quint16(spec.orientation)}),
            longEntry(330, {subIfd}),
            byteEntry(50706, {1, 4, 0, 0}),
            byteEntry(50707, {1, 1, 0, 0}),
            asciiEntry(50708, "Lumen Test Camera"),
            rationalEntry(50721, true, {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570}),
            rationalEntry(50728, false, {1.0, 1.0, 1.0}),
            shortEntry(50778, {21}),
        };
        if (preview) {
            e.push_back(longEntry(256, {quint32(spec.previewSize.width())}));
            e.push_back(longEntry(257, {quint32(spec.previewSize.height())}));
            e.push_back(shortEntry(258, {8, 8, 8}));
            e.push_back(shortEntry(259, {7}));
            e.push_back(shortEntry(262, {6}));
            e.push_back(longEntry(273, {previewOffset}));
            e.push_back(shortEntry(277, {3}));
            e.push_back(longEntry(278, {quint32(spec.previewSize.height())}));
            e.push_back(longEntry(279, {quint32(spec.previewJpeg.size())}));
        } else {
            e.push_back(longEntry(256, {1}));
            e.push_back(longEntry(257, {1}));
        }
        return e;
    };
    const auto rawEntries = [&](quint32 dataOffset) {
        return std::vector<TiffEntry> {
            longEntry(254, {0}),
            longEntry(256, {quint32(rawSize.width())}),
            longEntry(257, {quint32(rawSize.height())}),
            shortEntry(258, {16}),
            shortEntry(259, {1}),
            shortEntry(262, {32803}),
            longEntry(273, {dataOffset}),
            shortEntry(277, {1}),
            longEntry(278, {quint32(rawSize.height())}),
            longEntry(279, {rawBytes}),
            shortEntry(284, {1}),
            shortEntry(33421, {2, 2}),
            byteEntry(33422, {0, 1, 1, 2}),
            longEntry(50717, {65535}),
        };
    };
    const quint32 ifd0Offset = 8;
    const quint32 ifd0Length = quint32(ifdSize(ifd0Entries(0, 0)));
    const quint32 rawIfdOffset = ifd0Offset + ifd0Length + (ifd0Length & 1);
    const quint32 rawIfdLength = quint32(ifdSize(rawEntries(0)));
    const quint32 previewOffset = rawIfdOffset + rawIfdLength + (rawIfdLength & 1);
    const quint32 dataOffset = previewOffset + quint32(spec.previewJpeg.size()) + (spec.previewJpeg.size() & 1);

    QByteArray file = QByteArray("II") + le16(42) + le32(ifd0Offset);
    file += ifdBytes(ifd0Entries(rawIfdOffset, previewOffset), ifd0Offset);
    file.resize(rawIfdOffset, 0);
    file += ifdBytes(rawEntries(dataOffset), rawIfdOffset);
    file.resize(previewOffset, 0);
    file += spec.previewJpeg;
    file.resize(dataOffset, 0);
    QByteArray data(rawBytes, Qt::Uninitialized);
    auto *out = reinterpret_cast<uchar *>(data.data());
    for (int y = 0; y < rawSize.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(scene.constScanLine(y));
        for (int x = 0; x < rawSize.width(); ++x) {
            const QRgb p = row[x];
            const int channel = (y & 1) == 0 ? ((x & 1) == 0 ? qRed(p) : qGreen(p)) : ((x & 1) == 0 ? qGreen(p) : qBlue(p));
            // Linear light from sRGB, so that the developed picture looks like the scene.
            const double c = channel / 255.0;
            const double linear = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
            qToLittleEndian(quint16(std::lround(linear * 65535)), out + (size_t(y) * rawSize.width() + x) * 2);
        }
    }
    file += data;
    return file;
}

// Writes buildDng(spec) to path.
QString writeDng(const QString &path, const DngSpec &spec);

// Small files in folder that each need a codec module: a 64 x 48 HEIC (p.heic;
// empty without heif-enc), a 60 x 40 DNG with a 30 x 20 preview (r.dng), and a
// one-second 64 x 48 MPEG-4 video (v.mp4; empty without ffmpeg).
QString writeModuleHeic(const QString &folder);
QString writeModuleDng(const QString &folder);
QString writeModuleVideo(const QString &folder);

} // namespace lg::test::fixtures
