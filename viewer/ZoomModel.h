#pragma once
// The arithmetic behind the viewer's picture, without widgets: how an image
// is fitted, magnified, zoomed about the pointer, dragged within its edges
// and centred when it is smaller than its view.
//
// The picture is made of three nested rectangles:
//  - the image view, W × H (the size of the scroll view's viewport), which
//    draws the image of w × h pixels proportionally scaled down (never up)
//    and centred in itself: that is the document;
//  - the magnification m, which enlarges the whole document;
//  - the clip origin, the document point shown at the viewport's top left.
// A document point p therefore appears at (p - origin) × m in the viewport,
// and the viewport shows the document rectangle (origin, W / m × H / m).
//
// Every coordinate here has its origin at the top left with y growing
// downwards, as the widgets have it. The rules (the edge checks of a drag,
// the centring of a small document) are the same on both axes, so a
// drag moves the picture with the pointer whichever way y grows.
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

class ZoomModel
{
public:
    // The range that every magnification is kept in (the zoom slider has the same).
    static constexpr double defaultMinimumMagnification = 1.0;
    static constexpr double defaultMaximumMagnification = 20.0;

    ZoomModel();

    // ---- What is shown ----
    // The image's own pixel size; none while the image view has no image.
    void setImageSize(const std::optional<QSizeF> &size);
    bool hasImage() const { return m_imageSize.has_value(); }
    QSizeF imageSize() const { return m_imageSize.value_or(QSizeF()); }
    // The image view's size (W × H): the viewport of the scroll view.
    void setViewSize(const QSizeF &size);
    QSizeF viewSize() const { return m_viewSize; }

    // ---- Magnification ----
    void setMagnificationRange(double minimum, double maximum);
    double minimumMagnification() const { return m_minimum; }
    double maximumMagnification() const { return m_maximum; }
    double clampMagnification(double magnification) const;
    double magnification() const { return m_magnification; }
    // Magnifies about the middle of what shows now.
    void setMagnification(double magnification);
    // Magnifies so that the document point anchor stays where it shows.
    void setMagnification(double magnification, QPointF anchor);
    // Magnification 1, then back to the current one about the document's
    // centre: the zoomed picture is centred in the view.
    void recenter();

    // ---- Scrolling ----
    // The document point at the viewport's top left.
    QPointF origin() const { return m_origin; }
    // The part of the document that shows.
    QRectF visibleRect() const;
    // Scrolls so that origin shows at the top left, as far as the edges allow.
    void scrollTo(QPointF origin);
    // The clip view's rule for a proposed visible rectangle: inside the
    // document where it fits; centred on an axis where the rectangle is
    // larger than the document (origin floor((proposed - document) × -0.5)).
    QRectF constrainBoundsRect(const QRectF &proposed) const;
    // A viewport point as a document point.
    QPointF documentPoint(QPointF viewportPoint) const;

    // ---- Sizes ----
    // The size at which the image view draws the image (scaled down to fit,
    // never up). Empty without an image.
    QSizeF displayedImageSize() const;
    // The image scaled up (or down) to fill the image view with its proportions.
    QSizeF filledImageSize() const;
    // Where the image shows in the viewport, magnified and scrolled.
    QRectF imageRectInViewport() const;

    // ---- Fit styles: the magnification each asks for (before clamping) ----
    // Actual size: 1.0 for an image smaller than the view on both axes, else
    // image width / displayed width.
    double fitToImageMagnification() const;
    // Filling the view: filled width / image width for an image smaller than
    // the view on both axes, else 1.0 (the image view already shrinks it).
    double fitToViewMagnification() const;

    // ---- Wheel zoom ----
    struct WheelStep
    {
        double magnification = 1.0;      // asked for, before clamping
        std::optional<QPointF> anchor;   // document point that stays put; none: plain
    };
    // The step for a wheel event of vertical delta (above 0 zooms in; 0 and
    // below zoom out) with the pointer at viewportPoint. Without an image
    // there is no step.
    std::optional<WheelStep> wheelStep(double delta, QPointF viewportPoint) const;
    // Applies wheelStep; false when there was none.
    bool applyWheel(double delta, QPointF viewportPoint);

    // ---- Drag to pan ----
    // A press at pointer (any fixed frame: only differences count).
    void beginDrag(QPointF pointer);
    // The pointer moved during the drag: each axis follows it unless that
    // would uncover space beyond the magnified image on that axis, in which
    // case that axis stays where it was. Without a press nothing happens.
    void dragTo(QPointF pointer);
    void endDrag();
    bool isDragging() const { return m_clickPoint.has_value(); }
    // Where the magnified image lies within the magnified document, taken at
    // the press; empty without an image.
    QRectF innerImageFrame() const { return m_innerImgFrame.value_or(QRectF()); }

private:
    std::optional<QSizeF> m_imageSize;
    QSizeF m_viewSize;
    double m_magnification = 1.0;
    double m_minimum = defaultMinimumMagnification;
    double m_maximum = defaultMaximumMagnification;
    QPointF m_origin;

    // The state of one drag.
    std::optional<QPointF> m_clickPoint;
    std::optional<QPointF> m_originalOrigin;
    std::optional<QPointF> m_lastOrigin;
    std::optional<QRectF> m_innerImgFrame;
};
