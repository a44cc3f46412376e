#pragma once
// Artwork kept as SVG resources, drawn at a size for high-density screens.
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// The SVG drawn into a transparent pixmap of size (in device-independent
// pixels) at the given pixel ratio; transparent when the SVG cannot be read.
QPixmap svgPixmap(const QString &resource, const QSize &size, qreal ratio = 2.0);
QIcon svgIcon(const QString &resource, const QSize &size, qreal ratio = 2.0);
