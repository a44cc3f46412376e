#pragma once
// The controls under the viewer's video: play and pause, the position
// slider and the elapsed and total time of the player it is given.
#include <QIcon>
#include <QPointer>
#include <QWidget>

class QLabel;
class VideoPlayer;

class QPushButton;
class QSlider;

class VideoControlStrip : public QWidget
{
    Q_OBJECT
public:
    static constexpr int stripHeight = 34;

    explicit VideoControlStrip(QWidget *parent = nullptr);

    // Follows player from now on (none: the controls rest).
    void setPlayer(VideoPlayer *player);
    VideoPlayer *player() const { return m_player; }

    // "m:ss", or "h:mm:ss" from an hour on.
    static QString timeText(qint64 ms);

    QSlider *positionSlider() const { return m_position; }
    QLabel *timeLabel() const { return m_time; }

private:
    void seekTo(qint64 ms);
    void togglePlay();
    void refresh();

    QPointer<VideoPlayer> m_player;
    QIcon m_playIcon;
    QIcon m_pauseIcon;
    bool m_showsPause = true;
    QPushButton *m_play = nullptr;
    QSlider *m_position = nullptr;
    QLabel *m_time = nullptr;
    QList<QMetaObject::Connection> m_connections;
    bool m_seeking = false;
};
