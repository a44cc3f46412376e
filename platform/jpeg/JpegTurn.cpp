// Lossless turns and flips of a JPEG: the blocks moved where exact, else the orientation tag.
#include "platform/jpeg/JpegTurn.h"

#include "platform/jpeg/JpegEntropy.h"
#include "platform/jpeg/JpegSegments.h"
#include "platform/base/Orientation.h"
#include "platform/base/PictureLimits.h"
#include "platform/base/TiffStructure.h"
#include "platform/jpeg/JpegExif.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <cstdlib>
#include <functional>
#include <memory>

namespace lg {

namespace {

// Each turn as the matrix that maps screen coordinates (x right, y down) of
// the old picture's pixels to the new: {a, b, c, d} maps (x, y) to (ax + by, cx + dy).
using Matrix = std::array<int, 4>;

constexpr std::array<Matrix, 8> matrices = {{
    {1, 0, 0, 1},    // None
    {-1, 0, 0, 1},   // MirrorLeftRight
    {-1, 0, 0, -1},  // Rotate180
    {1, 0, 0, -1},   // MirrorTopBottom
    {0, 1, 1, 0},    // Transpose
    {0, -1, 1, 0},   // RotateRight
    {0, -1, -1, 0},  // Transverse
    {0, 1, -1, 0},   // RotateLeft
}};

Matrix matrixOf(PictureTurn turn)
{
    return matrices[size_t(int(turn) - 1)];
}

PictureTurn turnOf(const Matrix &m)
{
    for (size_t i = 0; i < matrices.size(); ++i)
        if (matrices[i] == m)
            return PictureTurn(int(i) + 1);
    return PictureTurn::None;
}

Matrix product(const Matrix &l, const Matrix &r)
{
    return {l[0] * r[0] + l[1] * r[2], l[0] * r[1] + l[1] * r[3], l[2] * r[0] + l[3] * r[2], l[2] * r[1] + l[3] * r[3]};
}

struct TjDeleter
{
    void operator()(void *handle) const { tjDestroy(handle); }
};

} // namespace

PictureTurn combinedTurn(PictureTurn first, PictureTurn then)
{
    return turnOf(product(matrixOf(then), matrixOf(first)));
}

PictureTurn pictureTurn(int quarterTurnsClockwise, bool mirrorLeftRight, bool mirrorTopBottom)
{
    PictureTurn turn = PictureTurn::None;
    if (mirrorLeftRight)
        turn = combinedTurn(turn, PictureTurn::MirrorLeftRight);
    if (mirrorTopBottom)
        turn = combinedTurn(turn, PictureTurn::MirrorTopBottom);
    for (int i = 0; i < ((quarterTurnsClockwise % 4) + 4) % 4; ++i)
        turn = combinedTurn(turn, PictureTurn::RotateRight);
    return turn;
}

QImage turnedImage(const QImage &image, PictureTurn turn)
{
    return image::applyOrientation(image, int(turn));
}

QSize turnedSize(QSize size, PictureTurn turn)
{
    return image::orientedSize(size, int(turn));
}

namespace {

std::optional<QByteArray> encoded(tjhandle handle, const QImage &pixels, int pixelFormat, int subsampling, int quality,
                                  bool progressive)
{
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int flags = TJFLAG_ACCURATEDCT | (progressive ? TJFLAG_PROGRESSIVE : 0);
    if (tjCompress2(handle, pixels.constBits(), pixels.width(), int(pixels.bytesPerLine()), pixels.height(), pixelFormat,
                    &out, &size, pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : subsampling, quality, flags) != 0) {
        tjFree(out);
        return std::nullopt;
    }
    QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(size));
    tjFree(out);
    return bytes;
}

// Whether the turn moves whole blocks of the picture whose frame is frame.
bool movesWholeBlocks(const jpeg::Frame &frame, PictureTurn total)
{
    return jpeg::movesWholeBlocks(frame.size, frame.mcuInBlocks(), total);
}

// Why the frame of the JPEG read as reading (at least as far as ReadTo::FrameBacked)
// cannot be taken at its word; see jpegSizeRefusal.
QString sizeRefusal(const jpeg::Reading &reading, qsizetype fileSize)
{
    if (!reading.frame || reading.frame->size.isEmpty() || reading.frame->sampling.isEmpty())
        return {};  // no frame to go by: the decoder tells
    const jpeg::Frame &frame = *reading.frame;
    // Arithmetic coding may spend far less than a bit on a block: its bytes
    // bound nothing, so it is held to what a decoded picture may take.
    if (const QString refusal = image::sizeClaimRefusal(frame.size, frame.arithmetic()); !refusal.isEmpty() || frame.arithmetic())
        return refusal;
    // Huffman coding spends at least one bit on each block of 8 × 8 samples
    // of each component (its DC value has a code of one bit or more, in a
    // sequential scan as in a progressive one's first DC scan), so the file
    // holds at least one bit a block. Real pictures never come near it: a
    // plain black one, optimised and progressive, takes about that much.
    if (reading.entropyCodedBytes * 8 < frame.blocks())
        return QStringLiteral("%1, more than its %2 bytes can hold.").arg(image::claimText(frame.size)).arg(fileSize);
    return {};
}

// The longest side of a thumbnail made afresh: Exif thumbnails are 160 x 120
// as a rule and never near this; a larger claim is no thumbnail's.
constexpr int maxThumbnailSide = 1024;

// The turned main picture at no fewer pixels than wanted a side where it
// has them (fewer where it has not); null when it cannot be given. RGB888.
using PictureAtLeast = std::function<QImage(QSize wanted)>;

// The JPEG decoded at the smallest of libjpeg's scales that keeps wanted's
// pixels a side (or at full size); RGB888 (inks as Qt shows them), null on error.
QImage decodedAtLeast(const QByteArray &jpeg, QSize wanted)
{
    std::unique_ptr<void, TjDeleter> handle(tjInitDecompress());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
    if (!handle || tjDecompressHeader3(handle.get(), data, (unsigned long)jpeg.size(), &width, &height, &subsampling, &colorspace) != 0)
        return {};
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    QSize best(width, height);
    for (int i = 0; factors && i < count; ++i) {
        const QSize scaled(TJSCALED(width, factors[i]), TJSCALED(height, factors[i]));
        if (scaled.width() >= wanted.width() && scaled.height() >= wanted.height()
            && qint64(scaled.width()) * scaled.height() < qint64(best.width()) * best.height())
            best = scaled;
    }
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        // Inks are shown as Qt's JPEG reader shows them (Adobe's inverted storage taken into account).
        QBuffer buffer;
        buffer.setData(jpeg);
        QImageReader reader(&buffer, "jpeg");
        reader.setScaledSize(best);
        return reader.read().convertToFormat(QImage::Format_RGB888);
    }
    QImage image(best, QImage::Format_RGB888);
    if (image.isNull()
        || tjDecompress2(handle.get(), data, (unsigned long)jpeg.size(), image.bits(), best.width(), int(image.bytesPerLine()),
                         best.height(), TJPF_RGB, 0) != 0)
        return {};
    return image;
}

// The subsampling of a picture stored with subsampling once the turn has
// transposed it or not (4:2:2 and 4:4:0 trade places).
int turnedSubsampling(int subsampling, PictureTurn turn)
{
    if (subsampling < 0 || subsampling == TJSAMP_411)
        return TJSAMP_420;
    if (matrixOf(turn)[0] != 0)
        return subsampling;
    return subsampling == TJSAMP_422 ? TJSAMP_440 : subsampling == TJSAMP_440 ? TJSAMP_422 : subsampling;
}

// The JPEG's Huffman tables made for its own picture (progressive stays
// progressive), without its APPn segments: its blocks are not touched.
std::optional<QByteArray> optimisedBare(const QByteArray &jpeg, bool progressive)
{
    const std::optional<QByteArray> coded = jpeg::turnedBlocks(
        jpeg, PictureTurn::None, nullptr, nullptr, progressive ? jpeg::EntropyCoding::Progressive : jpeg::EntropyCoding::Optimised);
    return coded ? jpeg::assemble({}, *coded, {}) : std::nullopt;
}

// A thumbnail of size made afresh from the turned main picture (never from
// an earlier thumbnail's encoding, whose losses would add up turn after
// turn): scaled to fit, centred on black where the sides' ratio differs, at
// quality (lower only where it would not fit in maxBytes), with subsampling.
QByteArray freshThumbnail(QSize size, int subsampling, bool grey, int quality, bool progressive, const PictureAtLeast &mainPicture,
                          qsizetype maxBytes)
{
    const QImage picture = mainPicture ? mainPicture(size) : QImage();
    if (picture.isNull() || size.isEmpty())
        return {};
    QImage canvas(size, QImage::Format_RGBX8888);
    canvas.fill(Qt::black);
    {
        const QImage scaled = picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&canvas);
        painter.drawImage((size.width() - scaled.width()) / 2, (size.height() - scaled.height()) / 2, scaled);
    }
    const QImage pixels = grey ? canvas.convertToFormat(QImage::Format_Grayscale8) : canvas;
    std::unique_ptr<void, TjDeleter> handle(tjInitCompress());
    if (!handle)
        return {};
    for (; quality >= 20; quality -= 10) {
        const std::optional<QByteArray> bytes = encoded(handle.get(), pixels, grey ? TJPF_GRAY : TJPF_RGBX, subsampling, quality, progressive);
        const std::optional<QByteArray> bare = bytes ? optimisedBare(*bytes, progressive) : std::nullopt;
        if (!bare)
            return {};
        if (bare->size() <= maxBytes)
            return *bare;
    }
    return {};
}

// The old Exif thumbnail turned by total, at most maxBytes: its blocks moved
// exactly, with tables made for the turned thumbnail, wherever they can be;
// else made afresh from the turned main picture at the thumbnail's turned
// size and its quality. Empty when neither can be made.
QByteArray turnedThumbnail(const QByteArray &old, PictureTurn total, qsizetype maxBytes, const PictureAtLeast &mainPicture)
{
    std::unique_ptr<void, TjDeleter> handle(tjInitDecompress());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!handle
        || tjDecompressHeader3(handle.get(), reinterpret_cast<const unsigned char *>(old.constData()), (unsigned long)old.size(),
                               &width, &height, &subsampling, &colorspace) != 0)
        return {};
    if (total == PictureTurn::None)
        return old;
    // A thumbnail whose header claims more than its bytes can hold goes, as
    // one that cannot be turned does: nothing is made at the claimed size.
    const jpeg::Reading reading = jpeg::read(old);
    if (!sizeRefusal(reading, old.size()).isEmpty() || !reading.frame)
        return {};
    const bool progressive = reading.frame->progressive();
    if (movesWholeBlocks(*reading.frame, total))
        if (const std::optional<QByteArray> moved = jpeg::turnedBlocks(
                old, total, nullptr, nullptr, progressive ? jpeg::EntropyCoding::Progressive : jpeg::EntropyCoding::Optimised))
            if (const std::optional<QByteArray> bare = jpeg::assemble({}, *moved, {}); bare && bare->size() <= maxBytes)
                return *bare;
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK)
        return {};  // inks: no picture of them is made here
    // What claims more than a thumbnail's size is not made at that size.
    if (std::max(width, height) > maxThumbnailSide)
        return {};
    return freshThumbnail(turnedSize(QSize(width, height), total), turnedSubsampling(subsampling, total), colorspace == TJCS_GRAY,
                          estimatedJpegQuality(old).value_or(75), progressive, mainPicture, maxBytes);
}

// What a turn says of a multi-picture index it cannot read: it is carried byte for byte.
const QString unreadableMpfIndex = QStringLiteral("the index of its further pictures cannot be read, so it is kept as it was "
                                                  "and may no longer lead to them");

std::optional<TurnedJpeg> failed(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return std::nullopt;
}

// The file's own metadata segments, patched for upright pixels of size, in
// front of the new body, and the bytes after the old end behind it; checked
// that every Exif tag is still there.
std::optional<TurnedJpeg> withOwnMetadata(const QByteArray &jpeg, const jpeg::Layout &layout, const QByteArray &body,
                                          QSize size, PictureTurn turn, PictureTurn total, const PictureAtLeast &mainPicture,
                                          QString *error)
{
    QList<jpeg::Segment> metadata;
    QByteArray exifBefore, exifAfter;
    bool thumbnailDropped = false;
    const bool hasExtendedXmp = std::any_of(layout.metadata.cbegin(), layout.metadata.cend(), jpeg::isExtendedXmp);
    for (const jpeg::Segment &segment : layout.metadata) {
        if (jpeg::isExif(segment) && exifBefore.isEmpty()) {
            exifBefore = segment.payload.mid(6);
            QByteArray tiff = exifBefore;
            // A thumbnail that states an orientation of its own is turned from that one.
            const std::optional<int> own = jpeg::exifThumbnailOrientation(exifBefore);
            const PictureTurn thumbnailTotal = own ? combinedTurn(PictureTurn(*own), turn) : total;
            const auto maker = [thumbnailTotal, &mainPicture](const QByteArray &old, qsizetype maxBytes) {
                return turnedThumbnail(old, thumbnailTotal, maxBytes, mainPicture);
            };
            if (!jpeg::patchExif(tiff, size, maker, &thumbnailDropped))
                return failed(error, QStringLiteral("The Exif block cannot be read."));
            exifAfter = tiff;
            metadata.append({segment.marker, segment.payload.left(6) + tiff});
        } else if (jpeg::isXmp(segment)) {
            const QByteArray packet = segment.payload.mid(29);
            const QByteArray upright = jpeg::uprightXmpPacket(packet, size);
            if (upright == packet) {
                metadata.append(segment);
                continue;
            }
            const std::optional<QList<jpeg::Segment>> segments = jpeg::xmpSegments(upright);
            if (!segments || (segments->size() > 1 && hasExtendedXmp))
                return failed(error, QStringLiteral("The XMP packet is too large to be written back."));
            metadata.append(*segments);
        } else {
            metadata.append(segment);
        }
    }
    const QByteArray trailing = jpeg.mid(layout.imageEnd);
    std::optional<QByteArray> bytes = jpeg::assemble(metadata, body, trailing);
    if (!bytes)
        return failed(error, QStringLiteral("The turned picture could not be put together with its metadata."));
    // The further pictures of a multi-picture file are found again after the new end.
    QString note;
    for (const jpeg::Segment &segment : layout.metadata)
        if (jpeg::isMpf(segment)) {
            if (!jpeg::patchMpfIndex(*bytes, bytes->size() - trailing.size(), segment.position, layout.imageEnd))
                note = unreadableMpfIndex;
            break;
        }
    const QList<QByteArray> missing = jpeg::missingExifTags(exifBefore, exifAfter, thumbnailDropped);
    if (!missing.isEmpty())
        return failed(error, QStringLiteral("These Exif tags could not be kept: %1").arg(QString::fromLatin1(missing.join(", "))));
    return TurnedJpeg {std::move(*bytes), size, false, note};
}

// How many rows at an eighth of the size the check after a block turn
// compares: the top of the turned picture, which a sequential JPEG gives
// without reading the rest.
constexpr int checkedRows = 4;

// Whether band, the top rows of the turned picture at an eighth of its size,
// has the colours of the same rows of expected (the original at an eighth,
// turned), compared by the mean of each cell of cell pixels: the turned
// picture's MCUs, a cell at the picture's edge holding only the pixels there
// (expected draws the part of an MCU a decoder shows, as libjpeg's scaled
// decoding does). A few levels a channel apart at most; a colour model read
// wrongly (RGB as YCbCr, inks as light) is tens of levels off. Different
// formats (colour against inks) or sizes never match.
bool sameColours(const QImage &expected, const QImage &band, QSize cell)
{
    if (expected.isNull() || band.isNull() || expected.format() != band.format() || expected.width() != band.width()
        || band.height() != std::min(expected.height(), checkedRows) || cell.isEmpty())
        return false;
    const int channels = band.format() == QImage::Format_RGB888 ? 3 : 4;
    qint64 difference = 0, compared = 0;
    for (int top = 0; top < band.height(); top += cell.height())
        for (int left = 0; left < band.width(); left += cell.width()) {
            for (int channel = 0; channel < channels; ++channel) {
                int a = 0, b = 0, n = 0;
                for (int y = top; y < std::min(top + cell.height(), band.height()); ++y)
                    for (int x = left; x < std::min(left + cell.width(), band.width()); ++x, ++n) {
                        a += expected.constScanLine(y)[x * channels + channel];
                        b += band.constScanLine(y)[x * channels + channel];
                    }
                difference += std::abs(a - b) / n;
                ++compared;
            }
        }
    return difference <= 6 * compared;
}

// The cell sameColours compares by for a picture stored with frame's
// sampling, turned by total: an MCU of the turned picture at an eighth of its size.
QSize mcuCell(const jpeg::Frame &frame, PictureTurn total)
{
    const QSize mcu = frame.mcuInBlocks();
    return matrixOf(total)[0] == 0 ? mcu.transposed() : mcu;
}

// Where a JFIF segment opening the file says how many dots go to an inch or
// a centimetre: Exif's resolution unit (2, 3) and the two densities.
std::tuple<int, quint32, quint32> jfifResolution(const jpeg::Layout &layout)
{
    for (const jpeg::Segment &segment : layout.metadata) {
        if (segment.marker != 0xe0)
            break;
        const QByteArray &p = segment.payload;
        if (p.size() >= 12 && p.startsWith(QByteArrayView("JFIF\0", 5)) && (p[7] == 1 || p[7] == 2)) {
            const auto density = [&p](int at) { return (quint32(uchar(p[at])) << 8) | uchar(p[at + 1]); };
            if (density(8) > 0 && density(10) > 0)
                return {p[7] == 1 ? 2 : 3, density(8), density(10)};
        }
    }
    return {2, 72, 72};
}

// The turn written into the orientation tag: the Exif orientation becomes
// total (the asked turn composed with the file's own), one SHORT value, and a
// tiff:Orientation in the XMP packet follows; a file without Exif gets an
// Exif segment after its opening JFIF segments. Every other byte stays, the
// compressed picture above all; the further pictures of a multi-picture file
// are found again where the file grew.
std::optional<TurnedJpeg> taggedTurn(const QByteArray &jpeg, const jpeg::Layout &layout, QSize stored, int components,
                                     PictureTurn turn, PictureTurn total, QString *error)
{
    // Nothing is decoded from the picture, but a damaged one is not written
    // in place either (its copy is made the usual way).
    if (const QString damage = jpeg::damageOf(jpeg); !damage.isEmpty())
        return failed(error, damage);
    const int orientation = int(total);
    struct Edit
    {
        qsizetype at, length;
        QByteArray bytes;
    };
    QList<Edit> edits;
    QByteArray exifBefore, exifAfter;
    bool hasExif = false;
    for (const jpeg::Segment &segment : layout.metadata) {
        if (jpeg::isExif(segment) && !hasExif) {
            hasExif = true;
            exifBefore = segment.payload.mid(6);
            exifAfter = exifBefore;
            // A thumbnail that states an orientation of its own keeps it, composed with the turn.
            const std::optional<int> own = jpeg::exifThumbnailOrientation(exifBefore);
            const int thumbnailOrientation = own ? int(combinedTurn(PictureTurn(*own), turn)) : orientation;
            if (!jpeg::setExifOrientation(exifAfter, orientation, thumbnailOrientation) || image::exifOrientation(exifAfter) != orientation)
                return failed(error, QStringLiteral("The Exif block cannot be read."));
            edits.append({segment.position, segment.payload.size() + 4, jpeg::segmentBytes(segment.marker, segment.payload.left(6) + exifAfter)});
        } else if (jpeg::isXmp(segment)) {
            const QByteArray packet = segment.payload.mid(29);
            const QByteArray patched = jpeg::xmpPacketWithOrientation(packet, orientation);
            if (patched.size() != packet.size())
                return failed(error, QStringLiteral("The XMP packet could not be written back."));
            if (patched != packet)
                edits.append({segment.position, segment.payload.size() + 4,
                              jpeg::segmentBytes(segment.marker, segment.payload.left(29) + patched)});
        }
    }
    if (!hasExif && orientation != 1) {
        qsizetype at = 2;  // after the start of image and the JFIF segments that open the file
        for (const jpeg::Segment &segment : layout.metadata) {
            if (segment.marker != 0xe0 || segment.position != at)
                break;
            at += segment.payload.size() + 4;
        }
        jpeg::NewExif made;
        made.orientation = orientation;
        made.pixelSize = stored;
        made.components = components;
        made.hasColourProfile = std::any_of(layout.metadata.cbegin(), layout.metadata.cend(), [](const jpeg::Segment &segment) {
            return segment.marker == 0xe2 && segment.payload.startsWith(QByteArrayView("ICC_PROFILE\0", 12));
        });
        std::tie(made.resolutionUnit, made.xResolution, made.yResolution) = jfifResolution(layout);
        edits.append({at, 0, jpeg::segmentBytes(0xe1, QByteArray("Exif\0\0", 6) + jpeg::newExifBlock(made))});
    }
    for (const Edit &edit : edits)
        if (edit.bytes.size() - 4 > 65533)
            return failed(error, QStringLiteral("The Exif block is too large for its orientation to be added."));
    // From the end, so that earlier positions stay right; a new segment and a
    // replaced one at the same place keep their order.
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.at > b.at; });
    QByteArray bytes = jpeg;
    qsizetype grown = 0;
    for (const Edit &edit : edits) {
        bytes.replace(edit.at, edit.length, edit.bytes);
        grown += edit.bytes.size() - edit.length;
    }
    QString note;
    if (grown != 0)
        for (const jpeg::Segment &segment : layout.metadata)
            if (jpeg::isMpf(segment)) {
                if (!jpeg::patchMpfIndex(bytes, layout.imageEnd + grown, segment.position, layout.imageEnd))
                    note = unreadableMpfIndex;
                break;
            }
    const QList<QByteArray> missing = jpeg::missingExifTags(exifBefore, exifAfter, false);
    if (!missing.isEmpty())
        return failed(error, QStringLiteral("These Exif tags could not be kept: %1").arg(QString::fromLatin1(missing.join(", "))));
    // The check after the rewrite: the picture and what follows it, byte for byte.
    const std::optional<jpeg::Layout> written = jpeg::parse(bytes);
    if (!written || bytes.mid(written->bodyStart) != jpeg.mid(layout.bodyStart))
        return failed(error, QStringLiteral("The picture data would not stay as it was."));
    return TurnedJpeg {std::move(bytes), turnedSize(stored, total), true, note};
}

std::optional<TurnedJpeg> turned(const QByteArray &jpeg, PictureTurn turn, bool mayTag, QString *error, QString *claimRefusal)
{
    // One reading of the file serves the claim, the layout, the frame and the coding.
    const jpeg::Reading reading = jpeg::read(jpeg);
    if (const QString refusal = sizeRefusal(reading, jpeg.size()); !refusal.isEmpty()) {
        if (claimRefusal)
            *claimRefusal = refusal;
        return failed(error, refusal);
    }
    if (reading.bodyStart < 0 || reading.cutShort || reading.strayBytes > 0 || reading.metadataAmongScans || reading.imageEnd < 0)
        return failed(error, QStringLiteral("The file is no whole JPEG."));
    const jpeg::Layout layout {reading.metadata, reading.bodyStart, reading.imageEnd};
    if (!reading.frame || reading.frame->size.isEmpty())
        return failed(error, QStringLiteral("The JPEG has no frame header."));
    const jpeg::Frame &frame = *reading.frame;
    // From the stored pixels: first upright by the Exif orientation, then the turn asked for.
    QList<QByteArray> app1;
    for (const jpeg::Segment &segment : layout.metadata)
        if (segment.marker == 0xe1)
            app1.append(segment.payload);
    const PictureTurn total = combinedTurn(PictureTurn(image::jpegExifOrientation(app1)), turn);
    const QSize stored = frame.size;
    if (mayTag && (total == PictureTurn::None || !movesWholeBlocks(frame, total)))
        return taggedTurn(jpeg, layout, stored, int(frame.sampling.size()), turn, total, error);
    // The original's colours for the check after the turn come from the blocks the turn reads.
    QImage before;
    const std::optional<QByteArray> body = jpeg::turnedBlocks(jpeg, total, error, &before, jpeg::entropyCoding(jpeg, reading));
    if (!body)
        return std::nullopt;
    // The turned main picture for a thumbnail made afresh: the eighth the
    // turn read, where that is large enough, else the turned picture decoded.
    const PictureAtLeast mainPicture = [&before, &body, total](QSize wanted) {
        if (!before.isNull() && before.format() == QImage::Format_RGB888) {
            const QImage eighth = turnedImage(before, total);
            if (eighth.width() >= wanted.width() && eighth.height() >= wanted.height())
                return eighth;
        }
        return decodedAtLeast(*body, wanted);
    };
    std::optional<TurnedJpeg> out = withOwnMetadata(jpeg, layout, *body, turnedSize(stored, total), turn, total, mainPicture, error);
    if (!out)
        return std::nullopt;
    // A colour model the blocks give no reading of is decoded for the check.
    if (before.isNull())
        before = jpeg::eighthScale(jpeg);
    if (!sameColours(turnedImage(before, total), jpeg::eighthScale(out->bytes, checkedRows), mcuCell(frame, total)))
        return failed(error, QStringLiteral("The turned picture's colours are not the original's."));
    return out;
}

} // namespace

bool turnKeepsColours(const QByteArray &original, PictureTurn total, const QByteArray &turned)
{
    const jpeg::Reading reading = jpeg::read(original, jpeg::ReadTo::FirstScan);
    return reading.frame
        && sameColours(turnedImage(jpeg::eighthScale(original), total), jpeg::eighthScale(turned, checkedRows),
                       mcuCell(*reading.frame, total));
}

std::optional<TurnedJpeg> turnJpegLosslessly(const QByteArray &jpeg, PictureTurn turn, QString *error)
{
    return turned(jpeg, turn, false, error, nullptr);
}

std::optional<TurnedJpeg> turnJpeg(const QByteArray &jpeg, PictureTurn turn, QString *error, QString *claimRefusal)
{
    return turned(jpeg, turn, true, error, claimRefusal);
}

QString jpegSizeRefusal(const QByteArray &jpeg, bool *scanDataReached)
{
    const jpeg::Reading reading = jpeg::read(jpeg, jpeg::ReadTo::FrameBacked);
    if (scanDataReached)
        *scanDataReached = reading.entropyCodedBytes > 0;
    return sizeRefusal(reading, jpeg.size());
}

bool jpegHoldsSeveralImages(const QByteArray &jpeg)
{
    const QList<jpeg::Segment> segments = jpeg::headerSegments(jpeg);
    return std::any_of(segments.cbegin(), segments.cend(),
                       [](const jpeg::Segment &segment) { return jpeg::isMpf(segment); });
}

void warmUpJpegTurns()
{
    const auto picture = [](QSize size) {
        QImage image(size, QImage::Format_RGBX8888);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                image.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), (x ^ y) & 255));
        return image;
    };
    std::unique_ptr<void, TjDeleter> handle(tjInitCompress());
    if (!handle)
        return;
    const QSize size(64, 48);
    const std::optional<QByteArray> main = encoded(handle.get(), picture(size), TJPF_RGBX, TJSAMP_420, 90, false);
    // A thumbnail that is no whole number of blocks along the turned edge: made afresh, as a camera's mostly is.
    const std::optional<QByteArray> thumbnail = encoded(handle.get(), picture(QSize(40, 24)), TJPF_RGBX, TJSAMP_420, 80, false);
    if (!main || !thumbnail)
        return;
    jpeg::NewExif exif;
    exif.pixelSize = size;
    QByteArray tiff = jpeg::newExifBlock(exif);
    // The first directory (6 entries at 8, big-endian) links a thumbnail directory of two entries.
    const auto be32 = [](quint32 v) {
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((v >> (24 - 8 * i)) & 0xff);
        return bytes;
    };
    const quint32 ifd1 = quint32(tiff.size()), at = ifd1 + 2 + 2 * 12 + 4;
    tiff.replace(8 + 2 + 6 * 12, 4, be32(ifd1));
    tiff += QByteArray("\0\2", 2) + QByteArray("\x02\x01\0\4\0\0\0\1", 8) + be32(at)
          + QByteArray("\x02\x02\0\4\0\0\0\1", 8) + be32(quint32(thumbnail->size())) + be32(0) + *thumbnail;
    const std::optional<QByteArray> jpeg
        = jpeg::assemble({{0xe1, QByteArray("Exif\0\0", 6) + tiff}}, *main, {});
    if (jpeg)
        turnJpeg(*jpeg, PictureTurn::RotateRight);
}

std::optional<int> estimatedJpegQuality(const QByteArray &jpeg)
{
    static constexpr int standardLuminance[64] = {
        16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
        14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
        18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static constexpr int zigzag[64] = {
        0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22,
        15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    const jpeg::Reading reading = jpeg::read(jpeg, jpeg::ReadTo::FirstScan);
    if (!reading.luminanceTable)
        return std::nullopt;
    // The libjpeg quality whose scaled standard table comes closest.
    int best = 75;
    long bestDistance = -1;
    for (int quality = 1; quality <= 100; ++quality) {
        const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
        long distance = 0;
        for (int k = 0; k < 64; ++k) {
            const int expected = std::clamp((standardLuminance[zigzag[k]] * scale + 50) / 100, 1, 255);
            distance += std::abs(expected - (*reading.luminanceTable)[size_t(k)]);
        }
        if (bestDistance < 0 || distance <= bestDistance) {
            best = quality;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace lg
