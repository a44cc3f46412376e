#pragma once
// The viewer's button images, drawn from small vector shapes: "back",
// "previous", "next", "play-icon-18-256", "pause-icon-18-256", "zoomin",
// "zoomout", "fit", "speed", "close", "edit".
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

namespace viewericons {

// The shape of name in color, size logical pixels at the device pixel ratio.
QImage image(const QString &name, const QColor &color, QSize size, qreal ratio = 2.0);
// An icon with a normal, an active (hover) and a disabled look.
QIcon icon(const QString &name, QSize size = QSize(18, 18));
// The application's logo.
QIcon logo(QSize size);

} // namespace viewericons
