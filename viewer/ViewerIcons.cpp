#include "viewer/ViewerIcons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace viewericons {

namespace {

// Shapes on a 24 × 24 grid; COLOR is replaced by the wanted colour.
QByteArray shape(const QString &name)
{
    static const QHash<QString, QByteArray> shapes = {
        {QStringLiteral("back"),
         R"(<path d="M15 4 L7 12 L15 20" fill="none" stroke="COLOR" stroke-width="2.4" stroke-linecap="round" stroke-linejoin="round"/>)"},
        {QStringLiteral("previous"),
         R"(<rect x="4" y="5" width="2.6" height="14" rx="1" fill="COLOR"/><path d="M20 5.5 L20 18.5 L8.5 12 Z" fill="COLOR" stroke="COLOR" stroke-width="1.2" stroke-linejoin="round"/>)"},
        {QStringLiteral("next"),
         R"(<rect x="17.4" y="5" width="2.6" height="14" rx="1" fill="COLOR"/><path d="M4 5.5 L4 18.5 L15.5 12 Z" fill="COLOR" stroke="COLOR" stroke-width="1.2" stroke-linejoin="round"/>)"},
        {QStringLiteral("play-icon-18-256"),
         R"(<path d="M7 4.5 L7 19.5 L19.5 12 Z" fill="COLOR" stroke="COLOR" stroke-width="1.4" stroke-linejoin="round"/>)"},
        {QStringLiteral("pause-icon-18-256"),
         R"(<rect x="6" y="4.5" width="4.2" height="15" rx="1.2" fill="COLOR"/><rect x="13.8" y="4.5" width="4.2" height="15" rx="1.2" fill="COLOR"/>)"},
        {QStringLiteral("zoomin"),
         R"(<circle cx="10.5" cy="10.5" r="6.5" fill="none" stroke="COLOR" stroke-width="2"/><path d="M15.5 15.5 L20.5 20.5 M7.5 10.5 H13.5 M10.5 7.5 V13.5" stroke="COLOR" stroke-width="2" stroke-linecap="round"/>)"},
        {QStringLiteral("zoomout"),
         R"(<circle cx="10.5" cy="10.5" r="6.5" fill="none" stroke="COLOR" stroke-width="2"/><path d="M15.5 15.5 L20.5 20.5 M7.5 10.5 H13.5" stroke="COLOR" stroke-width="2" stroke-linecap="round"/>)"},
        {QStringLiteral("fit"),
         R"(<path d="M4 9 V4 H9 M15 4 H20 V9 M20 15 V20 H15 M9 20 H4 V15" fill="none" stroke="COLOR" stroke-width="2" stroke-linecap="round" stroke-linejoin="round"/><rect x="8.5" y="8.5" width="7" height="7" rx="1" fill="COLOR"/>)"},
        {QStringLiteral("speed"),
         R"(<circle cx="12" cy="13" r="7.5" fill="none" stroke="COLOR" stroke-width="2"/><path d="M12 13 L15.5 9.5 M10 3 H14" stroke="COLOR" stroke-width="2" stroke-linecap="round"/>)"},
        {QStringLiteral("close"),
         R"(<path d="M6 6 L18 18 M18 6 L6 18" stroke="COLOR" stroke-width="2.4" stroke-linecap="round"/>)"},
        {QStringLiteral("edit"),
         R"(<path d="M4 20 L4.8 16 L15.5 5.3 L18.7 8.5 L8 19.2 Z" fill="none" stroke="COLOR" stroke-width="1.9" stroke-linejoin="round"/><path d="M13.6 7.2 L16.8 10.4" stroke="COLOR" stroke-width="1.9"/>)"},
    };
    return shapes.value(name);
}

} // namespace

QImage image(const QString &name, const QColor &color, QSize size, qreal ratio)
{
    QImage result(size * ratio, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    result.setDevicePixelRatio(ratio);
    QByteArray body = shape(name);
    if (body.isEmpty())
        return result;
    body.replace("COLOR", color.name(QColor::HexRgb).toLatin1());
    const QByteArray svg = QByteArrayLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\">") +
                           body + QByteArrayLiteral("</svg>");
    QSvgRenderer renderer(svg);
    QPainter painter(&result);
    painter.setOpacity(color.alphaF());
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return result;
}

QIcon icon(const QString &name, QSize size)
{
    QIcon result;
    result.addPixmap(QPixmap::fromImage(image(name, QColor(0xd2, 0xd2, 0xd2), size)), QIcon::Normal);
    result.addPixmap(QPixmap::fromImage(image(name, QColor(0xff, 0xff, 0xff), size)), QIcon::Active);
    result.addPixmap(QPixmap::fromImage(image(name, QColor(0x5e, 0x5e, 0x5e), size)), QIcon::Disabled);
    return result;
}

QIcon logo(QSize size)
{
    QSvgRenderer renderer(QStringLiteral(":/images/lumengallery.svg"));
    QPixmap pixmap(size * 2);
    pixmap.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(2);
    return QIcon(pixmap);
}

} // namespace viewericons
