#include "viewer/AnimatedImage.h"

#include "platform/runtime/Background.h"
#include "platform/runtime/Timer.h"

#include <QFileInfo>

AnimatedImage::AnimatedImage(QObject *parent) : QObject(parent)
{
    m_timer = new lg::Timer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &lg::Timer::timeout, this, &AnimatedImage::advance);
}

AnimatedImage::~AnimatedImage()
{
    if (m_giveUp)
        m_giveUp->store(true);
}

AnimatedImage::Frames AnimatedImage::readFrames(const QString &path)
{
    return lg::image::readAnimation(path);
}

void AnimatedImage::setImageWithURL(const QString &path)
{
    stop();
    m_frames = Frames();
    m_path = path;
    m_loaded = false;
    m_current = 0;
    m_loops = 0;
    m_shortfall.clear();
    const quint64 generation = ++m_generation;
    if (path.isEmpty() || QFileInfo(path).suffix().toLower() != QLatin1String("gif")) {
        m_loaded = true;
        Q_EMIT loaded(QImage());
        return;
    }
    m_giveUp = std::make_shared<std::atomic<bool>>(false);
    using Read = std::pair<Frames, lg::DecodeReport>;
    lg::runThenCallback(
        this,
        [path, giveUp = m_giveUp] {
            Read read;
            read.first = lg::image::readAnimation(path, &read.second, giveUp.get());
            return read;
        },
        [this, generation](Read read) {
            if (generation == m_generation)
                start(std::move(read.first), read.second);
        });
}

void AnimatedImage::start(Frames frames, const lg::DecodeReport &report)
{
    m_frames = std::move(frames);
    m_shortfall = report.words;
    if (!m_shortfall.isEmpty()) {
        qWarning("The animation %s: %s", m_frames.images.isEmpty() ? "was not decoded" : "was cut short",
                 qPrintable(m_shortfall));
    }
    m_loaded = true;
    m_current = 0;
    m_loops = 0;
    Q_EMIT loaded(currentImage());
    if (m_frames.images.size() > 1)
        m_timer->start(m_frames.delaysMs.first());
}

void AnimatedImage::stop()
{
    m_timer->stop();
    ++m_generation;
    if (m_giveUp)
        m_giveUp->store(true);
}

bool AnimatedImage::isRunning() const
{
    return m_timer->isActive();
}

QImage AnimatedImage::currentImage() const
{
    if (m_current < 0 || m_current >= m_frames.images.size())
        return QImage();
    return m_frames.images.at(m_current);
}

void AnimatedImage::advance()
{
    const int count = int(m_frames.images.size());
    if (count < 2)
        return;
    int next = m_current + 1;
    if (next >= count) {
        if (++m_loops >= repeatCount)
            return;  // the last frame stays
        next = 0;
    }
    m_current = next;
    Q_EMIT frameChanged(m_frames.images.at(next));
    m_timer->start(m_frames.delaysMs.at(next));
}
