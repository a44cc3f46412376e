#pragma once
// Plays an animated GIF frame by frame: the frames are decoded in one pass on
// a background thread, then shown one after the other, each for its own
// delay (a delay of 0 counts as 0.05 s), the whole run repeated 50000 times.
// The frames advance through lg::Timer, so tests drive them with a FakeClock.
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

namespace lg { class Timer; }

class AnimatedImage : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultFrameDelayMs = 50;
    static constexpr int repeatCount = 50000;
    // Frames beyond this many decoded bytes are left out of the animation (the
    // first frame always plays), like the other caches of pictures.
    static constexpr qint64 maximumBytes = 128LL * 1024 * 1024;
    // A larger file is not read for an animation.
    static constexpr qint64 maximumFileBytes = 256LL * 1024 * 1024;

    struct Frames
    {
        QList<QImage> images;
        QList<int> delaysMs;       // one per image, each at least 1 ms
        float totalSeconds = 0;    // the sum of every frame's delay
    };

    explicit AnimatedImage(QObject *parent = nullptr);
    ~AnimatedImage() override;

    // Reads every frame of the file (any thread). A file that is not a GIF by
    // its lower-cased extension, cannot be read or has no frame gives none.
    static Frames readFrames(const QString &path);
    // The delay of each frame as the GIF data stores it, in milliseconds (0
    // for a frame without one). Qt's reader shows stored delays below 20 ms
    // as 100 ms; the stored values are what the animation goes by.
    static QList<int> storedFrameDelays(const QByteArray &gif);

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

Q_SIGNALS:
    // The first frame is ready (with the picture's size), or the file gave
    // none (a null image).
    void loaded(const QImage &firstFrame);
    void frameChanged(const QImage &frame);

private:
    void start(Frames frames);
    void advance();

    Frames m_frames;
    QString m_path;
    lg::Timer *m_timer = nullptr;
    int m_current = 0;
    int m_loops = 0;
    bool m_loaded = false;
    quint64 m_generation = 0;
};
