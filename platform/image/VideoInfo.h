#pragma once
// Size, rotation, duration, codec and creation time of a video (FFmpeg's
// demuxers) and its first frame (libffmpegthumbnailer). Both may be called
// from any thread. Files that are not videos, damaged files and vanished
// paths give none. Only the demuxers of video containers are used (a picture
// named like a video is not a video), and a video whose frames are larger
// than maxFramePixels gives none.
// The libraries live in the FFmpeg module, loaded in a decode worker
// (DecodeWorkers.h), where both run: a probe is granted probeDecodeBytes and
// probeTimeLimitMs, and one that needs more, runs longer or crashes gives
// none and says why in the log. What the worker tells is checked: a size
// past the limit gives none; a turn other than a quarter's, a length that is
// no number of seconds a video may last, and names that are no names are
// left unknown. While the module cannot be loaded every file gives none.
#include "platform/image/ImageSource.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace lg {

struct VideoProbe
{
    QSize size;                   // as shown: rotation applied
    int rotation = 0;             // clockwise degrees: 0, 90, 180 or 270
    double durationSeconds = 0;   // 0 when unknown
    QString codec;                // of the picture, as FFmpeg names it ("h264"); empty when unknown
    QString creationTime;         // the container's creation time as stored (ISO 8601); empty when none
};

class VideoInfo
{
public:
    static std::optional<VideoProbe> probe(const QString &path);
    // What a probe may hold (the demuxer's reading and the decoders it opens
    // to learn the picture's format: an 8K H.264 video's first frames take
    // some 90 MB) and how long it may run.
    static constexpr qint64 probeDecodeBytes = 128LL << 20;
    static constexpr int probeTimeLimitMs = 5000;
    // The longest a video may last, in seconds (a thousand days); a longer
    // length told is unknown.
    static constexpr double longestDurationSeconds = 1000.0 * 24 * 3600;
    // The first frame, upright, at most maxSide on its longest side (0: full size).
    // Decoded in a decode worker, granted firstFrameDecodeBytes (or what
    // terms grant); report (when given) says how the decode ended.
    static std::optional<QImage> firstFrame(const QString &path, int maxSide = 0, const DecodeTerms &terms = {},
                                            DecodeReport *report = nullptr);
    // What decoding a video's first frame holds at most, in bytes: the
    // decoder's frames in flight and the frame turned into a picture.
    static constexpr qint64 firstFrameDecodeBytes = 32LL << 20;

    // 8K (8192 x 4320): larger frames are refused before anything decodes them.
    static constexpr qint64 maxFramePixels = 8192LL * 4320;
    // Tests lower the limit to try it on small videos; 0 restores it.
    static void setFramePixelLimitForTesting(qint64 pixels);
};

namespace image {
// The worker's side of a VideoProbe task on the file open as fd.
WorkerReply performVideoProbe(int fd);
}

} // namespace lg
