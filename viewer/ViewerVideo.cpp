// The viewer's video: making it ready, playing it, resuming it and letting it go.
#include "viewer/ViewerVideo.h"

#include "app/Essentials.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Timer.h"
#include "viewer/AnimatedImage.h"
#include "viewer/SlideTransition.h"
#include "viewer/VideoControlStrip.h"
#include "viewer/VideoPlayer.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/viewimagevc.h"

#include <algorithm>
#include <utility>

ViewerVideo::ViewerVideo(viewimagevc *viewer) : QObject(viewer), m_viewer(viewer) {}

void ViewerVideo::forgetWaiting()
{
    m_resumeAt = -1;
    m_startsPaused = false;
    ++m_ticket;   // a video still being made ready is not shown
}

void ViewerVideo::pause()
{
    if (m_current)
        m_current->pause();
}

void ViewerVideo::stop()
{
    if (m_current)
        m_current->stop();
}

void ViewerVideo::release()
{
    ++m_ticket;   // a video still being made ready is not shown any more
    if (!m_current)
        return;
    VideoPlayer *old = m_current;
    if (m_viewer->videoPlayer == old)
        m_viewer->videoPlayer = nullptr;
    m_viewer->videoControls->setPlayer(nullptr);
    old->disconnect(this);
    old->stop();
    old->deleteLater();
    m_current = nullptr;
}

void ViewerVideo::showAgain(const QUrl &url)
{
    m_resumeAt = m_current ? m_current->position() : -1;
    // Shown again as it was: paused unless it was playing. The identity is
    // taken once the new content is on screen (or its type's icon).
    m_startsPaused = !(m_current && m_current->playbackState() == VideoPlayer::PlayingState);
    show(url);
}

void ViewerVideo::show(const QUrl &url)
{
    viewimagevc &viewer = *m_viewer;
    viewer.imgview->clearPicture();
    viewer.m_animation->stop();
    viewer.transitionView->finish();

    release();
    const quint64 ticket = ++m_ticket;
    // A name that is not valid UTF-8 does not reach the player: the media
    // framework opens files by their names as text, the look-alike's.
    if (const QString path = lg::FileNames::pathOf(url); lg::FileNames::hasRawBytes(path)) {
        start(url, false);
        return;
    }
    // The slideshow waits for the end of the video.
    if (viewer.isSlideShowRunning && viewer.timerAutoplay)
        viewer.timerAutoplay->stop();
    // Whether it probes as a real video, and the FFmpeg and Qt Multimedia
    // modules it needs (loaded for the first video), are made ready on a
    // worker; its thumbnail stands in meanwhile. The newest video asked for
    // wins.
    viewer.setVideoShown(false);
    viewer.imgview->show();
    viewer.boxForImgview->show();
    viewer.scrollview->show();
    viewer.setPlaceholderFor(lg::FileNames::pathOf(url));
    viewer.showImageCommonTail();
    const auto done = [this, ticket, url](const bool &result) {
        if (ticket == m_ticket)
            start(url, result);
    };
    lg::runThenCallback(this, [url] { return VideoPlayer::prepare(url); }, done);
}

void ViewerVideo::start(const QUrl &url, bool playable)
{
    viewimagevc &viewer = *m_viewer;
    const bool startsPaused = std::exchange(m_startsPaused, false);
    // Only what probes as a real video reaches the player: a picture named like
    // a video, or a broken file, would go to the media framework's decoders
    // without the pixel limit. Without the Qt Multimedia module a video shows
    // as its type's icon.
    VideoPlayer *player = playable ? VideoPlayer::create(viewer.avKitPlayer, &viewer) : nullptr;
    if (!player) {
        viewer.playerItem = url;
        viewer.showFileTypeIcon(lg::FileNames::pathOf(url));
        viewer.takeFollowedIdentity();   // its type's icon is its new content
        viewer.itemDidFinishPlaying();
        return;
    }
    m_current = player;
    viewer.videoPlayer = player;
    viewer.videoControls->setPlayer(player);
    connect(player, &VideoPlayer::mediaStatusChanged, this,
            [this, player](VideoPlayer::MediaStatus status) { statusChanged(player, int(status)); });
    connect(player, &VideoPlayer::errorOccurred, this,
            [this, player] { statusChanged(player, int(VideoPlayer::InvalidMedia)); });
    viewer.playerItem = url;
    // The slideshow waits for the end of the video.
    if (viewer.isSlideShowRunning && viewer.timerAutoplay)
        viewer.timerAutoplay->stop();
    player->setSource(url);

    viewer.imgview->hide();
    viewer.boxForImgview->hide();
    viewer.scrollview->hide();
    viewer.setVideoShown(true);
    // A viewer off the screen prepares the video but does not play it.
    if (viewer.isVisible() && !startsPaused)
        player->play();
}

void ViewerVideo::statusChanged(VideoPlayer *player, int status)
{
    if (player != m_current)
        return;
    viewimagevc &viewer = *m_viewer;
    // The end of the video, or a video that cannot be played: a waiting
    // slideshow goes on instead of stalling.
    if (status == VideoPlayer::InvalidMedia && viewer.playerItem.isLocalFile())
        viewer.showFileTypeIcon(lg::FileNames::pathOf(viewer.playerItem));
    if (status == VideoPlayer::LoadedMedia || status == VideoPlayer::BufferedMedia
        || status == VideoPlayer::InvalidMedia) {
        // A video shown again after it changed on disk goes on from where it was.
        if (m_resumeAt > 0 && status != VideoPlayer::InvalidMedia && player->isSeekable())
            player->setPosition(std::min(m_resumeAt, std::max<qint64>(0, player->duration() - 1)));
        m_resumeAt = -1;
        viewer.takeFollowedIdentity();
    }
    if (status == VideoPlayer::EndOfMedia || status == VideoPlayer::InvalidMedia)
        viewer.itemDidFinishPlaying();
}
