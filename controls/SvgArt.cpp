#include "controls/SvgArt.h"

#include <QPainter>
#include <QSvgRenderer>

QPixmap svgPixmap(const QString &resource, const QSize &size, qreal ratio)
{
    QPixmap pixmap(size * ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QIcon svgIcon(const QString &resource, const QSize &size, qreal ratio)
{
    return QIcon(svgPixmap(resource, size, ratio));
}
