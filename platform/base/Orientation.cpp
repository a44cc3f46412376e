// Exif orientation and thumbnail sizes.
#include "platform/base/Orientation.h"

#include <QColorSpace>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace lg::image {

QImage applyOrientation(const QImage &image, int orientation)
{
    QImage out;
    switch (orientation) {
    case 2: out = image.mirrored(true, false); break;
    case 3: out = image.mirrored(true, true); break;
    case 4: out = image.mirrored(false, true); break;
    case 5: out = image.mirrored(true, false).transformed(QTransform().rotate(270)); break;  // transpose
    case 6: out = image.transformed(QTransform().rotate(90)); break;
    case 7: out = image.mirrored(true, false).transformed(QTransform().rotate(90)); break;   // transverse
    case 8: out = image.transformed(QTransform().rotate(270)); break;
    default: return image;
    }
    // QImage::transformed leaves the colour space behind; the pixels are still in it.
    out.setColorSpace(image.colorSpace());
    return out;
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
    // Qt scales a one-bit picture into a black and white pattern (a one-colour
    // PNG comes out as noise): one-bit and palette pictures get true colours first.
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32)
            .scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    default:
        return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
}

} // namespace lg::image
