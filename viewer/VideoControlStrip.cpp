#include "viewer/VideoControlStrip.h"

#include "viewer/VideoPlayer.h"

#include "controls/Sliders.h"
#include "viewer/ViewerIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include <climits>

namespace {

// The position bar: a press of the left button on the bar beside the knob
// puts the knob under the pointer at once (a plain slider moves one page
// step, 10 ms here), and the press then holds the knob, so that a drag goes on
// from there.
class SeekSlider : public CustomSliderCell
{
public:
    using CustomSliderCell::CustomSliderCell;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && maximum() > minimum()) {
            QStyleOptionSlider option;
            initStyleOption(&option);
            const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
            const QPoint at = event->position().toPoint();
            if (!handle.contains(at)) {
                const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
                const bool across = orientation() == Qt::Horizontal;
                const int length = across ? handle.width() : handle.height();
                const int start = across ? groove.x() : groove.y();
                const int span = (across ? groove.width() : groove.height()) - length;
                const int offset = (across ? at.x() : at.y()) - start - length / 2;
                // Held down first: the video seeks once, when the press ends.
                setSliderDown(true);
                setSliderPosition(QStyle::sliderValueFromPosition(minimum(), maximum(), offset, span,
                                                                  option.upsideDown));
            }
        }
        CustomSliderCell::mousePressEvent(event);
    }
};

} // namespace

VideoControlStrip::VideoControlStrip(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("videoControls"));
    setFixedHeight(stripHeight);
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral(
        "#videoControls { background: #262626; border-top: 1px solid #333333; }"
        "QPushButton { background: transparent; border: none; border-radius: 4px; padding: 3px; }"
        "QPushButton:hover { background: rgba(255,255,255,0.10); }"
        "QLabel { color: #bdbdbd; font-size: 11px; }"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(10, 2, 12, 2);
    row->setSpacing(8);
    m_play = new QPushButton(this);
    m_play->setObjectName(QStringLiteral("btnVideoPlay"));
    m_play->setIconSize(QSize(14, 14));
    m_playIcon = viewericons::icon(QStringLiteral("play-icon-18-256"), QSize(14, 14));
    m_pauseIcon = viewericons::icon(QStringLiteral("pause-icon-18-256"), QSize(14, 14));
    m_play->setCursor(Qt::PointingHandCursor);
    m_play->setFocusPolicy(Qt::NoFocus);
    m_position = new SeekSlider(Qt::Horizontal, this);
    m_position->setObjectName(QStringLiteral("videoPosition"));
    m_position->setRange(0, 0);
    m_position->setFocusPolicy(Qt::NoFocus);
    m_time = new QLabel(QStringLiteral("0:00 / 0:00"), this);
    m_time->setObjectName(QStringLiteral("videoTime"));
    row->addWidget(m_play);
    row->addWidget(m_position, 1);
    row->addWidget(m_time);

    connect(m_play, &QPushButton::clicked, this, &VideoControlStrip::togglePlay);
    connect(m_position, &QSlider::sliderPressed, this, [this] { m_seeking = true; });
    connect(m_position, &QSlider::sliderReleased, this, [this] {
        m_seeking = false;
        seekTo(m_position->value());
    });
    connect(m_position, &QSlider::valueChanged, this, [this](int value) {
        // Clicks on the groove move at once; a drag seeks when it ends.
        if (m_player && !m_seeking && !m_position->isSliderDown() && value != int(m_player->position()))
            seekTo(value);
    });
    refresh();
}

void VideoControlStrip::setPlayer(VideoPlayer *player)
{
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_player = player;
    if (player) {
        m_connections << connect(player, &VideoPlayer::positionChanged, this, &VideoControlStrip::refresh)
                      << connect(player, &VideoPlayer::durationChanged, this, &VideoControlStrip::refresh)
                      << connect(player, &VideoPlayer::playbackStateChanged, this, &VideoControlStrip::refresh);
    }
    refresh();
}

QString VideoControlStrip::timeText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, ms) / 1000;
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds / 60) % 60;
    const qint64 rest = seconds % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(rest, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
}

void VideoControlStrip::seekTo(qint64 ms)
{
    if (!m_player)
        return;
    // A video that played to its end has stopped and shows nothing: paused
    // there, it shows the picture at the new place, and the time says so.
    if (m_player->playbackState() == VideoPlayer::StoppedState)
        m_player->pause();
    m_player->setPosition(ms);
}

void VideoControlStrip::togglePlay()
{
    if (!m_player)
        return;
    if (m_player->playbackState() == VideoPlayer::PlayingState) {
        m_player->pause();
    } else {
        if (m_player->mediaStatus() == VideoPlayer::EndOfMedia)
            m_player->setPosition(0);
        m_player->play();
    }
}

void VideoControlStrip::refresh()
{
    const bool playing = m_player && m_player->playbackState() == VideoPlayer::PlayingState;
    if (playing != m_showsPause) {
        m_showsPause = playing;
        m_play->setIcon(playing ? m_pauseIcon : m_playIcon);
    }
    const qint64 duration = m_player ? std::max<qint64>(0, m_player->duration()) : 0;
    const qint64 position = m_player ? std::max<qint64>(0, m_player->position()) : 0;
    if (!m_seeking) {
        const QSignalBlocker block(m_position);
        m_position->setRange(0, int(std::min<qint64>(duration, INT_MAX)));
        m_position->setValue(int(std::min<qint64>(position, INT_MAX)));
    }
    m_time->setText(timeText(position) + QStringLiteral(" / ") + timeText(duration));
}
