#pragma once
// The viewer's video: the player of the video on show, made ready on a worker
// (whether the file probes as a real video, and the modules it needs) and
// then started in the viewer's video view; the video asked for last wins, and
// one made ready for an item no longer shown is dropped. A video shown again
// after it changed on disk goes on from where it was, paused unless it was
// playing. Its end, or a video that cannot be played, lets a waiting
// slideshow go on; a file that cannot be played shows its type's icon. The
// viewer's videoPlayer and playerItem stay with the viewer, where other
// screens read them. Main thread; it lives as long as its viewer.
#include <QObject>
#include <QPointer>
#include <QUrl>

class VideoPlayer;
class viewimagevc;

class ViewerVideo : public QObject
{
    Q_OBJECT
public:
    explicit ViewerVideo(viewimagevc *viewer);

    // Makes the video at url ready on a worker, with its thumbnail standing
    // in meanwhile, then plays it (a viewer off the screen only prepares it).
    void show(const QUrl &url);
    // Shows url again after it changed on disk: from the same position,
    // paused unless the video on show was playing.
    void showAgain(const QUrl &url);
    // A video still being made ready is not shown; the next one starts from
    // its beginning and plays.
    void forgetWaiting();
    // Stops the player and lets it go; none is on show afterwards.
    void release();
    void pause();
    void stop();

private:
    // playable: the outcome of VideoPlayer::prepare for url; false shows its type's icon.
    void start(const QUrl &url, bool playable);
    void statusChanged(VideoPlayer *player, int status);

    viewimagevc *m_viewer;
    QPointer<VideoPlayer> m_current;
    quint64 m_ticket = 0;          // the video being made ready; others are dropped
    bool m_startsPaused = false;   // the next video made ready is not played
    qint64 m_resumeAt = -1;        // ms; where a video shown again goes on
};
