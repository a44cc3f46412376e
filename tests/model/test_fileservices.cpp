// Folder listings, thumbnails, size texts, the alias test and the database paths.
#include "model/FileServices.h"
#include "platform/image/ImageSource.h"
#include "platform/desktop/Paths.h"
#include "platform/runtime/Background.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <numeric>

namespace {

namespace fx = lg::test::fixtures;

QSet<QString> asSet(const QStringList &list)
{
    return QSet<QString>(list.begin(), list.end());
}

QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, 95))
        qFatal("cannot encode a %s fixture", format);
    return bytes;
}

// A portrait, red at the top and blue at the bottom, stored turned a quarter
// to the left with the Exif orientation 6 ("turn right to show").
QString sidewaysPortraitJpeg(const QString &path, int longSide, int shortSide)
{
    QImage upright(shortSide, longSide, QImage::Format_RGB32);
    QPainter painter(&upright);
    painter.fillRect(0, 0, shortSide, longSide / 2, Qt::red);
    painter.fillRect(0, longSide / 2, shortSide, longSide - longSide / 2, Qt::blue);
    painter.end();
    return fx::writeJpeg(path, fx::storedForOrientation(upright, 6), 6, 95);
}

// A half-second MPEG-4 test picture of 320 x 240.
QString testClip(const QString &path, const QString &seconds = QStringLiteral("0.5"))
{
    return fx::writeVideo(path, QStringLiteral("testsrc=size=320x240:rate=10:duration=") + seconds,
                          {QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:v"),
                           QStringLiteral("mpeg4")});
}

bool isReddish(QRgb c) { return qRed(c) > 180 && qBlue(c) < 90 && qGreen(c) < 90; }
bool isBluish(QRgb c) { return qBlue(c) > 180 && qRed(c) < 90 && qGreen(c) < 90; }

int lineCount(const QByteArray &text) { return int(text.count('\n')); }

} // namespace

class FileServicesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void humanReadableSize_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0 bytes");
        QTest::newRow("negative") << -5.0 << QStringLiteral("0 bytes");
        QTest::newRow("fraction dropped") << 999.9 << QStringLiteral("999 bytes");
        QTest::newRow("999") << 999.0 << QStringLiteral("999 bytes");
        QTest::newRow("1000") << 1000.0 << QStringLiteral("1.0 KB");
        QTest::newRow("999,949") << 999949.0 << QStringLiteral("999.9 KB");
        QTest::newRow("999,950 rounds up in KB") << 999950.0 << QStringLiteral("1000.0 KB");
        QTest::newRow("1,000,000") << 1e6 << QStringLiteral("1.0 MB");
        QTest::newRow("1,536,000") << 1536000.0 << QStringLiteral("1.5 MB");
        QTest::newRow("10^9") << 1e9 << QStringLiteral("1.0 GB");
        QTest::newRow("10^12") << 1e12 << QStringLiteral("1.0 TB");
        QTest::newRow("10^15 stays in TB") << 1e15 << QStringLiteral("1000.0 TB");
    }
    void humanReadableSize()
    {
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(::humanReadableSize(bytes), text);
    }

    void directoryContentsListsEveryEntry()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("listing"));
        lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        lg::test::writeFile(folder + QStringLiteral("/.hidden.png"));
        lg::test::writeFile(folder + QStringLiteral("/Grüße ☃ 2.MOV"));
        lg::test::writeFile(folder + QStringLiteral("/sub/inner.jpg"));
        QVERIFY(QFile::link(folder + QStringLiteral("/nowhere"), folder + QStringLiteral("/dangling")));

        const QSet<QString> expected = {
            folder + QStringLiteral("/a.jpg"), folder + QStringLiteral("/.hidden.png"),
            folder + QStringLiteral("/Grüße ☃ 2.MOV"), folder + QStringLiteral("/sub"),
            folder + QStringLiteral("/dangling"),
        };
        const std::optional<QStringList> listed = directoryContents(folder);
        QVERIFY(listed.has_value());
        QCOMPARE(listed->size(), expected.size());  // no ".", "..", nor the sub-folder's content
        QCOMPARE(asSet(*listed), expected);

        // A trailing separator does not double up in the paths.
        const std::optional<QStringList> slashed = directoryContents(folder + QStringLiteral("//"));
        QVERIFY(slashed.has_value());
        QCOMPARE(*slashed, *listed);

        // The root folder joins without a doubled separator either.
        const std::optional<QStringList> root = directoryContents(QStringLiteral("/"));
        QVERIFY(root.has_value());
        QVERIFY(root->contains(QStringLiteral("/tmp")));
    }

    void directoryContentsEmptyAndUnreadable()
    {
        const QString empty = lg::test::freshFolder(QStringLiteral("empty"));
        const std::optional<QStringList> none = directoryContents(empty);
        QVERIFY(none.has_value());
        QVERIFY(none->isEmpty());

        // Unreadable folders give none, never an empty list.
        QVERIFY(!directoryContents(empty + QStringLiteral("/vanished")).has_value());
        const QString file = lg::test::writeFile(empty + QStringLiteral("/plain.txt"));
        QVERIFY(!directoryContents(file).has_value());
        QVERIFY(!directoryContents(QString()).has_value());
    }

    void isAliasFileReadsTheLinkItself()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("alias"));
        const QString file = lg::test::writeFile(folder + QStringLiteral("/photo.jpg"));
        QVERIFY(QFile::link(file, folder + QStringLiteral("/link.jpg")));
        QVERIFY(QFile::link(folder, folder + QStringLiteral("/folderlink")));
        QVERIFY(QFile::link(folder + QStringLiteral("/gone"), folder + QStringLiteral("/dangling")));

        QCOMPARE(isAliasFile(file), std::optional<bool>(false));
        QCOMPARE(isAliasFile(folder), std::optional<bool>(false));
        QCOMPARE(isAliasFile(folder + QStringLiteral("/link.jpg")), std::optional<bool>(true));
        QCOMPARE(isAliasFile(folder + QStringLiteral("/folderlink")), std::optional<bool>(true));
        QCOMPARE(isAliasFile(folder + QStringLiteral("/dangling")), std::optional<bool>(true));
        QCOMPARE(isAliasFile(folder + QStringLiteral("/gone")), std::optional<bool>());
        QCOMPARE(isAliasFile(QString()), std::optional<bool>());
    }

    void imageThumbnails()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("images"));
        QImage wide(400, 200, QImage::Format_ARGB32);
        wide.fill(Qt::green);
        const QString png = lg::test::writeFile(folder + QStringLiteral("/wide.png"), encode(wide, "PNG"));

        const std::optional<QImage> small = thumbnailForImageURL(QUrl::fromLocalFile(png), 100);
        QVERIFY(small.has_value());
        QCOMPARE(small->size(), QSize(100, 50));
        QCOMPARE(small->devicePixelRatio(), 1.0);

        // A fractional size stays within it; a larger one never enlarges the picture.
        const std::optional<QImage> fractional = thumbnailForImageURL(QUrl::fromLocalFile(png), 99.6);
        QVERIFY(fractional.has_value());
        QVERIFY(fractional->width() <= 100 && fractional->width() >= 99);
        const std::optional<QImage> large = thumbnailForImageURL(QUrl::fromLocalFile(png), 1000);
        QVERIFY(large.has_value());
        QCOMPARE(large->size(), QSize(400, 200));

        // The same from a source in memory.
        const lg::ImageSource source = lg::ImageSource::fromData(encode(wide, "PNG"));
        const std::optional<QImage> fromData = thumbnailFromImageSource(source, 140);
        QVERIFY(fromData.has_value());
        QCOMPARE(fromData->size(), QSize(140, 70));
    }

    void notAnImageGivesNoThumbnail()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("fakes"));
        const QString text = lg::test::writeFile(folder + QStringLiteral("/notes.jpg"), "these are not pixels\n");
        const QString empty = lg::test::writeFile(folder + QStringLiteral("/empty.png"), QByteArray());
        QByteArray cut = encode(QImage(64, 64, QImage::Format_RGB32), "PNG");
        cut.truncate(20);
        const QString truncated = lg::test::writeFile(folder + QStringLiteral("/cut.png"), cut);

        QVERIFY(!thumbnailForImageURL(QUrl::fromLocalFile(text), 150).has_value());
        QVERIFY(!thumbnailForImageURL(QUrl::fromLocalFile(empty), 150).has_value());
        QVERIFY(!thumbnailForImageURL(QUrl::fromLocalFile(truncated), 150).has_value());
        QVERIFY(!thumbnailForImageURL(QUrl::fromLocalFile(folder + QStringLiteral("/gone.jpg")), 150).has_value());
        QVERIFY(!thumbnailForImageURL(QUrl(), 150).has_value());
    }

    void sidewaysPhotoGivesUprightThumbnail()
    {
        const QString path = sidewaysPortraitJpeg(
            lg::test::freshFolder(QStringLiteral("oriented")) + QStringLiteral("/portrait.jpg"), 240, 120);
        QVERIFY(!path.isEmpty());

        const std::optional<QImage> thumb = thumbnailForImageURL(QUrl::fromLocalFile(path), 100);
        QVERIFY(thumb.has_value());
        QCOMPARE(thumb->size(), QSize(50, 100));
        QVERIFY2(isReddish(thumb->pixel(25, 10)), "the top is not red");
        QVERIFY2(isBluish(thumb->pixel(25, 90)), "the bottom is not blue");
    }

    void videoFrames()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("videos"));
        const QString clip = testClip(folder + QStringLiteral("/clip.mp4"));
        if (clip.isEmpty())
            QSKIP("ffmpeg is not available");

        lg::test::CaptureStdout capture;
        const std::optional<QImage> frame = videoThumbnail(QUrl::fromLocalFile(clip));
        const QByteArray framePrinted = capture.finish();
        QVERIFY(frame.has_value());
        QCOMPARE(frame->size(), QSize(320, 240));
        QCOMPARE(lineCount(framePrinted), 1);
        QVERIFY(framePrinted.contains("320, 240"));

        lg::test::CaptureStdout capture2;
        const std::optional<QImage> thumb = mediaThumbnail(QUrl::fromLocalFile(clip));
        const QByteArray thumbPrinted = capture2.finish();
        QVERIFY(thumb.has_value());
        QCOMPARE(thumb->width(), 150);
        QVERIFY(thumb->height() == 112 || thumb->height() == 113);
        QCOMPARE(lineCount(thumbPrinted), 2);  // the frame, then the thumbnail
    }

    void usableFromManyThreadsAtOnce()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("threads"));
        const QString photo = sidewaysPortraitJpeg(folder + QStringLiteral("/portrait.jpg"), 240, 120);
        const QString clip = testClip(folder + QStringLiteral("/clip.mp4"), QStringLiteral("0.3"));
        const bool haveVideo = !clip.isEmpty();
        QList<int> jobs(32);
        std::iota(jobs.begin(), jobs.end(), 0);
        lg::test::CaptureStdout capture;  // the video lines
        const QList<bool> results = lg::mapped(jobs, [&](int job) {
            const std::optional<QStringList> listed = directoryContents(folder);
            if (!listed || listed->isEmpty())
                return false;
            if (job % 2 == 0 || !haveVideo) {
                const std::optional<QImage> thumb = thumbnailForImageURL(QUrl::fromLocalFile(photo), 100);
                return thumb && thumb->size() == QSize(50, 100);
            }
            const std::optional<QImage> thumb = mediaThumbnail(QUrl::fromLocalFile(clip));
            return thumb && thumb->width() == 150;
        });
        capture.finish();
        QCOMPARE(results.count(true), jobs.size());
    }

    void notAVideoGivesNothingAndPrintsNothing()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("fakevideo"));
        const QString fake = lg::test::writeFile(folder + QStringLiteral("/fake.mp4"), QByteArray(4096, '\x17'));
        lg::test::CaptureStdout capture;
        const std::optional<QImage> frame = videoThumbnail(QUrl::fromLocalFile(fake));
        const std::optional<QImage> thumb = mediaThumbnail(QUrl::fromLocalFile(fake));
        const std::optional<QImage> missing = mediaThumbnail(QUrl::fromLocalFile(folder + QStringLiteral("/gone.mov")));
        const QByteArray printed = capture.finish();
        QVERIFY(!frame.has_value());
        QVERIFY(!thumb.has_value());
        QVERIFY(!missing.has_value());
        QCOMPARE(printed, QByteArray());
    }
};

LG_TEST(FileServicesTest)
#include "test_fileservices.moc"
