// The viewer's videos start playing however they are opened: the player is
// made when a video is shown, and play() comes while the media is still
// loading, which the media framework must not lose.
#include "app/Essentials.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/VideoControlStrip.h"
#include "viewer/VideoPlayer.h"
#include "tests/viewer/ViewerFixtures.h"
#include "viewer/viewimagevc.h"

#include <QPointer>
#include <QSlider>
#include <QThread>

using namespace viewertest;
namespace fx = lg::test::fixtures;

class VideoPlaybackTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aVideoOpenedInTheViewerPlaysEveryTime()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("playback"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/clip.mp4"),
                                            QStringLiteral("testsrc=duration=2:size=1280x720:rate=25"),
                                            {QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p")});
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        const QString picture = writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::red);
        itemList = {itemFor(picture, true), itemFor(clip, false)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();

        // Each showing makes a new player and asks it to play at once, as a
        // double-click in the grid does; the race with the media's loading is
        // lost only now and then, so it is run several times.
        for (int round = 0; round < 12; ++round) {
            viewer->showItem(QUrl::fromLocalFile(picture), true);
            viewer->showItem(QUrl::fromLocalFile(clip), std::nullopt);
            // The main thread busy for a while, as the grid's own work keeps it
            // after a double-click: the media's loading goes on meanwhile.
            QThread::msleep(round * 40);
            QTRY_VERIFY(viewer->videoPlayer);
            QPointer<VideoPlayer> player = viewer->videoPlayer;
            QCOMPARE(player->playbackState(), VideoPlayer::PlayingState);
            QTRY_VERIFY_WITH_TIMEOUT(player && (player->position() > 0
                                                || player->mediaStatus() == VideoPlayer::InvalidMedia),
                                     10000);
            if (player->mediaStatus() == VideoPlayer::InvalidMedia)
                QSKIP("this system cannot play the generated clip");
            QCOMPARE(player->playbackState(), VideoPlayer::PlayingState);
        }

        // Paused while still loading: it stays paused once loaded.
        viewer->showItem(QUrl::fromLocalFile(picture), true);
        viewer->showItem(QUrl::fromLocalFile(clip), std::nullopt);
        QTRY_VERIFY(viewer->videoPlayer);
        QPointer<VideoPlayer> player = viewer->videoPlayer;
        player->pause();
        QTRY_VERIFY_WITH_TIMEOUT(player->mediaStatus() == VideoPlayer::LoadedMedia
                                     || player->mediaStatus() == VideoPlayer::BufferedMedia,
                                 10000);
        QTest::qWait(300);
        QVERIFY(player->playbackState() != VideoPlayer::PlayingState);
        // The player comes from a worker, and may have played a frame or two
        // before the pause: from the pause on, the picture stands still.
        const qint64 pausedAt = player->position();
        QTest::qWait(300);
        QCOMPARE(player->position(), pausedAt);
        viewer->hide();
    }

    // A click on the position bar takes the video to the clicked place, in
    // either direction, however far from the knob.
    void aClickOnThePositionBarGoesWhereItWasClicked_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<bool>("playedToItsEnd");
        QTest::newRow("forward to three quarters") << 0.0 << 0.75 << false;
        QTest::newRow("back to a fifth") << 0.8 << 0.2 << false;
        QTest::newRow("after it played to its end") << 0.9 << 0.4 << true;
    }
    void aClickOnThePositionBarGoesWhereItWasClicked()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(bool, playedToItsEnd);
        const QString folder = lg::test::freshFolder(QStringLiteral("seek"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/clip.mp4"),
                                            QStringLiteral("testsrc=duration=4:size=160x120:rate=25"),
                                            {QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p")});
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        QObject owner;
        VideoPlayer *player = VideoPlayer::create(nullptr, &owner);
        if (!player)
            QSKIP("the media module cannot be loaded");
        player->setSource(QUrl::fromLocalFile(clip));
        player->pause();
        QTRY_VERIFY_WITH_TIMEOUT(player->duration() > 0 || player->mediaStatus() == VideoPlayer::InvalidMedia, 10000);
        if (player->mediaStatus() == VideoPlayer::InvalidMedia)
            QSKIP("this system cannot play the generated clip");
        const qint64 duration = player->duration();
        player->setPosition(qint64(duration * from));
        QTRY_VERIFY(std::abs(player->position() - qint64(duration * from)) < duration / 10);
        if (playedToItsEnd) {
            player->play();
            QTRY_COMPARE_WITH_TIMEOUT(player->mediaStatus(), VideoPlayer::EndOfMedia, 10000);
        }

        VideoControlStrip strip;
        strip.resize(500, VideoControlStrip::stripHeight);
        strip.setPlayer(player);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        QSlider *bar = strip.positionSlider();
        QCOMPARE(bar->maximum(), int(duration));
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(int(bar->width() * to), bar->height() / 2));
        const qint64 wanted = qint64(duration * to);
        QTRY_VERIFY2(std::abs(player->position() - wanted) < duration / 10,
                     qPrintable(QStringLiteral("at %1 ms, clicked at %2 ms").arg(player->position()).arg(wanted)));
        QVERIFY(std::abs(bar->value() - wanted) < duration / 10);
        // The picture and the time are those of the clicked place, also after the end.
        QVERIFY(player->playbackState() != VideoPlayer::StoppedState);
        QTRY_COMPARE(strip.timeLabel()->text().section(QLatin1Char('/'), 0, 0).trimmed(),
                     VideoControlStrip::timeText(wanted));
    }
};

LG_TEST(VideoPlaybackTest)
#include "test_videoplayback.moc"
