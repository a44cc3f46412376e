#include "collage/CollageLayout.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

// Counts beyond these make no sense on any screen; they only cost memory.
constexpr int maxPhotoCount = 1000;
constexpr int maxRowsOrColumns = 100;

bool usable(QSizeF size)
{
    return size.width() > 0 && size.height() > 0 && std::isfinite(size.width()) && std::isfinite(size.height());
}

// How an odd or even number of photos splits into one or two rows (or
// sub-columns): more than four photos take two, and an odd number is raised
// by one with its last position joined to its neighbour.
struct BandSplit
{
    int positions = 0;  // photos, raised to even when odd and more than four
    int lines = 1;      // rows of a band, sub-columns of a side column
    bool odd = false;
};

BandSplit splitBand(int n)
{
    BandSplit split{n, 1, false};
    if (n % 2 == 0) {
        split.lines = n > 4 ? 2 : 1;
    } else if (n > 4) {
        split.positions = n + 1;
        split.lines = 2;
        split.odd = true;
    }
    return split;
}

void placeBand(QList<QRectF> &frames, double width, double height, double offset, int n)
{
    const BandSplit split = splitBand(n);
    const int perRow = split.positions / split.lines;
    if (perRow <= 0)
        return;
    const double rowHeight = height / split.lines;
    const double slotWidth = width / perRow;
    for (int r = 0; r < split.lines; ++r) {
        for (int col = 0; col < perRow; ++col) {
            const bool last = col == perRow - 1;
            if (split.odd && last && r == 1)
                continue;  // covered by the double-height slot below it
            const double h = split.odd && last && r == 0 ? 2 * rowHeight : rowHeight;
            frames.append(QRectF(col * slotWidth, r * rowHeight + offset, slotWidth, h));
        }
    }
}

void placeSideColumn(QList<QRectF> &frames, double columnX, double columnWidth, double bottom, double height, int n)
{
    const BandSplit split = splitBand(n);
    const int subRows = split.positions / split.lines;
    if (subRows <= 0)
        return;
    const double subWidth = columnWidth / split.lines;
    const double subHeight = height / subRows;
    for (int r = 0; r < subRows; ++r) {
        if (split.odd && r == subRows - 1) {
            frames.append(QRectF(columnX, r * subHeight + bottom, 2 * subWidth, subHeight));
            continue;
        }
        for (int k = 0; k < split.lines; ++k)
            frames.append(QRectF(columnX + k * subWidth, r * subHeight + bottom, subWidth, subHeight));
    }
}

QList<QRectF> centerFrames(QSizeF area, int photoCount)
{
    const QList<int> counts = centerBandCounts(photoCount);
    const double w = area.width();
    const double quarter = area.height() * 0.25;
    const double third = w / 3;
    QList<QRectF> frames;
    placeBand(frames, w, quarter, 0, counts.at(0));
    placeSideColumn(frames, 0, third, quarter, 2 * quarter, counts.at(2));
    frames.append(QRectF(third, quarter, third, 2 * quarter));
    placeSideColumn(frames, 2 * third, third, quarter, 2 * quarter, counts.at(3));
    placeBand(frames, w, quarter, 3 * quarter, counts.at(1));
    return frames;
}

QList<QRectF> gridFrames(QSizeF area, int rows, int columns)
{
    QList<QRectF> frames;
    if (rows <= 0 || columns <= 0)
        return frames;
    const double w = area.width() / columns;
    const double h = area.height() / rows;
    frames.reserve(rows * columns);
    for (int r = 0; r < rows; ++r) {
        for (int col = 0; col < columns; ++col)
            frames.append(QRectF(col * w, r * h, w, h));
    }
    return frames;
}

QList<QRectF> pileFrames(QSizeF area, int photoCount)
{
    const double w = pileCellWidth;
    const double h = pileCellHeight;
    const int perRow = int(area.width() / w);
    QList<QRectF> frames;
    int col = 0;
    int r = 0;
    for (int i = 0; i < photoCount; ++i) {
        frames.append(QRectF(col * w - w / 3, r * h - h / 3, w + w / 3, h + h / 3));
        if (col < perRow - 1) {
            ++col;
        } else {
            ++r;
            col = 0;
        }
    }
    return frames;
}

double coverScale(QSizeF imageSize, QSizeF slotSize)
{
    return std::max(slotSize.width() / imageSize.width(), slotSize.height() / imageSize.height());
}

SlotFraming clampedFraming(SlotFraming framing, QSizeF imageSize, QSizeF slotSize)
{
    framing.zoom = std::clamp(framing.zoom, slotMinZoom, slotMaxZoom);
    if (!usable(imageSize) || !usable(slotSize))
        return framing;
    const double scale = coverScale(imageSize, slotSize) * framing.zoom;
    const double halfX = std::min(0.5, slotSize.width() / scale / imageSize.width() / 2);
    const double halfY = std::min(0.5, slotSize.height() / scale / imageSize.height() / 2);
    framing.centre.setX(std::clamp(framing.centre.x(), halfX, 1 - halfX));
    framing.centre.setY(std::clamp(framing.centre.y(), halfY, 1 - halfY));
    return framing;
}

} // namespace

PhotoPicker systemPicker()
{
    return [](qsizetype count) { return qsizetype(QRandomGenerator::global()->bounded(quint64(count))); };
}

QList<int> centerBandCounts(int photoCount)
{
    QList<int> counts{1, 1, 1, 1};
    static constexpr int order[] = {0, 1, 0, 1, 2, 3};
    const int n = std::min(photoCount, maxPhotoCount);
    for (int k = 6; k <= n; ++k)
        ++counts[order[(k - 6) % 6]];
    return counts;
}

QList<QRectF> collageFrames(CollageStyle style, QSizeF area, int photoCount, int rows, int columns)
{
    if (!usable(area))
        return {};
    photoCount = std::clamp(photoCount, 0, maxPhotoCount);
    switch (style) {
    case CollageStyle::Grid:
        return gridFrames(area, std::min(rows, maxRowsOrColumns), std::min(columns, maxRowsOrColumns));
    case CollageStyle::Center:
        return centerFrames(area, photoCount);
    case CollageStyle::Pile:
        return pileFrames(area, photoCount);
    }
    return {};
}

QRectF topDownRect(const QRectF &frame, QSizeF area)
{
    return QRectF(frame.x(), area.height() - frame.y() - frame.height(), frame.width(), frame.height());
}

QSizeF fittedCanvasSize(QSizeF outputSize, bool landscape, QSizeF space)
{
    if (!usable(outputSize))
        return {};
    const double aspect = landscape ? outputSize.width() / outputSize.height()
                                    : outputSize.height() / outputSize.width();
    double height = std::max(0.0, space.height() - 20);
    double width = aspect * height;
    const double widthLimit = std::max(0.0, space.width() - 20);
    if (width > widthLimit) {
        width = widthLimit;
        height = width / aspect;
    }
    return QSizeF(width, height);
}

QSizeF outputPixelSize(QSizeF outputSize, bool landscape)
{
    return landscape ? outputSize : outputSize.transposed();
}

QSizeF displayedImageSize(QSizeF imageSize, QSizeF bounds)
{
    if (!usable(imageSize))
        return {};
    const double iw = imageSize.width();
    const double ih = imageSize.height();
    const double ratio = iw / ih;
    const double h1 = bounds.width() < iw ? bounds.width() / ratio : ih;
    const double width = bounds.height() < h1 ? ratio * bounds.height() : std::min(bounds.width(), iw);
    return QSizeF(width, std::min(bounds.height(), h1));
}

SlotFraming zoomedFraming(SlotFraming framing, double wheelDelta, QSizeF imageSize, QSizeF slotSize,
                          std::optional<QPointF> at)
{
    const SlotFraming before = clampedFraming(framing, imageSize, slotSize);
    framing = before;
    framing.zoom += wheelDelta > 0 ? slotZoomInStep : -slotZoomOutStep;
    framing = clampedFraming(framing, imageSize, slotSize);
    if (at && usable(imageSize) && usable(slotSize)) {
        // The offset of the pointer from the slot's centre covers fewer photo
        // pixels after zooming in: move the centre so the pointed-at point stays.
        const QPointF offset = *at - QPointF(slotSize.width() / 2, slotSize.height() / 2);
        const double cover = coverScale(imageSize, slotSize);
        const QPointF perPoint(1 / imageSize.width(), 1 / imageSize.height());
        const double shift = 1 / (cover * before.zoom) - 1 / (cover * framing.zoom);
        framing.centre += QPointF(offset.x() * perPoint.x() * shift, offset.y() * perPoint.y() * shift);
        framing = clampedFraming(framing, imageSize, slotSize);
    }
    return framing;
}

SlotFraming pannedFraming(SlotFraming framing, QPointF drag, QSizeF imageSize, QSizeF slotSize)
{
    if (!usable(imageSize) || !usable(slotSize))
        return framing;
    const double scale = coverScale(imageSize, slotSize) * std::clamp(framing.zoom, slotMinZoom, slotMaxZoom);
    framing.centre -= QPointF(drag.x() / scale / imageSize.width(), drag.y() / scale / imageSize.height());
    return clampedFraming(framing, imageSize, slotSize);
}

QRectF visibleImageRect(QSizeF imageSize, QSizeF slotSize, const SlotFraming &framing)
{
    if (!usable(imageSize) || !usable(slotSize))
        return {};
    const SlotFraming f = clampedFraming(framing, imageSize, slotSize);
    const double scale = coverScale(imageSize, slotSize) * f.zoom;
    const QSizeF visible(slotSize.width() / scale, slotSize.height() / scale);
    const QPointF centre(f.centre.x() * imageSize.width(), f.centre.y() * imageSize.height());
    return QRectF(centre - QPointF(visible.width() / 2, visible.height() / 2), visible);
}

QRectF pileFrameForPhoto(const QRectF &frame, QSizeF imageSize, double border)
{
    if (!usable(imageSize) || !usable(frame.size()))
        return frame;
    const double b = 2 * std::max(0.0, border);
    double width = frame.width();
    double height = frame.height();
    const QSizeF shown = displayedImageSize(imageSize, QSizeF(std::max(1.0, width - b), std::max(1.0, height - b)));
    if (!usable(shown))
        return frame;
    if (shown.height() < height)
        width = shown.width() * height / shown.height();
    else
        height = shown.height() * width / shown.width();
    return QRectF(frame.x(), frame.bottom() - (height + b), width + b, height + b);
}

StripLayout stripLayout(double stripWidth, double itemSize)
{
    StripLayout layout;
    if (!(itemSize > 0) || !std::isfinite(stripWidth))
        return layout;
    layout.itemsPerRow = stripWidth / itemSize - 1.0;
    layout.space = layout.itemsPerRow < 1.0 ? stripWidth - itemSize : itemSize / layout.itemsPerRow;
    return layout;
}

QString collageDecimal(double value)
{
    if (value == 0)
        value = 0;   // no "-0.0"
    if (value == std::floor(value) && std::abs(value) < 1e15)
        return QString::number(value, 'f', 1);
    return QString::number(value);
}

int slotDecodeSize(QSizeF imageSize, QSizeF slotPixels, double zoom)
{
    double needed = std::max(slotPixels.width(), slotPixels.height()) * 2;
    if (usable(imageSize) && usable(slotPixels))
        needed = std::max(imageSize.width(), imageSize.height()) * coverScale(imageSize, slotPixels) *
                 std::clamp(zoom, slotMinZoom, slotMaxZoom);
    int size = 256;
    while (size < needed && size < 4096)
        size *= 2;
    return size;
}
