// Writing pictures: every writable type reads back, a failed write leaves the
// old file alone, metadata travels with orientation 1.
#include "platform/image/ImageSource.h"
#include "platform/image/ImageWriter.h"
#include "platform/image/PictureMetadata.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <QtTest>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <atomic>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

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
std::atomic<int> umaskCalls{0};
} // namespace

// Every umask() call made in this test program passes here, on its way to the kernel.
extern "C" mode_t umask(mode_t mask) noexcept
{
    ++umaskCalls;
    return mode_t(::syscall(SYS_umask, mask));
}

namespace {

// The process's umask as the kernel tells it, without setting it.
mode_t umaskNow()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("Umask:"))
            return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
    return 0;
}
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
        QVERIFY2(!error.contains(QStringLiteral("No such file")), qPrintable(error));   // said in words of ours

        // The same write without the injected failure replaces the file.
        QVERIFY(lg::ImageWriter::write(quadrants(QSize(8, 8)), path, ImageFileType::PNG, {}, &error));
        QCOMPARE(lg::ImageSource(path).type(), QStringLiteral("png"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList {"p.png"});
    }

    // A picture written where none was gets the permissions the umask leaves
    // it, the umask being read once at start: a write never sets it, which
    // would leave what other threads make meanwhile open to everyone.
    void aNewPictureGetsTheUmasksModeWithoutSettingIt()
    {
        if (!QFileInfo::exists(QStringLiteral("/proc/self/status")))
            QSKIP("/proc is needed to read the umask");
        const QString folder = freshFolder(QStringLiteral("umask"));
        const int before = umaskCalls.load();
        QString error;
        const QString picture = QDir(folder).filePath(QStringLiteral("new.png"));
        QVERIFY2(lg::ImageWriter::write(quadrants(QSize(8, 8)), picture, ImageFileType::PNG, {}, &error),
                 qPrintable(error));
        const QString bytes = QDir(folder).filePath(QStringLiteral("new.jpg"));
        QVERIFY2(lg::ImageWriter::replaceFileContents(bytes, "bytes", &error), qPrintable(error));
        QCOMPARE(umaskCalls.load(), before);
        for (const QString &path : {picture, bytes}) {
            struct stat st;
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 07777), int(0666 & ~umaskNow()));
        }
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

    // The POSIX access list travels with the file: the user it names keeps
    // write, the group gains none, and the permission bits stay as they were.
    void replaceKeepsTheAccessList()
    {
        const QString path = writeFile(QDir(freshFolder(QStringLiteral("acl"))).filePath(QStringLiteral("p.png")), "old");
        const QByteArray native = QFile::encodeName(path);
        // user::rw- user:nobody:rw- group::r-- mask::rw- other::r--, as setfacl -m u:nobody:rw makes it.
        const auto entry = [](quint16 tag, quint16 perm, quint32 id) {
            QByteArray e(8, 0);
            qToLittleEndian(tag, e.data());
            qToLittleEndian(perm, e.data() + 2);
            qToLittleEndian(id, e.data() + 4);
            return e;
        };
        QByteArray acl(4, 0);
        qToLittleEndian<quint32>(2, acl.data());
        acl += entry(0x01, 6, 0xffffffffu) + entry(0x02, 6, 65534) + entry(0x04, 4, 0xffffffffu) + entry(0x10, 6, 0xffffffffu)
             + entry(0x20, 4, 0xffffffffu);
        if (::setxattr(native.constData(), "system.posix_acl_access", acl.constData(), size_t(acl.size()), 0) != 0)
            QSKIP("the file system here keeps no access lists");
        QVERIFY(::setxattr(native.constData(), "user.xdg.tags", "red", 3, 0) == 0);
        struct stat before {};
        QVERIFY(::stat(native.constData(), &before) == 0);
        QCOMPARE(int(before.st_mode & 0777), 0664);  // the group bits show the mask

        QVERIFY(lg::ImageWriter::write(quadrants(QSize(8, 8)), path, ImageFileType::PNG));
        QByteArray kept(256, 0);
        const ssize_t got = ::getxattr(native.constData(), "system.posix_acl_access", kept.data(), size_t(kept.size()));
        QVERIFY(got > 0);
        QCOMPARE(kept.left(got), acl);
        struct stat after {};
        QVERIFY(::stat(native.constData(), &after) == 0);
        QCOMPARE(int(after.st_mode & 07777), int(before.st_mode & 07777));
        QVERIFY(lg::readExtendedAttributes(path).contains(qMakePair(QByteArray("user.xdg.tags"), QByteArray("red"))));
    }

    // An Exif block near the 64 KB a JPEG holds, with a small thumbnail: the
    // new picture's thumbnail would not fit, so only the thumbnail goes; every
    // tag is kept.
    void exifNearTheLimitKeepsEveryTagInANewJpeg()
    {
        lg::ImageWriteOptions options;
        {
            Exiv2::ExifData exif;
            exif["Exif.Image.Make"] = "Lumen";
            exif["Exif.Image.Orientation"] = uint16_t(6);
            exif["Exif.Photo.UserComment"] = "charset=Ascii " + std::string(63500, 'c');
            const QByteArray small = readAll(writeQtImage(QDir(freshFolder(QStringLiteral("near"))).filePath(QStringLiteral("t.jpg")),
                                                          quadrants(QSize(16, 12)), "jpeg", 30));
            Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(small.constData()), long(small.size()));
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
            options.metadata.exif = QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
        }
        QVERIFY(options.metadata.exif.size() > 63500);
        options.keepAllMetadata = true;
        const QString path = QDir(freshFolder(QStringLiteral("near"))).filePath(QStringLiteral("p.jpg"));
        QString error;
        QVERIFY2(lg::ImageWriter::write(quadrants(QSize(600, 400)), path, ImageFileType::JPEG, options, &error), qPrintable(error));
        QVERIFY(metadataValue(path, QStringLiteral("Exif.Photo.UserComment")).endsWith(QString(63500, QLatin1Char('c'))));
        QCOMPARE(exifValue(path, "Exif.Image.Make"), QStringLiteral("Lumen"));
        QCOMPARE(exifValue(path, "Exif.Image.Orientation"), QStringLiteral("1"));
        QVERIFY(exifThumbnailOf(path).isNull());

        // What a written file does not hold is named.
        lg::PictureMetadata wanted;
        wanted.exif = options.metadata.exif;
        wanted.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
        const QByteArray bare = readAll(writeQtImage(QDir(freshFolder(QStringLiteral("near"))).filePath(QStringLiteral("b.jpg")),
                                                     quadrants(QSize(8, 8)), "jpeg"));
        const QString lost = lg::lostMetadata(wanted, QSize(8, 8), bare);
        QVERIFY2(lost.contains(QStringLiteral("Exif.Photo.UserComment")) && lost.contains(QStringLiteral("XMP")), qPrintable(lost));
        QCOMPARE(lg::lostMetadata(wanted, QSize(600, 400), readAll(path)), QStringLiteral("XMP"));
    }

    // A rewrite is checked against the file the metadata came from, not only
    // against what was handed to the writer: what went missing on the way is named.
    void aRewriteIsCheckedAgainstItsSourceFile()
    {
        const QString folder = freshFolder(QStringLiteral("against-source"));
        const QString source = writeQtImage(QDir(folder).filePath(QStringLiteral("s.tif")), quadrants(QSize(16, 12)), "tiff");
        const QString lesser = writeQtImage(QDir(folder).filePath(QStringLiteral("l.tif")), quadrants(QSize(16, 12)), "tiff");
        QVERIFY(setMetadata(source, {{"Exif.Image.Make", "Lumen"}, {"Exif.Photo.UserComment", "charset=Ascii kept"},
                                     {"Xmp.xmp.Rating", "3"}}));
        QVERIFY(setMetadata(lesser, {{"Exif.Image.Make", "Lumen"}}));
        QCOMPARE(lg::PictureMetadata::read(source).file, source);

        lg::ImageWriteOptions options;
        options.keepAllMetadata = true;
        options.metadata = lg::PictureMetadata::read(lesser);
        QString error;
        QVERIFY2(lg::ImageWriter::encode(quadrants(QSize(12, 16)), ImageFileType::TIFF, options, &error), qPrintable(error));
        options.metadata.file = source;  // handed less than the file holds
        QVERIFY(!lg::ImageWriter::encode(quadrants(QSize(12, 16)), ImageFileType::TIFF, options, &error));
        QVERIFY2(error.contains(QStringLiteral("Exif.Photo.UserComment")) && error.contains(QStringLiteral("XMP"))
                     && !error.contains(QStringLiteral("Exif.Image.Make")),
                 qPrintable(error));
        options.metadata.file = QDir(folder).filePath(QStringLiteral("gone.tif"));
        QVERIFY(!lg::ImageWriter::encode(quadrants(QSize(12, 16)), ImageFileType::TIFF, options, &error));
    }

    // The check compares each tag's value, not only its key and size: a
    // rewrite whose Exif, XMP or IPTC values differ from the source file's
    // (same lengths) names each of them, and nothing is written.
    void aRewriteIsCheckedValueForValue()
    {
        const QString folder = freshFolder(QStringLiteral("values"));
        const QString source = writeQtImage(QDir(folder).filePath(QStringLiteral("s.tif")), quadrants(QSize(16, 12)), "tiff");
        const QString other = writeQtImage(QDir(folder).filePath(QStringLiteral("o.tif")), quadrants(QSize(16, 12)), "tiff");
        QVERIFY(setMetadata(source, {{"Exif.Image.Make", "Lumen"}, {"Exif.Photo.UserComment", "charset=Ascii kept"},
                                     {"Xmp.xmp.Rating", "3"}, {"Iptc.Application2.Keywords", "beach"}}));
        QVERIFY(setMetadata(other, {{"Exif.Image.Make", "Lumen"}, {"Exif.Photo.UserComment", "charset=Ascii kelp"},
                                    {"Xmp.xmp.Rating", "2"}, {"Iptc.Application2.Keywords", "bench"}}));
        lg::ImageWriteOptions options;
        options.keepAllMetadata = true;
        options.metadata = lg::PictureMetadata::read(other);
        QString error;
        QVERIFY2(lg::ImageWriter::encode(quadrants(QSize(12, 16)), ImageFileType::TIFF, options, &error), qPrintable(error));
        options.metadata.file = source;  // handed other values than the file holds
        QVERIFY(!lg::ImageWriter::encode(quadrants(QSize(12, 16)), ImageFileType::TIFF, options, &error));
        for (const char *key : {"Exif.Photo.UserComment", "Xmp.xmp.Rating", "Iptc.Application2.Keywords"})
            QVERIFY2(error.contains(QLatin1String(key)), qPrintable(error));
        QVERIFY2(!error.contains(QStringLiteral("Exif.Image.Make")), qPrintable(error));
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

    // A picture whose name is near the system's limit is rewritten all the
    // same, and nothing is left beside it.
    void namesNearTheLimitAreRewrittenInPlace()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("long rotate"));
        const QString name = QString(247, QLatin1Char('r')) + ".jpg";
        const QString photo = lg::test::writeFile(folder + "/" + name, "old");
        QString error;
        QVERIFY2(lg::ImageWriter::replaceFileContents(photo, "rotated", &error), qPrintable(error));
        QCOMPARE(lg::test::readAll(photo), QByteArray("rotated"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{name});
    }
};

LG_TEST(ImageWriterTest)
#include "test_imagewriter.moc"
