#include "viewer/AnimatedImage.h"

#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Timer.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

AnimatedImage::AnimatedImage(QObject *parent) : QObject(parent)
{
    m_timer = new lg::Timer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &lg::Timer::timeout, this, &AnimatedImage::advance);
}

AnimatedImage::~AnimatedImage() = default;

AnimatedImage::Frames AnimatedImage::readFrames(const QString &path)
{
    Frames frames;
    if (path.isEmpty() || QFileInfo(path).suffix().toLower() != QLatin1String("gif"))
        return frames;
    // By the path's exact bytes (a name that is not valid UTF-8 is never read
    // as its look-alike's), and only a regular file: a FIFO named like a GIF
    // would never end.
    const int fd = ::open(lg::FileNames::toNative(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return frames;
    QFile file;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maximumFileBytes
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return frames;
    }
    const QByteArray data = file.read(maximumFileBytes);
    const QList<int> stored = storedFrameDelays(data);
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    // One pass over the file: a GIF frame is drawn over the ones before it.
    QImageReader reader(&buffer, "gif");
    qint64 bytes = 0;
    QImage frame;
    while (reader.read(&frame)) {
        if (frame.isNull() || lg::isShuttingDown())   // at quit the frames are unwanted
            break;
        const int index = int(frames.images.size());
        int delay = index < stored.size() ? stored.at(index) : reader.nextImageDelay();
        if (delay <= 0)
            delay = defaultFrameDelayMs;
        QImage shown = frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        bytes += shown.sizeInBytes();
        if (bytes > maximumBytes && !frames.images.isEmpty())
            break;
        frames.images.append(std::move(shown));
        frames.delaysMs.append(delay);
        frames.totalSeconds += float(delay) / 1000.0f;
        if (!reader.canRead())
            break;
    }
    return frames;
}

QList<int> AnimatedImage::storedFrameDelays(const QByteArray &gif)
{
    QList<int> delays;
    const auto *d = reinterpret_cast<const uchar *>(gif.constData());
    const qsizetype n = gif.size();
    if (n < 13 || !gif.startsWith("GIF"))
        return delays;
    qsizetype pos = 13;
    if (d[10] & 0x80)
        pos += 3 * (qsizetype(1) << ((d[10] & 7) + 1));
    const auto skipSubBlocks = [&] {
        while (pos < n) {
            const int length = d[pos++];
            if (length == 0)
                return;
            pos += length;
        }
    };
    int pending = 0;
    while (pos < n) {
        const uchar introducer = d[pos++];
        if (introducer == 0x21) {
            if (pos >= n)
                break;
            const uchar label = d[pos++];
            if (label == 0xF9 && pos + 5 <= n && d[pos] == 4)
                pending = (d[pos + 2] | (d[pos + 3] << 8)) * 10;
            skipSubBlocks();
        } else if (introducer == 0x2C) {
            if (pos + 9 > n)
                break;
            const uchar packed = d[pos + 8];
            pos += 9;
            if (packed & 0x80)
                pos += 3 * (qsizetype(1) << ((packed & 7) + 1));
            pos += 1;  // the LZW minimum code size
            skipSubBlocks();
            delays.append(pending);
            pending = 0;
        } else {
            break;  // the trailer, or data that is no GIF block
        }
    }
    return delays;
}

void AnimatedImage::setImageWithURL(const QString &path)
{
    stop();
    m_frames = Frames();
    m_path = path;
    m_loaded = false;
    m_current = 0;
    m_loops = 0;
    const quint64 generation = ++m_generation;
    if (path.isEmpty() || QFileInfo(path).suffix().toLower() != QLatin1String("gif")) {
        m_loaded = true;
        Q_EMIT loaded(QImage());
        return;
    }
    lg::runThenCallback(this, [path] { return readFrames(path); }, [this, generation](Frames frames) {
        if (generation == m_generation)
            start(std::move(frames));
    });
}

void AnimatedImage::start(Frames frames)
{
    m_frames = std::move(frames);
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
