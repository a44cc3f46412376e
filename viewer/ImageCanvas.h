#pragma once
// The editor's image canvas: shows one picture fitted into the view (never
// enlarged past its own size at zoom 1), zooms with the wheel about the
// pointer and pans by dragging. A double click asks for the adjustments window
// (simulateMouseDown sends one). Main thread.
#include "controls/ClickViews.h"

#include <QImage>
#include <QPointF>
#include <QSize>

class ImageCanvas : public CustomIKImageView
{
    Q_OBJECT
public:
    explicit ImageCanvas(QWidget *parent = nullptr);

    // The picture to show; pixelSize is the picture's own size (image may be a
    // smaller preview of it). tag comes back with painted().
    void setImage(const QImage &image, QSize pixelSize, quint64 tag = 0);
    // Replaces the pixels of the same picture (a new preview), keeping zoom and pan.
    void updateImage(const QImage &image, quint64 tag);
    void clear();
    const QImage &image() const { return m_image; }
    QSize pixelSize() const { return m_pixelSize; }
    bool hasImage() const { return !m_image.isNull(); }
    double zoom() const { return m_zoom; }
    void setBackgroundColor(const QColor &color);

Q_SIGNALS:
    void editPanelRequested();
    // A paint showed the image given with tag.
    void painted(quint64 tag);

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QRectF targetRect() const;
    void clampPan();

    QImage m_image;
    QSize m_pixelSize;
    quint64 m_tag = 0;
    double m_zoom = 1.0;   // on top of the fit
    QPointF m_pan;         // offset of the picture's centre from the view's, in view pixels
    QPointF m_dragStart;
    QPointF m_panStart;
    bool m_dragging = false;
    QColor m_background;
};
