#include "controls/ProgressViews.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kProgressDurationMs = 500;
// The bar sits this far inside its track on every side.
constexpr qreal kBarInset = 3.0;
// Largest share the bar is asked to cover; beyond the track it is clipped by
// the view anyway, the limit only keeps the arithmetic finite.
constexpr qreal kMaxBarFraction = 1e6;

void drawArc(QPainter &painter, const ArcLayerState &arc)
{
    if (!(arc.lineWidth > 0) || !(arc.strokeEnd > 0) || !(arc.radius > 0) || !arc.strokeColor.isValid())
        return;
    const QRectF box(arc.centre.x() - arc.radius, arc.centre.y() - arc.radius, 2 * arc.radius, 2 * arc.radius);
    QPainterPath path;
    path.arcMoveTo(box, arc.startAngle);
    path.arcTo(box, arc.startAngle, arc.sweep * std::min<qreal>(arc.strokeEnd, 1.0));
    QPen pen(arc.strokeColor, arc.lineWidth, Qt::SolidLine, arc.lineCap, Qt::MiterJoin);
    painter.strokePath(path, pen);
}

void fillRoundedRect(QPainter &painter, const QRectF &rect, qreal radius, const QColor &color)
{
    if (!color.isValid() || color.alpha() == 0 || rect.width() <= 0 || rect.height() <= 0)
        return;
    QPainterPath path;
    path.addRoundedRect(rect, std::max<qreal>(radius, 0), std::max<qreal>(radius, 0));
    painter.fillPath(path, color);
}

void strokeRoundedRect(QPainter &painter, const QRectF &rect, qreal radius, const QColor &color, qreal width)
{
    if (!color.isValid() || color.alpha() == 0 || !(width > 0) || rect.width() <= 0 || rect.height() <= 0)
        return;
    // A layer border lies inside the layer's bounds.
    const qreal half = width / 2;
    const QRectF inner = rect.adjusted(half, half, -half, -half);
    if (inner.width() <= 0 || inner.height() <= 0)
        return;
    const qreal r = std::max<qreal>(radius - half, 0);
    QPainterPath path;
    path.addRoundedRect(inner, r, r);
    painter.strokePath(path, QPen(color, width));
}

} // namespace

QEasingCurve easeOutTiming()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

QFont percentLabelFont(qreal pixelSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("Helvetica Neue Light"), QStringLiteral("Helvetica Neue"),
                      QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Light);
    font.setPixelSize(std::max(1, int(std::lround(std::clamp<qreal>(pixelSize, 1, 4096)))));
    return font;
}

// ---------------------------------------------------------------- BaseView

BaseView::BaseView(QWidget *parent)
    : BaseView(parent, DeferConfigure{})
{
    configureLayers();
}

BaseView::BaseView(QWidget *parent, DeferConfigure)
    : QWidget(parent)
    , m_background(QColor::fromRgbF(0.344921875f, 0.4078125f, 0.462890625f, 1.0f))
    , m_foreground(QColor::fromRgbF(0.258984375f, 0.678515625f, 0.415625f, 1.0f))
{
}

void BaseView::configureLayers()
{
    notifyViewRedesigned();
}

void BaseView::setBackground(const QColor &color)
{
    m_background = color;
    notifyViewRedesigned();
}

void BaseView::setForeground(const QColor &color)
{
    m_foreground = color;
    notifyViewRedesigned();
}

void BaseView::setCornerRadius(qreal radius)
{
    m_cornerRadius = radius;
    notifyViewRedesigned();
}

void BaseView::notifyViewRedesigned()
{
    m_backing.backgroundColor = m_background;
    m_backing.cornerRadius = m_cornerRadius;
    update();
}

void BaseView::paintBacking(QPainter &painter) const
{
    fillRoundedRect(painter, QRectF(rect()), m_backing.cornerRadius, m_backing.backgroundColor);
}

void BaseView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBacking(painter);
}

// ---------------------------------------------------------------- DeterminateAnimation

DeterminateAnimation::DeterminateAnimation(QWidget *parent)
    : DeterminateAnimation(parent, DeferConfigure{})
{
    configureLayers();
}

DeterminateAnimation::DeterminateAnimation(QWidget *parent, DeferConfigure)
    : BaseView(parent, DeferConfigure{})
{
}

void DeterminateAnimation::setAnimated(bool animated)
{
    m_animated = animated;
}

void DeterminateAnimation::setProgress(qreal progress)
{
    m_progress = progress;
    updateProgress();
}

void DeterminateAnimation::updateProgress()
{
}

bool DeterminateAnimation::runTransition(QVariantAnimation *animation, qreal from, qreal to)
{
    animation->stop();
    if (!m_animated || from == to)
        return false;
    animation->setDuration(kProgressDurationMs);
    animation->setEasingCurve(easeOutTiming());
    animation->setStartValue(QVariant::fromValue<qreal>(from));
    animation->setEndValue(QVariant::fromValue<qreal>(to));
    animation->start();
    return true;
}

// ---------------------------------------------------------------- CircularProgressView

CircularProgressView::CircularProgressView(QWidget *parent)
    : CircularProgressView(parent, DeferConfigure{})
{
    configureLayers();
}

CircularProgressView::CircularProgressView(QWidget *parent, DeferConfigure)
    : DeterminateAnimation(parent, DeferConfigure{})
    , m_strokeAnimation(new QVariantAnimation(this))
{
    m_strokeAnimation->setObjectName(QStringLiteral("strokeEndAnimation"));
    connect(m_strokeAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progressLayer.strokeEnd = value.toDouble();
        update();
    });
}

qreal CircularProgressView::effectiveStrokeWidth() const
{
    return m_strokeWidth == -1.0 ? width() * 0.05 : m_strokeWidth;
}

void CircularProgressView::syncLayout() const
{
    if (m_layoutSize != size())
        const_cast<CircularProgressView *>(this)->layoutLayers();
}

const ArcLayerState &CircularProgressView::backgroundCircle() const
{
    syncLayout();
    return m_backgroundCircle;
}

const ArcLayerState &CircularProgressView::progressLayer() const
{
    syncLayout();
    return m_progressLayer;
}

const TextLayerState &CircularProgressView::percentLabelLayer() const
{
    syncLayout();
    return m_percentLabelLayer;
}

void CircularProgressView::layoutLayers()
{
    m_layoutSize = size();
    const QRectF bounds(rect());
    const qreal radius = bounds.width() * 0.5 * 0.75;
    const qreal w = effectiveStrokeWidth();

    m_backgroundCircle.centre = bounds.center();
    m_backgroundCircle.radius = radius;
    m_backgroundCircle.startAngle = 0;
    m_backgroundCircle.sweep = 360;
    m_backgroundCircle.lineWidth = w * 0.5;

    // One full turn clockwise from the top.
    m_progressLayer.centre = bounds.center();
    m_progressLayer.radius = radius;
    m_progressLayer.startAngle = 90;
    m_progressLayer.sweep = -360;
    m_progressLayer.lineWidth = w;

    // The label box has the view's size; its centre sits at an eighth of the
    // height above the bottom edge, so its top edge (where the text starts)
    // lies at three eighths of the height from the top.
    m_percentLabelLayer.frame = QRectF(0, bounds.height() * 0.375, bounds.width(), bounds.height());
    m_percentLabelLayer.font = percentLabelFont(bounds.width() * 0.2);
}

void CircularProgressView::configureLayers()
{
    DeterminateAnimation::configureLayers();
    layoutLayers();

    QColor track = foreground();
    track.setAlphaF(0.5f);
    m_backgroundCircle.strokeColor = track;

    m_progressLayer.strokeEnd = 0;
    m_targetStrokeEnd = 0;
    m_progressLayer.lineCap = Qt::SquareCap;
    m_progressLayer.strokeColor = foreground();

    m_percentLabelLayer.string = QStringLiteral("0%");
    m_percentLabelLayer.foregroundColor = foreground();
    update();
}

void CircularProgressView::notifyViewRedesigned()
{
    DeterminateAnimation::notifyViewRedesigned();
    const qreal w = effectiveStrokeWidth();
    m_backgroundCircle.lineWidth = w * 0.5;
    m_progressLayer.lineWidth = w;
    m_percentLabelLayer.hidden = !m_showPercent;
    // Any restyle draws the track in black.
    m_backgroundCircle.strokeColor = Qt::black;
    m_progressLayer.strokeColor = foreground();
    m_percentLabelLayer.foregroundColor = foreground();
    update();
}

void CircularProgressView::setStrokeWidth(qreal width)
{
    m_strokeWidth = width;
    notifyViewRedesigned();
}

void CircularProgressView::setShowPercent(bool show)
{
    m_showPercent = show;
    notifyViewRedesigned();
}

void CircularProgressView::updateProgress()
{
    const qreal value = progress();
    if (std::isnan(value))
        return;

    // The label shows the integer part of the percentage; a value whose
    // percentage does not fit a 64-bit integer (infinity included) leaves it.
    const double percent = std::trunc(double(value) * 100.0);
    if (percent >= -9223372036854775808.0 && percent < 9223372036854775808.0)
        m_percentLabelLayer.string = QString::number(qint64(percent)) + QLatin1Char('%');

    const qreal end = std::max<qreal>(std::min<qreal>(value, 1.0), 0.0);
    m_targetStrokeEnd = end;
    if (!runTransition(m_strokeAnimation, m_progressLayer.strokeEnd, end))
        m_progressLayer.strokeEnd = end;
    update();
}

void CircularProgressView::resizeEvent(QResizeEvent *event)
{
    DeterminateAnimation::resizeEvent(event);
    layoutLayers();
    update();
}

void CircularProgressView::paintEvent(QPaintEvent *)
{
    syncLayout();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paintBacking(painter);
    drawArc(painter, m_backgroundCircle);
    drawArc(painter, m_progressLayer);
    const TextLayerState &label = m_percentLabelLayer;
    if (!label.hidden && label.foregroundColor.isValid()) {
        painter.setFont(label.font);
        painter.setPen(label.foregroundColor);
        painter.drawText(label.frame, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, label.string);
    }
}

// ---------------------------------------------------------------- ProgressBar

ProgressBar::ProgressBar(QWidget *parent)
    : ProgressBar(parent, DeferConfigure{})
{
    configureLayers();
}

ProgressBar::ProgressBar(QWidget *parent, DeferConfigure)
    : DeterminateAnimation(parent, DeferConfigure{})
    , m_borderColor(Qt::black)
    , m_widthAnimation(new QVariantAnimation(this))
{
    m_widthAnimation->setObjectName(QStringLiteral("barWidthAnimation"));
    connect(m_widthAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_fraction = value.toDouble();
        layoutLayers();
        update();
    });
}

void ProgressBar::syncLayout() const
{
    if (m_layoutSize != size())
        const_cast<ProgressBar *>(this)->layoutLayers();
}

const RectLayerState &ProgressBar::borderLayer() const
{
    syncLayout();
    return m_borderLayer;
}

const RectLayerState &ProgressBar::progressLayer() const
{
    syncLayout();
    return m_progressLayer;
}

const RectLayerState &ProgressBar::backingLayer() const
{
    syncLayout();
    return m_backing;
}

void ProgressBar::layoutLayers()
{
    m_layoutSize = size();
    const QRectF bounds(rect());
    m_borderLayer.frame = bounds;
    m_borderLayer.cornerRadius = bounds.height() * 0.5;

    const QRectF inner = bounds.adjusted(kBarInset, kBarInset, -kBarInset, -kBarInset);
    m_progressLayer.frame = QRectF(inner.x(), inner.y(), inner.width() * m_fraction, inner.height());
    m_progressLayer.cornerRadius = inner.height() * 0.5;

    m_backing.cornerRadius = bounds.height() * 0.5;
}

void ProgressBar::configureLayers()
{
    DeterminateAnimation::configureLayers();
    m_fraction = m_targetFraction = 1.0;
    layoutLayers();
    m_borderLayer.borderWidth = 1.0;
    m_progressLayer.backgroundColor = foreground();
    update();
}

void ProgressBar::notifyViewRedesigned()
{
    DeterminateAnimation::notifyViewRedesigned();
    // A bar is always rounded to half its height; cornerRadius does not last.
    m_backing.cornerRadius = height() * 0.5;
    m_borderLayer.borderColor = m_borderColor;
    m_progressLayer.backgroundColor = foreground();
    update();
}

void ProgressBar::setBorderColor(const QColor &color)
{
    m_borderColor = color;
    notifyViewRedesigned();
}

void ProgressBar::updateProgress()
{
    const qreal value = progress();
    if (std::isnan(value))
        return;
    const qreal target = std::clamp<qreal>(value, 0.0, kMaxBarFraction);
    m_targetFraction = target;
    if (!runTransition(m_widthAnimation, m_fraction, target))
        m_fraction = target;
    layoutLayers();
    update();
}

void ProgressBar::resizeEvent(QResizeEvent *event)
{
    DeterminateAnimation::resizeEvent(event);
    layoutLayers();
    update();
}

void ProgressBar::paintEvent(QPaintEvent *)
{
    syncLayout();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBacking(painter);
    // The bar is clipped by the view when a value above 1 makes it longer
    // than the track.
    QRectF bar = m_progressLayer.frame;
    bar.setWidth(std::min(bar.width(), qreal(width())));
    fillRoundedRect(painter, bar, m_progressLayer.cornerRadius, m_progressLayer.backgroundColor);
    strokeRoundedRect(painter, m_borderLayer.frame, m_borderLayer.cornerRadius, m_borderLayer.borderColor,
                      m_borderLayer.borderWidth);
}
