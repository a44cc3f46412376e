// libde265 behind libheif's decoder interface; see HevcDecoder.h.
#include "platform/codecs/heif/HevcDecoder.h"

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace lg::image {

namespace {

// Above libheif's own libde265 decoder (100).
constexpr int priority = 120;
// Rows decoded side by side gain little past four threads, and several
// pictures may be decoded at once.
constexpr unsigned maxWorkers = 4;

thread_local bool reducedDecodes = false;

heif_error ok() { return {heif_error_Ok, heif_suberror_Unspecified, "Success"}; }
heif_error failure(const char *message) { return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, message}; }

struct Decoder
{
    de265_decoder_context *context = nullptr;
    bool damaged = false;        // the data pushed was not whole NAL units
    std::mutex lock;             // libde265 may ask for pictures from its threads
    struct Made
    {
        heif_image *image;
        bool handedOver;         // libheif owns it now
    };
    std::vector<Made> made;      // pictures decoded straight into libheif's planes

    // The record of image among those made; end() when it is none of them.
    // Under lock.
    std::vector<Made>::iterator find(const heif_image *image)
    {
        return std::find_if(made.begin(), made.end(), [image](const Made &m) { return image && m.image == image; });
    }
};

heif_chroma heifChroma(de265_chroma chroma)
{
    switch (chroma) {
    case de265_chroma_mono: return heif_chroma_monochrome;
    case de265_chroma_420: return heif_chroma_420;
    case de265_chroma_422: return heif_chroma_422;
    case de265_chroma_444: return heif_chroma_444;
    }
    return heif_chroma_undefined;
}

heif_image *newImage(int width, int height, de265_chroma chroma)
{
    heif_image *image = nullptr;
    const heif_colorspace space = chroma == de265_chroma_mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr;
    if (heif_image_create(width, height, space, heifChroma(chroma), &image).code != heif_error_Ok)
        return nullptr;
    return image;
}

constexpr heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};

// The size of plane c of a picture of width x height.
void planeSize(de265_chroma chroma, int c, int width, int height, int *w, int *h)
{
    *w = width;
    *h = height;
    if (c == 0)
        return;
    if (chroma == de265_chroma_420 || chroma == de265_chroma_422)
        *w = (width + 1) / 2;
    if (chroma == de265_chroma_420)
        *h = (height + 1) / 2;
}

de265_chroma chromaOf(de265_image_format format, bool *known)
{
    *known = true;
    switch (format) {
    case de265_image_format_mono8: return de265_chroma_mono;
    case de265_image_format_YUV420P8: return de265_chroma_420;
    case de265_image_format_YUV422P8: return de265_chroma_422;
    case de265_image_format_YUV444P8: return de265_chroma_444;
    }
    *known = false;
    return de265_chroma_420;
}

// A picture of eight bits a sample with nothing to crop is decoded straight
// into the planes of the image handed to libheif; any other in libde265's
// own memory, and copied.
int getBuffer(de265_decoder_context *context, de265_image_spec *spec, de265_image *picture, void *user)
{
    auto *decoder = static_cast<Decoder *>(user);
    const de265_image_allocation *standard = de265_get_default_image_allocation_functions();
    bool known = false;
    const de265_chroma chroma = chromaOf(spec->format, &known);
    const int planes = chroma == de265_chroma_mono ? 1 : 3;
    bool direct = known && spec->crop_left == 0 && spec->crop_right == 0 && spec->crop_top == 0
        && spec->crop_bottom == 0 && spec->width > 0 && spec->height > 0 && spec->alignment > 0;
    for (int c = 0; direct && c < planes; ++c)
        direct = de265_get_bits_per_pixel(picture, c) == 8;
    heif_image *image = direct ? newImage(spec->width, spec->height, chroma) : nullptr;
    uint8_t *memory[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
    for (int c = 0; image && c < planes; ++c) {
        int w = 0, h = 0;
        planeSize(chroma, c, spec->width, spec->height, &w, &h);
        if (heif_image_add_plane(image, channels[c], w, h, 8).code != heif_error_Ok) {
            heif_image_release(image);
            image = nullptr;
            break;
        }
        memory[c] = heif_image_get_plane(image, channels[c], &strides[c]);
        // libde265's own code reads and writes whole aligned words.
        if (!memory[c] || reinterpret_cast<std::uintptr_t>(memory[c]) % std::uintptr_t(spec->alignment) != 0
            || strides[c] % spec->alignment != 0 || strides[c] < w) {
            heif_image_release(image);
            image = nullptr;
        }
    }
    if (!image)
        return standard->get_buffer(context, spec, picture, nullptr);
    for (int c = 0; c < 3; ++c)
        de265_set_image_plane(picture, c, memory[c], strides[c], c == 0 ? image : nullptr);
    const std::lock_guard guard(decoder->lock);
    decoder->made.push_back({image, false});
    return 1;
}

void releaseBuffer(de265_decoder_context *context, de265_image *picture, void *user)
{
    auto *decoder = static_cast<Decoder *>(user);
    auto *image = static_cast<heif_image *>(de265_get_image_plane_user_data(picture, 0));
    {
        const std::lock_guard guard(decoder->lock);
        const auto found = decoder->find(image);
        if (found != decoder->made.end()) {
            if (!found->handedOver)
                heif_image_release(found->image);
            decoder->made.erase(found);
            return;
        }
    }
    de265_get_default_image_allocation_functions()->release_buffer(context, picture, nullptr);
}

const char *pluginName() { return "Lumen Gallery's libde265 decoder"; }

int supports(heif_compression_format format) { return format == heif_compression_HEVC ? priority : 0; }

heif_error newDecoder(void **out)
{
    auto *decoder = new Decoder;
    decoder->context = de265_new_decoder();
    if (!decoder->context) {
        delete decoder;
        return failure("The HEVC decoder could not be made.");
    }
    if (reducedDecodes) {
        de265_set_parameter_bool(decoder->context, DE265_DECODER_PARAM_DISABLE_DEBLOCKING, 1);
        de265_set_parameter_bool(decoder->context, DE265_DECODER_PARAM_DISABLE_SAO, 1);
    }
    static de265_image_allocation allocation {getBuffer, releaseBuffer};
    de265_set_image_allocation_functions(decoder->context, &allocation, decoder);
    const unsigned workers = std::min(maxWorkers, std::thread::hardware_concurrency());
    if (workers > 1)
        de265_start_worker_threads(decoder->context, int(workers));
    *out = decoder;
    return ok();
}

void freeDecoder(void *user)
{
    auto *decoder = static_cast<Decoder *>(user);
    de265_free_decoder(decoder->context);
    // Pictures libde265 never gave back (it gives back every one it made).
    for (const Decoder::Made &m : decoder->made) {
        if (!m.handedOver)
            heif_image_release(m.image);
    }
    delete decoder;
}

// libheif hands over NAL units, each after its length in four bytes.
heif_error pushData(void *user, const void *data, size_t size)
{
    auto *decoder = static_cast<Decoder *>(user);
    const auto *bytes = static_cast<const uint8_t *>(data);
    size_t at = 0;
    while (at < size) {
        if (size - at < 4) {
            decoder->damaged = true;
            return failure("The picture's data ends inside a unit.");
        }
        const size_t length = (size_t(bytes[at]) << 24) | (size_t(bytes[at + 1]) << 16) | (size_t(bytes[at + 2]) << 8)
            | size_t(bytes[at + 3]);
        at += 4;
        if (length > size - at || length > size_t(INT32_MAX)
            || de265_push_NAL(decoder->context, bytes + at, int(length), 0, nullptr) != DE265_OK) {
            decoder->damaged = true;
            return failure("The picture's data holds a damaged unit.");
        }
        at += length;
    }
    return ok();
}

void setStrict(void *, int) {}

// A picture libde265 decoded in its own memory, copied into a new image.
heif_image *copied(const de265_image *picture)
{
    const de265_chroma chroma = de265_get_chroma_format(picture);
    const int width = de265_get_image_width(picture, 0), height = de265_get_image_height(picture, 0);
    heif_image *image = newImage(width, height, chroma);
    if (!image)
        return nullptr;
    const int planes = chroma == de265_chroma_mono ? 1 : 3;
    for (int c = 0; c < planes; ++c) {
        const int w = de265_get_image_width(picture, c), h = de265_get_image_height(picture, c);
        const int bits = de265_get_bits_per_pixel(picture, c);
        int sourceStride = 0, targetStride = 0;
        const uint8_t *source = de265_get_image_plane(picture, c, &sourceStride);
        int expectedW = 0, expectedH = 0;
        planeSize(chroma, c, width, height, &expectedW, &expectedH);
        if (!source || w != expectedW || h != expectedH || bits < 1 || bits > 16
            || heif_image_add_plane(image, channels[c], w, h, bits).code != heif_error_Ok) {
            heif_image_release(image);
            return nullptr;
        }
        uint8_t *target = heif_image_get_plane(image, channels[c], &targetStride);
        const size_t rowBytes = size_t(w) * (bits > 8 ? 2 : 1);
        if (!target || size_t(targetStride) < rowBytes || size_t(sourceStride) < rowBytes) {
            heif_image_release(image);
            return nullptr;
        }
        for (int y = 0; y < h; ++y)
            std::memcpy(target + size_t(y) * size_t(targetStride), source + size_t(y) * size_t(sourceStride), rowBytes);
    }
    return image;
}

// What the picture's own stream says of its colours (as libheif's own
// decoder passes it on), for libheif to turn its samples into RGB by, unless
// the file says otherwise; without it, libheif would convert even a picture
// asked for as it is stored.
void describeColours(heif_image *image, const de265_image *picture)
{
    heif_color_profile_nclx *nclx = heif_nclx_color_profile_alloc();
    if (!nclx)
        return;
    heif_nclx_color_profile_set_color_primaries(nclx, uint16_t(de265_get_image_colour_primaries(picture)));
    heif_nclx_color_profile_set_transfer_characteristics(nclx, uint16_t(de265_get_image_transfer_characteristics(picture)));
    heif_nclx_color_profile_set_matrix_coefficients(nclx, uint16_t(de265_get_image_matrix_coefficients(picture)));
    nclx->full_range_flag = uint8_t(de265_get_image_full_range_flag(picture) != 0);
    heif_image_set_nclx_color_profile(image, nclx);
    heif_nclx_color_profile_free(nclx);
}

heif_error decodeImage(void *user, heif_image **out)
{
    auto *decoder = static_cast<Decoder *>(user);
    *out = nullptr;
    if (decoder->damaged)
        return failure("The picture's data is damaged.");
    if (de265_flush_data(decoder->context) != DE265_OK)
        return failure("The picture's data cannot be decoded.");
    const de265_image *picture = nullptr;
    // Each round decodes a unit or more; what was pushed is finite, so the
    // rounds end, but a damaged stream is not trusted to say so.
    for (int round = 0; round < (1 << 20) && !picture; ++round) {
        int more = 0;
        const de265_error error = de265_decode(decoder->context, &more);
        picture = de265_get_next_picture(decoder->context);
        if (!more || (error != DE265_OK && error != DE265_ERROR_IMAGE_BUFFER_FULL))
            break;
    }
    if (!picture)
        picture = de265_get_next_picture(decoder->context);
    if (!picture)
        return failure("The picture's data holds no picture.");
    auto *image = static_cast<heif_image *>(de265_get_image_plane_user_data(picture, 0));
    {
        const std::lock_guard guard(decoder->lock);
        const auto found = decoder->find(image);
        if (found != decoder->made.end() && !found->handedOver) {
            found->handedOver = true;
            *out = image;
        }
    }
    if (!*out)
        *out = copied(picture);
    if (!*out)
        return failure("The decoded picture is not what its data says.");
    describeColours(*out, picture);
    return ok();
}

} // namespace

ReducedDecode::ReducedDecode() : m_before(reducedDecodes) { reducedDecodes = true; }

ReducedDecode::~ReducedDecode() { reducedDecodes = m_before; }

void registerHevcDecoder()
{
    static const heif_decoder_plugin plugin = [] {
        heif_decoder_plugin p {};
        p.plugin_api_version = 3;
        p.get_plugin_name = pluginName;
        p.does_support_format = supports;
        p.new_decoder = newDecoder;
        p.free_decoder = freeDecoder;
        p.push_data = pushData;
        p.decode_image = decodeImage;
        p.set_strict_decoding = setStrict;
        p.id_name = "lumengallery-libde265";
        return p;
    }();
    heif_register_decoder_plugin(&plugin);
}

} // namespace lg::image
