#include "controls/ScrollViews.h"

#include "controls/ControlColors.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace {

// The geometry of CustomScroller: the whole length is the track, no arrow
// buttons. Shared by every scroller and never destroyed (styles must outlive
// the widgets that use them).
class ScrollerStyle : public QProxyStyle
{
public:
    static constexpr int kMinKnobLength = 20;

    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        switch (metric) {
        case PM_ScrollBarExtent:
            return CustomScroller::kScrollerWidth;
        case PM_ScrollBarSliderMin:
            return kMinKnobLength;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override
    {
        const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
        if (control != CC_ScrollBar || !bar)
            return QProxyStyle::subControlRect(control, option, sub, widget);

        const QRect r = bar->rect;
        const bool horizontal = bar->orientation == Qt::Horizontal;
        const int length = horizontal ? r.width() : r.height();
        const qint64 range = qint64(bar->maximum) - bar->minimum;
        int knob = length;
        if (range > 0) {
            const qint64 page = std::max(0, bar->pageStep);
            const qint64 proportional = page > 0 ? qint64(length) * page / (range + page) : 0;
            knob = int(std::clamp<qint64>(proportional, std::min(kMinKnobLength, length), length));
        }
        const int start = QStyle::sliderPositionFromValue(bar->minimum, bar->maximum, bar->sliderPosition,
                                                          std::max(0, length - knob), bar->upsideDown);
        auto span = [&](int from, int size) {
            return horizontal ? QRect(r.x() + from, r.y(), size, r.height())
                              : QRect(r.x(), r.y() + from, r.width(), size);
        };
        switch (sub) {
        case SC_ScrollBarSlider:
            return span(start, knob);
        case SC_ScrollBarSubPage:
            return span(0, start);
        case SC_ScrollBarAddPage:
            return span(start + knob, length - start - knob);
        case SC_ScrollBarGroove:
            return r;
        default:
            return QRect();
        }
    }

    static ScrollerStyle *shared()
    {
        static ScrollerStyle *style = new ScrollerStyle;
        return style;
    }
};

// The square between the two scrollers.
class ScrollCorner : public QWidget
{
public:
    explicit ScrollCorner(QWidget *parent = nullptr)
        : QWidget(parent)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        // Qt keeps the corner's room under a lone scroller too; the square is
        // painted only while both scrollers show.
        const auto *area = qobject_cast<const QAbstractScrollArea *>(parentWidget());
        if (area && !(area->horizontalScrollBar()->isVisible() && area->verticalScrollBar()->isVisible()))
            return;
        QPainter painter(this);
        painter.fillRect(rect(), scrollCornerColor());
    }
};

} // namespace

// ---------------------------------------------------------------- CustomScroller

CustomScroller::CustomScroller(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{
    setStyle(ScrollerStyle::shared());
    setAttribute(Qt::WA_TranslucentBackground);
}

CustomScroller::CustomScroller(QWidget *parent)
    : CustomScroller(Qt::Vertical, parent)
{
}

QRectF CustomScroller::knobRect() const
{
    if (maximum() <= minimum())
        return QRectF();
    QStyleOptionSlider option;
    initStyleOption(&option);
    QRectF knob = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    if (orientation() == Qt::Vertical) {
        knob.setX(kVerticalKnobOffset);
        knob.setWidth(kKnobThickness);
    } else {
        knob.setY(kHorizontalKnobOffset);
        knob.setHeight(kKnobThickness);
    }
    return knob;
}

void CustomScroller::drawKnob(QPainter &painter) const
{
    const QRectF knob = knobRect();
    if (knob.isEmpty())
        return;
    QPainterPath path;
    path.addRoundedRect(knob, kKnobRadius, kKnobRadius);
    painter.fillPath(path, scrollerKnobColor());
}

void CustomScroller::paintEvent(QPaintEvent *)
{
    // A clear track: nothing but the knob is painted.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawKnob(painter);
}

// ---------------------------------------------------------------- ThemedScrollView

ThemedScrollView::ThemedScrollView(QWidget *parent)
    : QScrollArea(parent)
{
    applyTheme(this);
}

void ThemedScrollView::applyTheme(QAbstractScrollArea *area)
{
    area->setVerticalScrollBar(new CustomScroller(Qt::Vertical));
    area->setHorizontalScrollBar(new CustomScroller(Qt::Horizontal));
    area->setCornerWidget(new ScrollCorner);
}

// ---------------------------------------------------------------- CenteringClipView

CenteringClipView::CenteringClipView(QWidget *parent)
    : QScrollArea(parent)
{
}

void CenteringClipView::setContentInsets(const QMarginsF &insets)
{
    // Insets come from callers: keep them finite and of a sane size.
    auto limit = [](qreal v) { return std::isfinite(v) ? std::clamp<qreal>(v, -1e6, 1e6) : 0.0; };
    m_contentInsets = QMarginsF(limit(insets.left()), limit(insets.top()), limit(insets.right()),
                                limit(insets.bottom()));
    updateRanges();
    placeDocument();
}

QRectF CenteringClipView::documentArea() const
{
    const QWidget *document = widget();
    if (!document)
        return QRectF();
    // Item views are flipped: the top inset comes first.
    const QMarginsF &in = m_contentInsets;
    return QRectF(-in.left(), -in.top(), document->width() + in.left() + in.right(),
                  document->height() + in.top() + in.bottom());
}

QRectF CenteringClipView::constrainBoundsRect(const QRectF &proposed) const
{
    QRectF c = proposed;
    if (!widget())
        return c;
    const QRectF area = documentArea();

    if (c.width() > area.width()) {
        c.moveLeft(area.left() - (c.width() - area.width()) / 2);
    } else if (c.width() < area.width()) {
        if (c.right() > area.right())
            c.moveLeft(area.right() - c.width());
        else if (c.left() < area.left())
            c.moveLeft(area.left());
    }
    if (c.height() > area.height()) {
        c.moveTop(area.top() - (c.height() - area.height()) / 2);
    } else if (c.height() < area.height()) {
        if (c.bottom() > area.bottom())
            c.moveTop(area.bottom() - c.height());
        else if (c.top() < area.top())
            c.moveTop(area.top());
    }

    // Every edge on the nearest device pixel.
    const qreal ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    auto snap = [ratio](qreal v) { return std::round(v * ratio) / ratio; };
    const qreal left = snap(c.left()), top = snap(c.top());
    const qreal right = snap(c.right()), bottom = snap(c.bottom());
    return QRectF(left, top, right - left, bottom - top);
}

void CenteringClipView::updateRanges()
{
    if (!widget())
        return;
    const QRectF area = documentArea();
    const QSize visible = viewport()->size();
    const int hMax = std::max(0, int(std::ceil(area.width() - visible.width())));
    const int vMax = std::max(0, int(std::ceil(area.height() - visible.height())));
    if (horizontalScrollBar()->maximum() != hMax)
        horizontalScrollBar()->setRange(0, hMax);
    if (verticalScrollBar()->maximum() != vMax)
        verticalScrollBar()->setRange(0, vMax);
}

void CenteringClipView::placeDocument()
{
    QWidget *document = widget();
    if (!document || m_placing)
        return;
    m_placing = true;
    const QRectF area = documentArea();
    const QRectF proposed(area.left() + horizontalScrollBar()->value(), area.top() + verticalScrollBar()->value(),
                          viewport()->width(), viewport()->height());
    m_bounds = constrainBoundsRect(proposed);
    const QPoint position(-int(std::lround(m_bounds.left())), -int(std::lround(m_bounds.top())));
    if (document->pos() != position)
        document->move(position);
    m_placing = false;
}

void CenteringClipView::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    updateRanges();
    placeDocument();
}

void CenteringClipView::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    updateRanges();
    placeDocument();
}

void CenteringClipView::scrollContentsBy(int dx, int dy)
{
    QScrollArea::scrollContentsBy(dx, dy);
    placeDocument();
}

bool CenteringClipView::event(QEvent *event)
{
    const bool result = QScrollArea::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        updateRanges();
        placeDocument();
    }
    return result;
}

bool CenteringClipView::eventFilter(QObject *object, QEvent *event)
{
    const bool result = QScrollArea::eventFilter(object, event);
    if (object == widget() && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        updateRanges();
        placeDocument();
    }
    return result;
}
