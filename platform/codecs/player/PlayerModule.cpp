// The Qt Multimedia module: video playback with sound, and the widget that shows it.
#include "platform/image/ModuleInterfaces.h"

#include <QAudioOutput>
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
                             if (m_events.statusChanged)
                                 m_events.statusChanged(int(status));
                         });
        QObject::connect(&m_player, &QMediaPlayer::errorOccurred, &m_player, [this](QMediaPlayer::Error error) {
            if (error != QMediaPlayer::NoError && m_events.failed)
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
    void setSource(const QUrl &url) override { m_player.setSource(url); }
    void play() override { m_player.play(); }
    void pause() override { m_player.pause(); }
    void stop() override { m_player.stop(); }
    qint64 position() const override { return m_player.position(); }
    qint64 duration() const override { return m_player.duration(); }
    void setPosition(qint64 ms) override { m_player.setPosition(ms); }
    bool isSeekable() const override { return m_player.isSeekable(); }
    int state() const override { return int(m_player.playbackState()); }
    int status() const override { return int(m_player.mediaStatus()); }

private:
    Events m_events;
    QAudioOutput m_audio;   // outlives the player
    QMediaPlayer m_player;
    QPointer<QVideoWidget> m_view;
};

class Player final : public PlayerModule
{
public:
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
