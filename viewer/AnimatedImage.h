#pragma once
// Plays an animated GIF frame by frame: the frames are decoded in one pass in
// a decode worker (lg::image::readAnimation), waited for on a background
// thread, then shown one after the other, each for its own delay (a delay of
// 0 counts as 0.05 s), the whole run repeated 50000 times. A decode that
// ends short (its worker held past its grant or its time, or crashed) plays
// the frames that came, or shows none, and says why in the log. Moving on
// to another file or stopping gives the decode under way up.
// The frames advance through lg::Timer, so tests drive them with a FakeClock.
#include "platform/image/AnimationFrames.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

namespace lg { class Timer; }

class AnimatedImage : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultFrameDelayMs = lg::image::defaultAnimationFrameDelayMs;
    static constexpr int repeatCount = 50000;
    // Frames beyond this many decoded bytes are left out of the animation (the
    // first frame always plays), like the other caches of pictures.
    static constexpr qint64 maximumBytes = lg::image::animationFrameBytes;
    // A larger file is not read for an animation.
    static constexpr qint64 maximumFileBytes = lg::image::animationFileBytes;

    using Frames = lg::image::AnimationFrames;

    explicit AnimatedImage(QObject *parent = nullptr);
    ~AnimatedImage() override;

    // Reads every frame of the file (any thread). A file that is not a GIF by
    // its lower-cased extension, cannot be read or has no frame gives none.
    static Frames readFrames(const QString &path);

    // Stops what plays and starts loading path; nothing plays for an empty
    // path or a file that readFrames rejects.
    void setImageWithURL(const QString &path);
    void stop();

    QString path() const { return m_path; }
    bool isLoaded() const { return m_loaded; }
    bool isRunning() const;
    int frameCount() const { return int(m_frames.images.size()); }
    int currentFrame() const { return m_current; }
    float totalSeconds() const { return m_frames.totalSeconds; }
    QImage currentImage() const;
    // Why the last decode ended short of the file's end, in words; empty
    // when it did not.
    QString shortfall() const { return m_shortfall; }

Q_SIGNALS:
    // The first frame is ready (with the picture's size), or the file gave
    // none (a null image).
    void loaded(const QImage &firstFrame);
    void frameChanged(const QImage &frame);

private:
    void start(Frames frames, const lg::DecodeReport &report);
    void advance();

    Frames m_frames;
    QString m_path;
    lg::Timer *m_timer = nullptr;
    int m_current = 0;
    int m_loops = 0;
    bool m_loaded = false;
    quint64 m_generation = 0;
    QString m_shortfall;
    // Set when the decode under way is no longer wanted.
    std::shared_ptr<std::atomic<bool>> m_giveUp;
};
