// The libheif module: HEIC, HEIF and AVIF, the embedded thumbnail first.
#include "platform/codecs/heif/HevcDecoder.h"
#include "platform/image/ByteSource.h"
#include "platform/base/PictureLimits.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/base/Orientation.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lg::image {

namespace {

// libheif's plugins, loaded once.
void ensureHeif()
{
    static std::once_flag once;
    std::call_once(once, [] {
        heif_init(nullptr);
        registerHevcDecoder();
    });
}

struct ContextDeleter { void operator()(heif_context *c) const { heif_context_free(c); } };
struct HandleDeleter { void operator()(heif_image_handle *h) const { heif_image_handle_release(h); } };
struct ImageDeleter { void operator()(heif_image *i) const { heif_image_release(i); } };
struct EncoderDeleter { void operator()(heif_encoder *e) const { heif_encoder_release(e); } };
using ContextPtr = std::unique_ptr<heif_context, ContextDeleter>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;
using HeifImagePtr = std::unique_ptr<heif_image, ImageDeleter>;
using EncoderPtr = std::unique_ptr<heif_encoder, EncoderDeleter>;

// libheif reads through our byte source, for files and memory alike.
struct ReaderState
{
    const ByteSource *source = nullptr;
    int64_t position = 0;
};

int64_t readerPosition(void *user) { return static_cast<ReaderState *>(user)->position; }

int readerRead(void *data, size_t size, void *user)
{
    auto *state = static_cast<ReaderState *>(user);
    const qint64 n = state->source->readInto(state->position, static_cast<char *>(data), qint64(size));
    if (n != qint64(size))
        return 1;
    state->position += n;
    return 0;
}

int readerSeek(int64_t position, void *user)
{
    auto *state = static_cast<ReaderState *>(user);
    if (position < 0 || position > state->source->size())
        return 1;
    state->position = position;
    return 0;
}

heif_reader_grow_status readerWait(int64_t targetSize, void *user)
{
    auto *state = static_cast<ReaderState *>(user);
    return targetSize > state->source->size() ? heif_reader_grow_status_size_beyond_eof
                                              : heif_reader_grow_status_size_reached;
}

const heif_reader &readerFunctions()
{
    static heif_reader reader = [] {
        heif_reader r {};
        r.reader_api_version = 1;
        r.get_position = readerPosition;
        r.read = readerRead;
        r.seek = readerSeek;
        r.wait_for_file_size = readerWait;
        return r;
    }();
    return reader;
}

// Every top-level box lies inside the file: a cut-off file has its last box
// (normally the media data) reach past the end.
bool boxesComplete(const ByteSource &source)
{
    const qint64 size = source.size();
    qint64 pos = 0;
    int boxes = 0;
    while (pos < size) {
        const QByteArray header = source.read(pos, 16);
        if (header.size() < 8)
            return false;
        const auto *h = reinterpret_cast<const uchar *>(header.constData());
        quint64 length = (quint64(h[0]) << 24) | (quint64(h[1]) << 16) | (quint64(h[2]) << 8) | h[3];
        if (length == 1) {
            if (header.size() < 16)
                return false;
            length = 0;
            for (int i = 8; i < 16; ++i)
                length = (length << 8) | h[i];
        } else if (length == 0) {
            length = quint64(size - pos);
        }
        if (length < 8 || quint64(pos) + length > quint64(size))
            return false;
        pos += qint64(length);
        ++boxes;
    }
    return boxes > 0;
}

struct OpenedHeif
{
    ReaderState state;
    ContextPtr context;
    HandlePtr primary;
};

std::unique_ptr<OpenedHeif> openHeif(const ByteSource &source)
{
    ensureHeif();
    if (!source.isOpen() || !boxesComplete(source))
        return nullptr;
    auto opened = std::make_unique<OpenedHeif>();
    opened->state.source = &source;
    opened->context.reset(heif_context_alloc());
    if (!opened->context)
        return nullptr;
    heif_context_set_maximum_image_size_limit(opened->context.get(), maxPictureSide);
    if (heif_context_read_from_reader(opened->context.get(), &readerFunctions(), &opened->state, nullptr).code
        != heif_error_Ok)
        return nullptr;
    heif_image_handle *primary = nullptr;
    if (heif_context_get_primary_image_handle(opened->context.get(), &primary).code != heif_error_Ok || !primary)
        return nullptr;
    opened->primary.reset(primary);
    return opened;
}

// The whole-number factor by which a picture of size is first reduced on the
// way to maxSide: its blocks averaged, leaving at least twice the pixels
// wanted to the smooth reduction after it. 1: none (no reduction wanted, or
// too little of one).
int boxFactorFor(QSize size, int maxSide)
{
    if (maxSide <= 0 || size.isEmpty())
        return 1;
    const QSize target = fitWithin(size, maxSide);
    if (target.isEmpty())
        return 1;
    return std::max(1, std::min(size.width() / (2 * target.width()), size.height() / (2 * target.height())));
}

// An 8-bit picture's red, green and blue samples averaged over blocks of
// factor x factor pixels (those past the last whole block are left out), as
// RGB32: the decoded picture is never turned into four bytes a pixel whole.
// Each colour's samples begin at its plane's row start and lie step bytes
// apart: 1 in planes of their own, 3 when interleaved.
QImage boxReduced(const std::array<const uint8_t *, 3> &planes, const std::array<int, 3> &strides, int step, int width,
                  int height, int factor)
{
    const int w = width / factor, h = height / factor;
    QImage out(w, h, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    std::vector<quint32> sums(size_t(w) * 3);
    const quint32 count = quint32(factor) * quint32(factor);
    for (int y = 0; y < h; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (size_t c = 0; c < 3; ++c) {
            for (int dy = 0; dy < factor; ++dy) {
                const uint8_t *p = planes[c] + size_t(y * factor + dy) * size_t(strides[c]);
                for (int x = 0; x < w; ++x) {
                    quint32 sum = 0;
                    for (int dx = 0; dx < factor; ++dx, p += step)
                        sum += *p;
                    sums[size_t(x) * 3 + c] += sum;
                }
            }
        }
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            line[x] = qRgb(int((sums[size_t(x) * 3] + count / 2) / count), int((sums[size_t(x) * 3 + 1] + count / 2) / count),
                           int((sums[size_t(x) * 3 + 2] + count / 2) / count));
        }
    }
    return out;
}

// An 8-bit picture in three planes (red, green, blue), reduced as above.
std::optional<QImage> reducedFromPlanes(const heif_image *image, int factor)
{
    constexpr heif_channel channels[3] = {heif_channel_R, heif_channel_G, heif_channel_B};
    const int width = heif_image_get_width(image, heif_channel_R), height = heif_image_get_height(image, heif_channel_R);
    if (width <= 0 || height <= 0 || factor < 1 || width < factor || height < factor)
        return std::nullopt;
    std::array<const uint8_t *, 3> planes {};
    std::array<int, 3> strides {};
    for (size_t c = 0; c < 3; ++c) {
        planes[c] = heif_image_get_plane_readonly(image, channels[c], &strides[c]);
        if (!planes[c] || heif_image_get_bits_per_pixel_range(image, channels[c]) != 8
            || heif_image_get_width(image, channels[c]) != width || heif_image_get_height(image, channels[c]) != height)
            return std::nullopt;
    }
    QImage out = boxReduced(planes, strides, 1, width, height, factor);
    if (out.isNull())
        return std::nullopt;
    return out;
}

// A thumbnail of a picture of 8 bits a sample without alpha. libheif turns
// every decoded picture into planes of red, green and blue before anything
// else; taken as they are and reduced, no interleaved copy of the picture's
// size is made beside them.
std::optional<QImage> decodeReducedThumbnail(heif_image_handle *handle, int maxSide)
{
    if (heif_image_handle_has_alpha_channel(handle) || heif_image_handle_get_luma_bits_per_pixel(handle) != 8
        || heif_image_handle_get_chroma_bits_per_pixel(handle) > 8)
        return std::nullopt;
    heif_image *decoded = nullptr;
    const ReducedDecode reduced;
    const heif_error error = heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_444, nullptr);
    HeifImagePtr image(decoded);
    if (error.code != heif_error_Ok || !image)
        return std::nullopt;
    const QSize size(heif_image_get_width(image.get(), heif_channel_R), heif_image_get_height(image.get(), heif_channel_R));
    return reducedFromPlanes(image.get(), boxFactorFor(size, maxSide));
}

// The picture of handle; for a thumbnail of maxSide (0: full size) a large
// picture without alpha comes reduced most of the way.
std::optional<QImage> decodeHandle(heif_image_handle *handle, int maxSide = 0)
{
    if (maxSide > 0) {
        if (auto reduced = decodeReducedThumbnail(handle, maxSide))
            return reduced;
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    heif_image *decoded = nullptr;
    const heif_error error = heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
    HeifImagePtr image(decoded);
    if (error.code != heif_error_Ok || !image)
        return std::nullopt;
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || width <= 0 || height <= 0)
        return std::nullopt;
    const int factor = alpha ? 1 : boxFactorFor(QSize(width, height), maxSide);
    if (factor > 1) {
        QImage reduced = boxReduced({plane, plane + 1, plane + 2}, {stride, stride, stride}, 3, width, height, factor);
        if (reduced.isNull())
            return std::nullopt;
        return reduced;
    }
    QImage out(width, height, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (out.isNull())
        return std::nullopt;
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    for (int y = 0; y < height; ++y)
        std::memcpy(out.scanLine(y), plane + size_t(y) * size_t(stride), rowBytes);
    return out;
}

HeifInfo heifProbe(const ByteSource &source)
{
    HeifInfo info;
    const auto opened = openHeif(source);
    if (!opened)
        return info;
    heif_image_handle *primary = opened->primary.get();
    info.size = QSize(heif_image_handle_get_width(primary), heif_image_handle_get_height(primary));
    info.depth = std::max(8, heif_image_handle_get_luma_bits_per_pixel(primary));
    info.hasAlpha = heif_image_handle_has_alpha_channel(primary);
    info.imageCount = std::max(1, heif_context_get_number_of_top_level_images(opened->context.get()));
    info.ok = !info.size.isEmpty();
    return info;
}

std::optional<QImage> heifDecode(const ByteSource &source, int maxSide)
{
    const auto opened = openHeif(source);
    if (!opened)
        return std::nullopt;
    heif_image_handle *primary = opened->primary.get();
    // The smallest embedded thumbnail that is still large enough saves a full decode.
    HandlePtr thumbnail;
    if (maxSide > 0) {
        const int count = heif_image_handle_get_number_of_thumbnails(primary);
        if (count > 0) {
            std::vector<heif_item_id> ids(static_cast<size_t>(count));
            const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
            int bestSide = 0;
            const bool primaryWide = heif_image_handle_get_width(primary) >= heif_image_handle_get_height(primary);
            for (int i = 0; i < listed; ++i) {
                heif_image_handle *candidate = nullptr;
                if (heif_image_handle_get_thumbnail(primary, ids[size_t(i)], &candidate).code != heif_error_Ok || !candidate)
                    continue;
                HandlePtr held(candidate);
                const int width = heif_image_handle_get_width(candidate), height = heif_image_handle_get_height(candidate);
                const int side = std::max(width, height);
                // A thumbnail turned otherwise than the picture is not used.
                const bool sameTurn = (width >= height) == primaryWide || std::abs(width - height) <= 1;
                if (sameTurn && side >= maxSide && (bestSide == 0 || side < bestSide)) {
                    bestSide = side;
                    thumbnail = std::move(held);
                }
            }
        }
    }
    std::optional<QImage> image;
    if (thumbnail)
        image = decodeHandle(thumbnail.get(), maxSide);
    if (!image)
        image = decodeHandle(primary, maxSide);
    if (!image)
        return std::nullopt;
    return reducedToFit(*image, maxSide);
}

std::optional<QByteArray> heifEncode(const QImage &source, int quality, const QByteArray &exif, const QByteArray &xmp,
                                     const QByteArray &icc, QString *error)
{
    ensureHeif();
    const auto fail = [error](const QString &text) -> std::optional<QByteArray> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    if (source.isNull())
        return fail(QStringLiteral("There is no image to write."));
    ContextPtr context(heif_context_alloc());
    heif_encoder *rawEncoder = nullptr;
    if (!context || heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code != heif_error_Ok)
        return fail(QStringLiteral("No HEVC encoder is available."));
    EncoderPtr encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), std::clamp(quality, 0, 100));
    heif_encoder_set_logging_level(encoder.get(), 0);

    const bool alpha = source.hasAlphaChannel();
    const QImage pixels = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    heif_image *rawImage = nullptr;
    if (heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &rawImage).code != heif_error_Ok)
        return fail(QStringLiteral("The image cannot be prepared for HEIC."));
    HeifImagePtr image(rawImage);
    if (heif_image_add_plane(image.get(), heif_channel_interleaved, pixels.width(), pixels.height(), 8).code != heif_error_Ok)
        return fail(QStringLiteral("The image cannot be prepared for HEIC."));
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return fail(QStringLiteral("The image cannot be prepared for HEIC."));
    const size_t rowBytes = size_t(pixels.width()) * (alpha ? 4 : 3);
    for (int y = 0; y < pixels.height(); ++y)
        std::memcpy(plane + size_t(y) * size_t(stride), pixels.constScanLine(y), rowBytes);

    if (!icc.isEmpty())
        heif_image_set_raw_color_profile(image.get(), "prof", icc.constData(), size_t(icc.size()));

    heif_encoding_options *options = heif_encoding_options_alloc();
    options->save_alpha_channel = alpha ? 1 : 0;
    heif_image_handle *rawHandle = nullptr;
    heif_error result = heif_context_encode_image(context.get(), image.get(), encoder.get(), options, &rawHandle);
    HandlePtr handle(rawHandle);
    if (result.code == heif_error_Ok && std::max(pixels.width(), pixels.height()) > 640) {
        heif_image_handle *thumb = nullptr;
        if (heif_context_encode_thumbnail(context.get(), image.get(), handle.get(), encoder.get(), options, 320, &thumb).code
                == heif_error_Ok
            && thumb)
            heif_image_handle_release(thumb);
    }
    heif_encoding_options_free(options);
    if (result.code != heif_error_Ok || !handle)
        return fail(QString::fromUtf8(result.message ? result.message : "HEIC encoding failed."));
    if (!exif.isEmpty())
        heif_context_add_exif_metadata(context.get(), handle.get(), exif.constData(), int(exif.size()));
    if (!xmp.isEmpty())
        heif_context_add_XMP_metadata(context.get(), handle.get(), xmp.constData(), int(xmp.size()));

    QByteArray bytes;
    heif_writer writer {};
    writer.writer_api_version = 1;
    writer.write = [](heif_context *, const void *data, size_t size, void *user) -> heif_error {
        static_cast<QByteArray *>(user)->append(static_cast<const char *>(data), qsizetype(size));
        return heif_error {heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    result = heif_context_write(context.get(), &writer, &bytes);
    if (result.code != heif_error_Ok || bytes.isEmpty())
        return fail(QString::fromUtf8(result.message ? result.message : "HEIC writing failed."));
    return bytes;
}

class Heif final : public HeifModule
{
public:
    HeifInfo probe(const ByteSource &source) const override { return heifProbe(source); }
    std::optional<QImage> decode(const ByteSource &source, int maxSide) const override
    {
        return heifDecode(source, maxSide);
    }
    std::optional<QByteArray> encode(const QImage &image, int quality, const QByteArray &exif, const QByteArray &xmp,
                                     const QByteArray &icc, QString *error) const override
    {
        return heifEncode(image, quality, exif, xmp, icc, error);
    }
};

} // namespace

} // namespace lg::image

LG_MODULE_EXPORT const void *lumengallery_heif_module(int version)
{
    static const lg::image::Heif module;
    return version == lg::image::moduleInterfaceVersion ? static_cast<const lg::image::HeifModule *>(&module) : nullptr;
}
