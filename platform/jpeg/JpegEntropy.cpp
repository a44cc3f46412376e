// A JPEG's DCT blocks through libjpeg: the lossless transforms and the entropy checks.
#include "platform/jpeg/JpegEntropy.h"

#include <QImage>

#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lg::jpeg {

namespace {

// ---- the standard tables ----

// A Huffman table as a DHT segment stores it: 16 code counts by length, then the symbols.
struct StandardTable
{
    std::array<unsigned char, 16> counts;
    std::array<unsigned char, 162> symbols;
};

constexpr StandardTable dcLuminance {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                     {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
constexpr StandardTable dcChrominance {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                                       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
constexpr StandardTable acLuminance {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
     0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
     0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
     0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
     0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
     0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
     0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
     0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
constexpr StandardTable acChrominance {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
     0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
     0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
     0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
     0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
     0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
     0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
     0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

bool sameTable(const unsigned char *counts, const unsigned char *symbols, int symbolCount, const StandardTable &table)
{
    int standardCount = 0;
    for (unsigned char n : table.counts)
        standardCount += n;
    return symbolCount == standardCount && std::memcmp(counts, table.counts.data(), 16) == 0
        && std::memcmp(symbols, table.symbols.data(), size_t(symbolCount)) == 0;
}

// Whether every table of a DHT segment's payload is one of the standard
// tables of its class; false for a payload that is cut short.
bool onlyStandardTables(const unsigned char *payload, qsizetype length)
{
    qsizetype at = 0;
    while (at < length) {
        if (at + 17 > length)
            return false;
        const bool ac = (payload[at] >> 4) != 0;
        const unsigned char *counts = payload + at + 1;
        int symbolCount = 0;
        for (int i = 0; i < 16; ++i)
            symbolCount += counts[i];
        if (at + 17 + symbolCount > length)
            return false;
        const unsigned char *symbols = counts + 16;
        const bool standard = ac ? sameTable(counts, symbols, symbolCount, acLuminance) || sameTable(counts, symbols, symbolCount, acChrominance)
                                 : sameTable(counts, symbols, symbolCount, dcLuminance) || sameTable(counts, symbols, symbolCount, dcChrominance);
        if (!standard)
            return false;
        at += 17 + symbolCount;
    }
    return true;
}

// ---- libjpeg plumbing ----

// libjpeg reports errors through error_exit, which must not return: it jumps
// back to the one setjmp in runTurn, with the message kept.
struct ErrorManager
{
    jpeg_error_mgr base;  // first, so that libjpeg's pointer to it is one to this
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // libjpeg's own count starts again with each step (jpeg_write_coefficients resets it): ours does not.
    long warnings;
    char warning[JMSG_LENGTH_MAX];  // the first warning, when there was one
};

void exitWithError(j_common_ptr info)
{
    auto *errors = reinterpret_cast<ErrorManager *>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// A warning means damaged data that the decoder guessed its way through
// (a bad Huffman code, a missing restart marker): it is counted and the first
// one kept, so that nothing is written from the guess. Trace messages are
// passed over; nothing goes to stderr.
void keepWarning(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    auto *errors = reinterpret_cast<ErrorManager *>(info->err);
    if (errors->warnings++ == 0)
        (*info->err->format_message)(info, errors->warning);
}
void printNothing(j_common_ptr) {}

void setUpErrors(ErrorManager &errors)
{
    jpeg_std_error(&errors.base);
    errors.base.error_exit = exitWithError;
    errors.base.emit_message = keepWarning;
    errors.base.output_message = printNothing;
}

// The output in a buffer of our own that grows by half again when full.
struct Destination
{
    jpeg_destination_mgr base;  // first, as above
    unsigned char *data;
    size_t capacity;
};

void startOutput(j_compress_ptr info)
{
    auto *destination = reinterpret_cast<Destination *>(info->dest);
    destination->base.next_output_byte = destination->data;
    destination->base.free_in_buffer = destination->capacity;
}

boolean growOutput(j_compress_ptr info)
{
    auto *destination = reinterpret_cast<Destination *>(info->dest);
    const size_t used = destination->capacity;  // called when all of it is used
    const size_t grown = used + used / 2 + 65536;
    auto *data = static_cast<unsigned char *>(std::realloc(destination->data, grown));
    if (!data)
        ERREXIT(info, JERR_OUT_OF_MEMORY);
    destination->data = data;
    destination->capacity = grown;
    destination->base.next_output_byte = data + used;
    destination->base.free_in_buffer = grown - used;
    return TRUE;
}

void endOutput(j_compress_ptr) {}

// Everything one turn holds; plain data, so that a jump out of libjpeg skips no destructor.
struct Work
{
    ErrorManager errors;
    jpeg_decompress_struct source;
    jpeg_compress_struct target;
    Destination destination;
};

// ---- the turn in blocks ----

// A turn of the stored picture as block moves: transposed (rows become
// columns) first, then mirrored along the new x and/or y axis.
struct BlockTurn
{
    bool transpose = false;
    bool mirrorX = false;
    bool mirrorY = false;
};

BlockTurn blockTurnOf(PictureTurn turn)
{
    switch (turn) {
    case PictureTurn::None: return {false, false, false};
    case PictureTurn::MirrorLeftRight: return {false, true, false};
    case PictureTurn::Rotate180: return {false, true, true};
    case PictureTurn::MirrorTopBottom: return {false, false, true};
    case PictureTurn::Transpose: return {true, false, false};
    case PictureTurn::RotateRight: return {true, true, false};   // the old bottom row becomes the left column
    case PictureTurn::Transverse: return {true, true, true};
    case PictureTurn::RotateLeft: return {true, false, true};
    }
    return {};
}

// The sign each of a turned block's 64 coefficients takes (natural order, row
// by row: the row is the vertical frequency): a mirror negates the odd
// frequencies along its axis. A transposed block's coefficient (v, u) is the old (u, v).
using Signs = std::array<JCOEF, DCTSIZE2>;

Signs signsOf(const BlockTurn &turn)
{
    Signs signs {};
    for (int v = 0; v < DCTSIZE; ++v)
        for (int u = 0; u < DCTSIZE; ++u) {
            const bool negate = (turn.mirrorX && (u & 1)) != (turn.mirrorY && (v & 1));
            signs[size_t(v * DCTSIZE + u)] = negate ? -1 : 1;
        }
    return signs;
}

// Whether the turn moves whole blocks only, by the one rule (movesWholeBlocks) on libjpeg's reading of the frame.
bool isPerfect(const jpeg_decompress_struct &source, PictureTurn turn)
{
    const bool single = source.num_components == 1;
    const QSize mcu(single ? 1 : source.max_h_samp_factor, single ? 1 : source.max_v_samp_factor);
    return movesWholeBlocks(QSize(int(source.image_width), int(source.image_height)), mcu, turn);
}

JDIMENSION roundedUp(JDIMENSION value, int multiple)
{
    return (value + JDIMENSION(multiple) - 1) / JDIMENSION(multiple) * JDIMENSION(multiple);
}

// The blocks of one component moved from the source's array into the turned
// one; both are wholly in memory (libjpeg-turbo keeps no backing store).
// Moves one block: transposed or not, each coefficient's sign flipped where
// negate holds all ones (-1 a coefficient) rather than 0.
#if defined(__SSE2__)
struct Negate
{
    __m128i rows[DCTSIZE];  // a row's lanes all ones where the sign flips
};

inline void moveBlock(const JCOEF *in, JCOEF *out, bool transpose, const Negate &negate)
{
    __m128i r[DCTSIZE];
    for (int i = 0; i < DCTSIZE; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i * DCTSIZE));
    if (transpose) {
        // An 8 x 8 transpose of 16-bit values: pairs, then quadruples, then halves.
        const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
        const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
        const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
        const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
        const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
        const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
        const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
        const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
        r[0] = _mm_unpacklo_epi64(u0, u4), r[1] = _mm_unpackhi_epi64(u0, u4);
        r[2] = _mm_unpacklo_epi64(u1, u5), r[3] = _mm_unpackhi_epi64(u1, u5);
        r[4] = _mm_unpacklo_epi64(u2, u6), r[5] = _mm_unpackhi_epi64(u2, u6);
        r[6] = _mm_unpacklo_epi64(u3, u7), r[7] = _mm_unpackhi_epi64(u3, u7);
    }
    for (int i = 0; i < DCTSIZE; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i * DCTSIZE),
                         _mm_sub_epi16(_mm_xor_si128(r[i], negate.rows[i]), negate.rows[i]));
}
#else
inline void moveBlock(const JCOEF *in, JCOEF *out, bool transpose, const Signs &signs)
{
    for (int v = 0; v < DCTSIZE; ++v)
        for (int u = 0; u < DCTSIZE; ++u)
            out[v * DCTSIZE + u] = JCOEF((transpose ? in[u * DCTSIZE + v] : in[v * DCTSIZE + u]) * signs[size_t(v * DCTSIZE + u)]);
}
#endif

// ---- the original at an eighth of its size ----

// How many samples a side libjpeg's decoding at an eighth of the size draws
// from each block of component c: one, the block's mean, stretched over the
// pixels the block covers; or, where the component's factors are the largest
// over a power of two both ways (the chroma of 4:2:0), that many, each the
// mean of its part of the block, so that nothing needs stretching (as
// jdmaster.c chooses the scaled inverse DCT). A lone component's factors
// are the largest: a sample a block.
int eighthSamplesPerBlock(const jpeg_decompress_struct &source, const jpeg_component_info &c)
{
    int samples = 1;
    while (samples < DCTSIZE && source.max_h_samp_factor % (c.h_samp_factor * samples * 2) == 0
           && source.max_v_samp_factor % (c.v_samp_factor * samples * 2) == 0)
        samples *= 2;
    return samples;
}

// One component at an eighth of the picture's size as libjpeg's scaled
// decoding draws it: parts x parts samples a block, each the mean of its part
// of the block (the inverse DCT's mean over it, level shifted), row by row.
// Drawn a block at a time while the turn moves it (it is in the cache then).
// Its samples are in the source's memory pool: plain data, which a jump out
// of libjpeg may skip.
class EighthPlane
{
public:
    EighthPlane() = default;
    EighthPlane(jpeg_decompress_struct &source, const jpeg_component_info &c)
        : m_parts(eighthSamplesPerBlock(source, c)), m_width(qsizetype(c.width_in_blocks) * m_parts),
          m_height(qsizetype(c.height_in_blocks) * m_parts)
    {
        const auto info = reinterpret_cast<j_common_ptr>(&source);
        m_samples = static_cast<uchar *>((*source.mem->alloc_large)(info, JPOOL_IMAGE, size_t(std::max<qsizetype>(1, m_width * m_height))));
        for (int k = 0; k < DCTSIZE2; ++k)
            m_step[size_t(k)] = c.quant_table ? int(c.quant_table->quantval[k]) : 1;
        // The weight of each frequency in the mean of each part along one
        // axis, with the inverse DCT's scale: the mean of a part is the sum
        // over both axes of coefficient times weights, over 4. Even
        // frequencies but 0 weigh nothing over halves of a block (nor any but
        // 0 over a whole one): only the frequencies that weigh are summed.
        constexpr double pi = 3.14159265358979323846;
        for (int u = 0; u < DCTSIZE; ++u) {
            bool weighs = false;
            for (int p = 0; p < m_parts; ++p) {
                double sum = 0;
                for (int x = p * DCTSIZE / m_parts; x < (p + 1) * DCTSIZE / m_parts; ++x)
                    sum += std::cos((2 * x + 1) * u * pi / 16);
                const double mean = sum * m_parts / DCTSIZE * (u == 0 ? 1 / std::sqrt(2.0) : 1.0);
                m_weight[size_t(p)][size_t(u)] = float(mean);
                weighs = weighs || std::abs(mean) > 1e-9;
            }
            if (weighs)
                m_used[size_t(m_usedCount++)] = u;
        }
    }

    int parts() const { return m_parts; }
    qsizetype width() const { return m_width; }
    qsizetype height() const { return m_height; }
    const uchar *row(qsizetype y) const { return m_samples + y * m_width; }

    // Draws the samples of the block at row, column (in blocks).
    void draw(const JCOEF *block, JDIMENSION row, JDIMENSION column)
    {
        uchar *out = m_samples + qsizetype(row) * m_parts * m_width + qsizetype(column) * m_parts;
        bool flat = true;  // no frequency that weighs but the mean
        for (int i = 0; i < m_usedCount && flat; ++i)
            for (int j = 0; j < m_usedCount && flat; ++j)
                flat = (i == 0 && j == 0) || block[m_used[size_t(i)] * DCTSIZE + m_used[size_t(j)]] == 0;
        if (flat) {
            const uchar mean = clamped(((long(block[0]) * m_step[0] + 4) >> 3) + 128);
            for (int py = 0; py < m_parts; ++py)
                std::memset(out + py * m_width, mean, size_t(m_parts));
            return;
        }
        // Each row of frequencies summed over each part across, then down.
        std::array<std::array<float, DCTSIZE>, DCTSIZE> across {};  // [v][part]
        for (int i = 0; i < m_usedCount; ++i) {
            const int v = m_used[size_t(i)];
            for (int j = 0; j < m_usedCount; ++j) {
                const int u = m_used[size_t(j)], k = v * DCTSIZE + u;
                if (block[k] == 0)
                    continue;
                const float coefficient = float(block[k] * m_step[size_t(k)]);
                for (int px = 0; px < m_parts; ++px)
                    across[size_t(v)][size_t(px)] += coefficient * m_weight[size_t(px)][size_t(u)];
            }
        }
        for (int py = 0; py < m_parts; ++py)
            for (int px = 0; px < m_parts; ++px) {
                float mean = 0;
                for (int i = 0; i < m_usedCount; ++i)
                    mean += m_weight[size_t(py)][size_t(m_used[size_t(i)])] * across[size_t(m_used[size_t(i)])][size_t(px)];
                out[py * m_width + px] = clamped(std::lround(mean / 4) + 128);
            }
    }

private:
    static uchar clamped(long v) { return uchar(std::clamp<long>(v, 0, 255)); }

    int m_parts = 1;
    qsizetype m_width = 0, m_height = 0;
    uchar *m_samples = nullptr;
    std::array<int, DCTSIZE2> m_step {};                          // quantization, natural order
    std::array<std::array<float, DCTSIZE>, DCTSIZE> m_weight {};  // [part][frequency]
    std::array<int, DCTSIZE> m_used {};                           // the frequencies that weigh
    int m_usedCount = 0;
};
static_assert(std::is_trivially_destructible_v<EighthPlane>);

// Whether libjpeg converts the colour model to RGB or CMYK, which the
// picture at an eighth is made in.
bool eighthHasColours(const jpeg_decompress_struct &source)
{
    const J_COLOR_SPACE space = source.jpeg_color_space;
    const int components = source.num_components;
    return (space == JCS_GRAYSCALE && components == 1) || ((space == JCS_YCbCr || space == JCS_RGB) && components == 3)
        || ((space == JCS_CMYK || space == JCS_YCCK) && components == 4);
}

// The stored picture at an eighth of its size from the components' planes,
// as libjpeg's scaled decoding makes it (chroma taken from the samples that
// cover each pixel, colours converted as the file's own markers say), into
// image: RGB888, or CMYK in RGBA8888; left null where it cannot be made.
void storedEighth(const jpeg_decompress_struct &source, const std::array<EighthPlane, 4> &planes, QImage &image)
{
    const J_COLOR_SPACE space = source.jpeg_color_space;
    const int components = source.num_components;
    const JDIMENSION width = (source.image_width + 7) / 8, height = (source.image_height + 7) / 8;
    const bool inks = components == 4;
    image = QImage(int(width), int(height), inks ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        return;
    // The largest factors: a lone component's own, which it samples the picture at.
    const int maxH = source.max_h_samp_factor, maxV = source.max_v_samp_factor;
    const auto clamp = [](long v) { return uchar(std::clamp<long>(v, 0, 255)); };
    std::array<uchar, 4> sample {};
    for (JDIMENSION y = 0; y < height; ++y) {
        std::array<const uchar *, 4> rows {};
        for (int ci = 0; ci < components; ++ci) {
            const EighthPlane &plane = planes[size_t(ci)];
            rows[size_t(ci)] = plane.row(std::min<qsizetype>(qsizetype(y) * source.comp_info[ci].v_samp_factor * plane.parts() / maxV,
                                                             plane.height() - 1));
        }
        uchar *out = image.scanLine(int(y));
        for (JDIMENSION x = 0; x < width; ++x) {
            for (int ci = 0; ci < components; ++ci) {
                const EighthPlane &plane = planes[size_t(ci)];
                const qsizetype column = qsizetype(x) * source.comp_info[ci].h_samp_factor * plane.parts() / maxH;
                sample[size_t(ci)] = rows[size_t(ci)][std::min<qsizetype>(column, plane.width() - 1)];
            }
            if (space == JCS_YCbCr || space == JCS_YCCK) {
                const double luma = sample[0], cb = sample[1] - 128.0, cr = sample[2] - 128.0;
                const uchar r = clamp(std::lround(luma + 1.402 * cr)), g = clamp(std::lround(luma - 0.344136 * cb - 0.714136 * cr)),
                            b = clamp(std::lround(luma + 1.772 * cb));
                sample = space == JCS_YCCK ? std::array<uchar, 4> {uchar(255 - r), uchar(255 - g), uchar(255 - b), sample[3]}
                                           : std::array<uchar, 4> {r, g, b, 0};
            } else if (space == JCS_GRAYSCALE) {
                sample[1] = sample[2] = sample[0];
            }
            std::memcpy(out, sample.data(), inks ? 4 : 3);
            out += inks ? 4 : 3;
        }
    }
}

// False when a block's DC value lies beyond dcLimit either way: what no
// picture of the frame's precision can hold, only a decoder's reading of
// damaged data (arithmetic decoding keeps a running DC value modulo 2^16 and
// raises no warning). Written again, such a value may not decode at all.
// Each block moved is drawn into plane where one is given.
bool moveBlocks(j_common_ptr info, jvirt_barray_ptr from, JDIMENSION fromColumns, JDIMENSION fromRows,
                jvirt_barray_ptr to, JDIMENSION toRowsInArray, const BlockTurn &turn, const Signs &signs, int dcLimit,
                EighthPlane *plane)
{
    auto *rows = static_cast<JBLOCKROW *>((*info->mem->alloc_small)(info, JPOOL_IMAGE, sizeof(JBLOCKROW) * std::max<JDIMENSION>(fromRows, 1)));
    for (JDIMENSION r = 0; r < fromRows; ++r)
        rows[r] = (*info->mem->access_virt_barray)(info, from, r, 1, FALSE)[0];
    const JDIMENSION toColumns = turn.transpose ? fromRows : fromColumns;
    const JDIMENSION toRows = turn.transpose ? fromColumns : fromRows;
#if defined(__SSE2__)
    Negate negate;
    for (int v = 0; v < DCTSIZE; ++v) {
        alignas(16) std::array<JCOEF, DCTSIZE> row;
        for (int u = 0; u < DCTSIZE; ++u)
            row[size_t(u)] = signs[size_t(v * DCTSIZE + u)] < 0 ? JCOEF(-1) : JCOEF(0);
        negate.rows[v] = _mm_load_si128(reinterpret_cast<const __m128i *>(row.data()));
    }
#else
    const Signs &negate = signs;
#endif
    // Every row of the array is written in order, the padding at the bottom
    // too, so that the encoder may read all of it.
    unsigned beyond = 0;  // not 0 once a DC value lies beyond the limit (no branch a block)
    for (JDIMENSION r = 0; r < toRowsInArray; ++r) {
        JBLOCKROW out = (*info->mem->access_virt_barray)(info, to, r, 1, TRUE)[0];
        if (r >= toRows)
            continue;
        for (JDIMENSION c = 0; c < toColumns; ++c) {
            const JDIMENSION fromRow = turn.transpose ? (turn.mirrorX ? fromRows - 1 - c : c) : (turn.mirrorY ? fromRows - 1 - r : r);
            const JDIMENSION fromColumn = turn.transpose ? (turn.mirrorY ? fromColumns - 1 - r : r) : (turn.mirrorX ? fromColumns - 1 - c : c);
            const JCOEF *block = rows[fromRow][fromColumn];
            beyond |= unsigned(int(block[0]) + dcLimit) > unsigned(2 * dcLimit);
            moveBlock(block, out[c], turn.transpose, negate);
            if (plane)
                plane->draw(block, fromRow, fromColumn);
        }
    }
    return beyond == 0;
}

// Rows become columns in the target's frame: its size, sampling and quantization tables.
void transposeFrame(jpeg_compress_struct &target)
{
    std::swap(target.image_width, target.image_height);
    for (int ci = 0; ci < target.num_components; ++ci)
        std::swap(target.comp_info[ci].h_samp_factor, target.comp_info[ci].v_samp_factor);
    for (JQUANT_TBL *table : target.quant_tbl_ptrs) {
        if (!table)
            continue;
        for (int v = 0; v < DCTSIZE; ++v)
            for (int u = v + 1; u < DCTSIZE; ++u)
                std::swap(table->quantval[v * DCTSIZE + u], table->quantval[u * DCTSIZE + v]);
    }
}

enum class Outcome { Done, NotPerfect, OutOfRange };

// All the libjpeg work of a turn; an error jumps out to runTurn. With
// optimise, Huffman tables are made for the turned picture; without, the
// standard ones are written.
Outcome transcode(Work &work, const unsigned char *data, unsigned long size, PictureTurn pictureTurn, bool optimise,
                  QImage *eighth)
{
    const BlockTurn turn = blockTurnOf(pictureTurn);
    jpeg_decompress_struct &source = work.source;
    jpeg_compress_struct &target = work.target;
    const auto sourceCommon = reinterpret_cast<j_common_ptr>(&source);
    jpeg_create_decompress(&source);
    jpeg_create_compress(&target);
    jpeg_mem_src(&source, data, size);
    jpeg_read_header(&source, TRUE);
    if (!isPerfect(source, pictureTurn))
        return Outcome::NotPerfect;

    // The turned blocks' arrays, made together with the source's (as whole MCU rows and columns).
    jvirt_barray_ptr turned[MAX_COMPONENTS] = {};
    for (int ci = 0; ci < source.num_components; ++ci) {
        const jpeg_component_info &component = source.comp_info[ci];
        const JDIMENSION columns = turn.transpose ? component.height_in_blocks : component.width_in_blocks;
        const JDIMENSION rows = turn.transpose ? component.width_in_blocks : component.height_in_blocks;
        const int h = turn.transpose ? component.v_samp_factor : component.h_samp_factor;
        const int v = turn.transpose ? component.h_samp_factor : component.v_samp_factor;
        turned[ci] = (*source.mem->request_virt_barray)(sourceCommon, JPOOL_IMAGE, FALSE, roundedUp(columns, h),
                                                        roundedUp(rows, v), JDIMENSION(v));
    }
    jvirt_barray_ptr *blocks = jpeg_read_coefficients(&source);
    // The original at an eighth, drawn while its blocks move.
    const bool drawEighth = eighth && eighthHasColours(source);
    std::array<EighthPlane, 4> planes;
    if (drawEighth)
        for (int ci = 0; ci < source.num_components; ++ci)
            planes[size_t(ci)] = EighthPlane(source, source.comp_info[ci]);

    jpeg_copy_critical_parameters(&source, &target);
    if (turn.transpose)
        transposeFrame(target);
    // A lone component is read a block at a time whatever its factors say;
    // they are written 1x1, as jpegtran writes them, which every decoder reads.
    if (target.num_components == 1)
        target.comp_info[0].h_samp_factor = target.comp_info[0].v_samp_factor = 1;
    // Arithmetic coding stays arithmetic (it adapts as it goes: no tables to optimise).
    target.arith_code = source.arith_code;
    target.optimize_coding = optimise && !source.arith_code ? TRUE : FALSE;
    target.restart_interval = source.restart_interval;
    if (source.progressive_mode)
        jpeg_simple_progression(&target);

    // A DC value is the mean of a block's level-shifted samples, eight times
    // over: within 2^(precision + 2) either way, before quantisation.
    const int dcLimit = 1 << (source.data_precision + 2);
    const Signs signs = signsOf(turn);
    bool inRange = true;
    for (int ci = 0; ci < source.num_components; ++ci) {
        const jpeg_component_info &component = source.comp_info[ci];
        const JDIMENSION toRows = turn.transpose ? component.width_in_blocks : component.height_in_blocks;
        const int v = turn.transpose ? component.h_samp_factor : component.v_samp_factor;
        inRange = moveBlocks(sourceCommon, blocks[ci], component.width_in_blocks, component.height_in_blocks, turned[ci],
                             roundedUp(toRows, v), turn, signs, dcLimit, drawEighth ? &planes[size_t(ci)] : nullptr) && inRange;
    }
    if (!inRange)
        return Outcome::OutOfRange;
    if (drawEighth)
        storedEighth(source, planes, *eighth);

    // The turned file is about as large as the original.
    work.destination.capacity = size_t(size) + 65536;
    work.destination.data = static_cast<unsigned char *>(std::malloc(work.destination.capacity));
    if (!work.destination.data)
        ERREXIT(&target, JERR_OUT_OF_MEMORY);
    work.destination.base.init_destination = startOutput;
    work.destination.base.empty_output_buffer = growOutput;
    work.destination.base.term_destination = endOutput;
    target.dest = &work.destination.base;
    jpeg_write_coefficients(&target, turned);
    jpeg_finish_compress(&target);
    jpeg_finish_decompress(&source);
    return Outcome::Done;
}

// The turn, with libjpeg's errors caught; false when one came (its message is in work.errors).
bool runTurn(Work &work, const unsigned char *data, unsigned long size, PictureTurn turn, bool optimise, QImage *eighth,
             Outcome *outcome)
{
    if (setjmp(work.errors.jump))
        return false;
    *outcome = transcode(work, data, size, turn, optimise, eighth);
    return true;
}

// Decodes at an eighth of the size into image (made here once the size is
// known), at most rows rows (all for a negative count); an error jumps out to runEighth.
void decodeEighth(jpeg_decompress_struct &source, const unsigned char *data, unsigned long size, int rows, QImage &image)
{
    jpeg_create_decompress(&source);
    jpeg_mem_src(&source, data, size);
    jpeg_read_header(&source, TRUE);
    const bool inks = source.jpeg_color_space == JCS_CMYK || source.jpeg_color_space == JCS_YCCK;
    source.out_color_space = inks ? JCS_CMYK : JCS_RGB;
    source.scale_num = 1;
    source.scale_denom = 8;
    jpeg_start_decompress(&source);
    const int height = rows < 0 ? int(source.output_height) : std::min(rows, int(source.output_height));
    image = QImage(int(source.output_width), height, inks ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        ERREXIT(&source, JERR_OUT_OF_MEMORY);
    while (int(source.output_scanline) < height) {
        JSAMPROW row = image.scanLine(int(source.output_scanline));
        jpeg_read_scanlines(&source, &row, 1);
    }
    if (height == int(source.output_height))
        jpeg_finish_decompress(&source);
}

bool runEighth(ErrorManager &errors, jpeg_decompress_struct &source, const unsigned char *data, unsigned long size, int rows,
               QImage &image)
{
    if (setjmp(errors.jump))
        return false;
    decodeEighth(source, data, size, rows, image);
    return true;
}

} // namespace

bool movesWholeBlocks(QSize stored, QSize mcuInBlocks, PictureTurn turn)
{
    const BlockTurn blocks = blockTurnOf(turn);
    const bool reversesColumns = blocks.transpose ? blocks.mirrorY : blocks.mirrorX;
    const bool reversesRows = blocks.transpose ? blocks.mirrorX : blocks.mirrorY;
    return (!reversesColumns || stored.width() % (8 * mcuInBlocks.width()) == 0)
        && (!reversesRows || stored.height() % (8 * mcuInBlocks.height()) == 0);
}

EntropyCoding entropyCoding(const QByteArray &jpeg, const Reading &reading)
{
    if (reading.frame && reading.frame->progressive())
        return EntropyCoding::Progressive;
    // Arithmetic coding (SOF9 to 15) computes its statistics as it goes: as good as tables of its own.
    if (reading.frame && reading.frame->arithmetic())
        return EntropyCoding::Optimised;
    const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.constData());
    for (const auto &[at, length] : reading.huffmanTables)
        if (!onlyStandardTables(bytes + at, length))
            return EntropyCoding::Optimised;
    return EntropyCoding::Standard;
}

EntropyCoding entropyCoding(const QByteArray &jpeg)
{
    return entropyCoding(jpeg, read(jpeg));
}

qint64 entropyCodedBytes(const QByteArray &jpeg, qint64 enough)
{
    return read(jpeg, ReadTo::End, enough).entropyCodedBytes;
}

std::optional<QByteArray> turnedBlocks(const QByteArray &jpeg, PictureTurn turn, QString *error, QImage *storedEighthScale,
                                       std::optional<EntropyCoding> coding)
{
    Work work {};
    setUpErrors(work.errors);
    work.source.err = &work.errors.base;
    work.target.err = &work.errors.base;
    Outcome outcome = Outcome::Done;
    const bool ran = runTurn(work, reinterpret_cast<const unsigned char *>(jpeg.constData()), (unsigned long)jpeg.size(),
                             turn, coding.value_or(entropyCoding(jpeg)) != EntropyCoding::Standard, storedEighthScale, &outcome);
    std::optional<QByteArray> result;
    if (!ran) {
        if (error)
            *error = QString::fromLocal8Bit(work.errors.message);
    } else if (outcome == Outcome::NotPerfect) {
        if (error)
            *error = QStringLiteral("The picture is not whole blocks along an edge the turn moves.");
    } else if (outcome == Outcome::OutOfRange) {
        if (error)
            *error = QStringLiteral("The picture data is damaged: some of its blocks hold values no picture can have.");
    } else if (work.errors.warnings != 0) {
        if (error)
            *error = QStringLiteral("The picture data is damaged: %1").arg(QString::fromLocal8Bit(work.errors.warning));
    } else {
        result = QByteArray(reinterpret_cast<const char *>(work.destination.data),
                            qsizetype(work.destination.capacity - work.destination.base.free_in_buffer));
    }
    jpeg_destroy_compress(&work.target);
    jpeg_destroy_decompress(&work.source);
    std::free(work.destination.data);
    return result;
}

namespace {

// The picture at an eighth of its size (see eighthScale) and why it could not
// be read cleanly (libjpeg's error or first warning), empty when it could.
QImage readEighth(const QByteArray &jpeg, int rows, QString *problem)
{
    ErrorManager errors {};
    jpeg_decompress_struct source {};
    setUpErrors(errors);
    source.err = &errors.base;
    QImage image;
    const bool ran = runEighth(errors, source, reinterpret_cast<const unsigned char *>(jpeg.constData()),
                               (unsigned long)jpeg.size(), rows, image);
    jpeg_destroy_decompress(&source);
    if (!ran)
        *problem = QString::fromLocal8Bit(errors.message);
    else if (errors.warnings != 0)
        *problem = QStringLiteral("The picture data is damaged: %1").arg(QString::fromLocal8Bit(errors.warning));
    return problem->isEmpty() ? image : QImage();
}

} // namespace

QString damageOf(const QByteArray &jpeg)
{
    QString problem;
    readEighth(jpeg, -1, &problem);
    return problem;
}

QImage eighthScale(const QByteArray &jpeg, int rows)
{
    QString problem;
    return readEighth(jpeg, rows, &problem);
}

} // namespace lg::jpeg

