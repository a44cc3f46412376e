// The LibRaw module: camera RAW files, the embedded preview first.
#include "platform/image/ByteSource.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/base/Orientation.h"

#include <QFile>

#include <libraw/libraw.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace lg::image {

namespace {

int orientationFromFlip(int flip)
{
    switch (flip) {
    case 3: return 3;
    case 5: return 8;
    case 6: return 6;
    default: return 1;
    }
}

// One LibRaw instance per call: libraw_r is safe across threads as long as no
// instance is shared.
struct OpenedRaw
{
    std::unique_ptr<LibRaw> raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    int orientation = 1;
    QSize storedSize;
};

void ignoreDataError(void *, const char *, int) {}

std::unique_ptr<OpenedRaw> openRaw(const ByteSource &source, const QString &path)
{
    if (!source.isOpen())
        return nullptr;
    auto opened = std::make_unique<OpenedRaw>();
    LibRaw &raw = *opened->raw;
    raw.set_dataerror_handler(ignoreDataError, nullptr);  // counted by error_count(), not printed
    try {
        int result;
        if (source.inMemory())
            result = raw.open_buffer(const_cast<char *>(source.memory().constData()), size_t(source.size()));
        else
            result = raw.open_file(QFile::encodeName(path).constData());
        if (result != LIBRAW_SUCCESS || raw.imgdata.idata.raw_count == 0)
            return nullptr;
    } catch (...) {
        return nullptr;
    }
    const libraw_image_sizes_t &sizes = raw.imgdata.sizes;
    if (sizes.width == 0 || sizes.height == 0)
        return nullptr;
    // The raw data and the preview must lie inside the file: a cut-off file is damaged.
    const libraw_internal_data_t *internal = raw.get_internal_data_pointer();
    const qint64 fileSize = source.size();
    const qint64 dataOffset = internal->unpacker_data.data_offset;
    const qint64 dataSize = internal->unpacker_data.data_size;
    if (dataOffset <= 0 || dataOffset >= fileSize || (dataSize > 0 && dataOffset + dataSize > fileSize))
        return nullptr;
    const qint64 thumbOffset = internal->internal_data.toffset;
    const qint64 thumbLength = raw.imgdata.thumbnail.tlength;
    if (thumbOffset > 0 && thumbLength > 0 && thumbOffset + thumbLength > fileSize)
        return nullptr;
    opened->storedSize = QSize(sizes.width, sizes.height);
    opened->orientation = orientationFromFlip(sizes.flip);
    return opened;
}

// The embedded preview, stored pixels, when it is at least minSide on its longest side.
std::optional<QImage> embeddedPreview(LibRaw &raw, int minSide, const PreviewDecoder &previewDecoder)
{
    try {
        if (raw.unpack_thumb() != LIBRAW_SUCCESS)
            return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
    const libraw_thumbnail_t &thumb = raw.imgdata.thumbnail;
    if (!thumb.thumb || thumb.tlength == 0)
        return std::nullopt;
    if (thumb.tformat == LIBRAW_THUMBNAIL_JPEG) {
        if (!previewDecoder)
            return std::nullopt;
        return previewDecoder(QByteArray(thumb.thumb, qsizetype(thumb.tlength)), minSide);
    }
    if (thumb.tformat == LIBRAW_THUMBNAIL_BITMAP && thumb.tcolors == 3 && thumb.twidth > 0 && thumb.theight > 0
        && qint64(thumb.tlength) >= qint64(thumb.twidth) * thumb.theight * 3) {
        if (std::max<int>(thumb.twidth, thumb.theight) < minSide)
            return std::nullopt;
        QImage image(thumb.twidth, thumb.theight, QImage::Format_RGB888);
        if (image.isNull())
            return std::nullopt;
        for (int y = 0; y < thumb.theight; ++y)
            std::memcpy(image.scanLine(y), thumb.thumb + size_t(y) * thumb.twidth * 3, size_t(thumb.twidth) * 3);
        return reducedToFit(image, minSide);
    }
    return std::nullopt;
}

std::optional<QImage> developed(LibRaw &raw, int maxSide, QSize storedSize)
{
    libraw_output_params_t &params = raw.imgdata.params;
    params.use_camera_wb = 1;
    params.output_bps = 8;
    params.user_flip = 0;  // orientation is applied by the caller
    if (maxSide > 0) {
        params.user_qual = 0;  // bilinear: enough for a reduced image
        params.half_size = std::max(storedSize.width(), storedSize.height()) / 2 >= maxSide ? 1 : 0;
    }
    libraw_processed_image_t *processed = nullptr;
    try {
        if (raw.unpack() != LIBRAW_SUCCESS || raw.error_count() > 0)
            return std::nullopt;
        if (raw.dcraw_process() != LIBRAW_SUCCESS || raw.error_count() > 0)
            return std::nullopt;
        int error = 0;
        processed = raw.dcraw_make_mem_image(&error);
        if (!processed || error != LIBRAW_SUCCESS) {
            if (processed)
                LibRaw::dcraw_clear_mem(processed);
            return std::nullopt;
        }
    } catch (...) {
        if (processed)
            LibRaw::dcraw_clear_mem(processed);
        return std::nullopt;
    }
    std::optional<QImage> result;
    const int w = processed->width, h = processed->height;
    if (processed->type == LIBRAW_IMAGE_BITMAP && processed->bits == 8 && (processed->colors == 3 || processed->colors == 1)
        && qint64(processed->data_size) >= qint64(w) * h * processed->colors) {
        QImage image(w, h, processed->colors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
        if (!image.isNull()) {
            for (int y = 0; y < h; ++y)
                std::memcpy(image.scanLine(y), processed->data + size_t(y) * w * processed->colors, size_t(w) * processed->colors);
            result = reducedToFit(image, maxSide);
        }
    }
    LibRaw::dcraw_clear_mem(processed);
    return result;
}

RawInfo rawProbe(const ByteSource &source, const QString &path)
{
    RawInfo info;
    const auto opened = openRaw(source, path);
    if (!opened)
        return info;
    info.ok = true;
    info.storedSize = opened->storedSize;
    info.orientation = opened->orientation;
    return info;
}

std::optional<QImage> rawDecode(const ByteSource &source, const QString &path, int maxSide,
                               const PreviewDecoder &previewDecoder)
{
    const auto opened = openRaw(source, path);
    if (!opened)
        return std::nullopt;
    std::optional<QImage> image;
    int orientation = opened->orientation;
    const int fullSide = std::max(opened->storedSize.width(), opened->storedSize.height());
    if (maxSide > 0 && maxSide < fullSide) {
        image = embeddedPreview(*opened->raw, maxSide, previewDecoder);
        // Some cameras store the preview already turned upright.
        const bool rawWide = opened->storedSize.width() >= opened->storedSize.height();
        if (image && orientation >= 5 && (image->width() >= image->height()) != rawWide)
            orientation = 1;
    }
    if (!image)
        image = developed(*opened->raw, maxSide, opened->storedSize);
    if (!image)
        return std::nullopt;
    return applyOrientation(*image, orientation);
}

class Raw final : public RawModule
{
public:
    RawInfo probe(const ByteSource &source, const QString &path) const override { return rawProbe(source, path); }
    std::optional<QImage> decode(const ByteSource &source, const QString &path, int maxSide,
                                 const PreviewDecoder &previewDecoder) const override
    {
        return rawDecode(source, path, maxSide, previewDecoder);
    }
};

} // namespace

} // namespace lg::image

LG_MODULE_EXPORT const void *lumengallery_raw_module(int version)
{
    static const lg::image::Raw module;
    return version == lg::image::moduleInterfaceVersion ? static_cast<const lg::image::RawModule *>(&module) : nullptr;
}
