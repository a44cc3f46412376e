// Writing pictures: every writable type reads back, a failed write leaves the
// old file alone, metadata travels with orientation 1.
#include "platform/ImageSource.h"
#include "platform/ImageWriter.h"
#include "platform/PictureMetadata.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <sys/stat.h>
#include <sys/xattr.h>

using namespace lg::test;
using namespace lg::test::fixtures;
using lg::ImageFileType;

// The HEVC encoder keeps a few small blocks until the process ends; LeakSanitizer
// (LG_SANITIZE builds) is not to count them against us.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}

Q_DECLARE_METATYPE(lg::ImageFileType)

namespace {
using lg::test::readAll;

// The Exif thumbnail of the file; null when it has none.
QImage exifThumbnailOf(const QString &path)
{
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    const Exiv2::DataBuf data = Exiv2::ExifThumbC(image->exifData()).copy();
    return data.size_ > 0 ? QImage::fromData(data.pData_, int(data.size_)) : QImage();
}

QString exifValue(const QString &path, const char *key)
{
    return metadataValue(path, QString::fromLatin1(key));
}

} // namespace

class ImageWriterTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { lg::ImageWriter::setCommitHookForTesting({}); }

    void everyWritableTypeReadsBack_data()
    {
        QTest::addColumn<ImageFileType>("type");
        QTest::addColumn<QString>("readType");
        QTest::newRow("jpeg") << ImageFileType::JPEG << "jpeg";
        QTest::newRow("png") << ImageFileType::PNG << "png";
        QTest::newRow("tiff") << ImageFileType::TIFF << "tiff";
        QTest::newRow("gif") << ImageFileType::GIF << "gif";
        QTest::newRow("pict") << ImageFileType::PICT << "pict";
        QTest::newRow("jpeg2000") << ImageFileType::JPEG2000 << "jp2";
        QTest::newRow("icns") << ImageFileType::AppleIcon << "icns";
        QTest::newRow("bmp") << ImageFileType::BMP << "bmp";
        QTest::newRow("ico") << ImageFileType::WindowsIcon << "ico";
        QTest::newRow("heic") << ImageFileType::HEIC << "heic";
        QTest::newRow("tga") << ImageFileType::TGA << "tga";
    }

    void everyWritableTypeReadsBack()
    {
        QFETCH(ImageFileType, type);
        QFETCH(QString, readType);
        QVERIFY(lg::ImageWriter::canWrite(type));
        const QImage picture = quadrants(QSize(64, 48));
        const QString path = QDir(freshFolder(readType)).filePath(QStringLiteral("picture.") + lg::ImageWriter::preferredExtension(type));
        QString error;
        QVERIFY2(lg::ImageWriter::write(picture, path, type, {}, &error), qPrintable(error));
        const lg::ImageSource source(path);
        QCOMPARE(source.type(), readType);
        const std::optional<QImage> back = source.image();
        QVERIFY(back);
        if (type == ImageFileType::AppleIcon) {
            QCOMPARE(back->size(), QSize(64, 64));  // a square, the picture centred in it
            QCOMPARE(back->pixelColor(32, 2).alpha(), 0);
            QVERIFY(near(back->pixelColor(8, 16), Qt::red));
            return;
        }
        QCOMPARE(back->size(), picture.size());
        for (Corner corner : {TopLeft, TopRight, BottomLeft, BottomRight})
            QVERIFY2(near(quarterColor(*back, corner), quarterColor(picture, corner)), qPrintable(QString::number(int(corner))));
    }

    void quickTimeImagesAreNotWritable()
    {
        QVERIFY(!lg::ImageWriter::canWrite(ImageFileType::QuickTimeImage));
        const QString path = writeFile(QDir(freshFolder(QStringLiteral("qtif"))).filePath(QStringLiteral("p.qtif")), "old");
        QString error;
        QVERIFY(!lg::ImageWriter::write(quadrants(QSize(8, 8)), path, ImageFileType::QuickTimeImage, {}, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(readAll(path), QByteArray("old"));
    }

    // A write that fails at any point leaves the old file as it was and no
    // temporary file behind.
    void failedWriteLeavesOldFile()
    {
        const QString folder = freshFolder(QStringLiteral("atomic"));
        const QString path = writeFile(QDir(folder).filePath(QStringLiteral("p.png")), "old content");
        QString error;

        QString seenTemporary;
        lg::ImageWriter::setCommitHookForTesting([&seenTemporary](const QString &temporary) {
            seenTemporary = temporary;
            return false;  // fail just before the rename
        });
        QVERIFY(!lg::ImageWriter::write(quadrants(QSize(8, 8)), path, ImageFileType::PNG, {}, &error));
        QVERIFY(!error.isEmpty());
        lg::ImageWriter::setCommitHookForTesting({});
        QCOMPARE(QFileInfo(seenTemporary).absolutePath(), QFileInfo(path).absolutePath());  // beside the target
        QCOMPARE(readAll(path), QByteArray("old content"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList {"p.png"});

        QVERIFY(!lg::ImageWriter::write(QImage(), path, ImageFileType::PNG, {}, &error));
        QCOMPARE(readAll(path), QByteArray("old content"));

        const QString gone = QDir(folder).filePath(QStringLiteral("no-such-folder/p.png"));
        error.clear();
        QVERIFY(!lg::ImageWriter::write(quadrants(QSize(8, 8)), gone, ImageFileType::PNG, {}, &error));
        QVERIFY(error.contains(QStringLiteral("no-such-folder")));

        // The same write without the injected failure replaces the file.
        QVERIFY(lg::ImageWriter::write(quadrants(QSize(8, 8)), path, ImageFileType::PNG, {}, &error));
        QCOMPARE(lg::ImageSource(path).type(), QStringLiteral("png"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList {"p.png"});
    }

    void replaceKeepsPermissionsAttributesAndFollowsLinks()
    {
        const QString folder = freshFolder(QStringLiteral("perm"));
        const QString path = writeFile(QDir(folder).filePath(QStringLiteral("p.png")), "old");
        const QByteArray native = QFile::encodeName(path);
        QVERIFY(::chmod(native.constData(), 0640) == 0);
        QVERIFY(::setxattr(native.constData(), "user.xdg.tags", "red", 3, 0) == 0);
        QVERIFY(::setxattr(native.constData(), "user.rating", "", 0, 0) == 0);
        QVERIFY(lg::ImageWriter::write(quadrants(QSize(8, 8)), path, ImageFileType::PNG));
        struct stat st {};
        QVERIFY(::stat(native.constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0640);
        const lg::ExtendedAttributes kept = lg::readExtendedAttributes(path);
        QCOMPARE(kept.size(), 2);
        QVERIFY(kept.contains(qMakePair(QByteArray("user.xdg.tags"), QByteArray("red"))));
        QVERIFY(kept.contains(qMakePair(QByteArray("user.rating"), QByteArray())));

        const QString link = QDir(folder).filePath(QStringLiteral("link.png"));
        QVERIFY(QFile::link(path, link));
        QVERIFY(lg::ImageWriter::write(quadrants(QSize(12, 10)), link, ImageFileType::PNG));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(lg::ImageSource(path).pixelSize(), std::optional<QSize>(QSize(12, 10)));
    }

    // The old picture's Exif, IPTC and XMP go into the new file with
    // orientation 1 and a thumbnail made from the new pixels (none in TIFF,
    // where a second directory would be a second page).
    void metadataTravelsWithOrientationOne_data()
    {
        QTest::addColumn<ImageFileType>("type");
        QTest::newRow("jpeg") << ImageFileType::JPEG;
        QTest::newRow("tiff") << ImageFileType::TIFF;
        QTest::newRow("png") << ImageFileType::PNG;
        QTest::newRow("heic") << ImageFileType::HEIC;
    }

    void metadataTravelsWithOrientationOne()
    {
        QFETCH(ImageFileType, type);
        const QString folder = freshFolder(QStringLiteral("meta"));
        const QImage upright = quadrants(QSize(300, 200));
        const QString original = writeJpeg(QDir(folder).filePath(QStringLiteral("o.jpg")), storedForOrientation(upright, 6), 6);
        {   // the original gets an Exif thumbnail of its stored, sideways pixels
            Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(original).toStdString());
            image->readMetadata();
            const QByteArray jpeg = readAll(writeQtImage(QDir(folder).filePath(QStringLiteral("t.jpg")),
                                                         storedForOrientation(quadrants(QSize(60, 40)), 6), "jpeg"));
            Exiv2::ExifThumb(image->exifData()).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(jpeg.constData()),
                                                                 long(jpeg.size()));
            image->writeMetadata();
        }
        QVERIFY(!exifThumbnailOf(original).isNull());
        QVERIFY(setMetadata(original, {{"Xmp.xmp.Rating", "5"}, {"Xmp.tiff.Orientation", "6"}}));
        const lg::ImageSource source(original);
        const lg::ImageProperties properties = source.properties();
        QCOMPARE(properties.orientation, 6);

        const QString target = QDir(folder).filePath(QStringLiteral("n.") + lg::ImageWriter::preferredExtension(type));
        QVERIFY(lg::ImageWriter::write(*source.image(), target, type, lg::ImageWriteOptions::fromProperties(properties)));
        const lg::ImageSource written(target);
        QCOMPARE(written.pixelSize(), std::optional<QSize>(QSize(300, 200)));
        QCOMPARE(exifValue(target, "Exif.Image.Orientation"), QStringLiteral("1"));
        QCOMPARE(exifValue(target, "Exif.Image.Make"), QStringLiteral("Lumen"));
        if (type == ImageFileType::HEIC)
            return;  // exiv2 reads HEIC metadata but does not write it
        QCOMPARE(written.properties().orientation, 1);
        QCOMPARE(exifValue(target, "Exif.Photo.PixelXDimension"), QStringLiteral("300"));
        QCOMPARE(metadataValue(target, QStringLiteral("Xmp.xmp.Rating")), QStringLiteral("5"));
        QCOMPARE(metadataValue(target, QStringLiteral("Xmp.tiff.Orientation")), QStringLiteral("1"));
        const QImage thumbnail = exifThumbnailOf(target);
        if (type == ImageFileType::TIFF)
            QVERIFY(thumbnail.isNull());
        else
            QVERIFY(thumbnail.width() > thumbnail.height());   // upright, as the new pixels
        bool caption = false;
        for (const auto &group : written.properties().groups)
            if (group.first == QLatin1String("IPTC"))
                caption = true;
        QVERIFY(caption);
    }

    void largeHeicCarriesAThumbnail()
    {
        const QString path = QDir(freshFolder(QStringLiteral("heic"))).filePath(QStringLiteral("big.heic"));
        QVERIFY(lg::ImageWriter::write(quadrants(QSize(1200, 800)), path, ImageFileType::HEIC));
        heif_context *context = heif_context_alloc();
        QCOMPARE(heif_context_read_from_file(context, QFile::encodeName(path).constData(), nullptr).code, heif_error_Ok);
        heif_image_handle *primary = nullptr;
        QCOMPARE(heif_context_get_primary_image_handle(context, &primary).code, heif_error_Ok);
        QCOMPARE(heif_image_handle_get_number_of_thumbnails(primary), 1);
        heif_image_handle_release(primary);
        heif_context_free(context);
        QCOMPARE(lg::ImageSource(path).thumbnail(256)->size(), QSize(256, 171));  // from the embedded 320 × 213 one
    }
};

LG_TEST(ImageWriterTest)
#include "test_imagewriter.moc"
