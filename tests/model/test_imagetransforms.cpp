// Turning, mirroring and writing images for the viewer's rotate, flip and save.
#include "model/ImageTransforms.h"
#include "tests/model/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cmath>

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
