#include "viewer/ZoomModel.h"

#include <algorithm>
#include <cmath>

ZoomModel::ZoomModel() = default;

void ZoomModel::setImageSize(const std::optional<QSizeF> &size)
{
    if (size && (size->width() <= 0 || size->height() <= 0))
        m_imageSize.reset();
    else
        m_imageSize = size;
}

void ZoomModel::setViewSize(const QSizeF &size)
{
    m_viewSize = QSizeF(std::max<qreal>(0, size.width()), std::max<qreal>(0, size.height()));
    scrollTo(m_origin);
}

void ZoomModel::setMagnificationRange(double minimum, double maximum)
{
    m_minimum = std::max(1e-3, std::min(minimum, maximum));
    m_maximum = std::max(m_minimum, maximum);
    setMagnification(m_magnification);
}

double ZoomModel::clampMagnification(double magnification) const
{
    if (!std::isfinite(magnification))
        return m_minimum;
    return std::clamp(magnification, m_minimum, m_maximum);
}

void ZoomModel::setMagnification(double magnification)
{
    const QPointF centre = visibleRect().center();
    const double m = clampMagnification(magnification);
    m_magnification = m;
    const QSizeF visible(m_viewSize.width() / m, m_viewSize.height() / m);
    scrollTo(centre - QPointF(visible.width() / 2, visible.height() / 2));
}

void ZoomModel::setMagnification(double magnification, QPointF anchor)
{
    const double before = m_magnification;
    const QPointF onScreen = (anchor - m_origin) * before;
    const double m = clampMagnification(magnification);
    m_magnification = m;
    scrollTo(anchor - onScreen / m);
}

void ZoomModel::recenter()
{
    const QPointF centre(m_viewSize.width() / 2, m_viewSize.height() / 2);
    const double m = m_magnification;
    setMagnification(1.0);
    setMagnification(m, centre);
}

QRectF ZoomModel::visibleRect() const
{
    const double m = m_magnification;
    return QRectF(m_origin, QSizeF(m_viewSize.width() / m, m_viewSize.height() / m));
}

void ZoomModel::scrollTo(QPointF origin)
{
    const double m = m_magnification;
    m_origin = constrainBoundsRect(QRectF(origin, QSizeF(m_viewSize.width() / m, m_viewSize.height() / m))).topLeft();
}

QRectF ZoomModel::constrainBoundsRect(const QRectF &proposed) const
{
    QRectF result = proposed;
    const auto axis = [](qreal start, qreal length, qreal document) {
        if (length <= document)
            return std::clamp<qreal>(start, 0, document - length);
        // Larger than the document: centred.
        return std::floor((length - document) * -0.5);
    };
    result.moveLeft(axis(proposed.x(), proposed.width(), m_viewSize.width()));
    result.moveTop(axis(proposed.y(), proposed.height(), m_viewSize.height()));
    return result;
}

QPointF ZoomModel::documentPoint(QPointF viewportPoint) const
{
    return m_origin + viewportPoint / m_magnification;
}

QSizeF ZoomModel::displayedImageSize() const
{
    if (!m_imageSize)
        return QSizeF();
    const qreal W = m_viewSize.width(), H = m_viewSize.height();
    const qreal w = m_imageSize->width(), h = m_imageSize->height();
    const qreal a = w / h;
    // First the width, then the height.
    const qreal candidateHeight = W < w ? W / a : h;
    const qreal candidateWidth = std::min(W, w);
    if (H < candidateHeight)
        return QSizeF(a * H, H);
    return QSizeF(candidateWidth, std::min(H, candidateHeight));
}

QSizeF ZoomModel::filledImageSize() const
{
    if (!m_imageSize)
        return QSizeF();
    const qreal W = m_viewSize.width(), H = m_viewSize.height();
    const qreal w = m_imageSize->width(), h = m_imageSize->height();
    const qreal a = w / h;
    const qreal candidateHeight = w < W ? W / a : h;
    const qreal candidateWidth = std::max(W, w);
    if (H < candidateHeight)
        return QSizeF(a * H, H);
    return QSizeF(candidateWidth, std::min(H, candidateHeight));
}

QRectF ZoomModel::imageRectInViewport() const
{
    if (!m_imageSize)
        return QRectF();
    const QSizeF shown = displayedImageSize();
    const QPointF inDocument((m_viewSize.width() - shown.width()) / 2, (m_viewSize.height() - shown.height()) / 2);
    const double m = m_magnification;
    return QRectF((inDocument - m_origin) * m, shown * m);
}

double ZoomModel::fitToImageMagnification() const
{
    if (!m_imageSize)
        return 1.0;
    const QSizeF image = *m_imageSize;
    if (m_viewSize.width() > image.width() && m_viewSize.height() > image.height())
        return 1.0;
    const qreal shownWidth = displayedImageSize().width();
    return shownWidth > 0 ? image.width() / shownWidth : 1.0;
}

double ZoomModel::fitToViewMagnification() const
{
    if (!m_imageSize)
        return 1.0;
    const QSizeF image = *m_imageSize;
    if (m_viewSize.width() > image.width() && m_viewSize.height() > image.height())
        return filledImageSize().width() / image.width();
    return 1.0;
}

std::optional<ZoomModel::WheelStep> ZoomModel::wheelStep(double delta, QPointF viewportPoint) const
{
    if (!m_imageSize)
        return std::nullopt;
    const bool up = delta > 0;
    const qreal w = m_imageSize->width(), h = m_imageSize->height();
    const qreal W = m_viewSize.width(), H = m_viewSize.height();
    const bool large = W <= w || H <= h;
    const QSizeF shown = large ? displayedImageSize() : QSizeF(w, h);
    const double m = m_magnification;
    const qreal zw = shown.width() * m, zh = shown.height() * m;

    WheelStep step;
    if (!large && W > zw && H > zh) {
        // A small picture still inside the view: whole steps, no anchor.
        step.magnification = up ? m + 1.0 : m - 1.0;
        return step;
    }
    // An axis on which the magnified picture is narrower than the view zooms
    // about the view's centre; one that fills the view zooms about the pointer.
    const QPointF pointer = documentPoint(viewportPoint);
    const QPointF centre(W / 2, H / 2);
    qreal x = zw < W ? centre.x() : pointer.x();
    qreal y = zh < H ? centre.y() : pointer.y();
    if (up) {
        step.magnification = m <= 2.0 ? m + 0.2 : m + 1.0;
    } else {
        step.magnification = m - 1.0;
        if (!large) {
            if (w * (m - 1.0) < W)
                x = centre.x();
            if (h * (m - 1.0) < H)
                y = centre.y();
        }
    }
    step.anchor = QPointF(x, y);
    return step;
}

bool ZoomModel::applyWheel(double delta, QPointF viewportPoint)
{
    const std::optional<WheelStep> step = wheelStep(delta, viewportPoint);
    if (!step)
        return false;
    if (step->anchor)
        setMagnification(step->magnification, *step->anchor);
    else
        setMagnification(step->magnification);
    return true;
}

void ZoomModel::beginDrag(QPointF pointer)
{
    m_clickPoint = pointer;
    m_originalOrigin = m_origin;
    m_lastOrigin = m_origin;
    m_innerImgFrame.reset();
    if (!m_imageSize)
        return;
    const qreal w = m_imageSize->width(), h = m_imageSize->height();
    const qreal W = m_viewSize.width(), H = m_viewSize.height();
    const QSizeF shown = (W > w && H > h) ? QSizeF(w, h) : displayedImageSize();
    const double m = m_magnification;
    const QSizeF inner = shown * m;
    m_innerImgFrame = QRectF(QPointF((W * m - inner.width()) / 2, (H * m - inner.height()) / 2), inner);
}

void ZoomModel::dragTo(QPointF pointer)
{
    if (!m_clickPoint || !m_originalOrigin || !m_lastOrigin || !m_innerImgFrame)
        return;
    const double m = m_magnification;
    const QPointF proposed = *m_originalOrigin + (*m_clickPoint - pointer) / m;
    const QRectF inner = *m_innerImgFrame;
    const QPointF last = *m_lastOrigin;

    // Each axis by itself: a move that would uncover space beyond the
    // magnified image keeps that axis where it was.
    qreal x = proposed.x();
    qreal y = proposed.y();
    if (inner.left() > m * x)
        x = last.x();
    if (inner.top() > m * y)
        y = last.y();
    if (m * x + m_viewSize.width() > inner.right())
        x = last.x();
    if (m * y + m_viewSize.height() > inner.bottom())
        y = last.y();
    m_lastOrigin = QPointF(x, y);
    scrollTo(QPointF(x, y));
}

void ZoomModel::endDrag()
{
    m_clickPoint.reset();
    m_lastOrigin.reset();
}
