// The Qt Multimedia module: video playback with sound, and the widget that shows it.
#include "platform/image/ModuleInterfaces.h"

#include <QAudioOutput>
#include <QMediaFormat>
#include <QMediaPlayer>
#include <QPointer>
#include <QVideoWidget>

namespace lg::image {

namespace {

class Playback final : public VideoPlayback
{
public:
    explicit Playback(Events events) : m_events(std::move(events))
    {
        m_player.setAudioOutput(&m_audio);
        QObject::connect(&m_player, &QMediaPlayer::positionChanged, &m_player, [this](qint64 ms) {
            if (m_events.positionChanged)
                m_events.positionChanged(ms);
        });
        QObject::connect(&m_player, &QMediaPlayer::durationChanged, &m_player, [this](qint64 ms) {
            if (m_events.durationChanged)
                m_events.durationChanged(ms);
        });
        QObject::connect(&m_player, &QMediaPlayer::playbackStateChanged, &m_player,
                         [this](QMediaPlayer::PlaybackState state) {
                             if (m_events.stateChanged)
                                 m_events.stateChanged(int(state));
                         });
        QObject::connect(&m_player, &QMediaPlayer::mediaStatusChanged, &m_player,
                         [this](QMediaPlayer::MediaStatus status) {
                             // The held play starts once the media has loaded (or
                             // is dropped when it cannot), before the owner hears of it.
                             if (m_playWhenLoaded && status != QMediaPlayer::LoadingMedia
                                 && status != QMediaPlayer::NoMedia) {
                                 if (status == QMediaPlayer::InvalidMedia) {
                                     dropHeldPlay();
                                 } else {
                                     m_playWhenLoaded = false;
                                     m_player.play();
                                 }
                             }
                             if (m_events.statusChanged)
                                 m_events.statusChanged(int(status));
                         });
        QObject::connect(&m_player, &QMediaPlayer::errorOccurred, &m_player, [this](QMediaPlayer::Error error) {
            if (error == QMediaPlayer::NoError)
                return;
            dropHeldPlay();
            if (m_events.failed)
                m_events.failed();
        });
    }

    ~Playback() override
    {
        // No event reaches the owner while the player winds down.
        QObject::disconnect(&m_player, nullptr, nullptr, nullptr);
        m_player.stop();
        m_player.setVideoOutput(nullptr);
    }

    void setVideoView(QWidget *view) override
    {
        m_view = qobject_cast<QVideoWidget *>(view);
        m_player.setVideoOutput(m_view.data());
    }
    void setSource(const QUrl &url) override
    {
        m_playWhenLoaded = false;
        m_player.setSource(url);
    }
    // A play asked for while the media is still loading is held until it has
    // loaded: the GStreamer backend can lose a PLAYING request that arrives
    // while the pipeline is still linking its outputs, and the video then
    // stays black at 0:00 in a player that says it plays. Until then the
    // player reports the playing state it was asked for.
    void play() override
    {
        if (m_player.mediaStatus() == QMediaPlayer::LoadingMedia) {
            if (!m_playWhenLoaded) {
                m_playWhenLoaded = true;
                if (m_events.stateChanged)
                    m_events.stateChanged(int(QMediaPlayer::PlayingState));
            }
            return;
        }
        m_player.play();
    }
    void pause() override
    {
        dropHeldPlay();
        m_player.pause();
    }
    void stop() override
    {
        dropHeldPlay();
        m_player.stop();
    }
    qint64 position() const override { return m_player.position(); }
    qint64 duration() const override { return m_player.duration(); }
    void setPosition(qint64 ms) override { m_player.setPosition(ms); }
    bool isSeekable() const override { return m_player.isSeekable(); }
    int state() const override
    {
        return m_playWhenLoaded ? int(QMediaPlayer::PlayingState) : int(m_player.playbackState());
    }
    int status() const override { return int(m_player.mediaStatus()); }

private:
    void dropHeldPlay()
    {
        if (!m_playWhenLoaded)
            return;
        m_playWhenLoaded = false;
        if (m_events.stateChanged)
            m_events.stateChanged(int(m_player.playbackState()));
    }

    Events m_events;
    QAudioOutput m_audio;   // outlives the player
    QMediaPlayer m_player;
    QPointer<QVideoWidget> m_view;
    bool m_playWhenLoaded = false;   // play() came while the media was loading
};

class Player final : public PlayerModule
{
public:
    Player()
    {
        // The media backend (GStreamer, its plugin registry and plugins)
        // starts here, on the thread that loads the module (a worker, ahead
        // of need), not in the first video widget on the main thread.
        (void)QMediaFormat().supportedFileFormats(QMediaFormat::Decode);
    }
    QWidget *createVideoView(QWidget *parent) const override
    {
        auto *view = new QVideoWidget(parent);
        view->setAspectRatioMode(Qt::KeepAspectRatio);
        return view;
    }
    std::unique_ptr<VideoPlayback> createPlayback(VideoPlayback::Events events) const override
    {
        return std::make_unique<Playback>(std::move(events));
    }
};

} // namespace

} // namespace lg::image

LG_MODULE_EXPORT const void *lumengallery_player_module(int version)
{
    static const lg::image::Player module;
    return version == lg::image::moduleInterfaceVersion ? static_cast<const lg::image::PlayerModule *>(&module)
                                                        : nullptr;
}
