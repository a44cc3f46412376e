// The viewer's videos start playing however they are opened: the player is
// made when a video is shown, and play() comes while the media is still
// loading, which the media framework must not lose.
#include "app/Essentials.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/VideoPlayer.h"
#include "viewer/ViewerFixtures.h"
#include "viewer/viewimagevc.h"

#include <QPointer>
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
        QCOMPARE(player->position(), qint64(0));
        viewer->hide();
    }
};

LG_TEST(VideoPlaybackTest)
#include "test_videoplayback.moc"
