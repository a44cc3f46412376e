// The viewer's moving pictures: animated GIFs, videos (with the slideshow
// waiting for them) and the slideshow's transitions.
#include "app/Essentials.h"
#include "platform/ControllerRegistry.h"
#include "platform/Timer.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/ViewerFixtures.h"
#include "viewer/AnimatedImage.h"
#include "viewer/SlideTransition.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/viewimagevc.h"

#include <QDir>
#include <QMediaPlayer>
#include <QPainter>
#include <QVariantAnimation>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>

namespace fx = lg::test::fixtures;

using namespace viewertest;

namespace {

// A GIF of solid frames, each with its delay in hundredths of a second.
QString writeGif(const QString &path, const QList<std::pair<QString, int>> &frames)
{
    QStringList arguments;
    for (const auto &[color, delay] : frames)
        arguments << QStringLiteral("-delay") << QString::number(delay) << QStringLiteral("-size")
                  << QStringLiteral("8x8") << QStringLiteral("xc:") + color;
    arguments << QStringLiteral("-loop") << QStringLiteral("0") << path;
    return fx::run(QStringLiteral("convert"), arguments) ? path : QString();
}

QColor colorOf(const QImage &image)
{
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

class ViewerMediaTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        resetSharedState();
        viewerItemURL.reset();
        currentScreenMode = ScreenViewer;
    }

    void cleanup()
    {
        if (auto *viewer = qobject_cast<viewimagevc *>(lg::ControllerRegistry::existing(QStringLiteral("viewimagevc"))))
            viewer->hide();
    }

    void gifFramesKeepTheirOwnDelays()
    {
        if (!fx::hasTool(QStringLiteral("convert")))
            QSKIP("ImageMagick's convert is not installed");
        const QString folder = lg::test::freshFolder(QStringLiteral("gifs"));
        const QString path = writeGif(folder + QStringLiteral("/ANIM.GIF"), {{"red", 10}, {"lime", 30}, {"blue", 0}});
        QVERIFY(!path.isEmpty());

        const AnimatedImage::Frames frames = AnimatedImage::readFrames(path);
        QCOMPARE(frames.images.size(), 3);
        QCOMPARE(frames.delaysMs, (QList<int> {100, 300, 50}));
        QCOMPARE(frames.totalSeconds, 0.45f);

        // Twenty frames without delays last a second.
        QList<std::pair<QString, int>> twenty;
        for (int i = 0; i < 20; ++i)
            twenty.append({i % 2 ? QStringLiteral("white") : QStringLiteral("black"), 0});
        const QString still = writeGif(folder + QStringLiteral("/twenty.gif"), twenty);
        QCOMPARE(AnimatedImage::readFrames(still).totalSeconds, 1.0f);
        // Not a GIF by its name, or not readable: no frames.
        QVERIFY(AnimatedImage::readFrames(writePicture(folder + QStringLiteral("/a.png"), {8, 8}, Qt::red)).images.isEmpty());
        QVERIFY(AnimatedImage::readFrames(lg::test::writeFile(folder + QStringLiteral("/bad.gif"), "nope")).images.isEmpty());

        // In the viewer, driven by the clock.
        lg::FakeClock clock;
        itemList = {itemFor(path, true), itemFor(folder + QStringLiteral("/a.png"), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->imgview->hasImage());
        QCOMPARE(viewer->imgview->pixelSize(), QSize(8, 8));
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::red));
        clock.advance(99);
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::red));
        clock.advance(1);
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::green));
        clock.advance(299);
        QCOMPARE(viewer->animatedImage()->currentFrame(), 1);
        clock.advance(1);
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::blue));
        clock.advance(50);
        QCOMPARE(viewer->animatedImage()->currentFrame(), 0);

        // Showing another picture stops the animation.
        viewer->showNextItem();
        QVERIFY(!viewer->animatedImage()->isRunning());
    }

    void slideshowWaitsForTheEndOfAVideo()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("videos"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/clip.mp4"), QStringLiteral("color=c=red:s=64x48:d=0.6"),
                                            {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-pix_fmt"),
                                             QStringLiteral("yuv420p")});
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        lg::FakeClock clock;
        itemList = {itemFor(writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::blue), true),
                    itemFor(clip, false),
                    itemFor(writePicture(folder + QStringLiteral("/b.png"), {64, 48}, Qt::green), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        int frames = 0;
        QColor firstFrame;
        QObject receiver;   // the connection ends with the test
        QObject::connect(viewer->avKitPlayer->videoSink(), &QVideoSink::videoFrameChanged, &receiver,
                         [&](const QVideoFrame &frame) {
                             if (frames++ == 0)
                                 firstFrame = colorOf(frame.toImage());
                         });
        viewer->toggleSlideShow();
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);
        QVERIFY(viewer->videoPlayer);
        QVERIFY(!viewer->timerAutoplay->isActive());
        clock.advance(60000);
        QCOMPARE(selectedItemIndex, 1);

        // The end of the video restarts the interval.
        QMediaPlayer *player = viewer->videoPlayer;
        QTRY_VERIFY_WITH_TIMEOUT(player->mediaStatus() == QMediaPlayer::EndOfMedia ||
                                     player->mediaStatus() == QMediaPlayer::InvalidMedia,
                                 15000);
        if (player->mediaStatus() == QMediaPlayer::InvalidMedia)
            QSKIP("this system cannot play the generated clip");
        QVERIFY(viewer->timerAutoplay->isActive());
        QVERIFY(frames > 0);
        QVERIFY(fx::near(firstFrame, Qt::red));
        clock.advance(2999);
        QCOMPARE(selectedItemIndex, 1);
        clock.advance(1);
        QCOMPARE(selectedItemIndex, 2);
    }

    void aVideoThatCannotPlayDoesNotStallTheSlideshow()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("broken"));
        lg::FakeClock clock;
        itemList = {itemFor(writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::blue), true),
                    itemFor(lg::test::writeFile(folder + QStringLiteral("/broken.mp4"), QByteArray(4000, 'z')), false),
                    itemFor(lg::test::writeFile(folder + QStringLiteral("/vanished.mov"), "soon gone"), false),
                    itemFor(writePicture(folder + QStringLiteral("/b.png"), {64, 48}, Qt::green), true)};
        QVERIFY(itemList.at(2).file);
        QVERIFY(QFile::remove(folder + QStringLiteral("/vanished.mov")));
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        viewer->toggleSlideShow();
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->timerAutoplay->isActive(), 15000);
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 2);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->timerAutoplay->isActive(), 15000);
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 3);
    }

    void aHiddenVideoNeverPlaysOn()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("hidden"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/long.mp4"), QStringLiteral("color=c=blue:s=64x48:d=20"),
                                            {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-r"),
                                             QStringLiteral("5")});
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        itemList = {itemFor(clip, false), itemFor(writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::red), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QPointer<QMediaPlayer> player = viewer->videoPlayer;
        QVERIFY(player);
        QTRY_COMPARE_WITH_TIMEOUT(player->playbackState(), QMediaPlayer::PlayingState, 10000);

        // Taken off the screen: paused.
        viewer->hide();
        QVERIFY(player->playbackState() != QMediaPlayer::PlayingState);

        // Opened while off the screen (a list refresh does that): not started.
        viewer->openSelectedItem();
        player = viewer->videoPlayer;
        QTest::qWait(300);
        QVERIFY(player->playbackState() != QMediaPlayer::PlayingState);

        // On screen again it plays; a picture shown in its place stops it.
        viewer->show();
        player = viewer->videoPlayer;
        QTRY_COMPARE_WITH_TIMEOUT(player->playbackState(), QMediaPlayer::PlayingState, 10000);
        viewer->showItem(itemList.at(1).file->url, true);
        QVERIFY(player.isNull() || player->playbackState() != QMediaPlayer::PlayingState);
    }

    void slideshowImagesArriveWithTheChosenTransition()
    {
        if (!fx::hasTool(QStringLiteral("convert")))
            QSKIP("ImageMagick's convert is not installed");
        const QString folder = lg::test::freshFolder(QStringLiteral("transitions"));
        lg::FakeClock clock;
        itemList = {itemFor(writePicture(folder + QStringLiteral("/a.png"), {300, 200}, Qt::red), true),
                    itemFor(writePicture(folder + QStringLiteral("/b.png"), {300, 200}, Qt::blue), true),
                    itemFor(writeGif(folder + QStringLiteral("/c.gif"), {{"green", 10}, {"white", 10}}), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->imgview->hasImage());
        const QString next = itemList.at(1).file->url.toLocalFile();
        QTRY_VERIFY(viewer->pictureLoader()->cached(PictureLoader::keyFor(next, viewer->decodeBound())).has_value());

        // Without a slideshow, no transition.
        viewer->showNextItem();
        QVERIFY(!viewer->transitionView->isRunning());
        viewer->showPreviousItem();

        viewer->pushFromTop();
        viewer->toggleSlideShow();
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);
        QVERIFY(viewer->transitionView->isRunning());
        QCOMPARE(viewer->transitionView->kind(), 2);
        QCOMPARE(viewer->transitionView->direction(), 3);
        // Half way, the new picture covers the top half.
        viewer->transitionView->animation()->setCurrentTime(250);
        const QImage shot = viewer->transitionView->grab().toImage();
        // (The 200 px high pictures stand in the middle: the new one's lower
        // half lies at the top, the old one's upper half at the bottom.)
        QVERIFY(fx::near(shot.pixelColor(shot.width() / 2, 50), Qt::blue, 24));
        QVERIFY(fx::near(shot.pixelColor(shot.width() / 2, shot.height() - 50), Qt::red, 24));
        QTRY_VERIFY(!viewer->transitionView->isRunning());
        QVERIFY(viewer->transitionView->isHidden());

        // An animated image arrives without one.
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 2);
        QVERIFY(!viewer->transitionView->isRunning());
        viewer->toggleSlideShow();
    }
};

LG_TEST(ViewerMediaTest)
#include "test_viewermedia.moc"
