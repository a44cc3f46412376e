// Files made to hurt: pictures named like videos, videos too large to decode,
// a JPEG with no end in a huge sparse file, a settings file that is a FIFO,
// a save through a chain of links, an animation too large to keep.
#include "platform/ImageSource.h"
#include "platform/ImageWriter.h"
#include "platform/Settings.h"
#include "platform/VideoInfo.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/AnimatedImage.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace lg::test;

namespace {

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

class HostileInputTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pictureNamedLikeAVideoIsNoVideo_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QImage small(64, 48, QImage::Format_RGB32);
        small.fill(Qt::red);
        QTest::newRow("png as mp4") << "holiday.mp4" << encoded(small, "png");
        QTest::newRow("jpeg as mov") << "beach.mov" << encoded(small, "jpeg");
    }
    void pictureNamedLikeAVideoIsNoVideo()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = writeFile(freshFolder(QStringLiteral("named")) + QLatin1Char('/') + name, bytes);
        QVERIFY(!lg::VideoInfo::probe(path));
        QVERIFY(!lg::VideoInfo::firstFrame(path, 150));
    }

    void videoLargerThanTheLimitIsNotDecoded()
    {
        const QString path = fixtures::writeVideo(freshFolder(QStringLiteral("limit")) + QStringLiteral("/v.mp4"),
                                                  QStringLiteral("color=c=red:s=64x48:r=10:d=0.3"),
                                                  {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
        QVERIFY(!path.isEmpty());
        lg::VideoInfo::setFramePixelLimitForTesting(64 * 48 - 1);
        const bool refused = !lg::VideoInfo::probe(path) && !lg::VideoInfo::firstFrame(path);
        lg::VideoInfo::setFramePixelLimitForTesting(0);
        QVERIFY(refused);
        const std::optional<QImage> frame = lg::VideoInfo::firstFrame(path, 32);
        QVERIFY(frame);
        QCOMPARE(frame->size(), QSize(32, 24));

        // A QuickTime file that declares 64 x 48 around 200 x 200 PNG frames.
        const QString png = fixtures::writeVideo(freshFolder(QStringLiteral("limit")) + QStringLiteral("/p.mov"),
                                                 QStringLiteral("color=c=red:s=200x200:r=10:d=0.3"), {"-c:v", "png"});
        QFile file(png);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const qsizetype entry = bytes.indexOf("png ", bytes.indexOf("stsd"));
        const qsizetype track = bytes.indexOf("tkhd");
        QVERIFY(entry > 0 && track > 0);
        bytes.replace(entry + 28, 4, QByteArray("\0\x40\0\x30", 4));
        bytes.replace(track + 80, 8, QByteArray("\0\x40\0\0\0\x30\0\0", 8));
        QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
        file.close();
        lg::VideoInfo::setFramePixelLimitForTesting(64 * 48);
        const std::optional<lg::VideoProbe> declared = lg::VideoInfo::probe(png);
        const bool pngRefused = !lg::VideoInfo::firstFrame(png);
        lg::VideoInfo::setFramePixelLimitForTesting(0);
        QVERIFY(!declared);
        QVERIFY(pngRefused);
        QVERIFY(lg::VideoInfo::firstFrame(png));
    }

    // 20 GB of holes after a JPEG's scan, with no end marker or one at the far
    // end: neither is read through (the decoder would read every byte).
    void jpegInAHugeSparseFile_data()
    {
        QTest::addColumn<bool>("endAtTheFarEnd");
        QTest::newRow("no end") << false;
        QTest::newRow("end 20 GB on") << true;
    }
    void jpegInAHugeSparseFile()
    {
        QFETCH(bool, endAtTheFarEnd);
        QImage picture(320, 240, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        const QByteArray jpeg = encoded(picture, "jpeg");
        QVERIFY(jpeg.endsWith("\xFF\xD9"));
        const QString path = writeFile(freshFolder(QStringLiteral("sparse")) + QStringLiteral("/huge.jpg"), jpeg.chopped(2));
        QFile file(path);
        if (!file.resize(20LL * 1024 * 1024 * 1024 - 2))
            QSKIP("no sparse files here");
        if (endAtTheFarEnd) {
            QVERIFY(file.open(QIODevice::Append));
            QCOMPARE(file.write("\xFF\xD9", 2), 2);
            file.close();
        }
        QElapsedTimer timer;
        timer.start();
        const lg::ImageSource source(path);
        QVERIFY(!source.isValid());
        QVERIFY(!source.thumbnail(256));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        file.remove();
    }

    void settingsFileThatIsAFifoIsSetAside()
    {
        const QString path = lg::Settings::filePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        QFile::remove(path + QStringLiteral(".corrupt"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        // Before, this waited for a writer to the FIFO for ever.
        QVERIFY(!lg::Settings::value(QStringLiteral("arrPaths")).isValid());
        lg::Settings::setValue(QStringLiteral("startstatus"), true);
        QVERIFY(QFileInfo(path).isFile());
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("startstatus")), std::optional<bool>(true));
        struct stat aside {};
        QCOMPARE(::lstat(QFile::encodeName(path + QStringLiteral(".corrupt")).constData(), &aside), 0);
        QVERIFY(S_ISFIFO(aside.st_mode));
        QFile::remove(path);
    }

    void savingThroughAChainOfLinksWritesTheFile_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("existing file") << true;
        QTest::newRow("link to a new file") << false;
    }
    void savingThroughAChainOfLinksWritesTheFile()
    {
        QFETCH(bool, exists);
        const QString folder = freshFolder(QStringLiteral("links"));
        const QString real = folder + QStringLiteral("/real.png");
        if (exists)
            writeFile(real, "old");
        QVERIFY(QDir(folder).mkdir(QStringLiteral("sub")));
        QVERIFY(QFile::link(QStringLiteral("../real.png"), folder + QStringLiteral("/sub/middle.png")));
        QVERIFY(QFile::link(QStringLiteral("sub/middle.png"), folder + QStringLiteral("/first.png")));
        QImage picture(8, 6, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QString error;
        QVERIFY2(lg::ImageWriter::write(picture, folder + QStringLiteral("/first.png"), lg::ImageFileType::PNG, {}, &error),
                 qPrintable(error));
        QVERIFY(QFileInfo(folder + QStringLiteral("/first.png")).isSymLink());
        QVERIFY(QFileInfo(folder + QStringLiteral("/sub/middle.png")).isSymLink());
        QCOMPARE(QImage(real).size(), QSize(8, 6));
    }

    // 16 frames of 1500 x 1500 take 144 MB decoded; at most 128 MB are kept.
    void animationIsBoundedInMemory()
    {
        const QString path = freshFolder(QStringLiteral("gif")) + QStringLiteral("/big.gif");
        QStringList arguments {QStringLiteral("-size"), QStringLiteral("1500x1500")};
        for (int i = 0; i < 16; ++i)
            arguments << (i % 2 ? QStringLiteral("xc:red") : QStringLiteral("xc:blue"));
        arguments << QStringLiteral("-loop") << QStringLiteral("0") << path;
        if (QProcess::execute(QStringLiteral("convert"), arguments) != 0)
            QSKIP("ImageMagick is not available");
        const AnimatedImage::Frames frames = AnimatedImage::readFrames(path);
        QVERIFY(frames.images.size() > 1);
        qint64 bytes = 0;
        for (const QImage &frame : frames.images)
            bytes += frame.sizeInBytes();
        QVERIFY2(bytes <= 128LL * 1024 * 1024, qPrintable(QString::number(bytes)));
    }
};

LG_TEST(HostileInputTest)
#include "test_hostileinput.moc"
