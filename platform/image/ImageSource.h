#pragma once
// One way into every picture the program shows: recognise the file by its
// content, tell its size without decoding it, make thumbnails (reduced decode
// and embedded previews where they are large enough), decode it in full and
// read its metadata. Qt's readers, libheif, LibRaw and ImageMagick do the work,
// in the decode workers (DecodeWorkers.h): each decode there is granted what
// its prediction says it holds, or what the caller grants it, and ends when
// it needs more, runs past its time, or the program quits. What libheif,
// LibRaw, exiv2 and Qt's TIFF reader read of a header or the metadata is
// read there too, once a source (PropertyProbe.h).
//
// An ImageSource is a cheap, immutable value: copies share their state and any
// member may be called from any thread at the same time. Damaged, cut-off,
// empty or mislabelled files and vanished paths are simply not valid: they
// give no size, no thumbnail and no properties.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

namespace lg {

class ImageSource;

namespace image {
class DecodeWait;
struct WorkerTask;
struct WorkerReply;
WorkerReply performWorkerTask(const WorkerTask &task, int fd);
struct ProbedFacts;
ProbedFacts probedFacts(const ImageSource &source, quint32 parts);
ImageSource readingAhead(const QString &path, quint32 parts);
}

struct ImageProperties
{
    QSize pixelSize;        // oriented; invalid when the source is not an image
    int depth = 0;          // bits per sample
    QString colorModel;     // "RGB", "Gray", "CMYK", ...
    bool hasAlpha = false;
    int orientation = 1;    // Exif orientation 1..8 of the stored pixels
    // Groups of key/value text pairs, in this order: "Exif", "TIFF", "GPS",
    // "IPTC"; a group without entries is left out.
    QList<QPair<QString, QList<QPair<QString, QString>>>> groups;

    // Carried over when an image is written with these properties (orientation
    // reset to 1, as the written pixels are upright).
    QByteArray exif;        // TIFF-structured Exif block
    QByteArray iptc;        // IPTC datasets
    QByteArray xmp;         // the XMP packet
    QByteArray icc;         // the embedded colour profile
    // Quality of lossy formats when writing, 0..1; none: the writer's default.
    // A JPEG's own quality, estimated from its quantization tables.
    std::optional<double> compressionQuality;
};

// What a thumbnail is for: shown or written at its size (the viewer, an
// editor, a preview, a collage), or kept in the thumbnail cache, where a
// picture much larger than it may be decoded without the filters whose work
// the reduction undoes anyway.
enum class ThumbnailUse { Shown, Cached };

// How a decode ended.
enum class DecodeEnd {
    Done,        // a picture, or no picture in the file's bytes
    OverGrant,   // it needed more memory than it was granted
    TimedOut,    // it ran past its time
    Crashed,     // the decoder died on it
    Stopped,     // the quit ended it
    Unavailable  // no decode worker could be started
};

// What a decode may take. A grant of 0: its prediction (thumbnailDecodeBytes).
// With wait, a decode past its time is not ended but waits for its caller's
// word (image/DecodeWait.h).
struct DecodeTerms
{
    qint64 grantBytes = 0;
    int timeLimitMs = 20000;
    std::shared_ptr<image::DecodeWait> wait;
};

// How a decode ended, with words for the log when it did not end as Done.
struct DecodeReport
{
    DecodeEnd end = DecodeEnd::Done;
    QString words;
};

class ImageSource
{
public:
    // The picture of the file at path. A name that is not valid UTF-8 (see
    // lg::FileNames) is read by its exact bytes into memory, up to 256 MB,
    // since some readers open a file by a text name, which would be its
    // look-alike's.
    explicit ImageSource(const QString &path);
    static ImageSource fromData(const QByteArray &data, const QString &formatHint = {});
    // The bytes that opening the file at path as a source holds while a
    // library reads its header (image::probeGrantBytes, for the formats
    // libheif and LibRaw read), told by the file's first bytes alone;
    // 0 for the formats this program's own parsers read.
    static qint64 openingProbeBytes(const QString &path);

    // Some reader recognises the content (not just the extension) and the file is whole.
    bool isValid() const;
    // "jpeg", "png", "gif", "tiff", "heic", "raw", "psd", ...; empty: no image type.
    QString type() const;
    // The oriented size, read from the header where the format allows.
    std::optional<QSize> pixelSize() const;
    // A thumbnail whose longest side is at most maxPixelSize (never enlarged),
    // upright. Reduced-size decoding and embedded previews are used when they
    // are at least that size; a PNG or TIFF too large for Qt's readers is read
    // a band of rows at a time. use says what it is for (see ThumbnailUse).
    // A HEIC decode is tried once: a reduced one that fails is not done again in full.
    // A decode that needs more than its prediction is tried once more, as a
    // thumbnail's is (image::grantedDecode, GrantBeyond::WithinWhole).
    std::optional<QImage> thumbnail(int maxPixelSize, ThumbnailUse use = ThumbnailUse::Shown) const;
    // The same within terms; report (when given) says how the decode ended.
    // A decode that ended short of its end (OverGrant, Stopped, Unavailable)
    // may be tried again with other terms.
    std::optional<QImage> thumbnail(int maxPixelSize, ThumbnailUse use, const DecodeTerms &terms,
                                    DecodeReport *report) const;
    // The most bytes that making thumbnail(maxPixelSize, use) holds at once,
    // as told by the file before anything is decoded: the decoder's own
    // state (every coefficient of a progressive JPEG, a GIF's frame and the
    // picture it is drawn over), its pixels (a JPEG's at its reduced size,
    // a HEIC's embedded thumbnail where that is used), the copies made on
    // the way and the thumbnail. An upper bound: no decode holds more. Where
    // the header tells no size (formats checked by decoding them), what one
    // decoded picture may take at most (image::decodeBudgetMegabytes). 0 when
    // nothing will be decoded.
    qint64 thumbnailDecodeBytes(int maxPixelSize, ThumbnailUse use = ThumbnailUse::Shown) const;
    // The most bytes pixelSize() holds: 0 where the header tells the size,
    // else a whole decode (formats checked by decoding them).
    qint64 pixelSizeDecodeBytes() const;
    // The first image at full size, upright; a decode that needs more than
    // its prediction is tried once more, as the viewer's picture is
    // (image::grantedDecode, GrantBeyond::Picture).
    std::optional<QImage> image() const;
    // Frames of an animated or multi-page image; 1 for stills, 0 when not valid.
    int frameCount() const;
    // Frame index (0-based) at full size, upright; none past the last frame.
    std::optional<QImage> frame(int index) const;
    // How long frame index shows in an animation, in milliseconds (0: unknown).
    int frameDelay(int index) const;
    ImageProperties properties() const;
    // Why no picture at all, not even a thumbnail, is decoded from the file,
    // judged on what its header claims against its bytes before any decode:
    // for a JPEG, the refusal of a turn (lg::jpegSizeRefusal: more blocks than
    // its scans' bytes can code, or an arithmetic-coded claim beyond what a
    // decoded picture may take). thumbnail(), image() and frame() give none
    // then. Empty when it may be decoded (or is no valid picture); the file is
    // read for it once, from its start, as far as the judgement needs.
    QString claimRefusal() const;
    // Why the full picture is not decoded, judged on what its header claims
    // before any decode: claimRefusal(), a side longer than the decoders take
    // (image::maxPictureSide), or, for the formats Qt's readers decode, more
    // than those allocate for one picture (image::decodeBudgetMegabytes, four
    // bytes a pixel). Empty when it may be decoded (or is no valid picture).
    QString decodeRefusal() const;

    QString path() const;

private:
    // A worker's task runs on a source of its own (DecodeService.h).
    friend image::WorkerReply image::performWorkerTask(const image::WorkerTask &task, int fd);
    // What libraries read of the file without decoding it (PropertyProbe.h).
    friend image::ProbedFacts image::probedFacts(const ImageSource &source, quint32 parts);
    friend ImageSource image::readingAhead(const QString &path, quint32 parts);
    struct Private;
    ImageSource() = default;
    std::shared_ptr<Private> d;
};

} // namespace lg
