#include "viewer/ViewerCanvas.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

// ---------------------------------------------------------------- scrollimage

scrollimage::scrollimage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("scrollview"));
    m_clip = new DraggableClipView(this);
    m_clip->setObjectName(QStringLiteral("clipview"));
}

void scrollimage::setMagnification(double magnification)
{
    m_model.setMagnification(magnification);
    modelChanged();
}

void scrollimage::setMagnification(double magnification, QPointF documentAnchor)
{
    m_model.setMagnification(magnification, documentAnchor);
    modelChanged();
}

void scrollimage::recenter()
{
    m_model.recenter();
    modelChanged();
}

void scrollimage::modelChanged()
{
    if (m_clip->documentView())
        m_clip->documentView()->update();
    Q_EMIT geometryChanged();
}

void scrollimage::wheelEvent(QWheelEvent *event)
{
    event->accept();
    // Events that only mark the start or the end of a scrolling gesture move nothing.
    if (event->angleDelta().isNull() && event->pixelDelta().isNull())
        return;
    // A wheel notch is 120 eighths of a degree; pixel scrolling counts as is.
    const QPoint angle = event->angleDelta();
    const double delta = angle.isNull() ? event->pixelDelta().y() : angle.y() / 120.0;
    Q_EMIT wheelZoomRequested(delta, event->position());
}

void scrollimage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_model.setViewSize(QSizeF(size()));
    m_clip->setGeometry(rect());
    modelChanged();
}

// ---------------------------------------------------------------- DraggableClipView

DraggableClipView::DraggableClipView(scrollimage *scrollView) : QWidget(scrollView), m_scroll(scrollView) {}

void DraggableClipView::setDocumentView(ViewerImageView *view)
{
    m_document = view;
    if (view) {
        view->setParent(this);
        view->setGeometry(rect());
    }
}

void DraggableClipView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_scroll->model().beginDrag(event->scenePosition());
    event->accept();
}

void DraggableClipView::mouseMoveEvent(QMouseEvent *event)
{
    ZoomModel &model = m_scroll->model();
    if (!model.isDragging() || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPointF before = model.origin();
    model.dragTo(event->scenePosition());
    if (model.origin() != before)
        m_scroll->modelChanged();
    event->accept();
}

void DraggableClipView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_scroll->model().endDrag();
    QWidget::mouseReleaseEvent(event);
}

void DraggableClipView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_document)
        m_document->setGeometry(rect());
}

// ---------------------------------------------------------------- ViewerImageView

ViewerImageView::ViewerImageView(scrollimage *scrollView, QWidget *parent)
    : MyImageView(parent), m_scroll(scrollView), m_background(0x1e, 0x1e, 0x1e)
{
    setObjectName(QStringLiteral("imgview"));
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void ViewerImageView::setPicture(const QImage &image, QSize pixelSize, const QString &key)
{
    m_image = image;
    m_pixelSize = pixelSize.isValid() ? pixelSize : image.size();
    m_key = key;
    m_placeholder = false;
    m_hasImage = !image.isNull() && !m_pixelSize.isEmpty();
    m_scroll->model().setImageSize(m_hasImage ? std::optional<QSizeF>(QSizeF(m_pixelSize)) : std::nullopt);
    m_scroll->modelChanged();
}

void ViewerImageView::setPlaceholder(const QImage &image, QSize pixelSize, const QString &key)
{
    m_image = image;
    m_pixelSize = pixelSize.isValid() ? pixelSize : image.size();
    m_key = key;
    m_placeholder = !image.isNull();
    m_hasImage = false;
    m_scroll->model().setImageSize(std::nullopt);
    m_scroll->modelChanged();
}

void ViewerImageView::upgradePicture(const QImage &image, const QString &key)
{
    if (!m_hasImage || key != m_key || image.isNull() || image.width() <= m_image.width())
        return;
    m_image = image;
    update();
}

void ViewerImageView::setFrame(const QImage &frame)
{
    if (frame.isNull())
        return;
    m_image = frame;
    update();
}

void ViewerImageView::clearPicture()
{
    setPicture(QImage(), QSize(), QString());
}

bool ViewerImageView::wantsMoreResolution() const
{
    if (!m_hasImage || m_image.width() >= m_pixelSize.width())
        return false;
    const QRectF shown = m_scroll->model().imageRectInViewport();
    return shown.width() * devicePixelRatioF() > m_image.width() * 1.05;
}

void ViewerImageView::setBackgroundColor(const QColor &color)
{
    m_background = color;
    update();
}

void ViewerImageView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), m_background);
    if (m_image.isNull())
        return;

    QRectF target;
    if (m_hasImage) {
        target = m_scroll->model().imageRectInViewport();
    } else {
        // A stand-in: where the picture will show, unmagnified.
        ZoomModel unmagnified;
        unmagnified.setViewSize(QSizeF(size()));
        unmagnified.setImageSize(QSizeF(m_pixelSize));
        target = unmagnified.imageRectInViewport();
    }
    // A picture decoded within 2% of the size it shows at is drawn pixel for
    // pixel, centred where it belongs: a plain copy instead of a smooth
    // rescale of a whole screen of pixels, and no visible difference.
    const qreal ratio = devicePixelRatioF();
    const QSizeF drawn = QSizeF(m_image.size()) / ratio;
    if (target.width() > 0 && target.height() > 0 && std::abs(drawn.width() / target.width() - 1.0) <= 0.02
        && std::abs(drawn.height() / target.height() - 1.0) <= 0.02) {
        const QPointF centre = target.center();
        target = QRectF(QPointF(std::round(centre.x() - drawn.width() / 2), std::round(centre.y() - drawn.height() / 2)),
                        drawn);
    }
    const QRectF exposed = target.intersected(QRectF(event->rect()));
    if (!exposed.isEmpty() && target.width() > 0 && target.height() > 0) {
        // Only the part of the image that shows is drawn.
        const qreal sx = m_image.width() / target.width();
        const qreal sy = m_image.height() / target.height();
        const QRectF source((exposed.x() - target.x()) * sx, (exposed.y() - target.y()) * sy, exposed.width() * sx,
                            exposed.height() * sy);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(exposed, m_image, source);
    }
    Q_EMIT painted(m_key, m_placeholder);
}
