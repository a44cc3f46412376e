// Video size, rotation, duration and first frame, for the containers of the
// program's video-extension list that FFmpeg handles, and bad input.
#include "platform/image/VideoInfo.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>

using namespace lg::test;
using namespace lg::test::fixtures;

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
