#include "viewer/Adjustments.h"

#include "platform/runtime/Background.h"

#include <QThread>

#include <algorithm>
#include <functional>
#include <vector>
#include <array>
#include <cmath>
#include <cstdint>

namespace {

// Exposure, brightness and contrast act on each channel alike: one table.
std::array<uint8_t, 256> toneTable(const Adjustments &a)
{
    std::array<uint8_t, 256> table{};
    const double gain = std::pow(2.0, std::clamp(a.exposure, -4.0, 4.0));
    const double contrast = std::clamp(a.contrast, 0.0, 4.0);
    const double brightness = std::clamp(a.brightness, -1.0, 1.0);
    for (int i = 0; i < 256; ++i) {
        double v = i / 255.0 * gain;
        v += brightness;
        v = (v - 0.5) * contrast + 0.5;
        table[size_t(i)] = uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
    }
    return table;
}

using Matrix = std::array<std::array<double, 3>, 3>;

Matrix multiply(const Matrix &a, const Matrix &b)
{
    Matrix m{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                m[size_t(r)][size_t(c)] += a[size_t(r)][size_t(k)] * b[size_t(k)][size_t(c)];
    return m;
}

Matrix blend(const Matrix &target, double amount)
{
    Matrix m{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m[size_t(r)][size_t(c)] = (r == c ? 1.0 - amount : 0.0) + amount * target[size_t(r)][size_t(c)];
    return m;
}

// Saturation, sepia and monochrome are linear in the colour: one matrix.
Matrix colourMatrix(const Adjustments &a)
{
    constexpr double lr = 0.2126, lg = 0.7152, lb = 0.0722;
    const Matrix grey = {{{lr, lg, lb}, {lr, lg, lb}, {lr, lg, lb}}};
    const Matrix sepia = {{{0.393, 0.769, 0.189}, {0.349, 0.686, 0.168}, {0.272, 0.534, 0.131}}};
    // Saturation s: grey blended by (1 - s), which may go past 1 (more colour).
    const Matrix saturation = blend(grey, 1.0 - std::clamp(a.saturation, 0.0, 3.0));
    Matrix m = multiply(blend(sepia, std::clamp(a.sepia, 0.0, 1.0)), saturation);
    m = multiply(blend(grey, std::clamp(a.monochrome, 0.0, 1.0)), m);
    return m;
}

inline int clampByte(int v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

void applyToneAndColour(QImage &image, const Adjustments &a, int firstRow, int endRow)
{
    const std::array<uint8_t, 256> table = toneTable(a);
    const Matrix m = colourMatrix(a);
    const bool identityMatrix = m == Matrix{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    int k[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            k[r][c] = int(std::lround(m[size_t(r)][size_t(c)] * 4096.0));
    const int width = image.width();
    for (int y = firstRow; y < endRow; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb p = row[x];
            const int r = table[size_t(qRed(p))], g = table[size_t(qGreen(p))], b = table[size_t(qBlue(p))];
            if (identityMatrix) {
                row[x] = qRgba(r, g, b, qAlpha(p));
                continue;
            }
            const int nr = (k[0][0] * r + k[0][1] * g + k[0][2] * b + 2048) >> 12;
            const int ng = (k[1][0] * r + k[1][1] * g + k[1][2] * b + 2048) >> 12;
            const int nb = (k[2][0] * r + k[2][1] * g + k[2][2] * b + 2048) >> 12;
            row[x] = qRgba(clampByte(nr), clampByte(ng), clampByte(nb), qAlpha(p));
        }
    }
}

// Unsharp mask over a 3 x 3 box blur: out = in + amount * (in - blur). The
// box sums are built from running sums of three pixels along each row.
void horizontalSums(const QRgb *line, int width, int *sums)
{
    for (int x = 1; x < width - 1; ++x) {
        const QRgb a = line[x - 1], b = line[x], c = line[x + 1];
        sums[3 * x] = qRed(a) + qRed(b) + qRed(c);
        sums[3 * x + 1] = qGreen(a) + qGreen(b) + qGreen(c);
        sums[3 * x + 2] = qBlue(a) + qBlue(b) + qBlue(c);
    }
}

void sharpen(QImage &image, const QImage &source, double amount, int firstRow, int endRow)
{
    const int w = image.width(), h = image.height();
    if (w < 3 || h < 3)
        return;
    const int strength = int(std::lround(std::clamp(amount, 0.0, 4.0) * 256.0));
    const int first = std::max(1, firstRow), end = std::min(h - 1, endRow);
    if (first >= end)
        return;
    std::vector<int> buffer(size_t(9) * size_t(w), 0);
    int *rows[3] = {buffer.data(), buffer.data() + 3 * w, buffer.data() + 6 * w};
    const auto line = [&source](int y) { return reinterpret_cast<const QRgb *>(source.constScanLine(y)); };
    horizontalSums(line(first - 1), w, rows[0]);
    horizontalSums(line(first), w, rows[1]);
    for (int y = first; y < end; ++y) {
        horizontalSums(line(y + 1), w, rows[2]);
        const QRgb *here = line(y);
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int *above = rows[0], *middle = rows[1], *below = rows[2];
        for (int x = 1; x < w - 1; ++x) {
            const QRgb p = here[x];
            const int k = 3 * x;
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            // nine times (in - blur), scaled by the strength
            const int dr = r * 9 - (above[k] + middle[k] + below[k]);
            const int dg = g * 9 - (above[k + 1] + middle[k + 1] + below[k + 1]);
            const int db = b * 9 - (above[k + 2] + middle[k + 2] + below[k + 2]);
            out[x] = qRgba(clampByte(r + dr * strength / 2304), clampByte(g + dg * strength / 2304),
                           clampByte(b + db * strength / 2304), qAlpha(p));
        }
        std::swap(rows[0], rows[1]);   // the middle row becomes the row above
        std::swap(rows[1], rows[2]);   // and the row below becomes the middle
    }
}

} // namespace

QImage applyAdjustments(const QImage &source, const Adjustments &a)
{
    if (source.isNull() || a.isIdentity())
        return source;
    // Straight (not premultiplied) colour, four bytes a pixel.
    QImage image = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    image.bits();   // its own pixels now, before several threads write rows
    // Large pictures are worked on in bands of rows, on up to four threads (a
    // core stays with the window; more gain little).
    const int height = image.height();
    const int bandCount = qint64(image.width()) * height < 256 * 1024
                              ? 1
                              : std::clamp(QThread::idealThreadCount() - 1, 1, 4);
    QList<std::pair<int, int>> bands;
    for (int i = 0; i < bandCount; ++i)
        bands.append({height * i / bandCount, height * (i + 1) / bandCount});
    const auto eachBand = [&bands](const std::function<void(int, int)> &work) {
        if (bands.size() == 1)
            work(bands.first().first, bands.first().second);
        else
            lg::forEachChunk(bands.size(), 1, [&bands, &work](qsizetype band, qsizetype) {
                work(bands.at(band).first, bands.at(band).second);
            });
    };
    if (a.exposure != 0 || a.brightness != 0 || a.contrast != 1 || a.saturation != 1 || a.sepia != 0
        || a.monochrome != 0)
        eachBand([&](int first, int end) { applyToneAndColour(image, a, first, end); });
    if (a.sharpness > 0) {
        const QImage source = image.copy();
        eachBand([&](int first, int end) { sharpen(image, source, a.sharpness, first, end); });
    }
    return image;
}
