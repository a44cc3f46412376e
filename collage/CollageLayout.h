#pragma once
// The collage's geometry without widgets: where the slots of each style go in
// the slot area, how a photo fills a slot (zoom and pan), how the canvas fits
// the space it is shown in, and the output size of a save. The screen feeds
// these functions and applies their results; the saved image is drawn from
// the same numbers, so what is saved is what is shown.
//
// Pure functions of their arguments, safe on any thread. Frames are in
// slot-area points with y counted up from the bottom edge (a frame with y 0
// stands on the bottom edge). Degenerate input (empty areas, zero counts, a
// zero-size image) gives empty results, never a division by zero.
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

enum class CollageStyle { Grid = 1, Center = 2, Pile = 3 };

// Picks an index in [0, count) for a slot's photo; count is at least 1.
using PhotoPicker = std::function<qsizetype(qsizetype count)>;
// Uniformly at random.
PhotoPicker systemPicker();

// How many photos the four outer parts of a Center layout hold: bottom band,
// top band, left column, right column. At least one each.
QList<int> centerBandCounts(int photoCount);

// The slot frames of a style in placement order. Grid uses rows x columns,
// Center and Pile the photo count (Center shows at least five slots).
QList<QRectF> collageFrames(CollageStyle style, QSizeF area, int photoCount, int rows, int columns);

// The rounding of a slot's and of the canvas's corners, in points.
constexpr double slotCornerRadius = 5.0;

// The pitch of a Pile: each slot is 4/3 of it and overlaps its neighbours.
constexpr double pileCellWidth = 122.0;
constexpr double pileCellHeight = 200.0;

// A frame given in bottom-up coordinates as a rectangle with its top-left
// corner measured from the area's top edge.
QRectF topDownRect(const QRectF &frame, QSizeF area);

// The canvas size that fits `space` less 20 points on each axis with the
// aspect of the output size (wider than tall in landscape).
QSizeF fittedCanvasSize(QSizeF outputSize, bool landscape, QSizeF space);
// The pixel size of the saved image: the larger side first in landscape.
QSizeF outputPixelSize(QSizeF outputSize, bool landscape);

// The size a photo of imageSize takes when shrunk to fit `bounds` (never
// enlarged), aspect kept; the rule of an image view that scales down only.
QSizeF displayedImageSize(QSizeF imageSize, QSizeF bounds);

// How a photo sits in its slot: zoom 1 covers the slot exactly (aspect kept,
// the overflow cropped evenly); centre is the photo point, in fractions of its
// width and height, shown at the slot's centre.
struct SlotFraming
{
    double zoom = 1.0;
    QPointF centre{0.5, 0.5};

    friend bool operator==(const SlotFraming &, const SlotFraming &) = default;
};

constexpr double slotZoomInStep = 0.2;
constexpr double slotZoomOutStep = 1.0;
constexpr double slotMinZoom = 1.0;
constexpr double slotMaxZoom = 5.0;

// One wheel step: in by 0.2 for a positive delta, out by 1.0 otherwise,
// within [slotMinZoom, slotMaxZoom]. The photo point under `at` (slot
// points; none: the slot's centre) stays under it where the edges allow.
SlotFraming zoomedFraming(SlotFraming framing, double wheelDelta, QSizeF imageSize, QSizeF slotSize,
                          std::optional<QPointF> at = std::nullopt);
// Moves the photo with the pointer by `drag` slot points (the photo follows
// the pointer); an axis that would uncover the slot stops at the photo's edge.
SlotFraming pannedFraming(SlotFraming framing, QPointF drag, QSizeF imageSize, QSizeF slotSize);
// The part of the photo, in photo pixels, that fills the slot. Empty for an
// empty photo or slot.
QRectF visibleImageRect(QSizeF imageSize, QSizeF slotSize, const SlotFraming &framing);

// A Pile slot's frame (top-down) around its photo: the photo is fitted into
// the frame less the border on each side, then the frame takes the photo's
// shape at the frame's height (or, where the photo fills that height, at its
// width) and grows by twice the border. Its bottom-left corner stays put.
// A 4:3 photo in a 162.67 x 266.67 frame with border 7: 369.56 x 280.67.
QRectF pileFrameForPhoto(const QRectF &frame, QSizeF imageSize, double border);

// The photo strip's rows: items per row is the strip's width over the item
// size, less one; the space left and right is the width less one item when
// that is under one, else the item size over it. A 600-point strip with items
// of 150 gives 3 per row and 50 points each side.
struct StripLayout
{
    double itemsPerRow = 0;
    double space = 0;
};
StripLayout stripLayout(double stripWidth, double itemSize);

// A number as the diagnostic lines write it: "800.0", "12.5".
QString collageDecimal(double value);

// The longest side, in pixels, at which to decode a photo shown to cover
// `slotPixels` at `zoom`: rounded up to a power of two from 256 to 4096 so
// that small size changes reuse one decoded copy.
int slotDecodeSize(QSizeF imageSize, QSizeF slotPixels, double zoom = 1.0);
