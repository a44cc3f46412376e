// Video size, rotation, duration and first frame, for the containers of the
// program's video-extension list that FFmpeg handles, and bad input.
#include "platform/image/VideoInfo.h"
#include "model/SharedState.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>

using namespace lg::test;
using namespace lg::test::fixtures;

namespace {

// Red for the first tenth of a second, blue after: the first frame is red.
QString redThenBlue(const QString &size, const QString &rate = QStringLiteral("10"), const QString &seconds = QStringLiteral("1"))
{
    return QStringLiteral("color=c=red:s=%1:r=%2:d=%3,drawbox=x=0:y=0:w=iw:h=ih:color=blue:t=fill:enable='gte(t,0.15)'")
        .arg(size, rate, seconds);
}

} // namespace

class VideoTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!hasTool(QStringLiteral("ffmpeg")))
            QSKIP("ffmpeg is not installed");
    }

    void sizeDurationAndFirstFrame()
    {
        const QString path = writeVideo(QDir(freshFolder(QStringLiteral("video"))).filePath(QStringLiteral("v.mp4")),
                                        redThenBlue(QStringLiteral("64x48"), QStringLiteral("10"), QStringLiteral("2")),
                                        {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
        QVERIFY(!path.isEmpty());
        const std::optional<lg::VideoProbe> probe = lg::VideoInfo::probe(path);
        QVERIFY(probe);
        QCOMPARE(probe->size, QSize(64, 48));
        QCOMPARE(probe->rotation, 0);
        QVERIFY(std::abs(probe->durationSeconds - 2.0) < 0.2);

        const std::optional<QImage> frame = lg::VideoInfo::firstFrame(path);
        QVERIFY(frame);
        QCOMPARE(frame->size(), QSize(64, 48));
        QVERIFY(near(frame->pixelColor(32, 24), Qt::red));
        const std::optional<QImage> small = lg::VideoInfo::firstFrame(path, 32);
        QVERIFY(small);
        QCOMPARE(std::max(small->width(), small->height()), 32);
    }

    // A phone video stored sideways with a display matrix shows upright.
    void rotationFromTheDisplayMatrix()
    {
        const QString path = writeVideo(
            QDir(freshFolder(QStringLiteral("rotated"))).filePath(QStringLiteral("r.mp4")),
            QStringLiteral("color=c=red:s=64x48:r=10:d=1,drawbox=x=0:y=24:w=64:h=24:color=blue:t=fill"),
            {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
        QVERIFY(!path.isEmpty());
        QVERIFY(setMp4Rotation(path, 90));
        const std::optional<lg::VideoProbe> probe = lg::VideoInfo::probe(path);
        QVERIFY(probe);
        QCOMPARE(probe->rotation, 90);
        QCOMPARE(probe->size, QSize(48, 64));
        const std::optional<QImage> frame = lg::VideoInfo::firstFrame(path);
        QVERIFY(frame);
        QCOMPARE(frame->size(), QSize(48, 64));
        // Stored top red, bottom blue; turned a quarter clockwise: blue left, red right.
        QVERIFY(near(frame->pixelColor(8, 32), Qt::blue));
        QVERIFY(near(frame->pixelColor(40, 32), Qt::red));
    }

    void containersOfTheVideoList_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("graph");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QSize>("size");  // invalid: no picture expected
        const QString small = redThenBlue(QStringLiteral("64x48"));
        const QString mpegRate = redThenBlue(QStringLiteral("64x48"), QStringLiteral("25"));
        const QString cif = redThenBlue(QStringLiteral("176x144"));
        const QString pal = redThenBlue(QStringLiteral("720x576"), QStringLiteral("25"), QStringLiteral("0.4"));
        const QStringList mpeg4 {"-c:v", "mpeg4"};
        QTest::newRow("mpeg") << "mpeg" << mpegRate << QStringList {"-c:v", "mpeg1video", "-f", "mpeg"} << QSize(64, 48);
        QTest::newRow("mpeg-4") << "mpeg-4" << small << (mpeg4 + QStringList {"-f", "mp4"}) << QSize(64, 48);
        QTest::newRow("avc") << "avc" << small << QStringList {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-f", "h264"} << QSize(64, 48);
        QTest::newRow("mp4") << "mp4" << small << QStringList {"-c:v", "libx264", "-pix_fmt", "yuv420p"} << QSize(64, 48);
        QTest::newRow("divx") << "divx" << small << (mpeg4 + QStringList {"-vtag", "DIVX", "-f", "avi"}) << QSize(64, 48);
        QTest::newRow("mov") << "mov" << small << (mpeg4 + QStringList {"-f", "mov"}) << QSize(64, 48);
        QTest::newRow("xvid") << "xvid" << small << (mpeg4 + QStringList {"-vtag", "XVID", "-f", "avi"}) << QSize(64, 48);
        QTest::newRow("mpg") << "mpg" << mpegRate << QStringList {"-c:v", "mpeg2video", "-f", "mpeg"} << QSize(64, 48);
        QTest::newRow("avi") << "avi" << small << QStringList {"-c:v", "mjpeg", "-f", "avi"} << QSize(64, 48);
        QTest::newRow("webm") << "webm" << small << QStringList {"-c:v", "libvpx", "-f", "webm"} << QSize(64, 48);
        QTest::newRow("dv") << "dv" << pal << QStringList {"-c:v", "dvvideo", "-pix_fmt", "yuv420p", "-f", "dv"} << QSize(720, 576);
        QTest::newRow("3gp") << "3gp" << cif << QStringList {"-c:v", "h263", "-f", "3gp"} << QSize(176, 144);
        QTest::newRow("3pp2") << "3pp2" << cif << QStringList {"-c:v", "h263", "-f", "3g2"} << QSize(176, 144);
        QTest::newRow("mpeg-2") << "mpeg-2" << mpegRate << QStringList {"-c:v", "mpeg2video", "-f", "vob"} << QSize(64, 48);
        QTest::newRow("flv") << "flv" << small << QStringList {"-c:v", "flv", "-f", "flv"} << QSize(64, 48);
        // MPEG audio holds no picture.
        QTest::newRow("mpa") << "mpa" << QStringLiteral("sine=frequency=440:duration=1") << QStringList {"-c:a", "mp2", "-f", "mp2"}
                             << QSize();
    }

    void containersOfTheVideoList()
    {
        QFETCH(QString, extension);
        QFETCH(QString, graph);
        QFETCH(QStringList, arguments);
        QFETCH(QSize, size);
        QVERIFY(videoExtensions.contains(extension));
        const QString path = writeVideo(QDir(freshFolder(QStringLiteral("list"))).filePath(QStringLiteral("v.") + extension), graph,
                                        arguments);
        QVERIFY(!path.isEmpty());
        const std::optional<lg::VideoProbe> probe = lg::VideoInfo::probe(path);
        const std::optional<QImage> frame = lg::VideoInfo::firstFrame(path, 150);
        if (!size.isValid()) {
            QVERIFY(!probe);
            QVERIFY(!frame);
            return;
        }
        QVERIFY(probe);
        QCOMPARE(probe->size, size);
        QVERIFY(frame);
        QCOMPARE(std::max(frame->width(), frame->height()), std::min(150, std::max(size.width(), size.height())));
        QVERIFY(near(frame->pixelColor(frame->width() / 2, frame->height() / 2), Qt::red, 64));
    }

    // Autodesk animations, written here byte by byte.
    void flicAnimations()
    {
        const QString folder = freshFolder(QStringLiteral("flic"));
        const QList<QColor> frames {Qt::red, Qt::blue, Qt::blue};
        for (const auto &[name, classic] : {std::pair {QStringLiteral("a.flc"), false}, std::pair {QStringLiteral("a.fli"), true},
                                            std::pair {QStringLiteral("a.cel"), false}}) {
            const QString path = writeFlic(QDir(folder).filePath(name), QSize(32, 24), frames, classic);
            const std::optional<lg::VideoProbe> probe = lg::VideoInfo::probe(path);
            QVERIFY2(probe, qPrintable(name));
            QCOMPARE(probe->size, QSize(32, 24));
            const std::optional<QImage> frame = lg::VideoInfo::firstFrame(path);
            QVERIFY2(frame, qPrintable(name));
            QVERIFY(near(frame->pixelColor(16, 12), Qt::red));
        }
    }

    void badInputGivesNothing()
    {
        const QString folder = freshFolder(QStringLiteral("bad"));
        const QString good = writeVideo(QDir(folder).filePath(QStringLiteral("good.mp4")), redThenBlue(QStringLiteral("64x48")),
                                        {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
        const QByteArray bytes = readAll(good);
        const QStringList bad {
            writeFile(QDir(folder).filePath(QStringLiteral("empty.mp4")), QByteArray()),
            writeFile(QDir(folder).filePath(QStringLiteral("text.mov")), "Not a video, just words.\n"),
            writeFile(QDir(folder).filePath(QStringLiteral("playlist.wmx")),
                      "<ASX version=\"3.0\"><Entry><Ref href=\"http://127.0.0.1/none.wmv\"/></Entry></ASX>\n"),
            writeFile(QDir(folder).filePath(QStringLiteral("cut.mp4")), bytes.left(bytes.size() / 3)),
            QDir(folder).filePath(QStringLiteral("vanished.mp4")),
        };
        for (const QString &path : bad) {
            QVERIFY2(!lg::VideoInfo::probe(path), qPrintable(path));
            QVERIFY2(!lg::VideoInfo::firstFrame(path), qPrintable(path));
        }
        // Cut short with its index in front: whatever it gives, it comes back.
        const QString indexFirst = writeVideo(QDir(folder).filePath(QStringLiteral("front.mp4")), redThenBlue(QStringLiteral("64x48")),
                                              {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-movflags", "+faststart"});
        const QByteArray frontBytes = readAll(indexFirst);
        for (const qsizetype cut : {frontBytes.size() / 4, frontBytes.size() / 2, frontBytes.size() - 10}) {
            const QString path = writeFile(QDir(folder).filePath(QStringLiteral("front-%1.mp4").arg(cut)), frontBytes.left(cut));
            (void)lg::VideoInfo::probe(path);
            (void)lg::VideoInfo::firstFrame(path);
        }

        const QString fifo = QDir(folder).filePath(QStringLiteral("pipe.mp4"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!lg::VideoInfo::probe(fifo));
        QVERIFY(!lg::VideoInfo::firstFrame(fifo));
        QVERIFY(timer.elapsed() < 2000);
    }
};

LG_TEST(VideoTest)
#include "test_video.moc"
