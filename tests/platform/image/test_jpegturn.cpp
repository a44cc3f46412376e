// Turning JPEG files keeps every byte that is not the pixels: the file's own
// metadata segments, the video a motion photo appends after its end, large
// XMP and Exif, the colour model, subsampling and quality of a picture that
// must be encoded again.
#include "platform/image/ImageSource.h"
#include "platform/image/ImageWriter.h"
#include "platform/jpeg/JpegSegments.h"
#include "platform/jpeg/JpegTurn.h"
#include "platform/image/PictureMetadata.h"
#include "platform/base/TiffStructure.h"
#include "platform/image/FormatProbe.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCryptographicHash>
#include <QDir>
#include <QImageWriter>
#include <QPainter>
#include <QtTest>

#include <exiv2/exiv2.hpp>
#include <turbojpeg.h>

Q_DECLARE_METATYPE(lg::PictureTurn)

using namespace lg::test;
using namespace lg::test::fixtures;

namespace {

struct Marker
{
    int marker;
    QByteArray payload;
    bool operator==(const Marker &) const = default;
};

// The segments before the first scan, read here without the code under test.
QList<Marker> headerMarkers(const QByteArray &jpeg)
{
    QList<Marker> list;
    qsizetype p = 2;
    while (p + 4 <= jpeg.size() && uchar(jpeg[p]) == 0xff) {
        const int marker = uchar(jpeg[p + 1]);
        const qsizetype length = (uchar(jpeg[p + 2]) << 8) | uchar(jpeg[p + 3]);
        list.append({marker, jpeg.mid(p + 4, length - 2)});
        if (marker == 0xda)
            break;
        p += 2 + length;
    }
    return list;
}

QList<Marker> metadataMarkers(const QByteArray &jpeg)
{
    QList<Marker> list;
    for (const Marker &m : headerMarkers(jpeg))
        if ((m.marker >= 0xe0 && m.marker <= 0xef) || m.marker == 0xfe)
            list.append(m);
    return list;
}

QByteArray segment(int marker, const QByteArray &payload)
{
    QByteArray out;
    out.append(char(0xff)).append(char(marker));
    const int length = int(payload.size()) + 2;
    out.append(char(length >> 8)).append(char(length & 0xff));
    return out + payload;
}

struct Encoded
{
    int width = 0, height = 0, subsampling = -1, colorspace = -1;
};

Encoded headerOf(const QByteArray &jpeg)
{
    Encoded e;
    tjhandle handle = tjInitDecompress();
    tjDecompressHeader3(handle, reinterpret_cast<const uchar *>(jpeg.constData()), ulong(jpeg.size()), &e.width, &e.height,
                        &e.subsampling, &e.colorspace);
    tjDestroy(handle);
    return e;
}

// A JPEG of image made by libjpeg-turbo (CMYK: the image's four bytes a pixel as C, M, Y, K).
QByteArray encodeJpeg(const QImage &image, int quality, int subsampling, bool cmyk = false)
{
    const QImage pixels = image.convertToFormat(cmyk ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    tjhandle handle = tjInitCompress();
    uchar *out = nullptr;
    ulong size = 0;
    tjCompress2(handle, pixels.constBits(), pixels.width(), int(pixels.bytesPerLine()), pixels.height(),
                cmyk ? TJPF_CMYK : TJPF_RGBX, &out, &size, subsampling, quality, TJFLAG_ACCURATEDCT);
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

// The stored pixels, four bytes a pixel (CMYK for a CMYK file).
QImage decodeJpeg(const QByteArray &jpeg, bool cmyk = false)
{
    const Encoded e = headerOf(jpeg);
    QImage image(e.width, e.height, cmyk ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    tjhandle handle = tjInitDecompress();
    tjDecompress2(handle, reinterpret_cast<const uchar *>(jpeg.constData()), ulong(jpeg.size()), image.bits(), e.width,
                  int(image.bytesPerLine()), e.height, cmyk ? TJPF_CMYK : TJPF_RGBX, TJFLAG_ACCURATEDCT);
    tjDestroy(handle);
    return image;
}

// The JPEG with segments put right after its start (and its own JFIF segment left out).
QByteArray withSegments(const QByteArray &jpeg, const QByteArray &segments)
{
    qsizetype rest = 2;
    if (uchar(jpeg[3]) == 0xe0)
        rest = 4 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
    return jpeg.left(2) + segments + jpeg.mid(rest);
}

// An Exif block (TIFF structure) with orientation, pixel dimensions, a maker
// note and a user comment of the sizes given, and a JPEG thumbnail.
QByteArray exifBlock(int orientation, QSize size, int makerNoteBytes, int commentBytes, const QByteArray &thumbnail,
                     int thumbnailOrientation = 0)
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Lumen";
    exif["Exif.Image.Model"] = "Test Camera";
    exif["Exif.Image.Orientation"] = uint16_t(orientation);
    exif["Exif.Photo.PixelXDimension"] = uint32_t(size.width());
    exif["Exif.Photo.PixelYDimension"] = uint32_t(size.height());
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    if (makerNoteBytes > 0) {
        Exiv2::DataValue note(Exiv2::undefined);
        std::string bytes(size_t(makerNoteBytes), '\0');
        for (int i = 0; i < makerNoteBytes; ++i)
            bytes[size_t(i)] = char('a' + i % 26);
        note.read(reinterpret_cast<const Exiv2::byte *>(bytes.data()), long(bytes.size()), Exiv2::invalidByteOrder);
        exif.add(Exiv2::ExifKey("Exif.Photo.MakerNote"), &note);
    }
    if (commentBytes > 0)
        exif["Exif.Photo.UserComment"] = "charset=Ascii " + std::string(size_t(commentBytes), 'c');
    if (!thumbnail.isEmpty())
        Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()),
                                                long(thumbnail.size()));
    if (thumbnailOrientation > 0)
        exif["Exif.Thumbnail.Orientation"] = uint16_t(thumbnailOrientation);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

QByteArray exifSegment(const QByteArray &tiff)
{
    return segment(0xe1, QByteArray("Exif\0\0", 6) + tiff);
}

// An XMP packet of about size bytes (a long description) with orientation and dimensions.
QByteArray xmpPacket(int size, int orientation, QSize pixels, const QByteArray &extra = {})
{
    QByteArray head = "<?xpacket begin=\"\xef\xbb\xbf\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                      "<rdf:Description rdf:about=\"\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
                      "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
                      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:GCamera=\"http://ns.google.com/photos/1.0/camera/\" "
                      "tiff:Orientation=\"" + QByteArray::number(orientation) + "\" xmp:Rating=\"4\" "
                      + extra + "><exif:PixelXDimension>" + QByteArray::number(pixels.width())
                      + "</exif:PixelXDimension><exif:PixelYDimension>" + QByteArray::number(pixels.height())
                      + "</exif:PixelYDimension><dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">";
    const QByteArray tail = "</rdf:li></rdf:Alt></dc:description></rdf:Description></rdf:RDF></x:xmpmeta>\n"
                            "<?xpacket end=\"w\"?>";
    const qsizetype fill = std::max<qsizetype>(1, size - head.size() - tail.size());
    QByteArray text(fill, 'x');
    for (qsizetype i = 0; i < fill; i += 80)
        text[i] = ' ';
    return head + text + tail;
}

QByteArray xmpSegment(const QByteArray &packet)
{
    return segment(0xe1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + packet);
}

// Extended XMP segments holding extension (and the GUID the main packet names).
QByteArray extendedXmpSegments(const QByteArray &extension, QByteArray *guid)
{
    *guid = QCryptographicHash::hash(extension, QCryptographicHash::Md5).toHex().toUpper();
    QByteArray out;
    for (qsizetype offset = 0; offset < extension.size(); offset += 60000) {
        QByteArray payload = QByteArray("http://ns.adobe.com/xmp/extension/\0", 35) + *guid;
        for (quint32 v : {quint32(extension.size()), quint32(offset)})
            payload.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
        out += segment(0xe1, payload + extension.mid(offset, 60000));
    }
    return out;
}

QByteArray extension()
{
    QByteArray body(90000, 'y');
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:GDepth=\"http://ns.google.com/photos/1.0/depthmap/\" GDepth:Data=\""
           + body + "\"/></rdf:RDF></x:xmpmeta>";
}

// The whole extended XMP of a file (its parts in order), and the GUID they share.
QByteArray extendedXmpOf(const QByteArray &jpeg, QByteArray *guid = nullptr)
{
    QByteArray whole;
    for (const Marker &m : metadataMarkers(jpeg)) {
        if (m.marker != 0xe1 || !m.payload.startsWith("http://ns.adobe.com/xmp/extension/"))
            continue;
        if (guid)
            *guid = m.payload.mid(35, 32);
        const QByteArray header = m.payload.mid(35 + 32, 8);
        const quint32 total = qFromBigEndian<quint32>(header.constData());
        const quint32 offset = qFromBigEndian<quint32>(header.constData() + 4);
        whole.resize(total);
        const QByteArray part = m.payload.mid(35 + 32 + 8);
        std::copy(part.begin(), part.end(), whole.begin() + offset);
    }
    return whole;
}

QImage exifThumbnailOf(const QByteArray &jpeg)
{
    for (const Marker &m : metadataMarkers(jpeg))
        if (m.marker == 0xe1 && m.payload.startsWith(QByteArray("Exif\0\0", 6))) {
            Exiv2::ExifData exif;
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(m.payload.constData() + 6),
                                      uint32_t(m.payload.size() - 6));
            const Exiv2::DataBuf data = Exiv2::ExifThumbC(exif).copy();
            return data.size_ > 0 ? QImage::fromData(data.pData_, int(data.size_)) : QImage();
        }
    return {};
}

// The Exif thumbnail's JPEG as stored; empty without one.
QByteArray exifThumbnailBytesOf(const QByteArray &jpeg)
{
    for (const Marker &m : metadataMarkers(jpeg))
        if (m.marker == 0xe1 && m.payload.startsWith(QByteArray("Exif\0\0", 6))) {
            Exiv2::ExifData exif;
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(m.payload.constData() + 6),
                                      uint32_t(m.payload.size() - 6));
            const Exiv2::DataBuf data = Exiv2::ExifThumbC(exif).copy();
            return QByteArray(reinterpret_cast<const char *>(data.pData_), qsizetype(data.size_));
        }
    return {};
}

// The peak signal-to-noise ratio of b against a in dB over the three
// colours; 0 for different sizes, 99 for equal pictures.
double psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
            for (const int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                sum += double(d) * d;
        }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

Exiv2::ExifData exifOfBlock(const QByteArray &tiff)
{
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(tiff.constData()), uint32_t(tiff.size()));
    return exif;
}

Exiv2::ExifData exifOf(const QByteArray &jpeg)
{
    Exiv2::ExifData exif;
    for (const Marker &m : metadataMarkers(jpeg))
        if (m.marker == 0xe1 && m.payload.startsWith(QByteArray("Exif\0\0", 6)))
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(m.payload.constData() + 6),
                                      uint32_t(m.payload.size() - 6));
    return exif;
}

// The TIFF block of a JPEG's first Exif segment; empty without one.
QByteArray exifOfFile(const QByteArray &jpeg)
{
    for (const Marker &m : metadataMarkers(jpeg))
        if (m.marker == 0xe1 && m.payload.startsWith(QByteArray("Exif\0\0", 6)))
            return m.payload.mid(6);
    return {};
}

QString exifString(const Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? QString() : QString::fromStdString(it->toString());
}

// An Exif block laid out by hand: the first directory, the Exif directory,
// the thumbnail's directory, the thumbnail's JPEG and right after it the
// 456-byte value of the Exif directory's user comment. The thumbnail's stated
// length is statedExtra bytes more than its JPEG: reaching into the comment
// when more than the padding. *commentAt: where the comment's value starts.
QByteArray exifWithReachingThumbnail(const QByteArray &thumbnail, quint32 statedExtra, qsizetype *commentAt)
{
    using namespace lg::test::fixtures::detail;
    const auto firstEntries = [](quint32 exif) {
        return std::vector<TiffEntry> {asciiEntry(0x010f, "Lumen"), shortEntry(0x0112, {1}), longEntry(0x8769, {exif})};
    };
    QByteArray comment = QByteArray("ASCII\0\0\0", 8);
    for (int i = 0; i < 448; ++i)
        comment += char('a' + i % 26);
    // The comment's entry holds where its value lies (four bytes, so written in the entry).
    const auto exifEntries = [&comment](quint32 at) {
        return std::vector<TiffEntry> {asciiEntry(0x9003, "2024:01:02 03:04:05"), {0x9286, 7, quint32(comment.size()), le32(at)}};
    };
    const auto thumbnailEntries = [](quint32 offset, quint32 length) {
        return std::vector<TiffEntry> {longEntry(0x0201, {offset}), longEntry(0x0202, {length})};
    };
    const quint32 first = 8, exif = first + quint32(ifdSize(firstEntries(0)));
    const quint32 second = exif + quint32(ifdSize(exifEntries(0)));
    const quint32 jpegAt = second + quint32(ifdSize(thumbnailEntries(0, 0)));
    const quint32 valueAt = jpegAt + quint32(thumbnail.size() + (thumbnail.size() & 1));
    QByteArray firstIfd = ifdBytes(firstEntries(exif), first);
    firstIfd.replace(2 + 12 * 3, 4, le32(second));  // the thumbnail's directory follows the first
    QByteArray tiff = QByteArray("II") + le16(42) + le32(first) + firstIfd + ifdBytes(exifEntries(valueAt), exif)
                    + ifdBytes(thumbnailEntries(jpegAt, quint32(thumbnail.size()) + statedExtra), second) + thumbnail;
    tiff.resize(valueAt, 0);
    tiff += comment;
    *commentAt = valueAt;
    return tiff;
}

// An Exif block laid out by hand: the first directory (make, orientation 1),
// then the thumbnail's directory with the entries given for where its
// pixels lie (at the offset and length passed in), then those pixels.
using ThumbnailEntries = std::function<std::vector<lg::test::fixtures::detail::TiffEntry>(quint32 offset, quint32 length)>;
QByteArray exifWithThumbnailEntries(const ThumbnailEntries &entries, const QByteArray &pixels)
{
    using namespace lg::test::fixtures::detail;
    const std::vector<TiffEntry> first {asciiEntry(0x010f, "Lumen"), shortEntry(0x0112, {1})};
    const quint32 firstAt = 8, secondAt = firstAt + quint32(ifdSize(first));
    const quint32 pixelsAt = secondAt + quint32(ifdSize(entries(0, 0)));
    QByteArray firstIfd = ifdBytes(first, firstAt);
    firstIfd.replace(2 + 12 * 2, 4, le32(secondAt));  // the thumbnail's directory follows the first
    return QByteArray("II") + le16(42) + le32(firstAt) + firstIfd
         + ifdBytes(entries(pixelsAt, quint32(pixels.size())), secondAt) + pixels;
}

const QByteArray iccSegment = segment(0xe2, QByteArray("ICC_PROFILE\0\1\1", 14) + QColorSpace(QColorSpace::SRgb).iccProfile());
const QByteArray iptcSegment = segment(0xed, QByteArray("Photoshop 3.0\0", 14) + QByteArray("8BIM\x04\x04\0\0\0\0\0\x08\x1c\x02\x78\0\x03" "abc", 20));
const QByteArray comment = segment(0xfe, "made by hand");

// A landscape picture, stored sideways with orientation 6 where sideways is
// set, with all the segments a phone writes and a video after its end.
struct PhoneFile
{
    QByteArray bytes;
    QByteArray video;
    QByteArray exif;
    QSize shown;
};

PhoneFile phoneFile(QSize shown, int subsampling, int quality, int xmpSize, int makerNoteBytes)
{
    PhoneFile file;
    file.shown = shown;
    const QImage stored = storedForOrientation(quadrants(shown), 6);
    const QByteArray thumbnail = encodeJpeg(storedForOrientation(quadrants(QSize(160, 120)), 6), 80, TJSAMP_420);
    file.exif = exifBlock(6, shown, makerNoteBytes, 0, thumbnail);
    QByteArray guid;
    const QByteArray extended = extendedXmpSegments(extension(), &guid);
    const QByteArray main = xmpPacket(xmpSize, 6, shown,
                                      "xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" + guid
                                          + "\" GCamera:MicroVideo=\"1\" GCamera:MicroVideoOffset=\"4000\"");
    file.video = QByteArray("\0\0\0\x18" "ftypmp42", 12) + QByteArray(3988, '\x07');
    file.bytes = withSegments(encodeJpeg(stored, quality, subsampling),
                              exifSegment(file.exif) + xmpSegment(main) + extended + iccSegment + iptcSegment + comment)
               + file.video;
    return file;
}

// The picture data of a JPEG: from its first segment that is no APPn or COM
// (tables, frame, scans) to its end.
QByteArray pictureData(const QByteArray &jpeg)
{
    qsizetype p = 2;
    while (p + 4 <= jpeg.size() && uchar(jpeg[p]) == 0xff) {
        const int marker = uchar(jpeg[p + 1]);
        if (!((marker >= 0xe0 && marker <= 0xef) || marker == 0xfe))
            return jpeg.mid(p);
        p += 2 + ((uchar(jpeg[p + 2]) << 8) | uchar(jpeg[p + 3]));
    }
    return {};
}

// The picture as shown: decoded with its orientation applied.
QImage shownPicture(const QByteArray &jpeg)
{
    return lg::ImageSource::fromData(jpeg, QStringLiteral("jpeg")).image().value_or(QImage()).convertToFormat(QImage::Format_RGB32);
}

// The mean difference of two pictures of one size, in levels a channel; -1 for different sizes.
double meanDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

// A picture with detail in every block, so that a turned block shows.
QImage gradient(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), ((x / 3) ^ (y / 5)) * 16 & 255));
    return image;
}

const char *turnName(lg::PictureTurn turn)
{
    static const char *const names[] = {"none", "mirror left-right", "180", "mirror top-bottom",
                                        "transpose", "right", "transverse", "left"};
    return names[int(turn) - 1];
}

} // namespace

Q_DECLARE_METATYPE(ThumbnailEntries)

class JpegTurnTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A comment or application segment between the scans of a progressive
    // picture has nowhere to go back to: such a file is not turned (the caller
    // then makes a copy) rather than turned without it.
    void metadataBetweenTheScansIsNeverDropped()
    {
        QImage picture(48, 32, QImage::Format_RGB32);
        picture.fill(QColor(200, 90, 40));
        QByteArray jpeg;
        {
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "jpeg");
            writer.setProgressiveScanWrite(true);
            QVERIFY(writer.write(picture));
        }
        QVERIFY(lg::turnJpeg(jpeg, lg::PictureTurn::RotateRight));
        const qsizetype firstScan = jpeg.indexOf("\xff\xda");
        const qsizetype secondScan = jpeg.indexOf("\xff\xda", firstScan + 2);
        QVERIFY(firstScan > 0 && secondScan > firstScan);
        const QByteArray comment = "between the scans";
        QByteArray segment("\xff\xfe");
        segment.append(char(0)).append(char(comment.size() + 2)).append(comment);
        jpeg.insert(secondScan, segment);
        QVERIFY(lg::ImageSource::fromData(jpeg, QStringLiteral("jpeg")).image());   // still a picture
        QVERIFY(!lg::turnJpeg(jpeg, lg::PictureTurn::RotateRight));
    }

    // A turn keeps the file's own segments byte for byte where a turn does not
    // change them, patches orientation, dimensions and the thumbnail, and carries
    // the video after the picture's end; the blocks moved where they can be,
    // else the turn composed into the orientation, the picture data untouched.
    void aTurnKeepsEverySegmentAndTheVideo_data()
    {
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<int>("subsampling");
        QTest::addColumn<bool>("lossless");
        QTest::newRow("whole blocks, 4:2:0") << QSize(64, 48) << int(TJSAMP_420) << true;
        QTest::newRow("1001 x 751, 4:4:4") << QSize(1001, 751) << int(TJSAMP_444) << false;
        QTest::newRow("1001 x 751, 4:2:2") << QSize(1001, 751) << int(TJSAMP_422) << false;
    }
    void aTurnKeepsEverySegmentAndTheVideo()
    {
        QFETCH(QSize, shown);
        QFETCH(int, subsampling);
        QFETCH(bool, lossless);
        const PhoneFile file = phoneFile(shown, subsampling, 97, 65000, 4000);
        QString error;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(file.bytes, lg::PictureTurn::RotateRight, &error);
        QVERIFY2(turned, qPrintable(error));
        QCOMPARE(!turned->byTag, lossless);
        QCOMPARE(turned->pixelSize, shown.transposed());
        const QByteArray &out = turned->bytes;

        // The video follows the picture's end unchanged.
        QVERIFY(out.endsWith(file.video));
        QVERIFY(out.left(out.size() - file.video.size()).endsWith("\xff\xd9"));

        // Every segment in its place; only Exif and XMP patched.
        const QList<Marker> before = metadataMarkers(file.bytes), after = metadataMarkers(out);
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < before.size(); ++i) {
            QCOMPARE(after[i].marker, before[i].marker);
            if (before[i].payload.startsWith("Exif") || before[i].payload.startsWith("http://ns.adobe.com/xap/1.0/"))
                continue;
            QVERIFY2(after[i].payload == before[i].payload, qPrintable(QStringLiteral("segment %1 changed").arg(i)));
        }
        QCOMPARE(extendedXmpOf(out), extension());
        const QByteArray xmp = after[1].payload.mid(29);
        if (!lossless) {
            // Stored sideways (6), turned right once more: upside down (3), in Exif and XMP alike.
            const qsizetype body = lg::jpeg::parse(file.bytes)->bodyStart;
            QCOMPARE(out.size(), file.bytes.size());
            QCOMPARE(out.mid(body), file.bytes.mid(body));
            QCOMPARE(exifString(exifOf(out), "Exif.Image.Orientation"), QStringLiteral("3"));
            QVERIFY(xmp.contains("tiff:Orientation=\"3\""));
            QCOMPARE(xmp.size(), before[1].payload.size() - 29);
            QCOMPARE(after[0].payload.size(), before[0].payload.size());
            QVERIFY(lg::jpeg::missingExifTags(file.exif, after[0].payload.mid(6), false).isEmpty());
            const QImage picture = lg::ImageSource::fromData(out, QStringLiteral("jpeg")).image().value_or(QImage());
            QCOMPARE(picture.size(), shown.transposed());
            QVERIFY(near(quarterColor(picture, TopLeft), Qt::blue));
            QVERIFY(near(quarterColor(picture, BottomRight), Qt::green));
            return;
        }
        QVERIFY(xmp.contains("tiff:Orientation=\"1\""));
        QVERIFY(xmp.contains("<exif:PixelXDimension>" + QByteArray::number(shown.height()) + "</exif:PixelXDimension>"));
        QVERIFY(xmp.contains("GCamera:MicroVideoOffset=\"4000\""));
        QCOMPARE(xmp.size(), before[1].payload.size() - 29);  // the digits swapped places

        // The Exif block keeps its size and every tag; the thumbnail stands upright.
        QCOMPARE(after[0].payload.size(), before[0].payload.size());
        const Exiv2::ExifData exif = exifOf(out);
        QCOMPARE(exifString(exif, "Exif.Image.Orientation"), QStringLiteral("1"));
        QCOMPARE(exifString(exif, "Exif.Photo.PixelXDimension"), QString::number(shown.height()));
        QCOMPARE(exifString(exif, "Exif.Photo.PixelYDimension"), QString::number(shown.width()));
        QCOMPARE(exifString(exif, "Exif.Photo.MakerNote"), exifString(exifOf(file.bytes), "Exif.Photo.MakerNote"));
        QVERIFY(lg::jpeg::missingExifTags(file.exif, after[0].payload.mid(6), false).isEmpty());
        const QImage thumbnail = exifThumbnailOf(out);
        QCOMPARE(thumbnail.size(), QSize(120, 160));
        QVERIFY(near(quarterColor(thumbnail, TopLeft), Qt::blue));  // the picture turned right

        // The pixels: the picture turned, with the file's own subsampling and quality.
        const Encoded encoded = headerOf(out);
        QCOMPARE(encoded.subsampling, subsampling);
        QCOMPARE(lg::estimatedJpegQuality(out), std::optional<int>(97));
        const QImage picture = lg::ImageSource::fromData(out, QStringLiteral("jpeg")).image().value_or(QImage());
        QCOMPARE(picture.size(), shown.transposed());
        QVERIFY(near(quarterColor(picture, TopLeft), Qt::blue));
        QVERIFY(near(quarterColor(picture, BottomRight), Qt::green));
    }

    // Four right turns without loss give back the same picture data; the bytes
    // after the end are carried every time, not piled up.
    void fourLosslessTurnsGiveBackTheSameFile()
    {
        const PhoneFile file = phoneFile(QSize(64, 48), TJSAMP_420, 90, 3000, 0);
        QByteArray bytes = file.bytes, afterOne;
        for (int i = 0; i < 5; ++i) {
            const std::optional<lg::TurnedJpeg> turned = lg::turnJpegLosslessly(bytes, lg::PictureTurn::RotateRight);
            QVERIFY(turned);
            bytes = turned->bytes;
            if (i == 0)
                afterOne = bytes;
        }
        // The first turn set orientation 1; four more give back the same picture.
        QCOMPARE(decodeJpeg(bytes), decodeJpeg(afterOne));
        QVERIFY(bytes.endsWith(file.video));
        QVERIFY(!bytes.left(bytes.size() - file.video.size()).endsWith(file.video));
        QVERIFY(!lg::turnJpegLosslessly(phoneFile(QSize(50, 30), TJSAMP_420, 90, 3000, 0).bytes, lg::PictureTurn::RotateRight));
    }

    // Four right turns give back the picture data of the file byte for byte:
    // the turns whose blocks cannot move exactly go into the orientation tag,
    // the others move the blocks and back again. A 12 MP phone picture
    // (3000 is not whole 16-pixel blocks) and a small 4:2:2 one.
    void fourRightTurnsGiveBackThePictureData_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("subsampling");
        QTest::newRow("4000 x 3000, 4:2:0") << QSize(4000, 3000) << int(TJSAMP_420);
        QTest::newRow("24 x 24, 4:2:2") << QSize(24, 24) << int(TJSAMP_422);
        QTest::newRow("40 x 30, 4:2:0") << QSize(40, 30) << int(TJSAMP_420);
        // Turned once, 4:1:1 is stored 1 x 4, which libjpeg reads as well.
        QTest::newRow("64 x 48, 4:1:1") << QSize(64, 48) << int(TJSAMP_411);
        QTest::newRow("40 x 30, 4:1:1") << QSize(40, 30) << int(TJSAMP_411);
    }
    void fourRightTurnsGiveBackThePictureData()
    {
        QFETCH(QSize, size);
        QFETCH(int, subsampling);
        const QByteArray original = encodeJpeg(quadrants(size), 90, subsampling);
        const QSize small(std::min(size.width(), 64), std::min(size.height(), 48));
        QByteArray bytes = original;
        QList<bool> byTag;
        for (int turn = 1; turn <= 4; ++turn) {
            QString why;
            const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(bytes, lg::PictureTurn::RotateRight, &why);
            QVERIFY2(turned, qPrintable(why));
            byTag << turned->byTag;
            if (turned->byTag)
                QCOMPARE(pictureData(turned->bytes), pictureData(bytes));   // one turn leaves the picture data alone
            QCOMPARE(turned->pixelSize, turn % 2 ? size.transposed() : size);
            bytes = turned->bytes;
            if (size.width() <= 64) {
                const QImage shown = shownPicture(bytes);
                QVERIFY(near(quarterColor(shown, TopLeft), turn == 1 ? Qt::blue : turn == 2 ? Qt::white : turn == 3 ? Qt::green : Qt::red));
            }
        }
        QVERIFY(byTag.contains(true) || size == QSize(64, 48));
        QCOMPARE(pictureData(bytes), pictureData(original));
        const lg::ImageSource back = lg::ImageSource::fromData(bytes, QStringLiteral("jpeg"));
        QCOMPARE(back.properties().orientation, 1);
        QCOMPARE(back.pixelSize(), std::optional<QSize>(size));
    }

    // One turn of each kind, of a picture stored with each of the eight
    // orientations, whose blocks do not fit its edges: shown afterwards, it is
    // the picture shown before turned as asked (turned here by Qt). Where the
    // blocks could not move, the picture data stays and the orientation is
    // the composition; where they could (a transposition), they moved.
    void aTurnComposesWithTheFilesOrientation_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<lg::PictureTurn>("turn");
        for (int orientation = 1; orientation <= 8; ++orientation)
            for (int turn = 2; turn <= 8; ++turn)
                QTest::addRow("stored %d, %s", orientation, turnName(lg::PictureTurn(turn))) << orientation << lg::PictureTurn(turn);
    }
    void aTurnComposesWithTheFilesOrientation()
    {
        QFETCH(int, orientation);
        QFETCH(lg::PictureTurn, turn);
        const QSize shown(40, 30);
        const QByteArray source = withSegments(encodeJpeg(storedForOrientation(gradient(shown), orientation), 95, TJSAMP_420),
                                               exifSegment(exifBlock(orientation, shown, 100, 0, {})));
        const QImage before = shownPicture(source);
        QCOMPARE(meanDifference(before, gradient(shown)) < 4, true);
        QString why;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, turn, &why);
        QVERIFY2(turned, qPrintable(why));
        const QImage wanted = lg::turnedImage(before, turn);
        const QImage after = shownPicture(turned->bytes);
        QCOMPARE(turned->pixelSize, wanted.size());
        const lg::PictureTurn total = lg::combinedTurn(lg::PictureTurn(orientation), turn);
        QCOMPARE(turned->byTag, total != lg::PictureTurn::Transpose);
        if (turned->byTag) {
            QCOMPARE(after, wanted);
            QCOMPARE(pictureData(turned->bytes), pictureData(source));
            QCOMPARE(exifString(exifOf(turned->bytes), "Exif.Image.Orientation"), QString::number(int(total)));
        } else {
            const double difference = meanDifference(after, wanted);
            QVERIFY2(difference >= 0 && difference < 4, qPrintable(QString::number(difference)));
            QCOMPARE(exifString(exifOf(turned->bytes), "Exif.Image.Orientation"), QStringLiteral("1"));
        }
        QVERIFY(lg::jpeg::missingExifTags(exifOfFile(source), exifOfFile(turned->bytes), false).isEmpty());
    }

    // A file without Exif, turned by its tag, gets an Exif segment after its
    // JFIF segment holding the orientation (and the JFIF resolution), every
    // other byte as it was; a first directory without an orientation entry
    // gets one, no offset in the block moving.
    // A first directory that lists the orientation twice: every entry gets the
    // turn, so what is shown turns whichever entry a reader takes.
    void anOrientationListedTwiceIsTurnedInEveryEntry()
    {
        QByteArray tiff("II*\0\x08\0\0\0", 8);
        tiff += QByteArray("\x02\0", 2);
        for (const char value : {'\x01', '\x06'})
            tiff += QByteArray("\x12\x01\x03\0\x01\0\0\0", 8) + QByteArray(1, value) + QByteArray(3, '\0');
        tiff += QByteArray(4, '\0');
        QCOMPARE(lg::image::exifOrientation(tiff), 6);   // the entry readers here take
        const QByteArray jpeg = withSegments(encodeJpeg(quadrants(QSize(40, 30)), 90, TJSAMP_420), exifSegment(tiff));
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(jpeg, lg::PictureTurn::RotateRight);
        QVERIFY(turned);
        QVERIFY(turned->byTag);
        const QByteArray after = exifOfFile(turned->bytes);
        QCOMPARE(lg::image::exifOrientation(after), 3);
        QCOMPARE(after.count(QByteArray("\x12\x01\x03\0\x01\0\0\0\x03\0", 10)), 2);
    }

    void aFileWithoutAnOrientationGetsOne()
    {
        QByteArray jpeg = encodeJpeg(quadrants(QSize(40, 30)), 90, TJSAMP_420);
        QVERIFY(jpeg.startsWith("\xff\xd8\xff\xe0"));
        jpeg[13] = 1;  // JFIF density in dots an inch: 300 by 300
        jpeg[14] = 0x01, jpeg[15] = 0x2c, jpeg[16] = 0x01, jpeg[17] = 0x2c;
        const qsizetype afterJfif = 4 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(jpeg, lg::PictureTurn::RotateRight);
        QVERIFY(turned);
        QVERIFY(turned->byTag);
        const QByteArray &out = turned->bytes;
        QCOMPARE(out.left(afterJfif), jpeg.left(afterJfif));
        QCOMPARE(out.mid(out.size() - (jpeg.size() - afterJfif)), jpeg.mid(afterJfif));
        const QList<Marker> markers = metadataMarkers(out);
        QCOMPARE(markers.size(), 2);
        QCOMPARE(markers[1].marker, 0xe1);
        const Exiv2::ExifData exif = exifOf(out);
        QCOMPARE(exifString(exif, "Exif.Image.Orientation"), QStringLiteral("6"));
        QCOMPARE(exifString(exif, "Exif.Image.XResolution"), QStringLiteral("300/1"));
        QCOMPARE(exifString(exif, "Exif.Image.ResolutionUnit"), QStringLiteral("2"));
        QCOMPARE(exifString(exif, "Exif.Photo.ExifVersion"), QStringLiteral("48 50 51 50"));
        // What the Exif standard asks of a JPEG's Exif directory besides.
        QCOMPARE(exifString(exif, "Exif.Photo.ComponentsConfiguration"), QStringLiteral("1 2 3 0"));
        QCOMPARE(exifString(exif, "Exif.Photo.ColorSpace"), QStringLiteral("1"));
        QCOMPARE(exifString(exif, "Exif.Photo.PixelXDimension"), QStringLiteral("40"));
        QCOMPARE(exifString(exif, "Exif.Photo.PixelYDimension"), QStringLiteral("30"));
        QCOMPARE(shownPicture(out), lg::turnedImage(shownPicture(jpeg), lg::PictureTurn::RotateRight));
        // A grey picture with a colour profile of its own.
        const QByteArray grey = withSegments(encodeJpeg(quadrants(QSize(20, 12)), 90, TJSAMP_GRAY), iccSegment);
        const std::optional<lg::TurnedJpeg> greyTurned = lg::turnJpeg(grey, lg::PictureTurn::RotateLeft);
        QVERIFY(greyTurned && greyTurned->byTag);
        const Exiv2::ExifData greyExif = exifOf(greyTurned->bytes);
        QCOMPARE(exifString(greyExif, "Exif.Photo.ComponentsConfiguration"), QStringLiteral("1 0 0 0"));
        QCOMPARE(exifString(greyExif, "Exif.Photo.ColorSpace"), QStringLiteral("65535"));
        QCOMPARE(exifString(greyExif, "Exif.Photo.PixelXDimension"), QStringLiteral("20"));
        QCOMPARE(exifString(greyExif, "Exif.Photo.PixelYDimension"), QStringLiteral("12"));

        // Exif whose first directory holds no orientation.
        Exiv2::ExifData bare;
        bare["Exif.Image.Make"] = "Lumen";
        bare["Exif.Photo.DateTimeOriginal"] = "2024:01:02 03:04:05";
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, bare);
        const QByteArray tiff(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
        const QByteArray withExif = withSegments(jpeg, exifSegment(tiff));
        const std::optional<lg::TurnedJpeg> again = lg::turnJpeg(withExif, lg::PictureTurn::RotateLeft);
        QVERIFY(again);
        const QByteArray after = metadataMarkers(again->bytes).first().payload.mid(6);
        QCOMPARE(after.left(4), tiff.left(4));
        QCOMPARE(after.mid(8, tiff.size() - 8), tiff.mid(8));   // only the header's pointer to the first directory changed
        QCOMPARE(lg::image::exifOrientation(after), 8);
        QVERIFY(lg::jpeg::missingExifTags(tiff, after, false).isEmpty());
        QCOMPARE(exifString(exifOf(again->bytes), "Exif.Photo.DateTimeOriginal"), QStringLiteral("2024:01:02 03:04:05"));
    }

    // The picture probe (what is shown) and the turn read the orientation
    // from the same segment: an APP1 whose header is not "Exif\0\0" counts
    // for neither, so the turn shows as asked whatever the header.
    void theProbeAndTheTurnReadTheSameOrientation_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QSize>("size");
        for (const QByteArray &header : {QByteArray("Exif\0\0", 6), QByteArray("Exif\0\xff", 6), QByteArray("Exif", 4)})
            for (const QSize size : {QSize(64, 48), QSize(40, 30)})
                QTest::addRow("%s, %d x %d", header.toHex().constData(), size.width(), size.height()) << header << size;
    }
    void theProbeAndTheTurnReadTheSameOrientation()
    {
        QFETCH(QByteArray, header);
        QFETCH(QSize, size);
        const QByteArray tiff = exifBlock(2, size, 0, 0, {});
        const QByteArray source = withSegments(encodeJpeg(gradient(size), 95, TJSAMP_420), segment(0xe1, header + tiff));
        const QImage before = shownPicture(source);
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, lg::PictureTurn::RotateRight);
        QVERIFY(turned);
        const double difference = meanDifference(shownPicture(turned->bytes), lg::turnedImage(before, lg::PictureTurn::RotateRight));
        QVERIFY2(difference >= 0 && difference < 4, qPrintable(QString::number(difference)));
        QCOMPARE(lg::ImageSource::fromData(source, QStringLiteral("jpeg")).properties().orientation,
                 header == QByteArray("Exif\0\0", 6) ? 2 : 1);
    }

    // An Exif block near the 64 KB limit: a large maker note or user comment
    // and a small thumbnail. Nothing is dropped to make room: the block keeps
    // its size, and the thumbnail is never larger than the old one.
    void exifNearTheLimitKeepsEveryTag_data()
    {
        QTest::addColumn<int>("makerNote");
        QTest::addColumn<int>("userComment");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("59 KB maker note, whole blocks") << 59000 << 0 << QSize(64, 48);
        QTest::newRow("59 KB user comment, whole blocks") << 0 << 59000 << QSize(64, 48);
        QTest::newRow("59 KB maker note, partial blocks") << 59000 << 0 << QSize(100, 75);
    }
    void exifNearTheLimitKeepsEveryTag()
    {
        QFETCH(int, makerNote);
        QFETCH(int, userComment);
        QFETCH(QSize, shown);
        const QByteArray thumbnail = encodeJpeg(quadrants(QSize(40, 30)), 50, TJSAMP_420);
        const QByteArray exif = exifBlock(1, shown, makerNote, userComment, thumbnail);
        QVERIFY(exif.size() > 59000 && exif.size() < 65000);
        const QByteArray source = withSegments(encodeJpeg(quadrants(shown), 90, TJSAMP_420), exifSegment(exif));
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, lg::PictureTurn::RotateLeft);
        QVERIFY(turned);
        const Exiv2::ExifData before = exifOf(source), after = exifOf(turned->bytes);
        for (const Exiv2::Exifdatum &datum : before)
            QVERIFY2(after.findKey(Exiv2::ExifKey(datum.key())) != after.end(), datum.key().c_str());
        QCOMPARE(exifString(after, "Exif.Photo.UserComment"), exifString(before, "Exif.Photo.UserComment"));
        QCOMPARE(exifString(after, "Exif.Photo.MakerNote"), exifString(before, "Exif.Photo.MakerNote"));
        QCOMPARE(metadataMarkers(turned->bytes).first().payload.size(), qsizetype(exif.size() + 6));
        if (turned->byTag) {
            // Not whole blocks: the pixels, their dimensions and the thumbnail stay as stored.
            QCOMPARE(shown, QSize(100, 75));
            QCOMPARE(exifString(after, "Exif.Image.Orientation"), QStringLiteral("8"));
            QCOMPARE(exifString(after, "Exif.Photo.PixelXDimension"), QString::number(shown.width()));
            QCOMPARE(exifThumbnailOf(turned->bytes).size(), QSize(40, 30));
            return;
        }
        QCOMPARE(exifString(after, "Exif.Photo.PixelXDimension"), QString::number(shown.height()));
        QCOMPARE(exifThumbnailOf(turned->bytes).size(), QSize(30, 40));
    }

    // An optimised Exif thumbnail is turned without loss and stays
    // optimised, so it still fits its room (a little larger than the
    // thumbnail, as cameras leave it) and keeps its quality.
    void anOptimisedThumbnailIsTurnedWithoutLoss()
    {
        if (!hasTool(QStringLiteral("jpegtran")))
            QSKIP("jpegtran is not installed");
        const QString folder = freshFolder(QStringLiteral("optimised-thumbnail"));
        const QString plain = QDir(folder).filePath(QStringLiteral("thumb.jpg"));
        const QString optimised = QDir(folder).filePath(QStringLiteral("thumb-optimised.jpg"));
        writeFile(plain, encodeJpeg(quadrants(QSize(160, 112)), 90, TJSAMP_420));
        QVERIFY(run(QStringLiteral("jpegtran"), QStringList {"-optimize", "-outfile", optimised, plain}));
        const QByteArray thumbnail = readAll(optimised) + QByteArray(64, '\0');
        const QSize shown(64, 48);
        const QByteArray source
            = withSegments(encodeJpeg(quadrants(shown), 90, TJSAMP_420), exifSegment(exifBlock(1, shown, 0, 0, thumbnail)));
        QString why;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, lg::PictureTurn::RotateRight, &why);
        QVERIFY2(turned, qPrintable(why));
        const QString reference = QDir(folder).filePath(QStringLiteral("thumb-turned.jpg"));
        QVERIFY(run(QStringLiteral("jpegtran"), QStringList {"-optimize", "-rotate", "90", "-outfile", reference, optimised}));
        const QImage after = exifThumbnailOf(turned->bytes);
        QCOMPARE(after.size(), QSize(112, 160));
        QCOMPARE(after, QImage::fromData(readAll(reference)));   // the blocks moved, not encoded again
    }

    // Where no turned thumbnail fits the old one's room, only the thumbnail
    // goes; a tag that went missing is named.
    void onlyTheThumbnailMayGo()
    {
        const QByteArray thumbnail = encodeJpeg(quadrants(QSize(40, 30)), 50, TJSAMP_420);
        QByteArray exif = exifBlock(6, QSize(64, 48), 20000, 0, thumbnail);
        const QByteArray original = exif;
        bool dropped = false;
        QVERIFY(lg::jpeg::patchExif(exif, QSize(48, 64), [](const QByteArray &, qsizetype) { return QByteArray(); }, &dropped));
        QVERIFY(dropped);
        QCOMPARE(exif.size(), original.size());
        QVERIFY(lg::jpeg::missingExifTags(original, exif, true).isEmpty());
        QVERIFY(!lg::jpeg::missingExifTags(original, exif, false).isEmpty());  // the thumbnail's tags did go
        const Exiv2::ExifData data = exifOfBlock(exif);
        QCOMPARE(exifString(data, "Exif.Image.Orientation"), QStringLiteral("1"));
        QCOMPARE(exifString(data, "Exif.Photo.MakerNote"), exifString(exifOfBlock(original), "Exif.Photo.MakerNote"));
        QVERIFY(exifThumbnailOf(QByteArray("\xff\xd8") + exifSegment(exif)).isNull());

        const QByteArray lessened = exifBlock(6, QSize(64, 48), 0, 0, thumbnail);
        QCOMPARE(lg::jpeg::missingExifTags(original, lessened, true), QList<QByteArray> {"Exif.Photo.MakerNote"});
        QByteArray notExif = QByteArray("not exif") + QByteArray(20, 0);
        QVERIFY(!lg::jpeg::patchExif(notExif, QSize(1, 1), {}));
    }

    // A thumbnail whose stated length covers other tags' data is dropped, not
    // written over them: the Exif directory and its user comment stay byte for
    // byte. One within its own bytes is turned where it lies.
    void aThumbnailReachingIntoOtherTagsLeavesThemAsTheyWere_data()
    {
        QTest::addColumn<int>("reach");  // bytes of the comment the stated length covers
        QTest::addColumn<bool>("kept");
        QTest::newRow("its own bytes") << 0 << true;
        QTest::newRow("into the user comment") << 100 << false;
        QTest::newRow("over the whole user comment") << 456 << false;
        QTest::newRow("past the block's end") << 2000 << false;
    }

    void aThumbnailReachingIntoOtherTagsLeavesThemAsTheyWere()
    {
        QFETCH(int, reach);
        QFETCH(bool, kept);
        const QByteArray thumbnail = encodeJpeg(quadrants(QSize(40, 30)), 80, TJSAMP_420);
        const quint32 pad = quint32(thumbnail.size() & 1);  // between the thumbnail and the comment
        qsizetype commentAt = 0;
        const QByteArray exif = exifWithReachingThumbnail(thumbnail, reach > 0 ? pad + quint32(reach) : 0, &commentAt);
        const QString comment = exifString(exifOfBlock(exif), "Exif.Photo.UserComment");
        QVERIFY(comment.endsWith(QLatin1String("uvwxyzabcdef")));
        const QByteArray source = withSegments(encodeJpeg(quadrants(QSize(64, 48)), 90, TJSAMP_420), exifSegment(exif));

        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, lg::PictureTurn::RotateLeft);
        QVERIFY(turned);
        const QByteArray after = metadataMarkers(turned->bytes).first().payload.mid(6);
        QCOMPARE(after.size(), exif.size());
        QCOMPARE(after.mid(commentAt), exif.mid(commentAt));
        const Exiv2::ExifData data = exifOfBlock(after);
        QCOMPARE(exifString(data, "Exif.Photo.UserComment"), comment);
        QCOMPARE(exifString(data, "Exif.Photo.DateTimeOriginal"), QStringLiteral("2024:01:02 03:04:05"));
        QCOMPARE(exifThumbnailOf(turned->bytes).size(), kept ? QSize(30, 40) : QSize(0, 0));
        // A thumbnail that is not turned goes: the first directory no longer links its directory.
        const quint32 first = qFromLittleEndian<quint32>(after.constData() + 4);
        const quint16 entries = qFromLittleEndian<quint16>(after.constData() + first);
        QCOMPARE(qFromLittleEndian<quint32>(after.constData() + first + 2 + 12 * entries) != 0, kept);
    }

    // A thumbnail whose place and length the readers find (exiftool, exiv2 and
    // PIL take a SLONG or SSHORT as readily as a LONG or SHORT) is turned
    // with the picture; one that cannot be read here (two values for its
    // length, or pixels in strips) goes: no reader shows it the old way round.
    void noThumbnailStaysTheOldWayRound_data()
    {
        using namespace lg::test::fixtures::detail;
        QTest::addColumn<ThumbnailEntries>("entries");
        QTest::addColumn<bool>("stored");   // a JPEG thumbnail; else the pixels as RGB strips
        QTest::addColumn<bool>("turned");   // else dropped
        const auto typed = [](quint16 tag, quint16 type, quint32 value) {
            return TiffEntry {tag, type, 1, type == 3 || type == 8 ? le16(quint16(value)) + le16(0) : le32(value)};
        };
        QTest::newRow("length as SLONG") << ThumbnailEntries([typed](quint32 offset, quint32 length) {
            return std::vector<TiffEntry> {longEntry(0x0201, {offset}), typed(0x0202, 9, length)};
        }) << true << true;
        QTest::newRow("offset and length as SLONG") << ThumbnailEntries([typed](quint32 offset, quint32 length) {
            return std::vector<TiffEntry> {typed(0x0201, 9, offset), typed(0x0202, 9, length)};
        }) << true << true;
        QTest::newRow("length as SSHORT") << ThumbnailEntries([typed](quint32 offset, quint32 length) {
            return std::vector<TiffEntry> {longEntry(0x0201, {offset}), typed(0x0202, 8, length)};
        }) << true << true;
        QTest::newRow("length as SHORT") << ThumbnailEntries([](quint32 offset, quint32 length) {
            return std::vector<TiffEntry> {longEntry(0x0201, {offset}), shortEntry(0x0202, {quint16(length)})};
        }) << true << true;
        QTest::newRow("length as two LONGs") << ThumbnailEntries([](quint32 offset, quint32 length) {
            return std::vector<TiffEntry> {longEntry(0x0201, {offset}), {0x0202, 4, 2, le32(length) + le32(0)}};
        }) << true << false;
        QTest::newRow("uncompressed strips") << ThumbnailEntries([](quint32 offset, quint32 length) {
            return std::vector<TiffEntry> {shortEntry(0x0100, {40}), shortEntry(0x0101, {30}), shortEntry(0x0102, {8, 8, 8}),
                                           shortEntry(0x0103, {1}), shortEntry(0x0106, {2}), longEntry(0x0111, {offset}),
                                           shortEntry(0x0115, {3}), shortEntry(0x0116, {30}), longEntry(0x0117, {length})};
        }) << false << false;
    }
    void noThumbnailStaysTheOldWayRound()
    {
        QFETCH(ThumbnailEntries, entries);
        QFETCH(bool, stored);
        QFETCH(bool, turned);
        const QImage small = quadrants(QSize(40, 30));
        const QImage rgb = small.convertToFormat(QImage::Format_RGB888);
        QByteArray strips;
        for (int y = 0; y < rgb.height(); ++y)
            strips += QByteArray(reinterpret_cast<const char *>(rgb.constScanLine(y)), rgb.width() * 3);
        const QByteArray tiff = exifWithThumbnailEntries(entries, stored ? encodeJpeg(small, 90, TJSAMP_444) : strips);
        const QByteArray source = withSegments(encodeJpeg(quadrants(QSize(64, 48)), 90, TJSAMP_420), exifSegment(tiff));
        if (turned)
            QCOMPARE(exifThumbnailOf(source).size(), QSize(40, 30));   // the readers find it before the turn
        QString why;
        const std::optional<lg::TurnedJpeg> out = lg::turnJpeg(source, lg::PictureTurn::RotateRight, &why);
        QVERIFY2(out, qPrintable(why));
        QVERIFY(!out->byTag);
        const QByteArray after = exifOfFile(out->bytes);
        const quint32 first = qFromLittleEndian<quint32>(after.constData() + 4);
        const quint16 count = qFromLittleEndian<quint16>(after.constData() + first);
        QCOMPARE(qFromLittleEndian<quint32>(after.constData() + first + 2 + 12 * count) != 0, turned);
        QCOMPARE(exifString(exifOfBlock(after), "Exif.Image.Make"), QStringLiteral("Lumen"));
        const QImage thumbnail = exifThumbnailOf(out->bytes);
        QCOMPARE(thumbnail.isNull(), !turned);
        if (turned) {
            const double difference = meanDifference(thumbnail, lg::turnedImage(small, lg::PictureTurn::RotateRight));
            QVERIFY2(difference >= 0 && difference < 4, qPrintable(QString::number(difference)));
        }
    }

    // The check after a turn compares each tag's value: a value that changed
    // is named, while what the turn changes (orientation, pixel dimensions,
    // the thumbnail) is not.
    // Turn after turn, the Exif thumbnail stays there and as good as it was:
    // its blocks move exactly, with tables made for them, where its size is
    // whole MCUs along the edges a turn mirrors; else it is made afresh from
    // the turned picture (whose blocks moved) at its size and quality, never
    // from its own earlier encoding. It may grow beyond its old room.
    void aThumbnailStaysAsGoodAsAtTheStartTurnAfterTurn_data()
    {
        QTest::addColumn<QSize>("thumbnailSize");
        QTest::addColumn<int>("thumbnailQuality");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<double>("leastPsnr");   // of the thumbnail against the original's, turned as often
        QTest::addColumn<int>("subsampling");
        QTest::addColumn<bool>("progressive");
        QTest::newRow("camera: 160 x 120 of 1024 x 768, made afresh")
            << QSize(160, 120) << 80 << QSize(1024, 768) << 30.0 << int(TJSAMP_420) << false;
        QTest::newRow("its own blocks moved: 320 x 240, 4:2:0")
            << QSize(320, 240) << 80 << QSize(1024, 768) << 40.0 << int(TJSAMP_420) << false;
        QTest::newRow("camera: 160 x 120 of 4032 x 3024, from an eighth")
            << QSize(160, 120) << 80 << QSize(4032, 3024) << 30.0 << int(TJSAMP_420) << false;
        QTest::newRow("grey, made afresh") << QSize(160, 120) << 85 << QSize(1024, 768) << 30.0 << int(TJSAMP_GRAY) << false;
        QTest::newRow("progressive, made afresh") << QSize(160, 120) << 80 << QSize(1024, 768) << 30.0 << int(TJSAMP_420) << true;
        QTest::newRow("4:2:2 moved exactly, as 4:4:0 when transposed")
            << QSize(160, 120) << 80 << QSize(1024, 768) << 40.0 << int(TJSAMP_422) << false;
    }
    void aThumbnailStaysAsGoodAsAtTheStartTurnAfterTurn()
    {
        QFETCH(QSize, thumbnailSize);
        QFETCH(int, thumbnailQuality);
        QFETCH(QSize, picture);
        QFETCH(double, leastPsnr);
        QFETCH(int, subsampling);
        QFETCH(bool, progressive);
        const QImage upright = scene(picture);
        QByteArray thumbnail = encodeJpeg(upright.scaled(thumbnailSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                                          thumbnailQuality, subsampling);
        if (progressive) {
            tjhandle handle = tjInitTransform();
            tjtransform none {};
            none.options = TJXOPT_PROGRESSIVE;
            uchar *out = nullptr;
            ulong size = 0;
            QCOMPARE(tjTransform(handle, reinterpret_cast<const uchar *>(thumbnail.constData()), ulong(thumbnail.size()), 1, &out,
                                 &size, &none, 0), 0);
            thumbnail = QByteArray(reinterpret_cast<const char *>(out), qsizetype(size));
            tjFree(out);
            tjDestroy(handle);
        }
        const auto isProgressive = [](const QByteArray &jpeg) {
            const QList<Marker> markers = headerMarkers(jpeg);
            return std::any_of(markers.cbegin(), markers.cend(), [](const Marker &m) { return m.marker == 0xc2; });
        };
        QCOMPARE(isProgressive(thumbnail), progressive);
        const QImage thumbnailPixels = QImage::fromData(thumbnail);
        QByteArray file = withSegments(encodeJpeg(upright, 92, TJSAMP_420), exifSegment(exifBlock(1, picture, 2000, 0, thumbnail)));
        const QByteArray original = file;
        qsizetype firstSize = 0;
        for (int turn = 1; turn <= 12; ++turn) {
            QString why;
            const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(file, lg::PictureTurn::RotateRight, &why);
            QVERIFY2(turned, qPrintable(why));
            QVERIFY(!turned->byTag);
            file = turned->bytes;
            const QByteArray bytes = exifThumbnailBytesOf(file);
            QVERIFY2(!bytes.isEmpty(), qPrintable(QStringLiteral("the thumbnail went at turn %1").arg(turn)));
            const QImage now = QImage::fromData(bytes);
            const QImage expected = lg::turnedImage(thumbnailPixels, lg::pictureTurn(turn));
            QCOMPARE(isProgressive(bytes), progressive);
            QCOMPARE(now.isGrayscale(), subsampling == TJSAMP_GRAY);
            QCOMPARE(now.size(), expected.size());
            const double quality = psnr(expected, now);
            QVERIFY2(quality >= leastPsnr, qPrintable(QStringLiteral("turn %1: %2 dB").arg(turn).arg(quality)));
            QCOMPARE(lg::estimatedJpegQuality(bytes), lg::estimatedJpegQuality(thumbnail));
            // Its tables are made for it at the first turn; from then on its size holds.
            if (turn == 1)
                firstSize = bytes.size();
            QVERIFY2(bytes.size() >= firstSize * 9 / 10,
                     qPrintable(QStringLiteral("turn %1: %2 bytes, at the first turn %3").arg(turn).arg(bytes.size()).arg(firstSize)));
        }
        // Twelve right turns: the picture and its metadata as they were.
        QCOMPARE(exifString(exifOf(file), "Exif.Photo.MakerNote"), exifString(exifOf(original), "Exif.Photo.MakerNote"));
        QVERIFY(decodeJpeg(file) == decodeJpeg(original));
    }

    // A turned thumbnail larger than the old one's room takes the old one's
    // place and grows the block where nothing but zeros follows it, else goes
    // after the block's end (the old bytes zeroed, what follows them kept);
    // the block never outgrows its segment, and where that would be needed
    // only the thumbnail goes.
    void aLargerThumbnailGrowsTheExifBlock_data()
    {
        QTest::addColumn<bool>("valueFollows");
        QTest::addColumn<int>("grownBy");   // bytes the new thumbnail has over the old
        QTest::addColumn<bool>("kept");
        QTest::newRow("it ends the block") << false << 3000 << true;
        QTest::newRow("a value follows it") << true << 3000 << true;
        QTest::newRow("up to the segment's limit") << false << -1 << true;
        QTest::newRow("beyond the segment's limit") << false << 70000 << false;
    }
    void aLargerThumbnailGrowsTheExifBlock()
    {
        QFETCH(bool, valueFollows);
        QFETCH(int, grownBy);
        QFETCH(bool, kept);
        const QByteArray thumbnail = encodeJpeg(quadrants(QSize(40, 30)), 80, TJSAMP_420);
        qsizetype commentAt = -1;
        const QByteArray before = valueFollows ? exifWithReachingThumbnail(thumbnail, 0, &commentAt)
                                               : exifBlock(1, QSize(64, 48), 500, 0, thumbnail);
        QByteArray tiff = before;
        qsizetype offered = 0;
        const auto maker = [&](const QByteArray &old, qsizetype maxBytes) {
            offered = maxBytes;
            // The old JPEG with a comment segment after its start, as large as asked.
            const qsizetype extra = grownBy < 0 ? maxBytes - old.size() : grownBy;
            const qsizetype payload = std::min<qsizetype>(extra - 4, 65533);
            return old.left(2) + segment(0xfe, QByteArray(payload, 'g')) + old.mid(2) + QByteArray(std::max<qsizetype>(0, extra - 4 - payload), '\0');
        };
        bool dropped = false;
        QVERIFY(lg::jpeg::patchExif(tiff, QSize(64, 48), maker, &dropped));
        QCOMPARE(dropped, !kept);
        QVERIFY(offered > thumbnail.size());
        QVERIFY2(tiff.size() <= 65533 - 6, qPrintable(QString::number(tiff.size())));
        if (commentAt >= 0)
            QCOMPARE(tiff.mid(commentAt, 456), before.mid(commentAt, 456));
        QCOMPARE(exifString(exifOfBlock(tiff), "Exif.Image.Make"), exifString(exifOfBlock(before), "Exif.Image.Make"));
        QVERIFY(lg::jpeg::missingExifTags(before, tiff, dropped).isEmpty());
        const QImage after = exifThumbnailOf(QByteArray("\xff\xd8") + exifSegment(tiff));
        QCOMPARE(after.isNull(), !kept);
        if (!kept) {
            QCOMPARE(tiff.size(), before.size());
            return;
        }
        QCOMPARE(after, QImage::fromData(thumbnail));
        // Where nothing follows, the block ends with the new thumbnail; else the old bytes are zeros now.
        QVERIFY(tiff.size() > before.size());
        if (!valueFollows && grownBy > 0)
            QCOMPARE(tiff.size(), before.size() + grownBy);
        if (valueFollows)
            QCOMPARE(tiff.indexOf(thumbnail), -1);
    }

    // A thumbnail whose directory states an orientation of its own (stored
    // upright beside a picture stored sideways) is turned from that one: it
    // shows as the picture does, whether the blocks move or the tag turns.
    void aThumbnailWithAnOrientationOfItsOwnIsTurnedFromIt_data()
    {
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<bool>("byTag");
        QTest::newRow("blocks moved") << QSize(64, 48) << false;
        QTest::newRow("by the tag") << QSize(66, 50) << true;
    }
    void aThumbnailWithAnOrientationOfItsOwnIsTurnedFromIt()
    {
        QFETCH(QSize, shown);
        QFETCH(bool, byTag);
        const QImage thumbnailPixels = quadrants(QSize(40, 30));
        const QByteArray thumbnail = encodeJpeg(thumbnailPixels, 90, TJSAMP_444);
        const QByteArray file = withSegments(encodeJpeg(storedForOrientation(quadrants(shown), 6), 90, TJSAMP_444),
                                             exifSegment(exifBlock(6, shown, 0, 0, thumbnail, 1)));
        QString why;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(file, lg::PictureTurn::RotateRight, &why);
        QVERIFY2(turned, qPrintable(why));
        QCOMPARE(turned->byTag, byTag);
        QCOMPARE(turned->pixelSize, shown.transposed());
        const Exiv2::ExifData exif = exifOf(turned->bytes);
        // As shown: the stored thumbnail with its own orientation applied.
        const int own = exifString(exif, "Exif.Thumbnail.Orientation").isEmpty() ? 1 : exifString(exif, "Exif.Thumbnail.Orientation").toInt();
        const QImage shownThumbnail = lg::turnedImage(exifThumbnailOf(turned->bytes), lg::PictureTurn(own));
        const QImage expected = lg::turnedImage(thumbnailPixels, lg::PictureTurn::RotateRight);
        QCOMPARE(shownThumbnail.size(), expected.size());
        QVERIFY2(meanDifference(shownThumbnail, expected) < 4, qPrintable(QString::number(meanDifference(shownThumbnail, expected))));
        QCOMPARE(exifString(exif, "Exif.Image.Orientation"), byTag ? QStringLiteral("3") : QStringLiteral("1"));
        QCOMPARE(own, byTag ? 6 : 1);
    }

    void theCheckAfterATurnComparesEveryValue()
    {
        const QByteArray thumbnail = encodeJpeg(quadrants(QSize(40, 30)), 50, TJSAMP_420);
        const QByteArray before = exifBlock(6, QSize(64, 48), 300, 448, thumbnail);
        QByteArray patched = before;
        QVERIFY(lg::jpeg::patchExif(patched, QSize(48, 64), [](const QByteArray &old, qsizetype) { return old; }));
        QCOMPARE(exifString(exifOfBlock(patched), "Exif.Image.Orientation"), QStringLiteral("1"));
        QVERIFY(lg::jpeg::missingExifTags(before, patched, false).isEmpty());
        for (const auto &[text, key] : {std::pair<QByteArray, QByteArray>("cccc", "Exif.Photo.UserComment"),
                                        std::pair<QByteArray, QByteArray>("klmn", "Exif.Photo.MakerNote"),
                                        std::pair<QByteArray, QByteArray>("Test Camera", "Exif.Image.Model")}) {
            QByteArray damaged = patched;
            const qsizetype at = damaged.indexOf(text);
            QVERIFY2(at > 0, text.constData());
            damaged[at + 1] = 'Z';
            QCOMPARE(lg::jpeg::missingExifTags(before, damaged, false), QList<QByteArray> {key});
        }
    }

    // The least a real picture spends on its blocks, a plain black one
    // optimised, baseline or progressive, grey (whatever factors its frame
    // states) or colour, stays above the bound a header's claim is held to
    // (one bit a block); arithmetic coding, far below it, is held to the
    // decoders' size alone. All of them are shown, and turn.
    void plainPicturesAreNeverTakenForLies_data()
    {
        QTest::addColumn<QStringList>("convert");
        QTest::addColumn<QStringList>("jpegtran");
        QTest::newRow("grey, optimised") << QStringList {"-type", "Grayscale"} << QStringList {"-optimize"};
        QTest::newRow("grey, progressive") << QStringList {"-type", "Grayscale"} << QStringList {"-optimize", "-progressive"};
        QTest::newRow("colour 4:2:0, progressive") << QStringList {"-type", "TrueColor", "-sampling-factor", "2x2"}
                                                   << QStringList {"-optimize", "-progressive"};
        QTest::newRow("colour 4:4:4, optimised") << QStringList {"-type", "TrueColor", "-sampling-factor", "1x1"}
                                                 << QStringList {"-optimize"};
        QTest::newRow("colour, arithmetic") << QStringList {"-type", "TrueColor"} << QStringList {"-arithmetic"};
        // Grey pictures whose frame states factors a colour one would have, as
        // ImageMagick writes them (optimised; jpegtran would make them 1x1):
        // their lone component still has one block an 8 x 8 pixels.
        QTest::newRow("grey, 2x2 factors (4:2:0)") << QStringList {"-colorspace", "Gray", "-sampling-factor", "4:2:0"} << QStringList {};
        QTest::newRow("grey, 2x2 factors, progressive") << QStringList {"-colorspace", "Gray", "-sampling-factor", "2x2", "-interlace", "JPEG"}
                                                        << QStringList {};
        QTest::newRow("grey, 2x1 factors") << QStringList {"-colorspace", "Gray", "-sampling-factor", "2x1"} << QStringList {};
        QTest::newRow("grey, 1x2 factors") << QStringList {"-colorspace", "Gray", "-sampling-factor", "1x2"} << QStringList {};
        QTest::newRow("grey, 4x1 factors") << QStringList {"-colorspace", "Gray", "-sampling-factor", "4x1"} << QStringList {};
    }

    void plainPicturesAreNeverTakenForLies()
    {
        QFETCH(QStringList, convert);
        QFETCH(QStringList, jpegtran);
        if (!hasTool(QStringLiteral("convert")) || !hasTool(QStringLiteral("jpegtran")))
            QSKIP("convert or jpegtran is not installed");
        const QString folder = freshFolder(QStringLiteral("plain-black"));
        const QString made = QDir(folder).filePath(QStringLiteral("black.jpg"));
        const QString out = QDir(folder).filePath(QStringLiteral("out.jpg"));
        QVERIFY(run(QStringLiteral("convert"), QStringList {"-size", "1024x768", "xc:black"} + convert + QStringList {"-quality", "92", made}));
        QVERIFY(jpegtran.isEmpty() || run(QStringLiteral("jpegtran"), jpegtran + QStringList {"-outfile", out, made}));
        const QByteArray bytes = readAll(jpegtran.isEmpty() ? made : out);
        QVERIFY(!bytes.isEmpty());
        if (convert.contains(QStringLiteral("Gray"))) {  // the factors asked for are stated
            const std::optional<lg::jpeg::Frame> frame = lg::jpeg::read(bytes, lg::jpeg::ReadTo::FirstScan).frame;
            QVERIFY(frame && frame->sampling.size() == 1 && frame->sampling.first() != std::make_pair(1, 1));
        }
        QVERIFY2(lg::jpegSizeRefusal(bytes).isEmpty(), qPrintable(lg::jpegSizeRefusal(bytes)));
        // Shown as any picture is.
        const lg::ImageSource source = lg::ImageSource::fromData(bytes, QStringLiteral("jpeg"));
        QVERIFY2(source.claimRefusal().isEmpty(), qPrintable(source.claimRefusal()));
        QCOMPARE(source.image().value_or(QImage()).size(), QSize(1024, 768));
        QString why;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpegLosslessly(bytes, lg::PictureTurn::RotateRight, &why);
        QVERIFY2(turned, qPrintable(why));
        QCOMPARE(turned->pixelSize, QSize(768, 1024));
    }

    // A CMYK picture that is not whole blocks keeps its inks byte for byte,
    // with its profile and Adobe segment: the turn goes into the orientation
    // (a new Exif segment), and the picture shows turned.
    void cmykStaysCmyk()
    {
        QImage inks(QSize(101, 75), QImage::Format_RGBA8888);
        for (int y = 0; y < inks.height(); ++y)
            for (int x = 0; x < inks.width(); ++x)
                inks.setPixel(x, y, x < 50 ? qRgba(200, 10, 10, 30) : qRgba(10, 10, 200, 120));  // C M Y K
        const QByteArray cmyk = encodeJpeg(inks, 95, TJSAMP_444, true);
        const QByteArray source = withSegments(cmyk, iccSegment);
        QVERIFY(headerOf(source).colorspace == TJCS_YCCK || headerOf(source).colorspace == TJCS_CMYK);
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, lg::PictureTurn::RotateRight);
        QVERIFY(turned);
        QVERIFY(turned->byTag);
        QCOMPARE(turned->pixelSize, QSize(75, 101));
        const Encoded encoded = headerOf(turned->bytes);
        QVERIFY(encoded.colorspace == TJCS_YCCK || encoded.colorspace == TJCS_CMYK);
        const QList<Marker> markers = metadataMarkers(turned->bytes);
        QVERIFY(markers.contains(Marker {0xe2, iccSegment.mid(4)}));
        QCOMPARE(std::count_if(markers.cbegin(), markers.cend(), [](const Marker &m) { return m.payload.startsWith("Adobe"); }), 1);
        QCOMPARE(decodeJpeg(turned->bytes, true), decodeJpeg(source, true));
        QCOMPARE(exifString(exifOf(turned->bytes), "Exif.Image.Orientation"), QStringLiteral("6"));
    }

    // A colour thumbnail of a picture stored in inks, which cannot move
    // exactly, is made afresh from the turned picture as it shows.
    void aCmykPictureKeepsItsColourThumbnail()
    {
        QImage inks(QSize(128, 96), QImage::Format_RGBA8888);
        for (int y = 0; y < inks.height(); ++y)
            for (int x = 0; x < inks.width(); ++x)
                inks.setPixel(x, y, x < 64 ? qRgba(200, 10, 10, 30) : qRgba(10, 10, 200, 120));  // C M Y K
        const QByteArray cmyk = encodeJpeg(inks, 95, TJSAMP_444, true);
        const QByteArray thumbnail = encodeJpeg(shownPicture(cmyk).scaled(40, 30), 80, TJSAMP_420);
        const QByteArray source = withSegments(cmyk, exifSegment(exifBlock(1, QSize(128, 96), 0, 0, thumbnail)));
        QString why;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, lg::PictureTurn::RotateRight, &why);
        QVERIFY2(turned, qPrintable(why));
        QVERIFY(!turned->byTag);
        const QImage after = exifThumbnailOf(turned->bytes);
        QCOMPARE(after.size(), QSize(30, 40));
        const QImage expected = lg::turnedImage(QImage::fromData(thumbnail), lg::PictureTurn::RotateRight);
        QVERIFY2(meanDifference(after, expected) < 8, qPrintable(QString::number(meanDifference(after, expected))));
    }

    // A JPEG that stores RGB (Adobe segment, transform 0) keeps its colours:
    // not whole blocks, its picture data stays and the turn goes into the
    // tag; whole blocks, they move and its Adobe segment still says RGB.
    void anRgbJpegKeepsItsColours_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("not whole blocks") << QSize(50, 30);
        QTest::newRow("whole blocks") << QSize(64, 48);
    }
    void anRgbJpegKeepsItsColours()
    {
        QFETCH(QSize, size);
        if (!hasTool(QStringLiteral("cjpeg")))
            QSKIP("cjpeg is not installed");
        const QString folder = freshFolder(QStringLiteral("rgb"));
        const QString ppm = QDir(folder).filePath(QStringLiteral("p.ppm")), path = QDir(folder).filePath(QStringLiteral("p.jpg"));
        QVERIFY(gradient(size).save(ppm, "PPM"));
        QVERIFY(run(QStringLiteral("cjpeg"), {"-rgb", "-quality", "95", "-outfile", path, ppm}));
        const QByteArray source = readAll(path);
        QCOMPARE(headerOf(source).colorspace, int(TJCS_RGB));
        const QImage before = shownPicture(source);
        QVERIFY(meanDifference(before, gradient(size)) < 3);
        QString why;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(source, lg::PictureTurn::RotateRight, &why);
        QVERIFY2(turned, qPrintable(why));
        QCOMPARE(turned->byTag, size.width() % 8 != 0);
        QCOMPARE(headerOf(turned->bytes).colorspace, int(TJCS_RGB));
        const double difference = meanDifference(shownPicture(turned->bytes), lg::turnedImage(before, lg::PictureTurn::RotateRight));
        QVERIFY2(difference >= 0 && difference < 3, qPrintable(QString::number(difference)));
        if (turned->byTag)
            return;
        // The check after a block turn reads the colours as the markers tell:
        // the same blocks said to be YCbCr are refused.
        QVERIFY(lg::turnKeepsColours(source, lg::PictureTurn::RotateRight, turned->bytes));
        QByteArray misread = turned->bytes;
        const qsizetype adobe = misread.indexOf("Adobe");
        QVERIFY(adobe > 0);
        QCOMPARE(int(misread[adobe + 11]), 0);   // transform: none, the samples are RGB
        misread[adobe + 11] = 1;
        QVERIFY(!lg::turnKeepsColours(source, lg::PictureTurn::RotateRight, misread));
        QVERIFY(!lg::turnKeepsColours(source, lg::PictureTurn::RotateLeft, turned->bytes));
    }

    // The XMP packet is patched where the turn changes it, attribute or element,
    // and a value that grows takes its room from the padding.
    void xmpIsPatchedWhereTheTurnChangesIt()
    {
        const QByteArray padding(100, ' ');
        const QByteArray packet = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                                  "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
                                  "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
                                  "tiff:Orientation='8' exif:PixelXDimension=\"999\"><tiff:ImageLength>20</tiff:ImageLength>"
                                  "</rdf:Description></rdf:RDF></x:xmpmeta>\n"
                                  + padding + "\n<?xpacket end=\"w\"?>";
        const QByteArray upright = lg::jpeg::uprightXmpPacket(packet, QSize(1000, 200));
        QVERIFY(upright.contains("tiff:Orientation='1'"));
        QVERIFY(upright.contains("exif:PixelXDimension=\"1000\""));
        QVERIFY(upright.contains("<tiff:ImageLength>200</tiff:ImageLength>"));
        QCOMPARE(upright.size(), packet.size());  // two digits more, two spaces less
        QVERIFY(upright.contains(padding.left(98) + "\n<?xpacket end"));
        QCOMPARE(lg::jpeg::uprightXmpPacket(upright, QSize(1000, 200)), upright);
    }

    // An XMP packet too large for one segment once written anew goes into
    // extended XMP, which readers join again; a small one stays one segment.
    void largeXmpIsWrittenAsExtendedXmp()
    {
        const QByteArray packet = xmpPacket(90000, 1, QSize(64, 48));
        const std::optional<QList<lg::jpeg::Segment>> segments = lg::jpeg::xmpSegments(packet);
        QVERIFY(segments);
        QCOMPARE(segments->size(), 3);
        QByteArray bytes = encodeJpeg(quadrants(QSize(64, 48)), 90, TJSAMP_420);
        QByteArray all;
        for (const lg::jpeg::Segment &s : *segments) {
            QVERIFY(s.payload.size() <= 65533);
            all += segment(s.marker, s.payload);
        }
        bytes = withSegments(bytes, all);
        QByteArray guid;
        const QByteArray whole = extendedXmpOf(bytes, &guid);
        QCOMPARE(guid, QCryptographicHash::hash(whole, QCryptographicHash::Md5).toHex().toUpper());
        QVERIFY(whole.contains(packet.mid(packet.indexOf("<x:xmpmeta"), 2000)));
        QVERIFY(metadataMarkers(bytes).first().payload.contains("xmpNote:HasExtendedXMP=\"" + guid + "\""));
        QCOMPARE(lg::jpeg::xmpSegments("<x:xmpmeta/>")->size(), 1);

        // Written into a new JPEG with the picture's other metadata, nothing is dropped.
        lg::PictureMetadata metadata;
        metadata.xmp = packet;
        metadata.exif = exifBlock(1, QSize(64, 48), 1000, 0, {});
        QString error;
        const std::optional<QByteArray> written = lg::ImageWriter::encode(
            quadrants(QSize(64, 48)), lg::ImageFileType::JPEG, {0.9, metadata, true, {}}, &error);
        QVERIFY2(written, qPrintable(error));
        const QByteArray joined = extendedXmpOf(*written);
        QVERIFY(joined.size() > 88000);
        QVERIFY(joined.contains(" " + QByteArray(79, 'x') + " "));
        QCOMPARE(exifString(exifOf(*written), "Exif.Image.Make"), QStringLiteral("Lumen"));
    }
};

LG_TEST(JpegTurnTest)
#include "test_jpegturn.moc"
