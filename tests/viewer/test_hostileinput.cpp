// Files made to hurt: pictures named like videos, videos too large to decode,
// a JPEG with no end in a huge sparse file, a settings file that is a FIFO,
// a save through a chain of links, an animation too large to keep, pictures
// whose headers claim more pixels than they could hold.
#include "model/ImageTransforms.h"
#include "platform/image/ImageSource.h"
#include "platform/image/ImageWriter.h"
#include "platform/jpeg/JpegEntropy.h"
#include "platform/desktop/Settings.h"
#include "platform/image/VideoInfo.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/AnimatedImage.h"
#include "viewer/PictureLoader.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// The JPEG with its frame header claiming size, and a comment that brings
// it to about fileBytes bytes.
QByteArray jpegClaiming(const QByteArray &jpeg, QSize size, qsizetype fileBytes)
{
    QByteArray out = jpeg;
    for (qsizetype at = 2; at + 9 < out.size();) {
        const uchar marker = uchar(out[at + 1]);
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
            out[at + 5] = char(size.height() >> 8);
            out[at + 6] = char(size.height() & 0xff);
            out[at + 7] = char(size.width() >> 8);
            out[at + 8] = char(size.width() & 0xff);
            break;
        }
        at += 2 + ((uchar(out[at + 2]) << 8) | uchar(out[at + 3]));
    }
    const qsizetype fill = std::max<qsizetype>(0, std::min<qsizetype>(fileBytes - out.size() - 4, 65533));
    QByteArray comment("\xff\xfe");
    comment.append(char((fill + 2) >> 8)).append(char((fill + 2) & 0xff)).append(QByteArray(fill, 'c'));
    return out.left(2) + comment + out.mid(2);
}

// The PNG with its header claiming size (its checksum made right).
QByteArray pngClaiming(const QByteArray &png, QSize size)
{
    QByteArray out = png;
    qToBigEndian<quint32>(quint32(size.width()), out.data() + 16);
    qToBigEndian<quint32>(quint32(size.height()), out.data() + 20);
    quint32 sum = 0xffffffffu;
    for (qsizetype i = 12; i < 29; ++i) {
        sum ^= quint8(out[i]);
        for (int bit = 0; bit < 8; ++bit)
            sum = (sum & 1) ? 0xedb88320u ^ (sum >> 1) : sum >> 1;
    }
    qToBigEndian<quint32>(sum ^ 0xffffffffu, out.data() + 29);
    return out;
}

struct ChildTurn
{
    bool finished = false;  // within the minute given
    bool readable = false;
    bool written = false;
    bool refusedNamingTheClaim = false;
    long peakGrowthKb = -1;  // of the resident memory, from before the turn
    qint64 milliseconds = -1;
};

// turnPictureFile in a child process, whose peak resident memory is measured
// from before the turn (getrusage). Its address space is held to 2 GB above
// what it has, so that a file that gets through cannot take the machine's memory.
ChildTurn turnInChild(const QString &path, int claimedWidth)
{
    ChildTurn result;
    int channel[2];
    if (::pipe(channel) != 0)
        return result;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        // The peak starts from what the child holds now, not the parent's.
        if (const int fd = ::open("/proc/self/clear_refs", O_WRONLY); fd >= 0) {
            [[maybe_unused]] const ssize_t done = ::write(fd, "5", 1);
            ::close(fd);
        }
        long virtualKb = 0;
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmSize:"))
                    virtualKb = line.mid(7).trimmed().split(' ').first().toLong();
        const rlimit limit {rlim_t(virtualKb + 2L * 1024 * 1024) * 1024, rlim_t(virtualKb + 2L * 1024 * 1024) * 1024};
        ::setrlimit(RLIMIT_AS, &limit);
        rusage before {}, after {};
        ::getrusage(RUSAGE_SELF, &before);
        QElapsedTimer timer;
        timer.start();
        const TurnedFile turned = turnPictureFile(path, lg::PictureTurn::RotateRight, QSize());
        ChildTurn out;
        out.milliseconds = timer.elapsed();
        ::getrusage(RUSAGE_SELF, &after);
        out.finished = true;
        out.readable = turned.readable;
        out.written = turned.written;
        out.refusedNamingTheClaim = turned.error.contains(QString::number(claimedWidth));
        out.peakGrowthKb = after.ru_maxrss - before.ru_maxrss;
        [[maybe_unused]] const ssize_t sent = ::write(channel[1], &out, sizeof out);
        ::_exit(0);
    }
    ::close(channel[1]);
    if (child > 0) {
        pollfd wait {channel[0], POLLIN, 0};
        if (::poll(&wait, 1, 60000) == 1 && ::read(channel[0], &result, sizeof result) != ssize_t(sizeof result))
            result = ChildTurn();
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    ::close(channel[0]);
    return result;
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

    // A small file whose header claims a huge picture is refused, with a
    // message naming the claim, before anything is decoded or transformed:
    // in well under a second and 1 GB (the claims would need 5 to 25 GB).
    void aHeaderClaimingMoreThanTheFileHoldsIsRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("claim");
        QTest::newRow("JPEG, 30000 x 30000 in 3 KB") << "jpeg" << QSize(30000, 30000);
        QTest::newRow("progressive JPEG, 30000 x 30000 in 3 KB") << "progressive" << QSize(30000, 30000);
        QTest::newRow("JPEG, 65500 x 65500") << "jpeg" << QSize(65500, 65500);
        QTest::newRow("PNG, 30000 x 30000") << "png" << QSize(30000, 30000);
    }
    void aHeaderClaimingMoreThanTheFileHoldsIsRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QSize, claim);
        const QImage picture = lg::test::fixtures::quadrants(QSize(32, 32));
        QByteArray bytes;
        if (kind == QLatin1String("png")) {
            bytes = pngClaiming(encoded(picture, "png"), claim);
        } else {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "jpeg");
            writer.setQuality(90);
            writer.setProgressiveScanWrite(kind == QLatin1String("progressive"));
            QVERIFY(writer.write(picture));
            buffer.close();
            bytes = jpegClaiming(bytes, claim, 3000);
            QVERIFY(!lg::jpegSizeRefusal(bytes).isEmpty());
        }
        const QString path = writeFile(freshFolder(QStringLiteral("claims")) + QStringLiteral("/huge.") + (kind == QLatin1String("png") ? QStringLiteral("png") : QStringLiteral("jpg")), bytes);
        QCOMPARE(lg::ImageSource(path).pixelSize(), std::optional<QSize>(claim));

        const ChildTurn turned = turnInChild(path, claim.width());
        QVERIFY(turned.finished);
        QVERIFY(!turned.readable && !turned.written);
        QVERIFY(turned.refusedNamingTheClaim);
        QVERIFY2(turned.peakGrowthKb < 1024L * 1024, qPrintable(QStringLiteral("%1 KB").arg(turned.peakGrowthKb)));
        QVERIFY2(turned.milliseconds < 1000, qPrintable(QStringLiteral("%1 ms").arg(turned.milliseconds)));
        QCOMPARE(readAll(path), bytes);
    }

    // Only the bytes of the scans code blocks: a small picture whose frame
    // claims a larger one is refused however much the file holds besides, in
    // a comment or after its end (where zeros once made a turn write a real
    // picture of the claimed size). The claim here needs 3 KB of scan data.
    void bytesThatHoldNoBlocksDoNotBackAClaim_data()
    {
        QTest::addColumn<QString>("padding");
        QTest::newRow("zeros after the end") << "after";
        QTest::newRow("a comment before the frame") << "comment";
    }
    void bytesThatHoldNoBlocksDoNotBackAClaim()
    {
        QFETCH(QString, padding);
        const QSize claim(1024, 1024);
        const QByteArray small = encoded(lg::test::fixtures::quadrants(QSize(64, 48)), "jpeg");
        QVERIFY(small.size() < 1500);
        const QByteArray bytes = padding == QLatin1String("after") ? jpegClaiming(small, claim, 0) + QByteArray(5000, '\0')
                                                                   : jpegClaiming(small, claim, 6000);
        QVERIFY(bytes.size() > 5000);
        const QString refusal = lg::jpegSizeRefusal(bytes);
        QVERIFY(refusal.contains(QStringLiteral("1024")));
        const QString path = writeFile(freshFolder(QStringLiteral("padded")) + QStringLiteral("/padded.jpg"), bytes);
        const ChildTurn turned = turnInChild(path, claim.width());
        QVERIFY(turned.finished);
        QVERIFY(!turned.readable && !turned.written);
        QVERIFY(turned.refusedNamingTheClaim);
        QCOMPARE(readAll(path), bytes);
    }

    // What codes blocks is counted exactly: a stuffed 0xFF as one byte, no
    // restart markers or fill bytes, nothing after the end; and every cut of
    // a real file (restart markers, progressive scans) is counted within its
    // bytes, never more than a longer cut.
    void scanBytesAreCountedWithinTheFile()
    {
        const QByteArray made("\xff\xd8\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00"
                              "\x12\xff\x00\x34\xff\xd0\x56\xff\xff\xd9", 22);
        QCOMPARE(lg::jpeg::entropyCodedBytes(made + QByteArray(100, '\0')), qint64(4));
        QCOMPARE(lg::jpeg::entropyCodedBytes(made.left(15)), qint64(2));
        QVERIFY(lg::jpeg::entropyCodedBytes(made, 2) >= 2);

        if (!fixtures::hasTool(QStringLiteral("jpegtran")))
            QSKIP("jpegtran is not installed");
        const QString folder = freshFolder(QStringLiteral("cuts"));
        const QString plain = writeFile(folder + QStringLiteral("/plain.jpg"), encoded(fixtures::quadrants(QSize(40, 24)), "jpeg"));
        const QString coded = folder + QStringLiteral("/coded.jpg");
        QVERIFY(fixtures::run(QStringLiteral("jpegtran"), {QStringLiteral("-restart"), QStringLiteral("1"), QStringLiteral("-progressive"),
                                                           QStringLiteral("-outfile"), coded, plain}));
        const QByteArray whole = readAll(coded);
        qint64 before = 0;
        for (qsizetype length = 0; length <= whole.size(); ++length) {
            const QByteArray cut(whole.constData(), length);  // a copy of its own, so that a read past it is caught
            const qint64 count = lg::jpeg::entropyCodedBytes(cut);
            QVERIFY(count >= before && count <= length);
            before = count;
            Q_UNUSED(lg::jpegSizeRefusal(cut));
        }
        QVERIFY(before > 0 && before < whole.size() - 200);
    }

    // Arithmetic coding may spend no bits at all on a block, so a 300-byte file
    // may claim 32768 x 32768: the viewer's loader and the thumbnails refuse it
    // on its claim, with the turn's reason, before a row is decoded (reading
    // its rows at one eighth takes seconds, and progressive, gigabytes).
    void aTinyArithmeticJpegClaimingAHugePictureIsNotDecoded_data()
    {
        QTest::addColumn<QStringList>("coding");
        QTest::newRow("sequential") << QStringList {QStringLiteral("-arithmetic")};
        QTest::newRow("progressive") << QStringList {QStringLiteral("-arithmetic"), QStringLiteral("-progressive")};
    }
    void aTinyArithmeticJpegClaimingAHugePictureIsNotDecoded()
    {
        QFETCH(QStringList, coding);
        if (!fixtures::hasTool(QStringLiteral("jpegtran")))
            QSKIP("jpegtran is not installed");
        const QString folder = freshFolder(QStringLiteral("arithmetic"));
        const QString plain = writeFile(folder + QStringLiteral("/plain.jpg"), encoded(fixtures::quadrants(QSize(64, 48)), "jpeg"));
        const QString coded = folder + QStringLiteral("/coded.jpg");
        QVERIFY(fixtures::run(QStringLiteral("jpegtran"), coding + QStringList {QStringLiteral("-outfile"), coded, plain}));
        const QSize claim(32768, 32768);
        const QByteArray bytes = jpegClaiming(readAll(coded), claim, 0);
        QVERIFY(bytes.size() < 2000);
        const QString path = writeFile(folder + QStringLiteral("/huge.jpg"), bytes);
        const QString expected = lg::jpegSizeRefusal(bytes);
        QVERIFY(expected.contains(QStringLiteral("32768")));

        QElapsedTimer timer;
        timer.start();
        const DecodedPicture picture = PictureLoader::decode(PictureLoader::keyFor(path, QSize(1920, 1080)));
        const double milliseconds = timer.nsecsElapsed() / 1e6;
        qInfo("The loader refused a %lld-byte %s picture claiming 32768 x 32768 in %.2f ms.", qint64(bytes.size()),
              QTest::currentDataTag(), milliseconds);
        QVERIFY(!picture.ok());
        QCOMPARE(picture.pixelSize, claim);
        QCOMPARE(picture.refusal, expected);
        QVERIFY2(milliseconds < 1000, qPrintable(QStringLiteral("%1 ms").arg(milliseconds)));
        QCOMPARE(PictureLoader::decode(PictureLoader::keyFor(path, QSize())).refusal, expected);

        const lg::ImageSource source(path);
        QCOMPARE(source.pixelSize(), std::optional<QSize>(claim));
        QVERIFY(!source.thumbnail(256));
        QCOMPARE(source.decodeRefusal(), expected);
        // The file before its claim was changed still shows.
        QVERIFY(PictureLoader::decode(PictureLoader::keyFor(coded, QSize(1920, 1080))).ok());
        // The editor lets the readers allocate more for a large picture it
        // saves; the claim is still judged as before.
        const int readersLimit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(4096);
        const QString afterRaise = PictureLoader::decode(PictureLoader::keyFor(path, QSize(1920, 1080))).refusal;
        QImageReader::setAllocationLimit(readersLimit);
        QCOMPARE(afterRaise, expected);
    }

    // A picture whose Exif thumbnail claims a huge picture is turned, its
    // thumbnail dropped, without the thumbnail's claim taking the memory.
    void aThumbnailClaimingAHugePictureIsDropped()
    {
        const QString folder = freshFolder(QStringLiteral("thumbclaim"));
        const QString path = folder + QStringLiteral("/photo.jpg");
        writeFile(path, encoded(lg::test::fixtures::quadrants(QSize(64, 48)), "jpeg"));
        writeFile(folder + QStringLiteral("/photo-thumb.jpg"),
                  jpegClaiming(encoded(lg::test::fixtures::quadrants(QSize(32, 32)), "jpeg"), QSize(16000, 16000), 0));
        if (QProcess::execute(QStringLiteral("exiv2"), {QStringLiteral("-M"), QStringLiteral("set Exif.Image.Make Camera"), path}) != 0
            || QProcess::execute(QStringLiteral("exiv2"), {QStringLiteral("-it"), path}) != 0)
            QSKIP("exiv2 is not available");
        const ChildTurn turned = turnInChild(path, 16000);
        QVERIFY(turned.finished);
        QVERIFY(turned.readable && turned.written);
        QVERIFY2(turned.peakGrowthKb < 256L * 1024, qPrintable(QStringLiteral("%1 KB").arg(turned.peakGrowthKb)));
        QVERIFY2(turned.milliseconds < 1000, qPrintable(QStringLiteral("%1 ms").arg(turned.milliseconds)));
        QCOMPARE(QImage(path).size(), QSize(48, 64));
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
