// Turning, mirroring and writing images for the viewer's rotate, flip and save,
// and the turn of picture files in place, which keeps all they hold.
#include "model/ImageTransforms.h"
#include "app/Saver.h"
#include "platform/image/PictureMetadata.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QColorSpace>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QtEndian>
#include <QtTest>

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace lg::test;
using namespace lg::test::fixtures;

namespace {
using lg::test::readAll;

// What the code under test prints on standard output while fn runs.
template<typename Fn>
QByteArray standardOutputOf(Fn fn)
{
    CaptureStdout capture;
    fn();
    return capture.finish();
}

// Corner colours as (top-left, top-right, bottom-left, bottom-right).
QList<QColor> corners(const QImage &image)
{
    return {quarterColor(image, TopLeft), quarterColor(image, TopRight), quarterColor(image, BottomLeft),
            quarterColor(image, BottomRight)};
}

void expectCorners(const QImage &image, const QList<QColor> &want)
{
    const QList<QColor> got = corners(image);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(near(got[i], want[i]), qPrintable(QStringLiteral("corner %1 is %2, not %3").arg(i).arg(got[i].name(), want[i].name())));
}

const QColor red = Qt::red, green = Qt::green, blue = Qt::blue, white = Qt::white;

// The quadrants with fine detail that a lossy encoding changes, tagged Adobe RGB.
QImage detailedPicture(QSize size)
{
    QImage image = quadrants(size);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            if ((x * 7 + y * 3) % 11 == 0)
                image.setPixel(x, y, qRgb(0x00, 0xa1, 0x55));
    image.setColorSpace(QColorSpace::AdobeRgb);
    return image;
}

// A picture file of the type its extension names (JPEG at quality 97) with a
// colour profile, Exif with a maker note, XMP rating and keywords, and a
// file manager's tag in an extended attribute.
QString photographersFile(const QString &path, QSize size)
{
    QImageWriter writer(path);
    writer.setQuality(97);
    if (!writer.write(detailedPicture(size)))
        return {};
    const bool tagged = setMetadata(path, {{"Exif.Image.Make", "Lumen"},
                                           {"Exif.Image.Orientation", "1"},
                                           {"Exif.Photo.PixelXDimension", QString::number(size.width())},
                                           {"Exif.Photo.PixelYDimension", QString::number(size.height())},
                                           {"Exif.Photo.MakerNote", "76 71 1 2 3 4 5 6 7 8"},
                                           {"Exif.GPSInfo.GPSLatitudeRef", "N"},
                                           {"Xmp.xmp.Rating", "4"},
                                           {"Xmp.dc.subject", "beach"}});
    const QByteArray tag("holiday");
    if (!tagged || ::setxattr(QFile::encodeName(path).constData(), "user.xdg.tags", tag.constData(), size_t(tag.size()), 0) != 0)
        return {};
    return path;
}

QByteArray tagOf(const QString &path)
{
    QByteArray value(64, 0);
    const ssize_t got = ::getxattr(QFile::encodeName(path).constData(), "user.xdg.tags", value.data(), size_t(value.size()));
    return got < 0 ? QByteArray() : value.left(got);
}


// Exif larger than the 64 KB of a JPEG segment: a 70 KB user comment and maker
// note beside a few small tags.
Exiv2::ExifData largeExif()
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Lumen";
    exif["Exif.Image.Artist"] = "Ann";
    exif["Exif.Photo.UserComment"] = "charset=Ascii " + std::string(70000, 'u');
    std::vector<Exiv2::byte> note(70000);
    for (size_t i = 0; i < note.size(); ++i)
        note[i] = Exiv2::byte(i * 7 % 251);
    Exiv2::DataValue noteValue(note.data(), long(note.size()), Exiv2::invalidByteOrder, Exiv2::undefined);
    exif.add(Exiv2::ExifKey("Exif.Photo.MakerNote"), &noteValue);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    return exif;
}

// The PNG with the Exif in an eXIf chunk before its picture data (exiv2 reads
// such a chunk, but writes a PNG's Exif only as large as a JPEG segment holds).
bool putExifIntoPng(const QString &path, const Exiv2::ExifData &exif)
{
    Exiv2::MemIo io;
    Exiv2::TiffParser::encode(io, nullptr, 0, Exiv2::littleEndian, exif, Exiv2::IptcData(), Exiv2::XmpData());
    const QByteArray block(reinterpret_cast<const char *>(io.mmap()), qsizetype(io.size()));
    QByteArray png = readAll(path);
    const qsizetype data = png.indexOf("IDAT");
    if (block.isEmpty() || data < 12)
        return false;
    QByteArray chunk(4, 0);
    qToBigEndian<quint32>(quint32(block.size()), chunk.data());
    chunk += "eXIf" + block;
    quint32 sum = 0xffffffffu;  // the chunk's CRC-32, over its type and data
    for (qsizetype i = 4; i < chunk.size(); ++i) {
        sum ^= quint8(chunk[i]);
        for (int bit = 0; bit < 8; ++bit)
            sum = (sum & 1) ? 0xedb88320u ^ (sum >> 1) : sum >> 1;
    }
    QByteArray crc(4, 0);
    qToBigEndian<quint32>(sum ^ 0xffffffffu, crc.data());
    png.insert(data - 4, chunk + crc);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(png) == png.size();
}

bool putExifIntoFile(const QString &path, const Exiv2::ExifData &exif)
{
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        for (const Exiv2::Exifdatum &datum : exif)
            image->exifData().add(datum);
        image->writeMetadata();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

// The Exif tags that describe the picture, with their values as stored (the
// pixel dimensions, which a turn changes, left out).
QMap<QString, QByteArray> pictureTags(const QString &path)
{
    QMap<QString, QByteArray> tags;
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        for (const Exiv2::Exifdatum &datum : image->exifData()) {
            const std::string group = datum.groupName();
            const bool described = group == "Photo" || group == "GPSInfo"
                                || datum.key() == "Exif.Image.Make" || datum.key() == "Exif.Image.Artist";
            if (!described || datum.key() == "Exif.Photo.PixelXDimension" || datum.key() == "Exif.Photo.PixelYDimension")
                continue;
            QByteArray value(qsizetype(datum.size()), 0);
            datum.copy(reinterpret_cast<Exiv2::byte *>(value.data()), image->byteOrder());
            tags.insert(QString::fromStdString(datum.key()), value);
        }
    } catch (const std::exception &) {
    }
    return tags;
}

// The tags of before that after lacks or holds with other values, comma-separated.
QString changedTags(const QMap<QString, QByteArray> &before, const QMap<QString, QByteArray> &after)
{
    QStringList changed;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (after.value(it.key()) != it.value())
            changed.append(it.key());
    return changed.join(QStringLiteral(", "));
}

// The JPEG with an MPF index in front that lists a second picture (the JPEG
// itself again, appended), the index's NumberOfImages entry given as
// numberEntry (tag, type, count and value; empty for none). *table: where the
// index's MP entries lie, from the MPF header.
QByteArray multiPictureJpeg(const QByteArray &bytes, const QByteArray &numberEntry, qsizetype *table = nullptr)
{
    const auto le = [](quint32 v, int size) {
        QByteArray b(size, 0);
        for (int i = 0; i < size; ++i)
            b[i] = char((v >> (8 * i)) & 0xff);
        return b;
    };
    const int entries = numberEntry.isEmpty() ? 2 : 3;
    const quint32 entryTable = 8 + 2 + 12 * quint32(entries) + 4;
    const qsizetype tiffSize = entryTable + 32;
    const quint32 firstSize = quint32(bytes.size() + 8 + tiffSize), header = 10;
    const QByteArray tiff = QByteArray("II*\0", 4) + le(8, 4) + le(quint32(entries), 2)
                          + le(0xb000, 2) + le(7, 2) + le(4, 4) + QByteArray("0100")
                          + numberEntry
                          + le(0xb002, 2) + le(7, 2) + le(32, 4) + le(entryTable, 4) + le(0, 4)
                          + le(0x20030000, 4) + le(firstSize, 4) + le(0, 4) + le(0, 4)
                          + le(0, 4) + le(quint32(bytes.size()), 4) + le(firstSize - header, 4) + le(0, 4);
    Q_ASSERT(tiff.size() == tiffSize);
    if (table)
        *table = entryTable;
    const QByteArray segment = QByteArray("\xff\xe2", 2) + char((tiffSize + 6) >> 8) + char((tiffSize + 6) & 0xff)
                             + "MPF" + QByteArray(1, 0) + tiff;
    return bytes.left(2) + segment + bytes.mid(2) + bytes;
}

} // namespace

class ImageTransformsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rotateTurnsCounterClockwiseOnAFittingCanvas()
    {
        const QImage source = quadrants(QSize(400, 300));
        const QImage left = rotate(source, 90);
        QCOMPARE(left.size(), QSize(300, 400));
        expectCorners(left, {green, white, red, blue});
        const QImage right = rotate(source, -90);
        QCOMPARE(right.size(), QSize(300, 400));
        expectCorners(right, {blue, red, white, green});
        expectCorners(rotate(source, 180), {white, blue, green, red});
        QCOMPARE(rotate(source, 360).size(), source.size());

        const QImage tilted = rotate(source, 45);
        const double side = (400 + 300) * std::sqrt(2.0) / 2;
        QVERIFY(std::abs(tilted.width() - side) <= 1);
        QVERIFY(std::abs(tilted.height() - side) <= 1);
        QCOMPARE(tilted.pixelColor(0, 0).alpha(), 0);  // outside the picture
        QVERIFY(tilted.pixelColor(tilted.width() / 2, tilted.height() / 2).alpha() == 255);

        QCOMPARE(rotate(source, 0).cacheKey(), source.cacheKey());  // the image itself
        QVERIFY(rotate(QImage(), 30).isNull());
        QCOMPARE(source.pixelColor(0, 0), QColor(red));  // the source is left alone
    }

    void flipsMirrorAndAddUpToAHalfTurn()
    {
        const QImage source = quadrants(QSize(40, 30));
        expectCorners(flipped(source, true, false), {green, red, white, blue});
        expectCorners(flipped(source, false, true), {blue, white, red, green});
        QCOMPARE(flipped(source, true, true), rotate(source, 180));
        const QImage copy = flipped(source, false, false);
        QCOMPARE(copy, source);
        QCOMPARE(ImageHelperMethods::flipImageHorizontally(source, true), flipped(source, true, false));
        QCOMPARE(ImageHelperMethods::flipImageVertically(source, true), flipped(source, false, true));
        QCOMPARE(ImageHelperMethods::flipImageVertically(source, false), source);
    }

    void theOtherTurns()
    {
        const QImage source = quadrants(QSize(40, 30));
        QCOMPARE(rotated(source, 90), rotate(source, 90));  // counter-clockwise, fitting canvas
        QCOMPARE(rotatedNormal(source, 30).size(), source.size());  // corners cut off
        QCOMPARE(rotatedNormal(source, 30).pixelColor(0, 0).alpha(), 0);
        // Clockwise ones.
        QCOMPARE(*imageRotatedwith_Ikimageview2(source, 90), rotate(source, -90));
        QVERIFY(!imageRotatedwith_Ikimageview2(QImage(), 90));
        QCOMPARE(Rotated::rotateImagedByDegrees(90, source), rotate(source, -90));
        QCOMPARE(Rotated::imageRotated(source, 90), rotate(source, -90));
        QCOMPARE(Rotated::rotateImagedByDegrees(0, source).cacheKey(), source.cacheKey());
    }

    void bitmapsAndImageSources()
    {
        const QImage source = quadrants(QSize(40, 30));
        const std::optional<QImage> bitmap = Rotated::bitmapImageRepresentation(source);
        QVERIFY(bitmap);
        QCOMPARE(bitmap->format(), QImage::Format_RGBA8888_Premultiplied);
        QCOMPARE(bitmap->bytesPerLine(), qsizetype(40 * 4));
        expectCorners(*bitmap, corners(source));
        QVERIFY(!Rotated::bitmapImageRepresentation(QImage()));
        const std::optional<QImage> back = Rotated::toCGImageRef(source);
        QVERIFY(back);
        QCOMPARE(back->convertToFormat(QImage::Format_RGB32), source);

        const std::optional<lg::ImageSource> imageSource = CGImagesource(source);
        QVERIFY(imageSource);
        QCOMPARE(imageSource->type(), QStringLiteral("tiff"));
        QCOMPARE(imageSource->pixelSize(), std::optional<QSize>(QSize(40, 30)));
        QVERIFY(!CGImagesource(QImage()));
    }

    void writerChoosesTypeByExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::newRow(".jpeg") << "p.jpeg" << "jpeg";
        QTest::newRow(".JPG") << "p.JPG" << "jpeg";
        QTest::newRow(".pngf") << "p.pngf" << "png";
        QTest::newRow(".tif") << "p.tif" << "tiff";
        QTest::newRow(".giff") << "p.giff" << "gif";
        QTest::newRow(".pct") << "p.pct" << "pict";
        QTest::newRow(".x-macpict") << "p.x-macpict" << "pict";
        QTest::newRow(".jp2") << "p.jp2" << "jp2";
        QTest::newRow(".icns") << "p.icns" << "icns";
        QTest::newRow(".bmpf") << "p.bmpf" << "bmp";
        QTest::newRow(".ico") << "p.ico" << "ico";
    }

    void writerChoosesTypeByExtension()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        const QString path = QDir(freshFolder(QStringLiteral("by-ext"))).filePath(name);
        bool written = false;
        const QByteArray printed = standardOutputOf([&] { written = writeCGImage(quadrants(QSize(32, 32)), path, {}); });
        QVERIFY(written);
        QVERIFY(printed.isEmpty());
        QCOMPARE(lg::ImageSource(path).type(), type);
    }

    void unknownExtensionsWriteNothing()
    {
        const QString folder = freshFolder(QStringLiteral("unknown"));
        for (const QString &name : {QStringLiteral("p.webp"), QStringLiteral("noextension"), QStringLiteral("p.qtif"),
                                    QStringLiteral("p.heic")}) {
            const QString path = writeFile(QDir(folder).filePath(name), "old");
            bool written = true;
            const QByteArray printed = standardOutputOf([&] { written = writeCGImage(quadrants(QSize(8, 8)), path, {}); });
            QVERIFY(!written);
            QCOMPARE(printed, QByteArray("Did not find any matching path extension to store the image\n"));
            QCOMPARE(readAll(path), QByteArray("old"));
        }
    }

    void writingReplacesAndResetsOrientation()
    {
        const QString folder = freshFolder(QStringLiteral("replace"));
        // A photo stored sideways with orientation 6, turned by the viewer and
        // saved in place: the file then shows the turned picture, once.
        const QImage upright = quadrants(QSize(60, 40));
        const QString path = writeJpeg(QDir(folder).filePath(QStringLiteral("photo.jpg")), storedForOrientation(upright, 6), 6);
        const lg::ImageSource source(path);
        const QImage turned = rotate(*source.image(), -90);
        QVERIFY(writeCGImage(turned, path, source.properties()));
        const lg::ImageSource saved(path);
        QCOMPARE(saved.properties().orientation, 1);
        QCOMPARE(saved.pixelSize(), std::optional<QSize>(QSize(40, 60)));
        expectCorners(*saved.image(), corners(rotate(upright, -90)));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList {"photo.jpg"});
    }

    void writeWithOptionsAndQuality()
    {
        const QString folder = freshFolder(QStringLiteral("write"));
        const QUrl url = QUrl::fromLocalFile(QDir(folder).filePath(QStringLiteral("w.jpg")));
        QVERIFY(write(quadrants(QSize(64, 64)), url, DataWritingOptions::atomic, lg::ImageFileType::JPEG, 0.9f, 72));
        const qint64 fine = QFileInfo(url.toLocalFile()).size();
        QVERIFY(write(quadrants(QSize(64, 64)), url, DataWritingOptions::none, lg::ImageFileType::JPEG, 0.1f, 72));
        QVERIFY(QFileInfo(url.toLocalFile()).size() < fine);
        const QByteArray before = readAll(url.toLocalFile());
        bool written = true;
        const QByteArray printed = standardOutputOf([&] {
            written = write(quadrants(QSize(64, 64)), url, DataWritingOptions::withoutOverwriting, lg::ImageFileType::PNG, 1, 72);
        });
        QVERIFY(!written);
        QVERIFY(!printed.isEmpty());
        QCOMPARE(readAll(url.toLocalFile()), before);
        QVERIFY(!write(QImage(), url, DataWritingOptions::none, lg::ImageFileType::PNG, 1, 72));
    }

    // A turn written in place keeps all the file held: colour profile, Exif with
    // its maker note and GPS, XMP, the extended attributes; orientation 1 and the
    // new pixel dimensions. JPEGs keep their quality, turned without loss where
    // their size is whole blocks.
    void aTurnInPlaceKeepsAllTheFileHeld_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("byTag");  // turned in the orientation tag, the pixels as stored
        QTest::newRow("JPEG, whole blocks") << "photo.jpg" << QSize(64, 48) << false;
        QTest::newRow("JPEG, partial blocks") << "photo.jpg" << QSize(50, 30) << true;
        QTest::newRow("PNG") << "photo.png" << QSize(50, 30) << false;
        QTest::newRow("TIFF") << "photo.tif" << QSize(50, 30) << false;
    }

    void aTurnInPlaceKeepsAllTheFileHeld()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(bool, byTag);
        const QString path = photographersFile(QDir(freshFolder(QStringLiteral("keep"))).filePath(name), size);
        QVERIFY(!path.isEmpty());
        const lg::PictureMetadata before = lg::PictureMetadata::read(path);
        QVERIFY(!before.icc.isEmpty());
        const QString makerNote = metadataValue(path, QStringLiteral("Exif.Photo.MakerNote"));
        QVERIFY(!makerNote.isEmpty());
        const QImage upright = *lg::ImageSource(path).image();

        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize(20, 20));
        QVERIFY(turned.readable && turned.written);
        QCOMPARE(turned.pixelSize, size.transposed());
        QCOMPARE(turned.preview.height(), 20);   // reduced to the bound, standing up
        QVERIFY(turned.preview.width() < 20);
        const lg::ImageSource after(path);
        const QImage picture = *after.image();
        QCOMPARE(picture.size(), size.transposed());
        expectCorners(picture, corners(lg::turnedImage(upright, lg::PictureTurn::RotateRight)));
        QCOMPARE(lg::PictureMetadata::read(path).icc, before.icc);
        QVERIFY(picture.colorSpace() == QColorSpace(QColorSpace::AdobeRgb));
        QCOMPARE(metadataValue(path, QStringLiteral("Exif.Photo.MakerNote")), makerNote);
        QCOMPARE(metadataValue(path, QStringLiteral("Exif.Image.Make")), QStringLiteral("Lumen"));
        QCOMPARE(metadataValue(path, QStringLiteral("Exif.GPSInfo.GPSLatitudeRef")), QStringLiteral("N"));
        QCOMPARE(metadataValue(path, QStringLiteral("Exif.Image.Orientation")), QString::fromLatin1(byTag ? "6" : "1"));
        QCOMPARE(metadataValue(path, QStringLiteral("Exif.Photo.PixelXDimension")), QString::number(byTag ? size.width() : size.height()));
        QCOMPARE(metadataValue(path, QStringLiteral("Xmp.xmp.Rating")), QStringLiteral("4"));
        QCOMPARE(metadataValue(path, QStringLiteral("Xmp.dc.subject")), QStringLiteral("beach"));
        QCOMPARE(tagOf(path), QByteArray("holiday"));
        if (name.endsWith(QLatin1String(".jpg")))
            QCOMPARE(lg::estimatedJpegQuality(readAll(path)), std::optional<int>(97));
    }

    // A JPEG whose blocks cannot be turned with all it holds is never encoded
    // again over itself (it would lose its quality and whatever the turn
    // keeps): it is turned into a copy instead, and the file stays as it was.
    void aJpegThatCannotBeTurnedWithoutLossIsLeftAsItIs_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("Exif block that is no TIFF structure") << "exif";
        QTest::newRow("comment between the scans") << "scans";
        QTest::newRow("restart interval the data does not have") << "restarts";
    }

    void aJpegThatCannotBeTurnedWithoutLossIsLeftAsItIs()
    {
        QFETCH(QString, damage);
        QByteArray jpeg;
        {
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "jpeg");
            writer.setQuality(95);
            writer.setProgressiveScanWrite(damage == QLatin1String("scans"));
            QVERIFY(writer.write(quadrants(QSize(40, 30))));
        }
        QVERIFY(jpeg.startsWith("\xff\xd8\xff\xe0") && jpeg.endsWith("\xff\xd9"));
        if (damage == QLatin1String("scans")) {
            const qsizetype secondScan = jpeg.indexOf("\xff\xda", jpeg.indexOf("\xff\xda") + 2);
            QVERIFY(secondScan > 0);
            jpeg.insert(secondScan, QByteArray("\xff\xfe\x00\x07note", 9));
        }
        if (damage == QLatin1String("restarts")) {
            // The decoder looks for a restart marker after every 2 MCUs and guesses when it finds none.
            const qsizetype frame = jpeg.indexOf("\xff\xc0");
            QVERIFY(frame > 0);
            jpeg.insert(frame, QByteArray("\xff\xdd\x00\x04\x00\x02", 6));
        }
        if (damage == QLatin1String("exif")) {
            const qsizetype afterApp0 = 4 + ((uchar(jpeg.at(4)) << 8) | uchar(jpeg.at(5)));
            const QByteArray exif = QByteArray("Exif\0\0", 6) + "not a TIFF structure";
            QByteArray segment("\xff\xe1");
            segment.append(char((exif.size() + 2) >> 8)).append(char((exif.size() + 2) & 0xff)).append(exif);
            jpeg.insert(afterApp0, segment);
        }
        jpeg.append("VIDEO-AFTER-THE-PICTURE");
        const QString path = QDir(freshFolder(QStringLiteral("unturnable"))).filePath(QStringLiteral("photo.jpg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(jpeg) == jpeg.size());
        file.close();
        QVERIFY(!lg::turnJpeg(jpeg, lg::PictureTurn::RotateRight));   // the case under test

        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(turned.readable);
        QVERIFY(!turned.written);
        QCOMPARE(readAll(path), jpeg);
        QCOMPARE(turned.picture.size(), QSize(30, 40));   // what the copy is made of
    }

    // Exif larger than a JPEG segment holds goes whole through a turn in place,
    // tag for tag; a format that cannot hold it here is left as it was, and
    // the copy that is offered instead keeps it all.
    void exifLargerThanAJpegSegmentIsKeptWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("arguments");  // for convert; none: written by Qt
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("8-bit TIFF") << "photo.tif" << QStringList() << true;
        QTest::newRow("16-bit LZW TIFF") << "deep.tif" << QStringList {"-depth", "16", "-compress", "LZW"} << true;
        QTest::newRow("PNG") << "photo.png" << QStringList() << false;
    }

    void exifLargerThanAJpegSegmentIsKeptWhole()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, arguments);
        QFETCH(bool, inPlace);
        const QString folder = freshFolder(QStringLiteral("large-exif"));
        QString path = QDir(folder).filePath(name);
        if (!arguments.isEmpty()) {
            if (!hasTool(QStringLiteral("convert")))
                QSKIP("convert is not installed");
            const QString source = writeQtImage(QDir(folder).filePath(QStringLiteral("s.png")), quadrants(QSize(40, 30)), "png");
            path = convert(source, path, arguments);
        } else {
            path = writeQtImage(path, quadrants(QSize(40, 30)));
        }
        QVERIFY(!path.isEmpty());
        QVERIFY(name.endsWith(QLatin1String(".png")) ? putExifIntoPng(path, largeExif()) : putExifIntoFile(path, largeExif()));
        const QMap<QString, QByteArray> before = pictureTags(path);
        QVERIFY(before.value(QStringLiteral("Exif.Photo.UserComment")).size() > 70000);
        QVERIFY(before.value(QStringLiteral("Exif.Photo.MakerNote")).size() == 70000);
        QVERIFY(before.contains(QStringLiteral("Exif.GPSInfo.GPSLatitudeRef")));
        const QByteArray bytesBefore = readAll(path);

        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(turned.readable);
        QCOMPARE(turned.written, inPlace);
        if (inPlace) {
            QCOMPARE(lg::ImageSource(path).pixelSize(), std::optional<QSize>(QSize(30, 40)));
            const QString changed = changedTags(before, pictureTags(path));
            QVERIFY2(changed.isEmpty(), qPrintable(changed));
            return;
        }
        QCOMPARE(readAll(path), bytesBefore);
        // The copy, saved as a TIFF as the save panel does, holds every tag.
        const QString copy = QDir(folder).filePath(QStringLiteral("photo copy.tif"));
        SaveFormatChoice tiff;
        tiff.type = lg::ImageFileType::TIFF;
        QString error;
        QVERIFY2(Saver::writeImage(turned.picture, copy, tiff, &error, lg::PictureMetadata::read(path)), qPrintable(error));
        const QString changed = changedTags(before, pictureTags(copy));
        QVERIFY2(changed.isEmpty(), qPrintable(changed));
    }

    // Lossless: the same pixels after four right turns; a mirror twice
    // likewise. Where the blocks cannot move, every turn is written in place
    // all the same, into the orientation tag.
    void fourRightTurnsGiveBackTheSamePixels_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("whole blocks") << QSize(64, 48);
        QTest::newRow("partial blocks") << QSize(50, 30);
    }
    void fourRightTurnsGiveBackTheSamePixels()
    {
        QFETCH(QSize, size);
        const QString path = photographersFile(QDir(freshFolder(QStringLiteral("four"))).filePath(QStringLiteral("p.jpg")),
                                               size);
        QVERIFY(!path.isEmpty());
        const QImage original = *lg::ImageSource(path).image();
        const qint64 bytes = QFileInfo(path).size();
        for (int turn = 0; turn < 4; ++turn)
            QVERIFY(turnPictureFile(path, lg::PictureTurn::RotateRight, QSize()).written);
        QCOMPARE(*lg::ImageSource(path).image(), original);
        QVERIFY(QFileInfo(path).size() > bytes * 9 / 10);
        for (int flip = 0; flip < 2; ++flip)
            QVERIFY(turnPictureFile(path, lg::PictureTurn::MirrorLeftRight, QSize()).written);
        QCOMPARE(*lg::ImageSource(path).image(), original);
    }

    // A file of several pages, or one whose permission bits grant no write
    // (checked on the bits: tests run as the superuser), is never rewritten:
    // the turned picture comes back for a copy.
    void filesThatCannotBeRewrittenStayAsTheyWere_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("read-only") << "read-only";
        QTest::newRow("three pages") << "pages";
    }

    void filesThatCannotBeRewrittenStayAsTheyWere()
    {
        QFETCH(QString, kind);
        const QString folder = freshFolder(QStringLiteral("keep-") + kind);
        QString path;
        if (kind == QLatin1String("pages")) {
            const QString page = writeQtImage(QDir(folder).filePath(QStringLiteral("page.png")), quadrants(QSize(40, 30)), "png");
            if (!hasTool(QStringLiteral("convert")))
                QSKIP("convert is not installed");
            path = QDir(folder).filePath(QStringLiteral("pages.tif"));
            QVERIFY(run(QStringLiteral("convert"), {page, page, page, path}));
            QCOMPARE(lg::ImageSource(path).frameCount(), 3);
        } else {
            path = photographersFile(QDir(folder).filePath(QStringLiteral("photo.jpg")), QSize(40, 30));
            QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
        }
        const QByteArray before = readAll(path);
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateLeft, QSize());
        QVERIFY(turned.readable && !turned.written);
        QCOMPARE(turned.picture.size(), QSize(30, 40));
        QVERIFY(!writeCGImage(turned.picture, path, lg::ImageSource(path).properties()));
        QCOMPARE(readAll(path), before);
    }

    // A file of several frames in any format is never rewritten, whatever its
    // frame count looks like to the readers (Qt reads an animated PNG as a still).
    void animationsAreNeverRewrittenInPlace_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("output");
        QTest::newRow("animated PNG") << "anim.png" << QStringList {"-plays", "0", "-f", "apng"};
        QTest::newRow("animated GIF") << "anim.gif" << QStringList {"-loop", "0"};
        QTest::newRow("animated WebP") << "anim.webp" << QStringList {"-c:v", "libwebp_anim", "-loop", "0"};
    }
    void animationsAreNeverRewrittenInPlace()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, output);
        if (!hasTool(QStringLiteral("ffmpeg")))
            QSKIP("ffmpeg is not installed");
        const QString path = QDir(freshFolder(QStringLiteral("anim"))).filePath(name);
        QString error;
        QVERIFY2(run(QStringLiteral("ffmpeg"), QStringList {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=32x24:rate=3",
                                                            "-frames:v", "3"} + output + QStringList {path}, &error),
                 qPrintable(error));
        const QByteArray before = readAll(path);
        const lg::ImageSource source(path);
        QVERIFY(!canRewriteInPlace(path, source));
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(!turned.written);
        QVERIFY(!writeCGImage(rotate(*source.image(), -90), path, source.properties()));
        QCOMPARE(readAll(path), before);
    }

    // A JPEG with a multi-picture index (an MPF segment: a stereo pair, a gain
    // map) is not rewritten either, whatever the index says of how many
    // pictures there are, or fails to say; its copy is turned like the file
    // would be, its index finding the second picture after the turned first.
    void multiPictureJpegsGoToACopy_data()
    {
        const auto le = [](quint32 v, int size) {
            QByteArray b(size, 0);
            for (int i = 0; i < size; ++i)
                b[i] = char((v >> (8 * i)) & 0xff);
            return b;
        };
        QTest::addColumn<QByteArray>("numberEntry");
        QTest::newRow("two pictures listed") << le(0xb001, 2) + le(4, 2) + le(1, 4) + le(2, 4);
        QTest::newRow("no NumberOfImages") << QByteArray();
        QTest::newRow("NumberOfImages as a SHORT") << le(0xb001, 2) + le(3, 2) + le(1, 4) + le(2, 4);
        QTest::newRow("NumberOfImages as UNDEFINED bytes") << le(0xb001, 2) + le(7, 2) + le(4, 4) + le(2, 4);
        QTest::newRow("NumberOfImages of one") << le(0xb001, 2) + le(4, 2) + le(1, 4) + le(1, 4);
    }

    void multiPictureJpegsGoToACopy()
    {
        QFETCH(QByteArray, numberEntry);
        const QString folder = freshFolder(QStringLiteral("mpf"));
        const QString plain = writeQtImage(QDir(folder).filePath(QStringLiteral("plain.jpg")), quadrants(QSize(64, 48)), "jpeg", 90);
        const QByteArray bytes = readAll(plain);
        qsizetype table = 0;
        const QString path = writeFile(QDir(folder).filePath(QStringLiteral("pair.jpg")), multiPictureJpeg(bytes, numberEntry, &table));
        QVERIFY(lg::jpegHoldsSeveralImages(readAll(path)));
        QVERIFY(!lg::jpegHoldsSeveralImages(bytes));
        QVERIFY(!canRewriteInPlace(path, lg::ImageSource(path)));
        const QByteArray before = readAll(path);
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(turned.readable && !turned.written);
        QCOMPARE(readAll(path), before);
        QVERIFY(!turned.jpeg.isEmpty());
        QCOMPARE(lg::ImageSource::fromData(turned.jpeg, QStringLiteral("jpeg")).pixelSize(), std::optional<QSize>(QSize(48, 64)));
        const qsizetype at = turned.jpeg.indexOf(QByteArray("MPF\0", 4)) + 4;
        const auto entry = [&](int index, int field) {
            return qFromLittleEndian<quint32>(turned.jpeg.constData() + at + table + index * 16 + field * 4);
        };
        QVERIFY(turned.jpeg.endsWith(bytes));
        QCOMPARE(qsizetype(entry(0, 1)), turned.jpeg.size() - bytes.size());
        QCOMPARE(turned.jpeg.mid(at + entry(1, 2)), bytes);
        QVERIFY(!writeCGImage(turned.picture.isNull() ? quadrants(QSize(48, 64)) : turned.picture, path,
                              lg::ImageSource(path).properties()));
        QCOMPARE(readAll(path), before);
        QVERIFY(canRewriteInPlace(plain, lg::ImageSource(plain)));
    }

    // A JPEG whose arithmetic-coded data was cut short reads without a
    // warning, but its blocks, written again, would not decode (jpegtran's
    // turn of it does not): it is not turned in place, the file stays byte
    // for byte, and the reason for a copy says its data is damaged.
    void aDamagedJpegThatReadsCleanlyIsNotWrittenOver()
    {
        for (const char *tool : {"convert", "cjpeg", "djpeg", "jpegtran"})
            if (!hasTool(QString::fromLatin1(tool)))
                QSKIP("convert, cjpeg, djpeg and jpegtran are needed to make and judge the file");
        const QString folder = freshFolder(QStringLiteral("cut-arithmetic"));
        const QString ppm = QDir(folder).filePath(QStringLiteral("swirl.ppm")), made = QDir(folder).filePath(QStringLiteral("swirl.jpg"));
        const QString path = QDir(folder).filePath(QStringLiteral("cut.jpg")), flipped = QDir(folder).filePath(QStringLiteral("flipped.jpg"));
        QVERIFY(run(QStringLiteral("convert"), {"-size", "2048x1536", "gradient:red-blue", "-swirl", "200", ppm}));
        QVERIFY(run(QStringLiteral("cjpeg"), {"-arithmetic", "-quality", "90", "-outfile", made, ppm}));
        const QByteArray whole = readAll(made);
        const qsizetype scan = whole.indexOf(QByteArray::fromHex("ffda"));
        const qsizetype data = scan + 2 + ((uchar(whole[scan + 2]) << 8) | uchar(whole[scan + 3]));
        const qsizetype end = whole.lastIndexOf(QByteArray::fromHex("ffd9"));
        QByteArray damaged;
        for (int permille = 5; permille <= 300 && damaged.isEmpty(); permille += 5) {
            const QByteArray cut = whole.left(data + (end - data) * permille / 1000) + QByteArray::fromHex("ffd9");
            writeFile(path, cut);
            QFile::remove(flipped);
            QString failure;
            if (!run(QStringLiteral("djpeg"), {"-outfile", "/dev/null", path}, &failure) || !failure.isEmpty())
                continue;   // libjpeg warns of this one
            if (run(QStringLiteral("jpegtran"), {"-arithmetic", "-flip", "horizontal", "-outfile", flipped, path})
                && (!run(QStringLiteral("djpeg"), {"-outfile", "/dev/null", flipped}, &failure) || !failure.isEmpty()))
                damaged = cut;
        }
        QVERIFY2(!damaged.isEmpty(), "no cut of the picture made jpegtran write what does not decode");
        writeFile(path, damaged);
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::MirrorLeftRight, QSize());
        QVERIFY(!turned.written);
        QCOMPARE(readAll(path), damaged);
        QVERIFY(turned.jpeg.isEmpty());
        QCOMPARE(turned.notInPlace, QStringLiteral("its picture data is damaged"));
    }

    // An index whose entry table cannot be read (it shares bytes with the
    // index's own directory, or lies outside the index) is carried into the
    // copy byte for byte, never written over, and the reason for the copy
    // says so; the picture turns all the same.
    void anIndexThatCannotBeReadIsKeptAsItWasAndSaidSo_data()
    {
        QTest::addColumn<qint32>("tableShift");   // bytes the entry table's stated place moves
        QTest::newRow("entry table over its own directory") << -12;
        QTest::newRow("entry table past the index") << 4000;
    }
    void anIndexThatCannotBeReadIsKeptAsItWasAndSaidSo()
    {
        QFETCH(qint32, tableShift);
        const QString folder = freshFolder(QStringLiteral("mpf-unreadable"));
        const QByteArray bytes = readAll(writeQtImage(QDir(folder).filePath(QStringLiteral("plain.jpg")), quadrants(QSize(64, 48)), "jpeg", 90));
        qsizetype table = 0;
        QByteArray pair = multiPictureJpeg(bytes, QByteArray(), &table);
        const qsizetype header = pair.indexOf(QByteArray("MPF\0", 4)) + 4;
        const qsizetype pointer = pair.indexOf(QByteArray("\x02\xb0\x07\0\x20\0\0\0", 8), header) + 8;
        QCOMPARE(qFromLittleEndian<quint32>(pair.constData() + pointer), quint32(table));
        qToLittleEndian<quint32>(quint32(table + tableShift), pair.data() + pointer);
        const QByteArray index = pair.mid(header - 8, 4 + 4 + table + 32);
        const QString path = writeFile(QDir(folder).filePath(QStringLiteral("pair.jpg")), pair);
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(turned.readable && !turned.written);
        QCOMPARE(readAll(path), pair);
        QVERIFY(!turned.jpeg.isEmpty());
        QCOMPARE(lg::ImageSource::fromData(turned.jpeg, QStringLiteral("jpeg")).pixelSize(), std::optional<QSize>(QSize(48, 64)));
        QVERIFY(turned.jpeg.contains(index));
        QVERIFY(turned.jpeg.endsWith(bytes));
        QVERIFY2(turned.notInPlace.contains(QLatin1String("index of its further pictures cannot be read")), qPrintable(turned.notInPlace));
    }

    // A picture whose content is not the type its extension names is never
    // written as that type over itself (it would lose its depth, alpha, text,
    // encoding or what follows its end): the file stays byte for byte and the
    // turned picture comes back for a copy; a JPEG's copy is the JPEG turned
    // with all it holds.
    void aPictureOfAnotherTypeThanItsNameStaysAsItIs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::newRow("16-bit PNG with alpha and text, named .jpg") << "png" << "photo.jpg";
        QTest::newRow("HEIC named .jpg") << "heic" << "photo.jpg";
        QTest::newRow("lossless WebP named .jpg") << "webp" << "photo.jpg";
        QTest::newRow("LZW TIFF named .jpg") << "tiff" << "photo.jpg";
        QTest::newRow("JPEG with a video after its end, named .png") << "jpeg" << "photo.png";
        QTest::newRow("PNG named .tif") << "png" << "photo.tif";
    }

    void aPictureOfAnotherTypeThanItsNameStaysAsItIs()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        const QString folder = freshFolder(QStringLiteral("misnamed"));
        const QString made = QDir(folder).filePath(QStringLiteral("made.") + kind);
        const QImage picture = quadrants(QSize(40, 30));
        const QByteArray video = QByteArray("\0\0\0\x18" "ftypmp42", 12) + QByteArray(500, '\x07');
        QString written;
        if (kind == QLatin1String("png")) {
            QImage deep = picture.convertToFormat(QImage::Format_RGBA64);
            deep.setPixelColor(0, 0, QColor(10, 20, 30, 40));
            deep.setText(QStringLiteral("Comment"), QStringLiteral("kept as text"));
            written = writeQtImage(made, deep, "png");
        } else if (kind == QLatin1String("heic")) {
            written = writeHeic(made, picture);
            if (written.isEmpty())
                QSKIP("heif-enc is not installed");
        } else if (kind == QLatin1String("webp")) {
            if (!QImageWriter::supportedImageFormats().contains("webp"))
                QSKIP("Qt writes no WebP here");
            written = writeQtImage(made, picture, "webp", 100);
            QCOMPARE(readAll(written).mid(12, 4), QByteArray("VP8L"));   // lossless
        } else if (kind == QLatin1String("tiff")) {
            const QString png = writeQtImage(QDir(folder).filePath(QStringLiteral("s.png")), picture, "png");
            written = convert(png, made, {"-compress", "LZW"});
            if (written.isEmpty())
                QSKIP("convert is not installed");
        } else {
            written = writeQtImage(made, picture, "jpeg", 90);
            QVERIFY(!written.isEmpty());
            writeFile(written, readAll(written) + video);
        }
        QVERIFY(!written.isEmpty());
        const QString path = QDir(folder).filePath(name);
        QVERIFY(QFile::rename(written, path));
        const QByteArray before = readAll(path);
        const lg::ImageSource source(path);
        QVERIFY(source.isValid());
        QVERIFY(!canRewriteInPlace(path, source));

        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize(20, 20));
        QVERIFY(turned.readable);
        QVERIFY(!turned.written);
        QCOMPARE(readAll(path), before);
        QCOMPARE(turned.pixelSize, QSize(30, 40));
        if (kind == QLatin1String("jpeg")) {
            QVERIFY(turned.jpeg.endsWith(video));
            QCOMPARE(lg::ImageSource::fromData(turned.jpeg, QStringLiteral("jpeg")).pixelSize(), std::optional<QSize>(QSize(30, 40)));
        } else {
            QCOMPARE(turned.picture.size(), QSize(30, 40));
            expectCorners(turned.picture, corners(lg::turnedImage(picture, lg::PictureTurn::RotateRight)));
        }
        // Nor does a save under that name write over it.
        QVERIFY(!writeCGImage(lg::turnedImage(picture, lg::PictureTurn::RotateRight), path, source.properties()));
        QCOMPARE(readAll(path), before);
    }

    // Orientation stored as two values ("6 6"): the pixels are turned by the
    // first, as the viewer shows them, and the file keeps one value: 1 where
    // the blocks moved, the turn composed with the first (3) where they could not.
    void anOrientationOfTwoValuesBecomesOneValueOne_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<long>("wanted");
        QTest::newRow("whole blocks") << QSize(64, 48) << 1L;
        QTest::newRow("partial blocks") << QSize(50, 30) << 3L;
    }

    void anOrientationOfTwoValuesBecomesOneValueOne()
    {
        QFETCH(QSize, size);
        QFETCH(long, wanted);
        const QString path = writeJpeg(QDir(freshFolder(QStringLiteral("two-values"))).filePath(QStringLiteral("p.jpg")),
                                       storedForOrientation(quadrants(size), 6), 6, 95);
        QVERIFY(!path.isEmpty());
        QVERIFY(setMetadata(path, {{"Exif.Image.Orientation", "6 6"}}));
        QCOMPARE(metadataValue(path, QStringLiteral("Exif.Image.Orientation")), QStringLiteral("6 6"));
        const QImage shown = *lg::ImageSource(path).image();
        expectCorners(shown, corners(quadrants(size)));

        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(turned.readable && turned.written);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        const auto orientation = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        QVERIFY(orientation != image->exifData().end());
        QCOMPARE(orientation->count(), 1L);
        QCOMPARE(orientation->toLong(), wanted);
        const QImage after = *lg::ImageSource(path).image();
        QCOMPARE(after.size(), size.transposed());
        expectCorners(after, corners(lg::turnedImage(quadrants(size), lg::PictureTurn::RotateRight)));
    }

    // A JPEG that may not be written comes back ready for its copy, turned
    // without loss like the file would have been: same quality, same subsampling.
    void aReadOnlyJpegsCopyIsTurnedWithoutLoss()
    {
        const QString path = photographersFile(QDir(freshFolder(QStringLiteral("ro-jpeg"))).filePath(QStringLiteral("p.jpg")),
                                               QSize(64, 48));
        QVERIFY(!path.isEmpty());
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
        const QByteArray before = readAll(path);
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(turned.readable && !turned.written);
        QCOMPARE(readAll(path), before);
        const std::optional<lg::TurnedJpeg> lossless = lg::turnJpegLosslessly(before, lg::PictureTurn::RotateRight);
        QVERIFY(lossless);
        QCOMPARE(turned.jpeg, lossless->bytes);
        QCOMPARE(lg::estimatedJpegQuality(turned.jpeg), std::optional<int>(97));
        QCOMPARE(turned.picture.size(), QSize(48, 64));
    }

    // A grey JPEG whose frame states the factors of a colour one (as
    // ImageMagick writes a grey picture with 4:2:0 asked for) is read a block
    // at a time, as libjpeg reads its lone component: turned in place, its
    // blocks moved as jpegtran -perfect moves them, never encoded again.
    void aGreyJpegWithChromaFactorsIsTurnedInPlace_data()
    {
        QTest::addColumn<QString>("factors");
        QTest::addColumn<QSize>("size");
        QTest::newRow("2x2, edges not whole 2x2 MCUs") << "2x2" << QSize(88, 56);
        QTest::newRow("2x1") << "2x1" << QSize(64, 48);
        QTest::newRow("1x2") << "1x2" << QSize(64, 48);
        QTest::newRow("4x1, width not whole 4x1 MCUs") << "4x1" << QSize(72, 48);
    }
    void aGreyJpegWithChromaFactorsIsTurnedInPlace()
    {
        QFETCH(QString, factors);
        QFETCH(QSize, size);
        if (!hasTool(QStringLiteral("convert")) || !hasTool(QStringLiteral("jpegtran")))
            QSKIP("convert and jpegtran are needed to make and judge the file");
        const QString folder = freshFolder(QStringLiteral("grey-factors"));
        const QString source = writeQtImage(QDir(folder).filePath(QStringLiteral("s.png")), quadrants(size), "png");
        const QString path = convert(source, QDir(folder).filePath(QStringLiteral("grey.jpg")),
                                     {"-colorspace", "Gray", "-sampling-factor", factors, "-quality", "90"});
        QVERIFY(!path.isEmpty());
        const QString reference = QDir(folder).filePath(QStringLiteral("jpegtran.jpg"));
        QVERIFY(run(QStringLiteral("jpegtran"), {"-perfect", "-rotate", "90", "-outfile", reference, path}));
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY2(turned.readable && turned.written, qPrintable(turned.notInPlace + turned.error));
        QCOMPARE(metadataValue(path, QStringLiteral("Exif.Image.Orientation")), QString());  // the blocks moved
        const QImage picture = *lg::ImageSource(path).image();
        QCOMPARE(picture.size(), size.transposed());
        QCOMPARE(picture, *lg::ImageSource(reference).image());
    }

    // A rewritten TIFF keeps its compression and its 16 bits; a rewritten PNG
    // its gamma, chromaticities and background colour.
    void aRewriteKeepsHowTheFileStoredItsPixels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("16-bit LZW TIFF, predictor") << "deep.tif"
                                                    << QStringList {"-depth", "16", "-compress", "LZW", "-define", "tiff:predictor=2"};
        QTest::newRow("8-bit Deflate TIFF") << "zip.tif" << QStringList {"-depth", "8", "-compress", "Zip"};
        QTest::newRow("16-bit PackBits TIFF") << "rle.tif" << QStringList {"-depth", "16", "-compress", "RLE"};
        QTest::newRow("PNG with gAMA, cHRM, bKGD") << "colour.png"
                                                  << QStringList {"-background", "#336699", "-define", "png:include-chunk=gAMA,cHRM,bKGD",
                                                                 "-define", "png:color-type=2"};
        QTest::newRow("16-bit PNG with gAMA, cHRM, bKGD") << "deep.png"
                                                         << QStringList {"-depth", "16", "-background", "#336699", "-define",
                                                                         "png:include-chunk=gAMA,cHRM,bKGD", "-define",
                                                                         "png:color-type=2", "-define", "png:bit-depth=16"};
    }
    void aRewriteKeepsHowTheFileStoredItsPixels()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, arguments);
        if (!hasTool(QStringLiteral("convert")))
            QSKIP("convert is not installed");
        const QString folder = freshFolder(QStringLiteral("encoding"));
        // No colour profile: ImageMagick writes gAMA and cHRM then.
        const QString source = writeQtImage(QDir(folder).filePath(QStringLiteral("s.png")), quadrants(QSize(120, 80)), "png");
        const QString path = convert(source, QDir(folder).filePath(name), arguments);
        QVERIFY(!path.isEmpty());
        const lg::SourceEncoding before = lg::SourceEncoding::read(path);
        const qint64 bytesBefore = QFileInfo(path).size();
        const int depth = lg::ImageSource(path).properties().depth;
        const QImage upright = *lg::ImageSource(path).image();
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        QVERIFY(turned.written);
        expectCorners(*lg::ImageSource(path).image(), corners(lg::turnedImage(upright, lg::PictureTurn::RotateRight)));
        QCOMPARE(lg::ImageSource(path).properties().depth, depth);
        const lg::SourceEncoding after = lg::SourceEncoding::read(path);
        if (name.endsWith(QLatin1String(".tif"))) {
            QVERIFY(before.tiffCompression > 1);
            QCOMPARE(after.tiffCompression, before.tiffCompression);
            QCOMPARE(after.tiffPredictor, before.tiffPredictor);
            if (name == QLatin1String("deep.tif"))
                QCOMPARE(after.tiffPredictor, 2);
            QVERIFY2(QFileInfo(path).size() < bytesBefore * 3 / 2,
                     qPrintable(QStringLiteral("%1 bytes, %2 before").arg(QFileInfo(path).size()).arg(bytesBefore)));
            return;
        }
        for (const char *type : {"gAMA", "cHRM", "bKGD"}) {
            const qsizetype at = before.pngChunks.indexOf(type);
            QVERIFY2(at >= 4, type);
            const quint32 length = qFromBigEndian<quint32>(before.pngChunks.constData() + at - 4);
            const QByteArray chunk = before.pngChunks.mid(at - 4, 12 + length);
            QVERIFY2(after.pngChunks.contains(chunk), type);
        }
    }

    void jpegQualityIsEstimatedFromTheTables_data()
    {
        QTest::addColumn<int>("quality");
        for (int quality : {20, 50, 75, 90, 97})
            QTest::addRow("%d", quality) << quality;
    }

    void jpegQualityIsEstimatedFromTheTables()
    {
        QFETCH(int, quality);
        const QString path = writeQtImage(QDir(freshFolder(QStringLiteral("q"))).filePath(QStringLiteral("q.jpg")),
                                          quadrants(QSize(16, 16)), "jpeg", quality);
        QCOMPARE(lg::estimatedJpegQuality(readAll(path)), std::optional<int>(quality));
        QCOMPARE(lg::estimatedJpegQuality(QByteArray("not a picture")), std::optional<int>());
    }

    void pictData()
    {
        const QString folder = freshFolder(QStringLiteral("pict"));
        const QString png = writeQtImage(QDir(folder).filePath(QStringLiteral("p.png")), quadrants(QSize(16, 16)), "png");
        QVERIFY(!ImageHelperMethods::getPICTRepData(png));
        const QString pict = convert(png, QStringLiteral("PICT:") + QDir(folder).filePath(QStringLiteral("p.pict")));
        if (pict.isEmpty())
            QSKIP("convert is not installed");
        const std::optional<QByteArray> data = ImageHelperMethods::getPICTRepData(pict);
        QVERIFY(data);
        QCOMPARE(*data, readAll(pict));
    }
};

LG_TEST(ImageTransformsTest)
#include "test_imagetransforms.moc"
