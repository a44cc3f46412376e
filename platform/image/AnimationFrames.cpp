// An animated GIF's frames, decoded in one pass in a decode worker and checked as they come back.
#include "platform/image/AnimationFrames.h"

#include "platform/base/PictureLimits.h"
#include "platform/files/names/FileNames.h"
#include "platform/image/ByteSource.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/WorkerProtocol.h"
#include "platform/runtime/Dispatch.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>

namespace lg::image {

namespace {

// Hands each frame of the GIF bytes, with its delay, to keep until keep
// returns false, the frames pass animationFrameBytes or the quit comes.
void decodeFrames(const QByteArray &data, const std::function<bool(QImage frame, int delayMs)> &keep)
{
    const QList<int> stored = storedGifFrameDelays(data);
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    qint64 bytes = 0;
    int index = 0;
    QImage frame;
    while (reader.read(&frame)) {
        if (frame.isNull() || isShuttingDown())   // at quit the frames are unwanted
            break;
        int delay = index < stored.size() ? stored.at(index) : reader.nextImageDelay();
        if (delay <= 0)
            delay = defaultAnimationFrameDelayMs;
        QImage shown = frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        bytes += shown.sizeInBytes();
        if (bytes > animationFrameBytes && index > 0)
            break;
        if (!keep(std::move(shown), delay))
            break;
        ++index;
        if (!reader.canRead())
            break;
    }
}

// What the worker holds for the animation of a file of fileBytes whose
// header claims a screen of header[6..9]: Qt's reader draws each frame over
// the one before in a picture of the whole screen, keeps a copy to go back
// to, and the frame is converted; the file's bytes are read whole. A screen
// of no size (the reader takes the first frame's) counts as the most one
// decoded picture may take.
qint64 animationGrant(const QByteArray &header, qint64 fileBytes)
{
    const auto le16 = [&](int at) { return int(uchar(header.at(at))) | int(uchar(header.at(at + 1))) << 8; };
    const qint64 pixels = header.size() >= 10 ? qint64(le16(6)) * le16(8) : 0;
    const qint64 screen = pixels > 0 ? pixels * 4 * 4 : qint64(decodeBudgetMegabytes) << 20;
    return screen + fileBytes + (1 << 20);
}

} // namespace

AnimationFrames readAnimation(const QString &path, DecodeReport *report, const std::atomic<bool> *stop)
{
    AnimationFrames frames;
    if (report)
        *report = {};
    if (path.isEmpty() || QFileInfo(path).suffix().toLower() != QLatin1String("gif"))
        return frames;
    // By the path's exact bytes (a name that is not valid UTF-8 is never read
    // as its look-alike's), and only a regular file: a FIFO named like a GIF
    // would never end.
    const ByteSource file = ByteSource::openNative(FileNames::toNative(path));
    if (!file.isOpen() || file.size() > animationFileBytes)
        return frames;
    qint64 bytes = 0;
    QString fault;
    // What a decode hands over is kept only while it fits the animation.
    const auto keep = [&](QImage frame, int delayMs) {
        if (stop && stop->load())
            return false;
        if (frame.isNull() || (!frames.images.isEmpty() && frame.size() != frames.images.first().size())) {
            fault = QStringLiteral("its decoder gave a frame of another size");
            return false;
        }
        bytes += std::max<qint64>(animationFrameLeastBytes, frame.sizeInBytes());
        if (bytes > animationFrameBytes && !frames.images.isEmpty())
            return false;
        const int delay = std::clamp(delayMs, 1, longestAnimationFrameDelayMs);
        if (frame.format() != QImage::Format_ARGB32_Premultiplied)
            frame.convertTo(QImage::Format_ARGB32_Premultiplied);
        frames.images.append(std::move(frame));
        frames.delaysMs.append(delay);
        frames.totalSeconds += float(delay) / 1000.0f;
        return true;
    };
    if (decodesInThisProcess()) {
        decodeFrames(file.readAll(animationFileBytes), keep);
        return frames;
    }
    WorkerTask task;
    task.kind = WorkerTaskKind::Animation;
    task.extension = QStringLiteral("gif");
    const qint64 grant = animationGrant(file.read(0, 10), file.size());
    // A small frame is copied out of the worker's memory file: an animation
    // of many would otherwise hold a mapping for each (at most 2048 stay).
    const auto owned = [](const QImage &frame) {
        return frame.sizeInBytes() < animationFrameBytes / 2048 ? frame.copy() : frame;
    };
    WorkerReply last = decodeSeriesInWorker(task, file.descriptor(), grant, animationFrameTimeLimitMs,
                                            [&](WorkerReply &part) { return keep(owned(part.image), part.facts.delayMs); },
                                            stop);
    if (last.end == WorkerEnd::Done && !last.image.isNull())
        keep(owned(last.image), last.facts.delayMs);
    DecodeTerms terms;
    terms.timeLimitMs = animationFrameTimeLimitMs;
    DecodeReport made;
    noteDecodeEnd(last.end, grant, terms, &made);
    if (made.words.isEmpty() && !fault.isEmpty())
        made = {DecodeEnd::Crashed, fault};
    if (report)
        *report = made;
    return frames;
}

QList<int> storedGifFrameDelays(const QByteArray &gif)
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

std::optional<WorkerReply> performAnimationTask(int fd, const std::function<bool(const WorkerReply &part)> &send)
{
    const ByteSource file = ByteSource::fromDescriptor(fd);
    WorkerReply pending;
    bool sent = true;
    // A frame goes once the next one is made: the last goes as the reply.
    decodeFrames(file.isOpen() ? file.readAll(animationFileBytes) : QByteArray(), [&](QImage frame, int delayMs) {
        if (!pending.image.isNull()) {
            pending.end = WorkerEnd::More;
            if (!(sent = send(pending)))
                return false;
        }
        pending = WorkerReply {};
        pending.image = std::move(frame);
        pending.facts.delayMs = delayMs;
        return true;
    });
    if (!sent)
        return std::nullopt;
    pending.end = pending.image.isNull() ? WorkerEnd::Failed : WorkerEnd::Done;
    return pending;
}

} // namespace lg::image
