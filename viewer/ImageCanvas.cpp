#include "viewer/ImageCanvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr double maximumZoom = 16.0;
}

ImageCanvas::ImageCanvas(QWidget *parent) : CustomIKImageView(parent), m_background(0x1e, 0x1e, 0x1e)
{
    setObjectName(QStringLiteral("imageview"));
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setMinimumSize(120, 90);
}

void ImageCanvas::setImage(const QImage &image, QSize pixelSize, quint64 tag)
{
    m_image = image;
    m_pixelSize = pixelSize.isValid() ? pixelSize : image.size();
    m_tag = tag;
    m_zoom = 1.0;
    m_pan = QPointF();
    update();
}

void ImageCanvas::updateImage(const QImage &image, quint64 tag)
{
    m_image = image;
    m_tag = tag;
    update();
}

void ImageCanvas::clear()
{
    setImage(QImage(), QSize());
}

void ImageCanvas::setBackgroundColor(const QColor &color)
{
    m_background = color;
    update();
}

QRectF ImageCanvas::targetRect() const
{
    if (m_image.isNull() || m_pixelSize.isEmpty())
        return QRectF();
    // The picture's own size shrunk to fit the view, then zoomed.
    const QSizeF own(m_pixelSize.width() / devicePixelRatioF(), m_pixelSize.height() / devicePixelRatioF());
    QSizeF fitted = own;
    if (own.width() > width() || own.height() > height())
        fitted = own.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    fitted *= m_zoom;
    const QPointF centre = QRectF(rect()).center() + m_pan;
    return QRectF(centre - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
}

void ImageCanvas::clampPan()
{
    const QRectF target = targetRect();
    if (target.isEmpty())
        return;
    const double slackX = std::max(0.0, (target.width() - width()) / 2);
    const double slackY = std::max(0.0, (target.height() - height()) / 2);
    m_pan.setX(std::clamp(m_pan.x(), -slackX, slackX));
    m_pan.setY(std::clamp(m_pan.y(), -slackY, slackY));
}

void ImageCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    if (m_image.isNull())
        return;
    const QRectF target = targetRect();
    const QSizeF device = target.size() * devicePixelRatioF();
    // Pixel for pixel when the preview was made for this size.
    const bool exact = std::abs(device.width() - m_image.width()) < 1.5
                       && std::abs(device.height() - m_image.height()) < 1.5;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
    if (exact)
        painter.drawImage(QRectF(target.topLeft().toPoint(), QSizeF(m_image.size()) / devicePixelRatioF()), m_image);
    else
        painter.drawImage(target, m_image);
    painter.end();
    Q_EMIT painted(m_tag);
}

void ImageCanvas::wheelEvent(QWheelEvent *event)
{
    if (m_image.isNull())
        return;
    const double steps = event->angleDelta().y() / 120.0;
    const double old = m_zoom;
    m_zoom = std::clamp(m_zoom * std::pow(1.25, steps), 1.0, maximumZoom);
    // Keep the point under the pointer where it is.
    const QPointF centre = QRectF(rect()).center();
    const QPointF pointer = event->position();
    m_pan = pointer - (pointer - centre - m_pan) * (m_zoom / old) - centre;
    clampPan();
    update();
    event->accept();
}

void ImageCanvas::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return CustomIKImageView::mousePressEvent(event);
    m_dragging = true;
    m_dragStart = event->position();
    m_panStart = m_pan;
    if (m_zoom > 1.0)
        setCursor(Qt::ClosedHandCursor);
}

void ImageCanvas::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_pan = m_panStart + (event->position() - m_dragStart);
    clampPan();
    update();
}

void ImageCanvas::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
    unsetCursor();
}

void ImageCanvas::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    Q_EMIT editPanelRequested();
}
