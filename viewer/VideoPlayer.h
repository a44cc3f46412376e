#pragma once
// The viewer's video player: one video's playback with sound, shown in a
// myplayerview. The playback itself lives in the Qt Multimedia module, loaded
// when the first video is played; create() gives none while that module
// cannot be loaded, and the viewer then shows the video's type icon. Main
// thread only. The enums have QMediaPlayer's values.
#include <QObject>
#include <QUrl>

#include <memory>

class myplayerview;

namespace lg::image {
class VideoPlayback;
}

class VideoPlayer : public QObject
{
    Q_OBJECT
public:
    enum PlaybackState { StoppedState, PlayingState, PausedState };
    Q_ENUM(PlaybackState)
    enum MediaStatus { NoMedia, LoadingMedia, LoadedMedia, StalledMedia, BufferingMedia, BufferedMedia, EndOfMedia,
                       InvalidMedia };
    Q_ENUM(MediaStatus)

    // A player whose pictures show in view (none: not shown), or null when
    // the Qt Multimedia module cannot be loaded.
    static VideoPlayer *create(myplayerview *view, QObject *parent);
    // Whether url may go to a player: a local file only when it probes as a
    // real video (a picture named like a video, or a broken file, would reach
    // the media framework's decoders without the pixel limit), and the Qt
    // Multimedia module loaded. Reads the file and loads the FFmpeg and Qt
    // Multimedia modules when not loaded yet: for a worker thread, never the
    // main thread. create() is quick afterwards.
    static bool prepare(const QUrl &url);
    ~VideoPlayer() override;

    void setSource(const QUrl &url);
    void play();
    void pause();
    void stop();
    qint64 position() const;
    qint64 duration() const;
    void setPosition(qint64 ms);
    bool isSeekable() const;
    PlaybackState playbackState() const;
    MediaStatus mediaStatus() const;

Q_SIGNALS:
    void positionChanged(qint64 ms);
    void durationChanged(qint64 ms);
    void playbackStateChanged(VideoPlayer::PlaybackState state);
    void mediaStatusChanged(VideoPlayer::MediaStatus status);
    // The media cannot be played.
    void errorOccurred();

private:
    explicit VideoPlayer(QObject *parent);

    std::unique_ptr<lg::image::VideoPlayback> m_playback;
};
