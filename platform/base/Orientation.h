#pragma once
// Exif orientation and thumbnail sizes: the pixel rules that the image and the
// JPEG rooms both use. Pure functions of their arguments; any thread.
#include <QImage>
#include <QSize>

namespace lg::image {

// The pixels turned and mirrored so that an image stored with the given Exif
// orientation (1..8) shows upright, in the same colour space.
QImage applyOrientation(const QImage &image, int orientation);
// The displayed size of pixels stored at storedSize with that orientation.
QSize orientedSize(QSize storedSize, int orientation);
// size reduced to fit in a square of maxSide, keeping its aspect ratio; never enlarged.
QSize fitWithin(QSize size, int maxSide);
// The image reduced (smoothly) to fit in a square of maxSide; unchanged when it fits.
QImage reducedToFit(const QImage &image, int maxSide);

} // namespace lg::image
