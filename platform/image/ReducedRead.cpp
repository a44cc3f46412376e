// Large PNG and TIFF pictures read a band of rows at a time and reduced on the way.
#include "platform/image/ReducedRead.h"

#include "platform/base/Orientation.h"
#include "platform/image/ByteSource.h"
#include "platform/runtime/Dispatch.h"

#include <QScopeGuard>

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <type_traits>
#include <vector>

#include <dlfcn.h>

namespace lg::image {

namespace {

// Rows of a band, at most this many bytes of four-byte pixels.
constexpr qint64 bandBytes = 8LL << 20;

// The factor by which a picture of size is averaged over blocks on the way to
// maxSide: at least twice the pixels wanted are left for the smooth
// reduction after it.
int blockFactor(QSize size, int maxSide)
{
    const QSize target = fitWithin(size, maxSide);
    if (maxSide <= 0 || target.isEmpty())
        return 1;
    return std::max(1, std::min(size.width() / (2 * target.width()), size.height() / (2 * target.height())));
}

// Sums rows of premultiplied RGBA samples over factor x factor blocks into a
// picture of (width / factor) x (height / factor); the pixels past the last
// whole block are left out.
class BlockSums
{
public:
    BlockSums(int width, int height, int factor, bool alpha)
        : m_factor(factor), m_out(width / factor, height / factor, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32),
          m_sums(size_t(width / factor) * 4, 0)
    {
    }
    bool ok() const { return !m_out.isNull(); }
    // The next row, as red, green, blue and alpha bytes of premultiplied samples.
    void add(const uchar *rgba)
    {
        if (m_row >= m_out.height() * m_factor)
            return;
        const int w = m_out.width();
        for (int x = 0; x < w; ++x) {
            const uchar *p = rgba + size_t(x) * size_t(m_factor) * 4;
            for (int dx = 0; dx < m_factor; ++dx, p += 4) {
                for (size_t c = 0; c < 4; ++c)
                    m_sums[size_t(x) * 4 + c] += p[c];
            }
        }
        if (++m_row % m_factor != 0)
            return;
        const quint64 count = quint64(m_factor) * quint64(m_factor);
        auto *line = reinterpret_cast<QRgb *>(m_out.scanLine(m_row / m_factor - 1));
        for (int x = 0; x < w; ++x) {
            const quint64 *s = &m_sums[size_t(x) * 4];
            const auto avg = [count](quint64 v) { return int((v + count / 2) / count); };
            line[x] = qRgba(avg(s[0]), avg(s[1]), avg(s[2]), m_out.hasAlphaChannel() ? avg(s[3]) : 255);
        }
        std::fill(m_sums.begin(), m_sums.end(), 0);
    }
    bool complete() const { return m_row >= m_out.height() * m_factor; }
    QImage result() const { return m_out; }

private:
    int m_factor;
    QImage m_out;
    std::vector<quint64> m_sums;
    int m_row = 0;
};

// ---- PNG ----

struct PngReading
{
    const ByteSource *source;
    qint64 position = 0;
};

void pngRead(png_structp png, png_bytep data, png_size_t length)
{
    auto *reading = static_cast<PngReading *>(png_get_io_ptr(png));
    const qint64 n = reading->source->readInto(reading->position, reinterpret_cast<char *>(data), qint64(length));
    if (n != qint64(length))
        png_error(png, "cut short");
    reading->position += n;
}

void pngQuiet(png_structp, png_const_charp) {}

// Kept apart from any object with a destructor: libpng leaves by longjmp.
bool readPngRows(png_structp png, png_infop info, std::vector<uchar> &row, BlockSums *&sums, int maxSide,
                 std::optional<BlockSums> &made)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff
        || png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        return false;
    const int colour = png_get_color_type(png, info);
    const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    if (!(colour & PNG_COLOR_MASK_ALPHA))
        png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
        return false;
    row.resize(size_t(width) * 4);
    const QSize size {int(width), int(height)};
    made.emplace(size.width(), size.height(), blockFactor(size, maxSide), alpha);
    sums = &*made;
    if (!sums->ok())
        return false;
    for (png_uint_32 y = 0; y < height && !sums->complete(); ++y) {
        // The quit ends the read (and gives none) within a band of rows.
        if (y % 256 == 0 && isShuttingDown())
            return false;
        png_read_row(png, row.data(), nullptr);
        if (alpha) {
            for (size_t x = 0; x < size_t(width); ++x) {
                uchar *p = &row[x * 4];
                const int a = p[3];
                for (int c = 0; c < 3; ++c)
                    p[c] = uchar((p[c] * a + 127) / 255);
            }
        }
        sums->add(row.data());
    }
    return true;
}

// ---- TIFF ----

// libtiff, opened the first time a TIFF is read this way, so that the
// program maps it (and the five libraries it needs) only then, never while
// its first window is being made ready. Null when it cannot be opened.
struct Libtiff
{
    decltype(&TIFFSetErrorHandler) setErrorHandler = nullptr;
    decltype(&TIFFSetWarningHandler) setWarningHandler = nullptr;
    decltype(&TIFFClientOpen) clientOpen = nullptr;
    decltype(&TIFFClose) close = nullptr;
    decltype(&TIFFIsTiled) isTiled = nullptr;
    decltype(&TIFFTileSize64) tileSize64 = nullptr;
    decltype(&TIFFStripSize64) stripSize64 = nullptr;
    decltype(&TIFFNumberOfTiles) numberOfTiles = nullptr;
    decltype(&TIFFNumberOfStrips) numberOfStrips = nullptr;
    decltype(&TIFFGetStrileByteCount) getStrileByteCount = nullptr;
    decltype(&TIFFRGBAImageOK) rgbaImageOK = nullptr;
    decltype(&TIFFRGBAImageBegin) rgbaImageBegin = nullptr;
    decltype(&TIFFRGBAImageEnd) rgbaImageEnd = nullptr;
    decltype(&TIFFGetField) getField = nullptr;
    decltype(&TIFFGetFieldDefaulted) getFieldDefaulted = nullptr;
    decltype(&TIFFRGBAImageGet) rgbaImageGet = nullptr;
};

const Libtiff *libtiff()
{
    static const std::optional<Libtiff> opened = []() -> std::optional<Libtiff> {
        void *library = dlopen(LG_LIBTIFF_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return std::nullopt;
        Libtiff made;
        bool all = true;
        const auto bind = [library, &all](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
            all = all && function;
        };
        bind(made.setErrorHandler, "TIFFSetErrorHandler");
        bind(made.setWarningHandler, "TIFFSetWarningHandler");
        bind(made.clientOpen, "TIFFClientOpen");
        bind(made.close, "TIFFClose");
        bind(made.isTiled, "TIFFIsTiled");
        bind(made.tileSize64, "TIFFTileSize64");
        bind(made.stripSize64, "TIFFStripSize64");
        bind(made.numberOfTiles, "TIFFNumberOfTiles");
        bind(made.numberOfStrips, "TIFFNumberOfStrips");
        bind(made.getStrileByteCount, "TIFFGetStrileByteCount");
        bind(made.rgbaImageOK, "TIFFRGBAImageOK");
        bind(made.rgbaImageBegin, "TIFFRGBAImageBegin");
        bind(made.rgbaImageEnd, "TIFFRGBAImageEnd");
        bind(made.getField, "TIFFGetField");
        bind(made.getFieldDefaulted, "TIFFGetFieldDefaulted");
        bind(made.rgbaImageGet, "TIFFRGBAImageGet");
        return all ? std::optional<Libtiff>(made) : std::nullopt;
    }();
    return opened ? &*opened : nullptr;
}


struct TiffReading
{
    const ByteSource *source;
    qint64 position = 0;
};

tsize_t tiffRead(thandle_t handle, tdata_t data, tsize_t size)
{
    auto *reading = static_cast<TiffReading *>(handle);
    const qint64 n = reading->source->readInto(reading->position, static_cast<char *>(data), qint64(size));
    if (n > 0)
        reading->position += n;
    return tsize_t(std::max<qint64>(0, n));
}
tsize_t tiffWrite(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    auto *reading = static_cast<TiffReading *>(handle);
    const qint64 base = whence == SEEK_CUR ? reading->position : whence == SEEK_END ? reading->source->size() : 0;
    reading->position = base + qint64(offset);
    return toff_t(reading->position);
}
int tiffClose(thandle_t) { return 0; }
toff_t tiffSize(thandle_t handle) { return toff_t(static_cast<TiffReading *>(handle)->source->size()); }
int tiffMap(thandle_t, tdata_t *, toff_t *) { return 0; }
void tiffUnmap(thandle_t, tdata_t, toff_t) {}

} // namespace

std::optional<QImage> readPngReduced(const ByteSource &source, int maxSide)
{
    if (!source.isOpen())
        return std::nullopt;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngQuiet, pngQuiet);
    if (!png)
        return std::nullopt;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return std::nullopt;
    }
    PngReading reading {&source};
    png_set_read_fn(png, &reading, pngRead);
    std::vector<uchar> row;
    std::optional<BlockSums> made;
    BlockSums *sums = nullptr;
    const bool read = readPngRows(png, info, row, sums, maxSide, made);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!read || !made || !made->complete())
        return std::nullopt;
    return reducedToFit(made->result(), maxSide);
}

std::optional<QImage> readTiffReduced(const ByteSource &source, int maxSide)
{
    const Libtiff *lib = libtiff();
    if (!source.isOpen() || !lib)
        return std::nullopt;
    lib->setErrorHandler(nullptr);
    lib->setWarningHandler(nullptr);
    TiffReading reading {&source};
    TIFF *tiff = lib->clientOpen("picture", "rm", &reading, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                                tiffUnmap);
    if (!tiff)
        return std::nullopt;
    const auto closeTiff = qScopeGuard([lib, tiff] { lib->close(tiff); });
    // Each strip or tile is decoded whole into a buffer of its own.
    const qint64 chunk = lib->isTiled(tiff) ? qint64(lib->tileSize64(tiff)) : qint64(lib->stripSize64(tiff));
    qint64 largestCoded = 0;
    const uint32_t chunks = lib->isTiled(tiff) ? lib->numberOfTiles(tiff) : lib->numberOfStrips(tiff);
    for (uint32_t i = 0; i < chunks; ++i) {
        largestCoded = std::max(largestCoded, qint64(lib->getStrileByteCount(tiff, i)));
    }
    if (chunk <= 0 || chunk > reducedReadChunkBytes || largestCoded > reducedReadChunkBytes)
        return std::nullopt;
    char message[1024] = {};
    if (!lib->rgbaImageOK(tiff, message))
        return std::nullopt;
    TIFFRGBAImage image {};
    if (!lib->rgbaImageBegin(&image, tiff, 0, message))
        return std::nullopt;
    const auto endImage = qScopeGuard([lib, &image] { lib->rgbaImageEnd(&image); });
    const uint32_t width = image.width, height = image.height;
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff)
        return std::nullopt;
    // Rows in the order stored: the orientation is the caller's business.
    image.req_orientation = image.orientation;
    const QSize size {int(width), int(height)};
    BlockSums sums(size.width(), size.height(), blockFactor(size, maxSide), image.alpha != 0);
    if (!sums.ok())
        return std::nullopt;
    uint32_t band = uint32_t(std::max<qint64>(1, bandBytes / (qint64(width) * 4)));
    uint32_t rowsPerChunk = 0;
    if (lib->isTiled(tiff))
        lib->getField(tiff, TIFFTAG_TILELENGTH, &rowsPerChunk);
    else
        lib->getFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerChunk);
    // Whole strips or tiles a band, so that none is decoded twice.
    if (rowsPerChunk > 0 && rowsPerChunk < height)
        band = std::max(rowsPerChunk, band / rowsPerChunk * rowsPerChunk);
    band = std::min(band, height);
    std::vector<uint32_t> raster(size_t(width) * band);
    for (uint32_t y = 0; y < height && !sums.complete(); y += band) {
        if (isShuttingDown())
            return std::nullopt;
        const uint32_t rows = std::min(band, height - y);
        image.row_offset = int(y);
        image.col_offset = 0;
        if (!lib->rgbaImageGet(&image, raster.data(), width, rows))
            return std::nullopt;
        // Asked for the order stored, libtiff fills the band from its top
        // row, each pixel red, green, blue and alpha (premultiplied) bytes.
        for (uint32_t r = 0; r < rows; ++r)
            sums.add(reinterpret_cast<const uchar *>(raster.data() + size_t(r) * width));
    }
    if (!sums.complete())
        return std::nullopt;
    return reducedToFit(sums.result(), maxSide);
}

qint64 reducedReadBytes(QSize stored, int maxSide)
{
    const int factor = blockFactor(stored, maxSide);
    const qint64 reduced = qint64(stored.width() / factor) * (stored.height() / factor) * 4;
    const qint64 band = std::max<qint64>(bandBytes, qint64(stored.width()) * 4 * 2);
    const QSize fitted = fitWithin(stored, maxSide);
    // The band, a row's sums, a strip or tile decoded and its coded bytes,
    // the reduced picture and the thumbnail made of it.
    return band + qint64(stored.width()) * 8 * 2 + 2 * reducedReadChunkBytes + reduced + qint64(fitted.width()) * fitted.height() * 4
        + (1 << 20);
}

} // namespace lg::image
