// libde265 behind libheif's decoder interface; see HevcDecoder.h.
#include "platform/codecs/heif/HevcDecoder.h"

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace lg::image {

namespace {

// Above libheif's own libde265 decoder (100).
constexpr int priority = 120;
// Pictures up to this many samples decode on the caller's thread alone (a
// grid's tiles, thumbnails): workers would gain little on so few rows, and
// libheif already decodes several tiles at once.
constexpr qint64 workerlessPixels = 1 << 20;

heif_error ok() { return {heif_error_Ok, heif_suberror_Unspecified, "Success"}; }
heif_error failure(const char *message) { return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, message}; }

// What the decodes under way ask of one stream.
struct StreamRequest
{
    QSize largest;               // the largest picture it may code
    bool unfiltered = false;
    bool (*stopped)() = nullptr;
};

struct Decoder
{
    de265_decoder_context *context = nullptr;
    StreamRequest request;       // what the decode asked for, once known
    bool damaged = false;        // the data pushed was not whole NAL units
    QSize coded;                 // the largest picture its parameter sets claim
    std::vector<std::vector<uint8_t>> units;  // pushed, handed to libde265 once the request is known
    std::mutex lock;             // libde265 may ask for pictures from its threads
    struct Made
    {
        heif_image *image;
        bool handedOver;         // libheif owns it now
    };
    std::vector<Made> made;      // pictures decoded straight into libheif's planes
    struct Own
    {
        const de265_image *picture;
        std::array<void *, 3> planes;
    };
    std::vector<Own> own;        // pictures decoded into planes of ours, to be copied

    // The record of image among those made; end() when it is none of them.
    // Under lock.
    std::vector<Made>::iterator find(const heif_image *image)
    {
        return std::find_if(made.begin(), made.end(), [image](const Made &m) { return image && m.image == image; });
    }
};

// The bits of one NAL unit's payload, emulation prevention bytes taken out.
class BitReader
{
public:
    BitReader(const uint8_t *data, size_t size)
    {
        m_bytes.reserve(std::min<size_t>(size, 512));
        int zeros = 0;
        // The size is in the first few dozen bytes: the rest is not needed.
        for (size_t i = 0; i < size && m_bytes.size() < 512; ++i) {
            if (zeros >= 2 && data[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = data[i] == 0 ? zeros + 1 : 0;
            m_bytes.push_back(data[i]);
        }
    }
    bool failed() const { return m_failed; }
    uint32_t bits(int n)
    {
        uint32_t value = 0;
        for (int i = 0; i < n; ++i) {
            if (m_at >= m_bytes.size() * 8) {
                m_failed = true;
                return 0;
            }
            value = (value << 1) | ((m_bytes[m_at / 8] >> (7 - m_at % 8)) & 1);
            ++m_at;
        }
        return value;
    }
    void skip(int n) { (void)bits(n); }
    // An unsigned Exp-Golomb number.
    uint32_t golomb()
    {
        int zeros = 0;
        while (bits(1) == 0) {
            if (m_failed || ++zeros > 31) {
                m_failed = true;
                return 0;
            }
        }
        return zeros == 0 ? 0 : (uint32_t(1) << zeros) - 1 + bits(zeros);
    }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_at = 0;
    bool m_failed = false;
};

// The coded picture size a sequence parameter set (the whole NAL unit, its
// two-byte header first) claims; none when it cannot be read.
std::optional<QSize> spsPictureSize(const uint8_t *nal, size_t size)
{
    BitReader r(nal + 2, size - 2);
    r.skip(4);  // sps_video_parameter_set_id
    const int subLayers = int(r.bits(3));
    r.skip(1);  // temporal_id_nesting
    // profile_tier_level: the general profile and level, then what each sub-layer has.
    r.skip(2 + 1 + 5 + 32 + 4 + 43 + 1 + 8);
    std::array<bool, 8> profile {}, level {};
    for (int i = 0; i < subLayers; ++i) {
        profile[size_t(i)] = r.bits(1) != 0;
        level[size_t(i)] = r.bits(1) != 0;
    }
    if (subLayers > 0)
        r.skip(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i) {
        if (profile[size_t(i)])
            r.skip(88);
        if (level[size_t(i)])
            r.skip(8);
    }
    (void)r.golomb();  // sps_seq_parameter_set_id
    if (r.golomb() == 3)
        r.skip(1);  // separate_colour_plane_flag
    const uint32_t width = r.golomb(), height = r.golomb();
    if (r.failed() || width > uint32_t(INT32_MAX) || height > uint32_t(INT32_MAX))
        return std::nullopt;
    return QSize(int(width), int(height));
}

// The decodes under way, each with what it asked for.
// The decode under way in this process. A decode worker serves one request
// at a time, so what a stream's decoder is asked for is that request's, never
// another file's; a process that decodes in several threads (tests) takes
// turns.
struct Current
{
    std::mutex turn;   // held by the HevcDecode that lives
    std::mutex lock;
    std::optional<HevcDecodeRequest> request;
};

Current &current()
{
    static Current *made = new Current;  // kept to the end: decoders may outlive statics
    return *made;
}

// What the decode under way asks of the stream whose first picture unit has
// signature. Where two of its streams share a first unit, what both allow:
// the smaller bound. None for a stream the decode does not name, or where no
// decode is under way: it is not decoded.
std::optional<StreamRequest> requestFor(quint64 signature)
{
    Current &now = current();
    const std::lock_guard guard(now.lock);
    if (!now.request)
        return std::nullopt;
    const HevcDecodeRequest &request = *now.request;
    std::optional<StreamRequest> found;
    for (const HevcStream &stream : request.streams) {
        if (stream.signature != signature || stream.largest.isEmpty())
            continue;
        if (!found)
            found = StreamRequest {stream.largest, request.unfiltered, request.stopped};
        else
            found->largest = found->largest.boundedTo(stream.largest);
    }
    return found;
}

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

// Planes are cleared before libde265 decodes into them: what a damaged
// stream leaves undecoded never shows what their memory held before.
void clearPlanes(de265_chroma chroma, const de265_image_spec *spec, uint8_t *const memory[3], const int strides[3])
{
    for (int c = 0; c < (chroma == de265_chroma_mono ? 1 : 3); ++c) {
        int w = 0, h = 0;
        planeSize(chroma, c, spec->width, spec->height, &w, &h);
        std::memset(memory[c], 0, size_t(strides[c]) * size_t(h));
    }
}

// Cleared planes of our own for a picture that is not decoded straight into
// libheif's (libde265's own allocator leaves its memory as it finds it), laid
// out as libde265 lays out its own; 0 when there is no memory for them.
int ownPlanes(Decoder *decoder, const de265_image_spec *spec, de265_image *picture, de265_chroma chroma)
{
    const size_t alignment = size_t(std::max(16, spec->alignment));
    if ((alignment & (alignment - 1)) != 0 || spec->width <= 0 || spec->height <= 0)
        return 0;
    std::array<void *, 3> memory {};
    uint8_t *planes[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
    bool made = true;
    for (int c = 0; made && c < (chroma == de265_chroma_mono ? 1 : 3); ++c) {
        int w = 0, h = 0;
        planeSize(chroma, c, spec->width, spec->height, &w, &h);
        const int bits = de265_get_bits_per_pixel(picture, c);
        const size_t row = (size_t(w) + alignment - 1) / alignment * alignment * size_t((bits + 7) / 8);
        made = bits >= 1 && bits <= 16 && row <= size_t(INT32_MAX)
            && posix_memalign(&memory[size_t(c)], alignment, row * size_t(h) + 64) == 0;
        planes[c] = static_cast<uint8_t *>(memory[size_t(c)]);
        strides[c] = int(row);
    }
    if (!made) {
        for (void *plane : memory)
            std::free(plane);
        return 0;
    }
    clearPlanes(chroma, spec, planes, strides);
    for (int c = 0; c < 3; ++c)
        de265_set_image_plane(picture, c, planes[c], strides[c], nullptr);
    const std::lock_guard guard(decoder->lock);
    // A picture at an address listed already is one libde265 freed itself
    // (a filter's copy): its record is stale.
    std::erase_if(decoder->own, [picture](const Decoder::Own &o) { return o.picture == picture; });
    decoder->own.push_back({picture, memory});
    return 1;
}

// A picture of eight bits a sample with nothing to crop is decoded straight
// into the planes of the image handed to libheif; any other in libde265's
// own memory, and copied.
int getBuffer(de265_decoder_context *context, de265_image_spec *spec, de265_image *picture, void *user)
{
    auto *decoder = static_cast<Decoder *>(user);
    const de265_image_allocation *standard = de265_get_default_image_allocation_functions();
    // Its parameter sets were judged; a picture larger still is not made.
    const QSize bound = decoder->request.largest;
    if (bound.isEmpty() || spec->width > bound.width() || spec->height > bound.height())
        return 0;
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
        return known ? ownPlanes(decoder, spec, picture, chroma) : standard->get_buffer(context, spec, picture, nullptr);
    clearPlanes(chroma, spec, memory, strides);
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
        const auto own = std::find_if(decoder->own.begin(), decoder->own.end(),
                                      [picture](const Decoder::Own &o) { return o.picture == picture; });
        if (own != decoder->own.end()) {
            for (void *plane : own->planes)
                std::free(plane);
            decoder->own.erase(own);
            return;
        }
    }
    de265_get_default_image_allocation_functions()->release_buffer(context, picture, nullptr);
}

const char *pluginName() { return "Lumen Gallery's libde265 decoder"; }

int supports(heif_compression_format format) { return format == heif_compression_HEVC ? priority : 0; }

heif_error newDecoder(void **out)
{
    *out = nullptr;
    auto *decoder = new Decoder;
    decoder->context = de265_new_decoder();
    if (!decoder->context) {
        delete decoder;
        return failure("The HEVC decoder could not be made.");
    }
    static de265_image_allocation allocation {getBuffer, releaseBuffer};
    de265_set_image_allocation_functions(decoder->context, &allocation, decoder);
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
    // Planes of ours still listed are not freed here: libde265 gives back
    // every picture it made, through releaseBuffer, except the copies it
    // makes for its filters, whose planes it frees itself.
    delete decoder;
}

// libheif hands over NAL units, each after its length in four bytes.
// libheif hands over NAL units, each after its length in four bytes: kept
// until the decode's request is known (decodeImage).
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
        if (length > size - at || length > size_t(INT32_MAX)) {
            decoder->damaged = true;
            return failure("The picture's data holds a damaged unit.");
        }
        decoder->units.emplace_back(bytes + at, bytes + at + length);
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
    // The decode this picture belongs to is known by its first picture unit;
    // a stream that no decode named is not decoded.
    std::optional<StreamRequest> asked;
    for (const std::vector<uint8_t> &unit : decoder->units) {
        if (unit.size() >= 2 && ((unit[0] >> 1) & 0x3f) < 32) {
            asked = requestFor(hevcStreamSignature(unit.data(), unit.size()));
            break;
        }
    }
    if (!asked)
        return failure("The picture's stream is not one its file declares.");
    decoder->request = *asked;
    const StreamRequest &request = decoder->request;
    if (request.stopped && request.stopped())
        return failure("The decode was stopped.");
    if (request.unfiltered) {
        de265_set_parameter_bool(decoder->context, DE265_DECODER_PARAM_DISABLE_DEBLOCKING, 1);
        de265_set_parameter_bool(decoder->context, DE265_DECODER_PARAM_DISABLE_SAO, 1);
    }
    for (std::vector<uint8_t> &unit : decoder->units) {
        // A sequence parameter set says how large the pictures are that
        // libde265 then makes room for: judged before it is handed over.
        if (unit.size() >= 2 && ((unit[0] >> 1) & 0x3f) == 33) {
            const std::optional<QSize> claimed = spsPictureSize(unit.data(), unit.size());
            const QSize bound = request.largest;
            if (!claimed || claimed->isEmpty() || claimed->width() > bound.width() || claimed->height() > bound.height())
                return failure("The picture's stream claims another size than its header.");
            decoder->coded = decoder->coded.expandedTo(*claimed);
        }
        if (de265_push_NAL(decoder->context, unit.data(), int(unit.size()), 0, nullptr) != DE265_OK)
            return failure("The picture's data holds a damaged unit.");
        std::vector<uint8_t>().swap(unit);
    }
    decoder->units.clear();
    if (decoder->coded.isEmpty())
        return failure("The picture's data holds no parameters.");
    if (de265_flush_data(decoder->context) != DE265_OK)
        return failure("The picture's data cannot be decoded.");
    // Rows side by side on workers only for a large picture.
    if (qint64(decoder->coded.width()) * decoder->coded.height() > workerlessPixels) {
        const unsigned workers = std::min(maxHevcWorkers, std::thread::hardware_concurrency());
        if (workers > 1)
            de265_start_worker_threads(decoder->context, int(workers));
    }
    const de265_image *picture = nullptr;
    // Each round decodes a unit or more; what was pushed is finite, so the
    // rounds end, but a damaged stream is not trusted to say so.
    for (int round = 0; round < (1 << 20) && !picture; ++round) {
        if (request.stopped && request.stopped())
            return failure("The decode was stopped.");
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

HevcDecode::HevcDecode(const HevcDecodeRequest &request)
{
    Current &now = current();
    now.turn.lock();
    const std::lock_guard guard(now.lock);
    now.request = request;
}

HevcDecode::~HevcDecode()
{
    Current &now = current();
    {
        const std::lock_guard guard(now.lock);
        now.request.reset();
    }
    now.turn.unlock();
}

quint64 hevcStreamSignature(const uint8_t *unit, size_t size)
{
    // FNV-1a over the unit's first bytes and its length.
    quint64 hash = 1469598103934665603ULL;
    const size_t taken = std::min<size_t>(size, 256);
    for (size_t i = 0; i < taken; ++i)
        hash = (hash ^ unit[i]) * 1099511628211ULL;
    return (hash ^ quint64(size)) * 1099511628211ULL;
}

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
