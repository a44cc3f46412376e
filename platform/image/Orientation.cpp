#include "platform/image/Orientation.h"

#include <QTransform>

#include <algorithm>
#include <cmath>

namespace lg::image {

QImage applyOrientation(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.mirrored(true, false).transformed(QTransform().rotate(270));  // transpose
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.mirrored(true, false).transformed(QTransform().rotate(90));   // transverse
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

QSize orientedSize(QSize storedSize, int orientation)
{
    return orientation >= 5 && orientation <= 8 ? storedSize.transposed() : storedSize;
}

QSize fitWithin(QSize size, int maxSide)
{
    const int longest = std::max(size.width(), size.height());
    if (maxSide <= 0 || longest <= maxSide || size.isEmpty())
        return size;
    const double scale = double(maxSide) / longest;
    const int w = size.width() >= size.height() ? maxSide : std::max(1, int(std::lround(size.width() * scale)));
    const int h = size.height() >= size.width() ? maxSide : std::max(1, int(std::lround(size.height() * scale)));
    return QSize(w, h);
}

QImage reducedToFit(const QImage &image, int maxSide)
{
    const QSize target = fitWithin(image.size(), maxSide);
    if (target == image.size())
        return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace lg::image
