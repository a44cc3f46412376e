#pragma once
// The progress-view family: a shared base with colours and corner radius, the
// determinate branch (a ring with a percentage label, and a bar) and the
// painting state each view keeps in place of a layer tree.
//
// Drawing protocol shared by the family:
//   configureLayers()      builds the painting state once, at creation, with
//                          every property at its default;
//   notifyViewRedesigned() re-applies colours and sizes after every change of
//                          a designer-settable property;
//   updateProgress()       shows a new progress value.
// The geometry (centres, radii, frames, font size) follows the widget's size:
// it is recomputed on every resize.
//
// Designer-settable values are Q_PROPERTYs, so a .ui file or code can reach
// them by key name through QObject::setProperty.
#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <QWidget>

class QVariantAnimation;
class QEasingCurve;

// State of a stroked circle or arc: what a shape layer would hold.
struct ArcLayerState
{
    QPointF centre;
    qreal radius = 0;
    qreal startAngle = 90;   // degrees, counter-clockwise from 3 o'clock
    qreal sweep = 360;       // degrees of the full path; negative runs clockwise
    qreal lineWidth = 1;
    QColor strokeColor;
    qreal strokeEnd = 1;     // share of the path that is drawn, 0...1
    Qt::PenCapStyle lineCap = Qt::FlatCap;
};

// State of a text label: the string is drawn from the frame's top edge,
// centred horizontally.
struct TextLayerState
{
    QRectF frame;
    QString string;
    QColor foregroundColor;
    QFont font;
    bool hidden = false;
};

// State of a filled or bordered rounded rectangle.
struct RectLayerState
{
    QRectF frame;
    qreal cornerRadius = 0;
    QColor backgroundColor;  // invalid: no fill
    QColor borderColor;      // invalid: no border
    qreal borderWidth = 0;
};

// The ease-out timing of the progress views (control points 0.0, 0.0, 0.58, 1.0).
QEasingCurve easeOutTiming();

class BaseView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor background READ background WRITE setBackground)
    Q_PROPERTY(QColor foreground READ foreground WRITE setForeground)
    Q_PROPERTY(qreal cornerRadius READ cornerRadius WRITE setCornerRadius)
public:
    explicit BaseView(QWidget *parent = nullptr);

    virtual void configureLayers();

    QColor background() const { return m_background; }
    void setBackground(const QColor &color);
    QColor foreground() const { return m_foreground; }
    void setForeground(const QColor &color);
    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal radius);

    virtual void notifyViewRedesigned();

    // The backing layer: the view's own background and corner radius.
    virtual const RectLayerState &backingLayer() const { return m_backing; }

protected:
    // Subclass constructors pass this so that only the most-derived class
    // runs configureLayers(), once, after every member is initialised.
    struct DeferConfigure {};
    BaseView(QWidget *parent, DeferConfigure);

    void paintEvent(QPaintEvent *event) override;
    // Paints the backing layer; subclasses paint their own state on top.
    void paintBacking(class QPainter &painter) const;

    RectLayerState m_backing;

private:
    QColor m_background;
    QColor m_foreground;
    qreal m_cornerRadius = 5.0;
};

class DeterminateAnimation : public BaseView
{
    Q_OBJECT
    Q_PROPERTY(bool animated READ animated WRITE setAnimated)
    Q_PROPERTY(qreal progress READ progress WRITE setProgress)
public:
    explicit DeterminateAnimation(QWidget *parent = nullptr);

    bool animated() const { return m_animated; }
    void setAnimated(bool animated);
    // The value is stored unchanged; each view decides how it shows values
    // outside 0...1. Every assignment, also of the same value, shows it again.
    qreal progress() const { return m_progress; }
    void setProgress(qreal progress);

    virtual void updateProgress();

protected:
    DeterminateAnimation(QWidget *parent, DeferConfigure);

    // Runs one progress transition on animation: 0.5 s ease-out when animated
    // is set, at once otherwise. Returns false when it was applied at once.
    bool runTransition(QVariantAnimation *animation, qreal from, qreal to);

private:
    bool m_animated = true;
    qreal m_progress = 0.0;
};

// A ring that fills clockwise from the top over a thinner track, with the
// percentage in the middle.
class CircularProgressView : public DeterminateAnimation
{
    Q_OBJECT
    Q_PROPERTY(qreal strokeWidth READ strokeWidth WRITE setStrokeWidth)
    Q_PROPERTY(bool showPercent READ showPercent WRITE setShowPercent)
public:
    explicit CircularProgressView(QWidget *parent = nullptr);

    // The painting state, laid out for the current size.
    const ArcLayerState &backgroundCircle() const;
    const ArcLayerState &progressLayer() const;
    const TextLayerState &percentLabelLayer() const;

    // -1.0 means automatic: 5 % of the view's width.
    qreal strokeWidth() const { return m_strokeWidth; }
    void setStrokeWidth(qreal width);
    bool showPercent() const { return m_showPercent; }
    void setShowPercent(bool show);

    // The stroke width in use for the current size.
    qreal effectiveStrokeWidth() const;
    // The share of the arc on screen now (moves during the animation).
    qreal displayedStrokeEnd() const { return m_progressLayer.strokeEnd; }

    void configureLayers() override;
    void notifyViewRedesigned() override;
    void updateProgress() override;

protected:
    CircularProgressView(QWidget *parent, DeferConfigure);
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutLayers();
    // Lays out again when the size changed since the last layout (a hidden
    // widget gets its resize event only when it is shown).
    void syncLayout() const;

    QSize m_layoutSize;
    ArcLayerState m_backgroundCircle;
    ArcLayerState m_progressLayer;
    TextLayerState m_percentLabelLayer;
    qreal m_strokeWidth = -1.0;
    bool m_showPercent = true;
    qreal m_targetStrokeEnd = 0.0;
    QVariantAnimation *m_strokeAnimation = nullptr;
};

// A rounded bar that grows from the left inside a bordered, rounded track.
class ProgressBar : public DeterminateAnimation
{
    Q_OBJECT
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
public:
    explicit ProgressBar(QWidget *parent = nullptr);

    // The painting state, laid out for the current size.
    const RectLayerState &borderLayer() const;
    const RectLayerState &progressLayer() const;

    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);


    const RectLayerState &backingLayer() const override;

    void configureLayers() override;
    void notifyViewRedesigned() override;
    void updateProgress() override;

protected:
    ProgressBar(QWidget *parent, DeferConfigure);
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutLayers();
    void syncLayout() const;

    QSize m_layoutSize;
    RectLayerState m_borderLayer;
    RectLayerState m_progressLayer;
    QColor m_borderColor;
    qreal m_fraction = 1.0;
    qreal m_targetFraction = 1.0;
    QVariantAnimation *m_widthAnimation = nullptr;
};

// The font of the ring's label: "Helvetica Neue Light", else the system
// sans-serif at light weight.
QFont percentLabelFont(qreal pixelSize);
