#pragma once
// The interfaces of the codec modules: the shared libraries that wrap the heavy
// native libraries (libheif, LibRaw, ImageMagick, FFmpeg with
// ffmpegthumbnailer, Qt Multimedia) so that the program maps them only when a
// file first needs one. The program and every module include this header; a
// module exports one C function, named by the *EntryPoint constants, that
// returns its interface (a static object that lives as long as the process)
// when the caller's moduleInterfaceVersion matches its own, else null.
//
// Every type that crosses between program and module is declared in the
// headers platform/modules/identity/ModuleBuild.cmake hashes into the build
// identifier (this one, ModuleNames.h, Decoders.h, ByteSource.h, Orientation.h,
// PictureLimits.h); a header that adds such a type joins that list. Each module
// carries the identifier in an ELF note (moduleNoteName, moduleNoteType in
// platform/modules/ModuleNames.h) that the program compares with its own
// before it loads the module.
//
// A module is a self-contained adapter: it links only its library and Qt, and
// holds no state of the program's own. Calls may come from any thread unless a
// comment says otherwise; none of them throws. Objects a module creates are
// deleted through their virtual destructors; modules are never unloaded.
#include "platform/image/Decoders.h"
#include "platform/modules/ModuleNames.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace lg::image {

// ---- libheif ----
class HeifModule
{
public:
    virtual HeifInfo probe(const ByteSource &source) const = 0;
    virtual std::optional<QImage> decode(const ByteSource &source, const HeifDecodeOptions &options) const = 0;
    virtual std::optional<QByteArray> encode(const QImage &image, int quality, const QByteArray &exif,
                                             const QByteArray &xmp, const QByteArray &icc, QString *error) const = 0;

protected:
    ~HeifModule() = default;
};

// ---- LibRaw ----
// Decodes a JPEG preview the raw file embeds, at least minSide on its longest
// side (stored pixels), or none: the program's own JPEG path, handed in.
using PreviewDecoder = std::function<std::optional<QImage>(const QByteArray &jpeg, int minSide)>;

class RawModule
{
public:
    virtual RawInfo probe(const ByteSource &source, const QString &path) const = 0;
    virtual std::optional<QImage> decode(const ByteSource &source, const QString &path, int maxSide,
                                         const PreviewDecoder &previewDecoder) const = 0;

protected:
    ~RawModule() = default;
};

// ---- ImageMagick ----
class MagickModule
{
public:
    // coder: ImageMagick's coder name; offset bytes are skipped and padding
    // zero bytes put before the data. Once stopped (when given) says true
    // (the quit), a decode under way ends at its next step and gives none.
    virtual std::optional<MagickImage> decode(const ByteSource &source, const std::string &coder, qint64 offset,
                                              qint64 padding, bool (*stopped)()) const = 0;
    virtual std::optional<QByteArray> encode(const QImage &image, const std::string &coder, int quality,
                                             QString *error) const = 0;
    virtual std::optional<QByteArray> encodeTiff(const QImage &image, TiffCompression compression, int predictor,
                                                 QString *error) const = 0;

protected:
    ~MagickModule() = default;
};

// ---- FFmpeg and ffmpegthumbnailer ----
struct VideoFacts
{
    QSize size;                   // as shown: rotation applied
    int rotation = 0;             // clockwise degrees: 0, 90, 180 or 270
    double durationSeconds = 0;   // 0 when unknown
    QString codec;                // of the picture, as FFmpeg names it ("h264"); empty when unknown
    QString creationTime;         // the container's creation_time as stored; empty when it has none
};

class VideoModule
{
public:
    // Videos whose frames have more than pixelLimit pixels give none.
    virtual std::optional<VideoFacts> probe(const QString &path, qint64 pixelLimit) const = 0;
    virtual std::optional<QImage> firstFrame(const QString &path, int maxSide, qint64 pixelLimit) const = 0;

protected:
    ~VideoModule() = default;
};

// ---- Qt Multimedia (main thread only) ----
// One video's playback. The values of state() and status() are those of
// QMediaPlayer::PlaybackState and QMediaPlayer::MediaStatus.
class VideoPlayback
{
public:
    struct Events
    {
        std::function<void(qint64)> positionChanged;   // ms
        std::function<void(qint64)> durationChanged;   // ms
        std::function<void(int)> stateChanged;
        std::function<void(int)> statusChanged;
        std::function<void()> failed;                  // the media cannot be played
    };
    virtual ~VideoPlayback() = default;
    // view: a widget made by PlayerModule::createVideoView, or null for none.
    virtual void setVideoView(QWidget *view) = 0;
    virtual void setSource(const QUrl &url) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual qint64 position() const = 0;
    virtual qint64 duration() const = 0;
    virtual void setPosition(qint64 ms) = 0;
    virtual bool isSeekable() const = 0;
    virtual int state() const = 0;
    virtual int status() const = 0;
};

class PlayerModule
{
public:
    // A video widget (keeping the aspect ratio) under parent.
    virtual QWidget *createVideoView(QWidget *parent) const = 0;
    // A player with sound output; events arrive on the main thread until it is deleted.
    virtual std::unique_ptr<VideoPlayback> createPlayback(VideoPlayback::Events events) const = 0;

protected:
    ~PlayerModule() = default;
};

} // namespace lg::image

// What a module's source writes in front of its entry point.
#define LG_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
