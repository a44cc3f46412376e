// The viewer's video player over the Qt Multimedia module.
#include "viewer/VideoPlayer.h"

#include "controls/ClickViews.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/modules/ModulePreload.h"
#include "platform/modules/Modules.h"
#include "platform/image/VideoInfo.h"
#include "platform/files/names/FileNames.h"

#include <QPointer>

VideoPlayer::VideoPlayer(QObject *parent) : QObject(parent) {}

VideoPlayer::~VideoPlayer() = default;

VideoPlayer *VideoPlayer::create(myplayerview *view, QObject *parent)
{
    const lg::image::PlayerModule *module = lg::image::playerModule();
    if (!module)
        return nullptr;
    auto *player = new VideoPlayer(parent);
    QPointer<VideoPlayer> self(player);
    lg::image::VideoPlayback::Events events;
    events.positionChanged = [self](qint64 ms) {
        if (self)
            Q_EMIT self->positionChanged(ms);
    };
    events.durationChanged = [self](qint64 ms) {
        if (self)
            Q_EMIT self->durationChanged(ms);
    };
    events.stateChanged = [self](int state) {
        if (self)
            Q_EMIT self->playbackStateChanged(PlaybackState(state));
    };
    events.statusChanged = [self](int status) {
        if (self)
            Q_EMIT self->mediaStatusChanged(MediaStatus(status));
    };
    events.failed = [self] {
        if (self)
            Q_EMIT self->errorOccurred();
    };
    player->m_playback = module->createPlayback(std::move(events));
    if (view)
        player->m_playback->setVideoView(view->videoView());
    return player;
}

bool VideoPlayer::prepare(const QUrl &url)
{
    using lg::image::Module;
    if (url.isLocalFile()
        && (!lg::image::loadModule(Module::Video) || !lg::VideoInfo::probe(lg::FileNames::pathOf(url))))
        return false;
    return lg::image::loadModule(Module::Player);
}

void VideoPlayer::setSource(const QUrl &url) { m_playback->setSource(url); }
void VideoPlayer::play() { m_playback->play(); }
void VideoPlayer::pause() { m_playback->pause(); }
void VideoPlayer::stop() { m_playback->stop(); }
qint64 VideoPlayer::position() const { return m_playback->position(); }
qint64 VideoPlayer::duration() const { return m_playback->duration(); }
void VideoPlayer::setPosition(qint64 ms) { m_playback->setPosition(ms); }
bool VideoPlayer::isSeekable() const { return m_playback->isSeekable(); }
VideoPlayer::PlaybackState VideoPlayer::playbackState() const { return PlaybackState(m_playback->state()); }
VideoPlayer::MediaStatus VideoPlayer::mediaStatus() const { return MediaStatus(m_playback->status()); }
