// The FFmpeg module: a video's size, duration and a frame, through FFmpeg and ffmpegthumbnailer.
#include "platform/image/ByteSource.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/base/Orientation.h"

#include <QFile>

#include <libffmpegthumbnailer/videothumbnailer.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
}

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace lg::image {

namespace {

// Reading stops after this long, whatever the file holds.
constexpr auto probeTimeLimit = std::chrono::seconds(10);

// The demuxers of real video containers. Image demuxers (a PNG or JPEG named
// like a video), pipes, playlists and anything that opens further files or
// addresses are never used.
constexpr const char *videoDemuxers =
    "mov,mp4,m4a,3gp,3g2,mj2,avi,matroska,webm,mpeg,mpegts,mpegvideo,h264,hevc,m4v,dv,flv,live_flv,flic,asf,ogg";

// FFmpeg's log output silenced once: damaged files are expected input here.
void ensureAv()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

struct Deadline
{
    std::chrono::steady_clock::time_point end;
};

int interruptWhenLate(void *opaque)
{
    return std::chrono::steady_clock::now() > static_cast<Deadline *>(opaque)->end ? 1 : 0;
}

int rotationOf(const AVStream *stream)
{
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    double angle = 0;
    if (matrix) {
        angle = -av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));  // clockwise
    } else if (const AVDictionaryEntry *tag = av_dict_get(stream->metadata, "rotate", nullptr, 0)) {
        angle = std::atof(tag->value);
    }
    if (std::isnan(angle))
        return 0;
    int degrees = int(std::lround(angle / 90.0)) * 90 % 360;
    if (degrees < 0)
        degrees += 360;
    return degrees;
}

// The file opened for demuxing, given up when the deadline passes.
AVFormatContext *openInput(const QString &path, Deadline *deadline)
{
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        return nullptr;
    context->interrupt_callback.callback = interruptWhenLate;
    context->interrupt_callback.opaque = deadline;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", videoDemuxers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const QByteArray native = QFile::encodeName(path);
    const int opened = avformat_open_input(&context, native.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return nullptr;  // the context is freed on failure
    return context;
}

std::optional<VideoFacts> probeVideo(const QString &path, qint64 limit)
{
    if (!isRegularFile(path))
        return std::nullopt;
    ensureAv();
    Deadline deadline {std::chrono::steady_clock::now() + probeTimeLimit};
    AVFormatContext *context = openInput(path, &deadline);
    if (!context)
        return std::nullopt;
    std::optional<VideoFacts> result;
    // No decoder that looks at the first frames may allocate a picture larger than the limit.
    std::vector<AVDictionary *> streamOptions(context->nb_streams, nullptr);
    for (AVDictionary *&options : streamOptions)
        av_dict_set_int(&options, "max_pixels", limit, 0);
    const int found = avformat_find_stream_info(context, streamOptions.empty() ? nullptr : streamOptions.data());
    for (AVDictionary *&options : streamOptions)
        av_dict_free(&options);
    if (found >= 0) {
        const int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVStream *stream = context->streams[index];
            const AVCodecParameters *codec = stream->codecpar;
            const bool withinLimit = qint64(codec->width) * qint64(codec->height) <= limit;
            if (codec->width > 0 && codec->height > 0 && withinLimit && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                VideoFacts probe;
                probe.rotation = rotationOf(stream);
                probe.size = QSize(codec->width, codec->height);
                if (probe.rotation == 90 || probe.rotation == 270)
                    probe.size.transpose();
                if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
                    probe.durationSeconds = double(context->duration) / AV_TIME_BASE;
                else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
                    probe.durationSeconds = double(stream->duration) * av_q2d(stream->time_base);
                probe.codec = QString::fromLatin1(avcodec_get_name(codec->codec_id));
                if (const AVDictionaryEntry *created = av_dict_get(context->metadata, "creation_time", nullptr, 0))
                    probe.creationTime = QString::fromUtf8(created->value);
                result = probe;
            }
        }
    }
    avformat_close_input(&context);
    return result;
}

std::optional<QImage> firstFrame(const QString &path, int maxSide, qint64 limit)
{
    // Only a real video container whose pictures fit the limit is decoded.
    const std::optional<VideoFacts> video = probeVideo(path, limit);
    if (!video)
        return std::nullopt;
    try {
        ffmpegthumbnailer::VideoThumbnailer thumbnailer;
        // Reduced while converting; full size for small videos, which the
        // thumbnailer would enlarge to the size asked for.
        const int longest = std::max(video->size.width(), video->size.height());
        thumbnailer.setThumbnailSize(maxSide > 0 && maxSide < longest ? maxSide : 0);
        thumbnailer.setMaintainAspectRatio(true);
        thumbnailer.setSmartFrameSelection(false);
        thumbnailer.setPreferEmbeddedMetadata(false);
        thumbnailer.setSeekTime("00:00:00");
        thumbnailer.setLogCallback([](ThumbnailerLogLevel, const std::string &) {});
        std::vector<uint8_t> pixels;
        const ffmpegthumbnailer::VideoFrameInfo info =
            thumbnailer.generateThumbnail(QFile::encodeName(path).toStdString(), Rgb, pixels);
        if (info.width <= 0 || info.height <= 0 || pixels.size() < size_t(info.width) * size_t(info.height) * 3)
            return std::nullopt;
        QImage frame(info.width, info.height, QImage::Format_RGB888);
        if (frame.isNull())
            return std::nullopt;
        for (int y = 0; y < info.height; ++y)
            std::memcpy(frame.scanLine(y), pixels.data() + size_t(y) * size_t(info.width) * 3, size_t(info.width) * 3);
        return reducedToFit(frame, maxSide);
    } catch (const std::exception &) {
        return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

class Video final : public VideoModule
{
public:
    std::optional<VideoFacts> probe(const QString &path, qint64 pixelLimit) const override
    {
        return probeVideo(path, pixelLimit);
    }
    std::optional<QImage> firstFrame(const QString &path, int maxSide, qint64 pixelLimit) const override
    {
        return lg::image::firstFrame(path, maxSide, pixelLimit);
    }
};

} // namespace

} // namespace lg::image

LG_MODULE_EXPORT const void *lumengallery_video_module(int version)
{
    static const lg::image::Video module;
    return version == lg::image::moduleInterfaceVersion ? static_cast<const lg::image::VideoModule *>(&module) : nullptr;
}
