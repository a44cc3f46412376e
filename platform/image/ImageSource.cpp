// Thumbnails, pixel sizes, properties and frames of any picture, through the decoder chain.
#include "platform/image/ImageSource.h"

#include "platform/files/names/FileNames.h"
#include "platform/jpeg/JpegEntropy.h"
#include "platform/jpeg/JpegTurn.h"
#include "platform/image/ByteSource.h"
#include "platform/image/DecodeGrants.h"
#include "platform/image/DecodeService.h"
#include "platform/image/DecodeWait.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/Decoders.h"
#include "platform/image/FormatProbe.h"
#include "platform/base/PictureLimits.h"
#include "platform/image/Metadata.h"
#include "platform/image/PropertyProbe.h"
#include "platform/image/ReducedRead.h"
#include "platform/image/VideoInfo.h"
#include "platform/base/HandlePath.h"
#include "platform/base/Orientation.h"
#include "platform/runtime/Dispatch.h"

#include <QFileInfo>

#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace lg {

using namespace lg::image;

struct ImageSource::Private
{
    QString path;
    QByteArray data;
    bool inMemory = false;
    int fd = -1;         // a worker's: the file as the program handed it over
    QString extension;   // lower-cased, as the name has it
    Probe probe;

    bool valid = false;
    bool decodeToValidate = false;  // formats whose header alone proves nothing
    QSize storedSize;
    int orientation = 1;
    int depth = 0;
    QString colorModel;
    bool hasAlpha = false;
    int frames = 1;
    qint64 fileBytes = 0;
    HeifInfo heif;                // what the probe found of a HEIC: its thumbnails, tiles, coded sizes

    // What third-party libraries read of the file without decoding it
    // (PropertyProbe.h): the parts read (or tried) so far, and those read
    // ahead with the first.
    ProbeParts readAhead = 0;
    mutable std::mutex probeLock;
    mutable ProbeParts probeTried = 0;
    mutable ProbedFacts probed;

    // The one full decode of the formats above, written under the lock
    // until it is settled (a picture, or none that a decode ended for).
    mutable std::mutex decodeLock;
    mutable bool decodeSettled = false;
    mutable std::optional<QImage> decoded;  // stored pixels
    // Why not even a reduced picture is decoded; judged once, under its flag.
    mutable std::once_flag claimOnce;
    mutable QString claimRefusal;

    ~Private()
    {
        if (fd >= 0)
            ::close(fd);
    }
    ByteSource open() const
    {
        return fd >= 0 ? ByteSource::fromDescriptor(fd) : inMemory ? ByteSource::fromMemory(data) : ByteSource::openFile(path);
    }
    void openPath(const QString &path);
    void inspect();
    ProbedFacts probedFacts(ProbeParts parts) const;
    void decodeHere();
    // The one decode of a file checked by decoding it, in this process.
    const std::optional<QImage> &fullDecode() const;
    const QString &judgedClaim() const;
    bool usable(const DecodeTerms &terms = {}, DecodeReport *report = nullptr) const;
    // What a worker found of a file checked by decoding it; called with
    // the lock held. Settled unless the decode ended short of its end.
    void settle(const WorkerReply &reply) const;
    bool decodedValid = false;   // a worker decoded a picture of the file
    qint64 decodeBytes(int maxPixelSize, ThumbnailUse use) const;
    // task on this file in a decode worker, granted grant bytes.
    WorkerReply inWorker(WorkerTask task, qint64 grant, const DecodeTerms &terms, DecodeReport *report) const;
    // Whether a thumbnail of maxSide is read a band of rows at a time: a PNG
    // or TIFF (upright as stored) too large for Qt's readers to decode whole.
    bool readReduced(int maxSide) const
    {
        return maxSide > 0 && !decodeToValidate && probe.decoder == Decoder::Qt
            && (probe.qtFormat == "png" || (probe.qtFormat == "tiff" && orientation == 1))
            && qint64(storedSize.width()) * storedSize.height() * 4 > (qint64(decodeBudgetMegabytes) << 20);
    }
};

namespace {

int depthOf(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
        return 16;
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
        return 16;
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return 32;
    default:
        return 8;
    }
}

// The turn's judgement of a JPEG's claimed size (lg::jpegSizeRefusal), on as
// few of its bytes as tell: a plausible claim is told by the scan data's first
// bytes (a bit a block, where real pictures spend far more), so the file is
// read from its start, four times more each round, until the claim is found
// plausible with the scan data reached, or the whole file has been judged.
QString jpegClaimRefusal(const ByteSource &source)
{
    for (qint64 length = qint64(256) << 10;; length *= 4) {
        const bool whole = length >= source.size();
        const QByteArray bytes = whole && source.inMemory() ? source.memory() : source.read(0, std::min(length, source.size()));
        bool scanDataReached = false;
        const QString refusal = jpegSizeRefusal(bytes, &scanDataReached);
        // A prefix without scan data may not hold the frame either: no verdict.
        if (whole || (refusal.isEmpty() && scanDataReached))
            return refusal;
    }
}

} // namespace

namespace image {

DecodeEnd noteDecodeEnd(WorkerEnd end, qint64 grant, const DecodeTerms &terms, DecodeReport *report)
{
    DecodeReport made;
    switch (end) {
    case WorkerEnd::Done:
    case WorkerEnd::Failed:
    case WorkerEnd::More:
        break;
    case WorkerEnd::OverGrant:
        made = {DecodeEnd::OverGrant, QStringLiteral("its decode needs more than the %1 MB it may hold")
                                          .arg((grant + (1 << 20) - 1) >> 20)};
        break;
    case WorkerEnd::TimedOut:
        made = {DecodeEnd::TimedOut, QStringLiteral("its decode ran past %1 seconds").arg(terms.timeLimitMs / 1000.0)};
        break;
    case WorkerEnd::Crashed:
        made = {DecodeEnd::Crashed, QStringLiteral("the decoder ended abnormally on it")};
        break;
    case WorkerEnd::Stopped:
        made = {DecodeEnd::Stopped, QStringLiteral("the program is quitting")};
        break;
    case WorkerEnd::Unavailable:
        made = {DecodeEnd::Unavailable, QStringLiteral("no decode worker could be started")};
        break;
    }
    if (report)
        *report = made;
    return made.end;
}

} // namespace image

WorkerReply ImageSource::Private::inWorker(WorkerTask task, qint64 grant, const DecodeTerms &terms,
                                           DecodeReport *report) const
{
    task.extension = extension;
    const ByteSource source = inMemory ? ByteSource() : open();
    const int handed = inMemory ? sealedMemoryFile("lumengallery-source", data.constData(), data.size())
                                : source.descriptor();
    WorkerReply reply;
    if (handed >= 0)
        reply = decodeInWorker(task, handed, terms.grantBytes > 0 ? terms.grantBytes : grant, terms.timeLimitMs,
                               terms.wait.get());
    if (inMemory && handed >= 0)
        ::close(handed);
    noteDecodeEnd(reply.end, terms.grantBytes > 0 ? terms.grantBytes : grant, terms, report);
    if (report && reply.end == WorkerEnd::Stopped && terms.wait && terms.wait->stopped())
        report->words = QStringLiteral("its decode was stopped");
    return reply;
}

namespace {

// Whether inspect() hands the file's header to a library's probe.
bool probedByLibrary(const Probe &probe)
{
    return probe.decoder == Decoder::Heif || (probe.decoder == Decoder::Raw && !probe.damaged);
}

} // namespace

void ImageSource::Private::inspect()
{
    const ByteSource source = open();
    fileBytes = source.size();
    probe = probeFormat(source, extension);
    switch (probe.decoder) {
    case Decoder::None:
        return;
    case Decoder::Qt:
        if (probe.damaged)
            return;
        if (probe.headerKnown) {
            valid = true;
            storedSize = probe.storedSize;
            orientation = probe.orientation;
            depth = probe.depth;
            colorModel = probe.colorModel;
            hasAlpha = probe.hasAlpha;
            frames = probe.frameCount;
        } else {
            decodeToValidate = true;
        }
        return;
    case Decoder::Heif: {
        const HeifInfo info = probedFacts(quint32(ProbePart::HeifHeader)).heif;
        if (!info.ok)
            return;
        valid = true;
        storedSize = info.size;  // libheif turns the pixels itself
        depth = info.depth;
        colorModel = QStringLiteral("RGB");
        hasAlpha = info.hasAlpha;
        heif = info;
        return;
    }
    case Decoder::Raw: {
        if (probe.damaged)
            return;
        const RawInfo info = probedFacts(quint32(ProbePart::RawHeader)).raw;
        if (!info.ok) {
            // Not a raw file LibRaw knows; a plain TIFF under a raw name is still a picture.
            if (probe.rawByName) {
                probe.decoder = Decoder::Qt;
                probe.qtFormat = "tiff";
                probe.type = QStringLiteral("tiff");
                decodeToValidate = true;
            }
            return;
        }
        valid = true;
        storedSize = info.storedSize;
        orientation = info.orientation;
        depth = 16;
        colorModel = QStringLiteral("RGB");
        return;
    }
    case Decoder::Magick:
        if (probe.damaged)
            return;
        decodeToValidate = true;
        return;
    }
}

const std::optional<QImage> &ImageSource::Private::fullDecode() const
{
    const std::lock_guard guard(decodeLock);
    if (!decodeSettled) {
        const_cast<Private *>(this)->decodeHere();  // filled under the lock, before any reader sees it
        decodeSettled = true;
    }
    return decoded;
}

void ImageSource::Private::settle(const WorkerReply &reply) const
{
    auto *self = const_cast<Private *>(this);  // filled under the lock, before any reader sees it
    if (reply.end == WorkerEnd::Done) {
        const WorkerFacts &facts = reply.facts;
        self->depth = facts.depth;
        self->colorModel = facts.colorModel;
        self->hasAlpha = facts.hasAlpha;
        self->orientation = facts.orientation;
        self->storedSize = facts.storedSize;
        self->frames = facts.frames;
        self->decodedValid = !facts.storedSize.isEmpty();
    }
    // A decode that ended short of its end may be tried again.
    decodeSettled = !(reply.end == WorkerEnd::OverGrant || reply.end == WorkerEnd::Stopped
                      || reply.end == WorkerEnd::Unavailable);
}

bool ImageSource::Private::usable(const DecodeTerms &terms, DecodeReport *report) const
{
    if (!decodeToValidate)
        return valid;
    if (decodesInThisProcess())
        return fullDecode().has_value();
    // Checked by a worker's decode of it, of which only a pixel is sent back.
    const std::lock_guard guard(decodeLock);
    if (!decodeSettled) {
        WorkerTask task;
        task.kind = WorkerTaskKind::Thumbnail;
        task.maxSide = 1;
        settle(inWorker(task, decodeBytes(1, ThumbnailUse::Shown), terms, report));
    }
    return decodedValid;
}

void ImageSource::Private::decodeHere()
{
    {
        const ByteSource source = open();
        Private *self = this;
        if (probe.decoder == Decoder::Qt) {
            // These formats carry no Exif orientation of ours: Qt's own reading holds.
            if (std::optional<QImage> image = decodeWithQt(source, probe.qtFormat, 0, 0, nullptr, true)) {
                self->depth = depthOf(*image);
                self->colorModel = image->isGrayscale() ? QStringLiteral("Gray") : QStringLiteral("RGB");
                self->hasAlpha = image->hasAlphaChannel();
                self->storedSize = image->size();
                self->frames = qtFrameCount(source, probe.qtFormat);
                self->decoded = std::move(image);
                return;
            }
            if (probe.magick.empty())
                return;
        }
        if (std::optional<MagickImage> image = decodeWithMagick(source, probe)) {
            self->depth = image->depth;
            self->colorModel = image->colorModel;
            self->hasAlpha = image->hasAlpha;
            self->orientation = image->orientation;
            self->storedSize = image->image.size();
            self->frames = 1;
            self->decoded = std::move(image->image);
        }
    }
}

const QString &ImageSource::Private::judgedClaim() const
{
    std::call_once(claimOnce, [this] {
        if (probe.decoder == Decoder::Qt && probe.qtFormat == "jpeg")
            claimRefusal = jpegClaimRefusal(open());
    });
    return claimRefusal;
}

ProbedFacts ImageSource::Private::probedFacts(ProbeParts parts) const
{
    const std::lock_guard guard(probeLock);
    const ProbeParts missing = parts & ~probeTried;
    if (missing != 0) {
        const ProbeParts asked = missing | (readAhead & ~probeTried);
        probeTried |= asked;
        if (decodesInThisProcess()) {
            addFacts(&probed, probeHere(open(), path, asked));
        } else {
            WorkerTask task;
            task.kind = WorkerTaskKind::Probe;
            task.probeParts = asked;
            const DecodeTerms terms {probeGrantBytes, probeTimeLimitMs, nullptr};
            addFacts(&probed, factsFromReply(inWorker(task, probeGrantBytes, terms, nullptr), asked, path));
        }
    }
    return probed;
}

ImageSource::ImageSource(const QString &path) : d(std::make_shared<Private>())
{
    d->openPath(path);
}

void ImageSource::Private::openPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (FileNames::hasRawBytes(path)) {
        // No reader is handed the path: the content stands in for the file.
        constexpr qint64 largest = 256LL << 20;
        const ByteSource file = ByteSource::openNative(FileNames::toNative(path));
        data = file.isOpen() ? file.readAll(largest) : QByteArray();
        inMemory = true;
    } else {
        this->path = path;
    }
    extension = suffix;
    inspect();
}

namespace image {

ProbedFacts probedFacts(const ImageSource &source, ProbeParts parts)
{
    return source.d->probedFacts(parts);
}

ImageSource readingAhead(const QString &path, ProbeParts parts)
{
    ImageSource source;
    source.d = std::make_shared<ImageSource::Private>();
    source.d->readAhead = parts;
    source.d->openPath(path);
    return source;
}

} // namespace image

qint64 ImageSource::openingProbeBytes(const QString &path)
{
    const ByteSource source = ByteSource::openNative(FileNames::toNative(path));
    return probedByLibrary(probeFormat(source, QFileInfo(path).suffix().toLower())) ? probeGrantBytes : 0;
}

ImageSource ImageSource::fromData(const QByteArray &data, const QString &formatHint)
{
    ImageSource source;
    source.d = std::make_shared<Private>();
    source.d->data = data;
    source.d->inMemory = true;
    source.d->extension = formatHint.toLower();
    source.d->inspect();
    return source;
}

QString ImageSource::path() const
{
    return d->path;
}

bool ImageSource::isValid() const
{
    return d->usable();
}

QString ImageSource::type() const
{
    return d->usable() ? d->probe.type : QString();
}

std::optional<QSize> ImageSource::pixelSize() const
{
    if (!d->usable() || d->storedSize.isEmpty())
        return std::nullopt;
    return orientedSize(d->storedSize, d->orientation);
}

std::optional<QImage> ImageSource::thumbnail(int maxPixelSize, ThumbnailUse use) const
{
    const image::GrantedDecode decode = [&](const DecodeTerms &terms, DecodeReport *report) {
        return thumbnail(maxPixelSize, use, terms, report);
    };
    return image::grantedDecode(decode, thumbnailDecodeBytes(maxPixelSize, use), image::GrantBeyond::WithinWhole);
}

std::optional<QImage> ImageSource::thumbnail(int maxPixelSize, ThumbnailUse use, const DecodeTerms &terms,
                                             DecodeReport *report) const
{
    if (report)
        *report = {};
    const int maxSide = std::max(0, maxPixelSize);
    if (!decodesInThisProcess()) {
        // A file checked by decoding it is checked by this decode.
        if (d->decodeToValidate) {
            const std::lock_guard guard(d->decodeLock);
            if (d->decodeSettled && !d->decodedValid)
                return std::nullopt;
        } else if (!d->valid || !d->judgedClaim().isEmpty()) {
            return std::nullopt;
        }
        WorkerTask task;
        task.kind = WorkerTaskKind::Thumbnail;
        task.maxSide = maxSide;
        task.cached = use == ThumbnailUse::Cached;
        WorkerReply reply = d->inWorker(task, d->decodeBytes(maxPixelSize, use), terms, report);
        if (d->decodeToValidate) {
            const std::lock_guard guard(d->decodeLock);
            if (!d->decodeSettled || reply.end == WorkerEnd::Done)
                d->settle(reply);
        }
        if (reply.end != WorkerEnd::Done)
            return std::nullopt;
        return std::move(reply.image);
    }
    if (!d->usable())
        return std::nullopt;
    if (!d->judgedClaim().isEmpty())
        return std::nullopt;
    if (d->decodeToValidate)
        return applyOrientation(reducedToFit(*d->fullDecode(), maxSide), d->orientation);
    const ByteSource source = d->open();
    std::optional<QImage> image;
    switch (d->probe.decoder) {
    case Decoder::Qt:
        if (d->readReduced(maxSide))
            image = d->probe.qtFormat == "png" ? readPngReduced(source, maxSide) : readTiffReduced(source, maxSide);
        else
            image = decodeWithQt(source, d->probe.qtFormat, maxSide);
        if (image)
            image = applyOrientation(*image, d->orientation);
        break;
    case Decoder::Heif: {
        HeifDecodeOptions options;
        options.maxSide = maxSide;
        options.cacheThumbnail = use == ThumbnailUse::Cached;
        options.stopped = [] { return isShuttingDown(); };
        image = decodeHeif(source, options);
        break;
    }
    case Decoder::Raw:
        image = decodeRaw(source, d->path, maxSide);
        break;
    default:
        break;
    }
    if (!image || image->isNull())
        return std::nullopt;
    // Reduced decodes and previews round their own way: give the size that
    // the full picture reduced would have (unless the preview is cut differently).
    const QSize target = fitWithin(orientedSize(d->storedSize, d->orientation), maxSide);
    const QSize got = image->size();
    if (got != target && std::abs(got.width() - target.width()) <= 2 && std::abs(got.height() - target.height()) <= 2)
        image = image->scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

qint64 ImageSource::Private::decodeBytes(int maxPixelSize, ThumbnailUse use) const
{
    // Nothing here decodes: judged on the probe alone.
    if (probe.decoder == Decoder::None || (!valid && !decodeToValidate))
        return 0;
    const QSize stored = storedSize.isEmpty() ? probe.storedSize : storedSize;
    if (stored.isEmpty())
        return qint64(decodeBudgetMegabytes) << 20;
    const qint64 pixels = qint64(stored.width()) * stored.height();
    const QSize fitted = fitWithin(stored, std::max(0, maxPixelSize));
    const qint64 thumbnail = qint64(fitted.width()) * fitted.height() * 4;
    // Room for the decoder's own state (tables, rows, the file's bytes in
    // reading): a megabyte or so.
    constexpr qint64 slack = 1 << 20;
    if (decodeToValidate) {
        // Decoded whole by ImageMagick: the file's bytes, its pixels of 16
        // bits a sample in four channels, a copy of them where its colours
        // are turned, and the picture handed over in 8 bits (held as long
        // as the source), then reduced.
        return fileBytes + pixels * (8 + 8 + 4 + 4) + thumbnail + slack;
    }
    switch (probe.decoder) {
    case Decoder::Qt: {
        if (probe.qtFormat == "jpeg" && maxPixelSize > 0) {
            // Decoded at 1/2, 1/4 or 1/8 of its size, the most reduced that
            // still covers the thumbnail, then reduced the rest of the way;
            // a progressive file's decoder keeps every coefficient meanwhile.
            int scale = 8;
            while (scale > 1 && (stored.width() / scale < fitted.width() || stored.height() / scale < fitted.height()))
                scale /= 2;
            const qint64 reduced = qint64((stored.width() + scale - 1) / scale) * ((stored.height() + scale - 1) / scale);
            return probe.jpegCoefficientBytes + reduced * 4 + thumbnail + slack;
        }
        if (readReduced(maxPixelSize))
            return reducedReadBytes(stored, maxPixelSize);
        if (probe.qtFormat == "gif") {
            // Qt's reader draws each frame over the one before, in a picture
            // of the whole screen, and keeps a copy to go back to; the frame
            // read is then converted and reduced.
            return pixels * 4 * 4 + thumbnail + slack;
        }
        // Decoded whole, four bytes a pixel (eight past 8 bits a sample),
        // and once more when it is turned into the form that is reduced
        // (Qt's TIFF reader always reads through a buffer of its own).
        const qint64 perPixel = probe.depth > 8 ? 8 : 4;
        const bool copied = probe.hasAlpha || perPixel > 4 || probe.qtFormat == "tiff";
        return probe.jpegCoefficientBytes + pixels * perPixel * (copied ? 2 : 1) + thumbnail + slack;
    }
    case Decoder::Heif: {
        // A large enough embedded thumbnail is decoded instead of the
        // picture; either is held as coded, whatever its crop shows.
        QSize coded = heif.codedSize.isEmpty() ? stored : heif.codedSize;
        const int side = heifThumbnailSide(heif.thumbnailSizes, maxPixelSize);
        for (qsizetype i = 0; i < heif.thumbnailSizes.size(); ++i) {
            const QSize size = heif.thumbnailSizes[i];
            if (side > 0 && std::max(size.width(), size.height()) == side)
                coded = i < heif.thumbnailCodedSizes.size() ? heif.thumbnailCodedSizes[i] : size;
        }
        const qint64 decodedPixels = qint64(coded.width()) * coded.height();
        // While decoding: the file's coded bytes (twice: as read, and as
        // handed to the decoder), the decoder's own state (modes and motion
        // for each 4x4 block, about three bytes a pixel) and the planes it
        // decodes into (4:2:0; two bytes a sample past 8 bits), with the
        // filters a second copy of those planes. A grid's tiles decode so,
        // several at once, into planes of the whole picture. The planes are
        // then turned into planes of red, green and blue, from which a
        // thumbnail of 8 bits a sample without alpha is reduced; any other
        // picture is interleaved beside them (with alpha, four bytes a pixel,
        // copied once more).
        const int sample = depth > 8 ? 2 : 1;
        const qint64 planes = decodedPixels * 3 / 2 * sample;
        // The filters are left out by how much the shown picture is reduced.
        const bool unfiltered = use == ThumbnailUse::Cached && side == 0 && maxPixelSize > 0 && sample == 1
            && !hasAlpha && std::min(stored.width() / std::max(1, fitted.width()), stored.height() / std::max(1, fitted.height())) >= 4;
        qint64 decoding = 2 * fileBytes;
        if (side == 0 && heif.gridTiles > 0) {
            const qint64 tilePixels = heif.codedTile.isEmpty() ? decodedPixels / heif.gridTiles + 1
                                                                : qint64(heif.codedTile.width()) * heif.codedTile.height();
            const qint64 atOnce = std::min(heif.gridTiles, 4);
            decoding += planes + atOnce * tilePixels * (3 + 3 * sample / 2 * (unfiltered ? 1 : 2) + 3 * sample / 2);
        } else {
            decoding += decodedPixels * 3 + planes * (unfiltered ? 1 : 2);
        }
        const qint64 separate = planes + decodedPixels * 3 * sample;
        if (maxPixelSize > 0 && sample == 1 && !hasAlpha)
            return std::max(decoding, separate) + thumbnail + slack;
        const qint64 interleaved = decodedPixels * (hasAlpha ? 4 : 3) * sample + (hasAlpha ? decodedPixels * 4 : 0);
        return std::max(decoding, separate + interleaved) + thumbnail + slack;
    }
    case Decoder::Raw:
        // Mostly an embedded preview near the picture's size, decoded (the
        // sensor's samples, where there is none, take about as much again).
        return pixels * 4 + thumbnail + slack;
    default:
        return pixels * 12 + thumbnail + slack;
    }
}

qint64 ImageSource::thumbnailDecodeBytes(int maxPixelSize, ThumbnailUse use) const
{
    return d->decodeBytes(maxPixelSize, use);
}

qint64 ImageSource::pixelSizeDecodeBytes() const
{
    return d->decodeToValidate ? thumbnailDecodeBytes(0) : 0;
}

std::optional<QImage> ImageSource::image() const
{
    const image::GrantedDecode decode = [&](const DecodeTerms &terms, DecodeReport *report) {
        return thumbnail(0, ThumbnailUse::Shown, terms, report);
    };
    return image::grantedDecode(decode, thumbnailDecodeBytes(0), image::GrantBeyond::Picture);
}

int ImageSource::frameCount() const
{
    if (!d->usable())
        return 0;
    if (d->probe.decoder == Decoder::Qt && !d->decodeToValidate && d->probe.qtFormat == "tiff")
        return std::max(1, d->probedFacts(quint32(ProbePart::TiffPages)).tiffPages);
    return std::max(1, d->frames);
}

std::optional<QImage> ImageSource::frame(int index) const
{
    if (index < 0 || !d->usable())
        return std::nullopt;
    if (index == 0)
        return image();
    if (d->probe.decoder != Decoder::Qt || index >= frameCount())
        return std::nullopt;
    if (!decodesInThisProcess()) {
        WorkerTask task;
        task.kind = WorkerTaskKind::Frame;
        task.frameIndex = index;
        WorkerReply reply = d->inWorker(task, d->decodeBytes(0, ThumbnailUse::Shown), {}, nullptr);
        if (reply.end != WorkerEnd::Done)
            return std::nullopt;
        return std::move(reply.image);
    }
    std::optional<QImage> image = decodeWithQt(d->open(), d->probe.qtFormat, 0, index, nullptr, d->decodeToValidate);
    if (!image)
        return std::nullopt;
    return applyOrientation(*image, d->orientation);
}

int ImageSource::frameDelay(int index) const
{
    if (index < 0 || !d->usable() || d->probe.decoder != Decoder::Qt || !d->judgedClaim().isEmpty())
        return 0;
    if (!decodesInThisProcess()) {
        // The frame is read at the least size: only its delay is wanted.
        WorkerTask task;
        task.kind = WorkerTaskKind::Frame;
        task.frameIndex = index;
        task.maxSide = 1;
        const WorkerReply reply = d->inWorker(task, d->decodeBytes(1, ThumbnailUse::Shown), {}, nullptr);
        return reply.end == WorkerEnd::Done ? std::max(0, reply.facts.delayMs) : 0;
    }
    int delay = 0;
    if (!decodeWithQt(d->open(), d->probe.qtFormat, 1, index, &delay))
        return 0;
    return std::max(0, delay);
}

QString ImageSource::claimRefusal() const
{
    return d->usable() ? d->judgedClaim() : QString();
}

QString ImageSource::decodeRefusal() const
{
    const std::optional<QSize> size = pixelSize();
    if (!size)
        return {};
    if (const QString &refusal = d->judgedClaim(); !refusal.isEmpty())
        return refusal;
    return sizeClaimRefusal(*size, d->probe.decoder == Decoder::Qt);
}

ImageProperties ImageSource::properties() const
{
    ImageProperties properties;
    const std::optional<QSize> size = pixelSize();
    if (!size)
        return properties;
    properties.pixelSize = *size;
    properties.depth = d->depth;
    properties.colorModel = d->colorModel;
    properties.hasAlpha = d->hasAlpha;
    properties.orientation = d->orientation;
    MetadataRead metadata = d->probedFacts(quint32(ProbePart::Metadata)).metadata;
    properties.groups = std::move(metadata.groups);
    properties.exif = std::move(metadata.exif);
    properties.iptc = std::move(metadata.iptc);
    properties.xmp = std::move(metadata.xmp);
    properties.icc = std::move(metadata.icc);
    if (d->probe.type == QLatin1String("jpeg")) {
        // The tables come before the picture data, mostly in the first few kilobytes.
        const ByteSource bytes = d->open();
        for (const qint64 headerLimit : {qint64(64) << 10, qint64(1) << 20}) {
            if (const std::optional<int> quality = estimatedJpegQuality(bytes.read(0, headerLimit))) {
                properties.compressionQuality = *quality / 100.0;
                break;
            }
        }
    }
    return properties;
}

namespace image {

WorkerReply performWorkerTask(const WorkerTask &task, int fd)
{
    WorkerReply reply;
    if (task.kind == WorkerTaskKind::VideoFrame) {
        // FFmpeg reads a file by name: the one handed over.
        if (std::optional<QImage> frame = VideoInfo::firstFrame(FileNames::fromNative(handlePath(fd)), task.maxSide)) {
            reply.end = WorkerEnd::Done;
            reply.image = std::move(*frame);
        }
        return reply;
    }
    if (task.kind == WorkerTaskKind::VideoProbe)
        return performVideoProbe(fd);
    ImageSource source;
    source.d = std::make_shared<ImageSource::Private>();
    const ByteSource file = ByteSource::fromDescriptor(fd);
    source.d->fd = file.isOpen() ? ::fcntl(file.descriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    source.d->extension = task.extension;
    // LibRaw reads a file by name: the one handed over.
    if (source.d->fd >= 0)
        source.d->path = FileNames::fromNative(handlePath(source.d->fd));
    source.d->inspect();
    std::optional<QImage> image;
    const ImageSource::Private &d = *source.d;
    switch (task.kind) {
    case WorkerTaskKind::Thumbnail:
        image = source.thumbnail(task.maxSide, task.cached ? ThumbnailUse::Cached : ThumbnailUse::Shown);
        break;
    case WorkerTaskKind::VideoFrame:
    case WorkerTaskKind::Probe:
    case WorkerTaskKind::VideoProbe:
    case WorkerTaskKind::Animation:
        break;
    case WorkerTaskKind::Frame:
        if (task.maxSide > 0 && d.usable() && d.probe.decoder == Decoder::Qt) {
            image = decodeWithQt(d.open(), d.probe.qtFormat, task.maxSide, task.frameIndex, &reply.facts.delayMs);
        } else {
            image = source.frame(task.frameIndex);
        }
        break;
    }
    WorkerFacts &facts = reply.facts;
    facts.depth = d.depth;
    facts.colorModel = d.colorModel;
    facts.hasAlpha = d.hasAlpha;
    facts.orientation = d.orientation;
    facts.frames = d.frames;
    facts.storedSize = d.storedSize;
    if (image && !image->isNull()) {
        reply.end = WorkerEnd::Done;
        reply.image = std::move(*image);
    }
    return reply;
}

} // namespace image

} // namespace lg
